// Writes a large old-layout scene for measuring the converter: MESHES meshes of VERTICES vertices
// and twice as many faces each, under one root without a marker name (so every transform is
// baked), each mesh with a material.
//
//   make_large_legacy_scene OUT [MESHES=20] [VERTICES=100000]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/legacy_scene.h"

using KX::test::LegacyMesh;
using KX::test::LegacyScene;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_large_legacy_scene OUT [MESHES] [VERTICES]\n");
    return 2;
  }
  const int meshes = argc > 2 ? std::atoi(argv[2]) : 20;
  const int vertices = argc > 3 ? std::atoi(argv[3]) : 100000;
  if (meshes <= 0 || vertices < 3) return 2;

  // A strip of triangles: vertex i with i+1 and i+2, twice (both windings).
  LegacyMesh mesh;
  const auto n = static_cast<uint32_t>(vertices);
  for (uint32_t i = 0; i < n; ++i) {
    mesh.positions.push_back({static_cast<float>(i % 1000), static_cast<float>(i / 1000), 0});
    mesh.normals.push_back({0, 0, 1});
    mesh.vertexValues.push_back(0);
  }
  mesh.indexList1 = {0};
  mesh.indexList2 = {0};
  mesh.indexList3 = {0};
  mesh.faceCount = static_cast<int32_t>(2 * n);
  for (uint32_t f = 0; f < 2 * n; ++f) {
    const uint32_t a = f % (n - 2);
    const uint32_t tri[3] = {a, f < n ? a + 1 : a + 2, f < n ? a + 2 : a + 1};
    for (uint32_t v : tri) {
      mesh.facePositionIndices.push_back(v);
      mesh.faceNormalIndices.push_back(v);
      mesh.faceTriples4.push_back(v);
    }
    mesh.faceValues1.push_back(0);
  }

  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Props", KX::test::Translation({0, 1, 0}));
  const auto material = scene.Material({}, u"Material");
  for (int m = 0; m < meshes; ++m) {
    const auto object = scene.Mesh(u"Mesh", mesh, KX::test::Translation({static_cast<float>(m), 0, 0}));
    scene.SetMaterial(object, material);
    scene.AddChild(root, object);
  }
  const std::vector<uint8_t> bytes = scene.Bytes();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.good()) return 1;
  std::printf("%s: %d meshes, %d vertices and %d faces each, %zu bytes\n", argv[1], meshes, vertices,
              2 * vertices, bytes.size());
  return 0;
}
