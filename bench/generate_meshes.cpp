#include "bench/generate_meshes.h"
#include "bench/require.h"

#include <cmath>
#include <string>

#include "control/mesh_deformers.h"
#include "core/math/matrix.h"

namespace KX::bench {

CRefPtr<CTriMesh> GenerateGridMesh(int32_t vertices) {
  const auto side = static_cast<uint32_t>(std::sqrt(static_cast<double>(vertices)));
  const uint32_t n = side * side;
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  auto& p = mesh->positions.items;
  auto& normals = mesh->normals.items;
  auto& map = mesh->mapVertices.items;
  p.resize(n);
  normals.assign(n, {0, 0, 1});
  map.resize(n);
  for (uint32_t y = 0; y < side; ++y)
    for (uint32_t x = 0; x < side; ++x) {
      const uint32_t i = y * side + x;
      p[i] = {static_cast<float>(x), static_cast<float>(y), 0.01f * static_cast<float>((x * 7 + y * 3) % 11)};
      map[i] = {static_cast<float>(x) / side, static_cast<float>(y) / side, 0};
    }
  auto& faces = mesh->facePositionIndices.items;
  faces.reserve(6 * static_cast<size_t>(side - 1) * (side - 1));
  for (uint32_t y = 0; y + 1 < side; ++y)
    for (uint32_t x = 0; x + 1 < side; ++x) {
      const uint32_t a = y * side + x, b = a + 1, c = a + side, d = c + 1;
      for (const uint32_t corner : {a, b, d, a, d, c}) faces.push_back(corner);
    }
  mesh->faceCount = static_cast<int32_t>(faces.size() / 3);
  mesh->faceNormalIndices.items = faces;
  mesh->faceMapIndices.items = faces;
  Require(mesh->SizeWorkingBuffers());
  return mesh;
}

void GenerateMeshScene(CPersistContext& context, int32_t meshes, int32_t verticesPerMesh) {
  CRefPtr<CNode> root(new CNode);
  root->name = u"meshes";
  for (int32_t i = 0; i < meshes; ++i) {
    CRefPtr<CTriMesh> mesh = GenerateGridMesh(verticesPerMesh);
    mesh->name = u"mesh " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    mesh->position = {static_cast<float>(i) * 1000.0f, 0, 0};
    Require(root->AddChild(mesh.get()));
  }
  Require(AddRoot(context, root.get()));
}

CTriMesh* GenerateSkinnedScene(CRefPtr<CNode>& root, int32_t vertices, int32_t bones) {
  root = new CNode;
  std::vector<CSpatial*> boneNodes;
  for (int32_t b = 0; b < bones; ++b) {
    CRefPtr<CNode> bone(new CNode);
    bone->name = u"bone" + std::u16string(1, static_cast<char16_t>(u'0' + b % 10));
    const float angle = 0.02f * static_cast<float>(b);
    CMatrix4 turn;
    turn.m[0][0] = std::cos(angle);
    turn.m[0][1] = std::sin(angle);
    turn.m[1][0] = -std::sin(angle);
    turn.m[1][1] = std::cos(angle);
    bone->transform = turn * MatrixTranslation({0.1f * static_cast<float>(b), 0, 0});
    Require(root->AddChild(bone.get()));
    boneNodes.push_back(bone.get());
  }
  CRefPtr<CTriMesh> mesh = GenerateGridMesh(vertices);
  mesh->transform = MatrixTranslation({5, 5, 5});
  Require(root->AddChild(mesh.get()));

  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  Require(mesh->AttachController(skin.get()));
  std::vector<std::vector<BoneInfluence>> influences(static_cast<size_t>(bones));
  const auto n = static_cast<uint32_t>(mesh->positions.size());
  for (uint32_t v = 0; v < n; ++v) {
    const uint32_t count = 2 + v % 3;  // two to four bones
    for (uint32_t j = 0; j < count; ++j)
      influences[(v / 64 + j * 7) % static_cast<uint32_t>(bones)].push_back({v, 0.9f / static_cast<float>(count)});
  }
  skin->bones.reserve(static_cast<size_t>(bones));
  for (int32_t b = 0; b < bones; ++b)
    skin->bones.push_back({boneNodes[static_cast<size_t>(b)], boneNodes[static_cast<size_t>(b)]->name,
                           MatrixTranslation({-0.1f * static_cast<float>(b), 0, 0}),
                           std::move(influences[static_cast<size_t>(b)])});
  Require(skin->RebuildTables());
  return mesh.get();
}

}  // namespace KX::bench
