#include <gtest/gtest.h>

#include <cstring>

#include "control/mesh_deformers.h"
#include "object/container.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

class Deformers : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

CRefPtr<CTriMesh> Mesh(std::vector<V> points, const char16_t* name = u"") {
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  mesh->name = name;
  mesh->positions.items.assign(points.begin(), points.end());
  EXPECT_TRUE(::KX::Succeeded(mesh->SizeWorkingBuffers()));
  return mesh;
}

CRefPtr<CNode> Bone(const char16_t* name, const CMatrix4& transform) {
  CRefPtr<CNode> bone(new CNode);
  bone->name = name;
  bone->transform = transform;
  return bone;
}

void ExpectNear(const V& a, const V& b) {
  EXPECT_NEAR(a.x, b.x, 1e-5f);
  EXPECT_NEAR(a.y, b.y, 1e-5f);
  EXPECT_NEAR(a.z, b.z, 1e-5f);
}

TEST_F(Deformers, SkinFillsAShortfallWithTheOwnerAndKeepsExcessWeights) {
  // Vertex 0: one bone at 0.6 whose skin matrix is the identity. Vertex 1: two bones at 0.7 each,
  // skin matrices moving by x and by y. Vertex 2: no bone, it follows the owner. Vertex 3 does not
  // exist.
  auto mesh = Mesh({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}});
  mesh->transform = MatrixScaling({2, 2, 2}) * MatrixTranslation({10, 0, 0});
  auto still = Bone(u"still", {});
  auto right = Bone(u"right", MatrixTranslation({1, 0, 0}));
  auto up = Bone(u"up", MatrixTranslation({0, 1, 0}));
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  ASSERT_EQ(mesh->AttachController(skin.get()), kOk);
  ASSERT_EQ(skin->AddBone(still.get(), {}, {{0, 0.6f}, {3, 1.0f}}), kOk);
  ASSERT_EQ(skin->AddBone(right.get(), {}, {{1, 0.7f}}), kOk);
  ASSERT_EQ(skin->AddBone(up.get(), {}, {{1, 0.7f}}), kOk);
  EXPECT_EQ(skin->vertexGroups[0], (std::vector<uint32_t>{2}));
  EXPECT_EQ(skin->vertexGroups[1], (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(skin->skippedIndices, 1u);

  ASSERT_EQ(mesh->Update(0), kOk);
  EXPECT_TRUE(mesh->inWorldSpace);
  // 0.6 v + 0.4 (2v + (10, 0, 0)).
  ExpectNear(mesh->worldPositions[0], V{1.4f * 1 + 4, 1.4f * 2, 1.4f * 3});
  // 0.7 (v + x) + 0.7 (v + y): no scaling back to a total of 1.
  ExpectNear(mesh->worldPositions[1], V{1.4f + 0.7f, 2.8f + 0.7f, 4.2f});
  ExpectNear(mesh->worldPositions[2], V{12, 4, 6});

  // A bone that is gone moves nothing: its vertex follows the owner.
  skin->bones[1].bone = nullptr;
  skin->bones[2].bone = nullptr;
  ASSERT_EQ(mesh->Update(0), kOk);
  ExpectNear(mesh->worldPositions[1], V{12, 4, 6});

  skin->enabled = false;
  EXPECT_EQ(skin->Update(0), kNothingDone);
  CRefPtr<CBoneSkinControl> orphan(new CBoneSkinControl);
  EXPECT_EQ(orphan->Update(0), kErrBadArgument);
}

TEST_F(Deformers, SkinAfterAWorldSpaceDeformerDoesNotTransformTwice) {
  auto mesh = Mesh({{1, 0, 0}, {0, 1, 0}});
  mesh->transform = MatrixTranslation({10, 0, 0});
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(skin.get())));
  auto bone = Bone(u"b", MatrixTranslation({0, 0, 5}));
  EXPECT_TRUE(::KX::Succeeded(skin->AddBone(bone.get(), {}, {{0, 1.0f}})));
  // As a deformer before it would leave them: already in world space.
  mesh->worldPositions.items = {{11, 0, 0}, {10, 1, 0}};
  mesh->inWorldSpace = true;
  ASSERT_EQ(skin->Update(0), kOk);
  ExpectNear(mesh->worldPositions[0], V{1, 0, 5});   // back to mesh space, then the bone
  ExpectNear(mesh->worldPositions[1], V{10, 1, 0});  // rigid: stays where it was
}

TEST_F(Deformers, SkinBonesLinkByIdAndBindByName) {
  CRefPtr<CNode> root(new CNode);
  auto bone = Bone(u"arm", MatrixTranslation({0, 3, 0}));
  auto mesh = Mesh({{0, 0, 0}, {1, 1, 1}}, u"body");
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(bone.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(mesh.get())));
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(skin.get())));
  CMatrix4 bind = MatrixTranslation({1, 0, 0});
  EXPECT_TRUE(::KX::Succeeded(skin->AddBone(bone.get(), bind, {{1, 1.0f}})));

  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(root.get());
  auto* loadedRoot = KindOf<CNode>(loaded.get());
  ASSERT_TRUE(loadedRoot);
  auto* loadedMesh = KindOf<CTriMesh>(loadedRoot->children.at(1).get());
  auto* loadedSkin = KindOf<CBoneSkinControl>(loadedMesh->controllers.get());
  ASSERT_TRUE(loadedSkin);
  ASSERT_EQ(loadedSkin->bones.size(), 1u);
  EXPECT_EQ(loadedSkin->bones[0].bone, loadedRoot->children[0].get());
  EXPECT_EQ(loadedSkin->bones[0].bindMatrix, bind);
  EXPECT_EQ(loadedSkin->vertexGroups.at(1), (std::vector<uint32_t>{1}));  // rebuilt by Link

  // A copy of the mesh alone has no bones in its graph; it finds them again by name.
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(mesh->Duplicate(copy, map), kOk);
  ASSERT_EQ(static_cast<CTriMesh*>(copy.get())->RemapReferences(map), kOk);
  auto* copiedSkin = KindOf<CBoneSkinControl>(static_cast<CTriMesh*>(copy.get())->controllers.get());
  ASSERT_TRUE(copiedSkin);
  EXPECT_EQ(copiedSkin->bones[0].bone, nullptr);
  EXPECT_EQ(copiedSkin->vertexGroups.at(1).size(), 0u);
  EXPECT_EQ(copiedSkin->ResolveNames(nullptr), kErrBadArgument);
  ASSERT_EQ(copiedSkin->ResolveNames(loadedRoot), kOk);
  EXPECT_EQ(copiedSkin->bones[0].bone, loadedRoot->children[0].get());
  EXPECT_EQ(copiedSkin->vertexGroups.at(1), (std::vector<uint32_t>{1}));
}

// A morph over three vertices of a two-vertex mesh, weights 0 -> 1 over 0 -> 2 s.
CRefPtr<CMorphControl> Morph(CTriMesh* mesh) {
  CRefPtr<CMorphControl> morph(new CMorphControl);
  morph->deltas = {{2, 0, 0}, {0, 4, 0}, {9, 9, 9}};
  morph->weightKeys = {0, 1};
  morph->weightTimes = {0, 2};
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(morph.get())));
  return morph;
}

TEST_F(Deformers, MorphAddsWeightedDeltas) {
  auto mesh = Mesh({{1, 1, 1}, {0, 0, 0}});
  auto morph = Morph(mesh.get());
  ASSERT_EQ(morph->Update(1), kOk);
  EXPECT_EQ(mesh->worldPositions[0], (V{2, 1, 1}));
  EXPECT_EQ(mesh->worldPositions[1], (V{0, 2, 0}));
  EXPECT_EQ(morph->skippedIndices, 1u);  // the delta for a vertex the mesh does not have

  mesh->worldPositions.items = mesh->positions.items;
  EXPECT_EQ(morph->Update(0), kNothingDone);
  EXPECT_EQ(mesh->worldPositions, mesh->positions);

  // Once the positions are in world space the deltas turn with the mesh but do not move with it.
  mesh->transform = MatrixScaling({3, 3, 3}) * MatrixTranslation({100, 0, 0});
  mesh->inWorldSpace = true;
  ASSERT_EQ(morph->Update(2), kOk);
  EXPECT_EQ(mesh->worldPositions[0], (V{7, 1, 1}));

  // Fewer weights than times: nothing to take a weight from.
  morph->weightKeys = {1};
  EXPECT_EQ(morph->Update(1), kNothingDone);
  morph->weightTimes.clear();
  EXPECT_EQ(morph->Update(1), kOk);
}

Bytes Record(const std::string& cls, const Bytes& body) {
  return Bytes().A(cls).I32(static_cast<int32_t>(body.size())).Append(body);
}

TEST_F(Deformers, MorphBlocksAndTheLegacyStartTime) {
  CRefPtr<CMorphControl> morph(new CMorphControl);
  morph->deltas = {{1, 2, 3}};
  morph->weightKeys = {0, 1};
  morph->weightTimes = {5, 7};
  auto blocks = [](int32_t controlMinor, int32_t morphMinor) {
    Bytes b;
    b.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
    b.Version(2, controlMinor).I32(0);
    if (controlMinor == 0)
      b.F32(5).F32(0.5f).F32(0);  // start time, held, dropped
    else
      b.F32(0).F32(1);  // priority, aux value
    b.F32(1).U8(1).I32(0).I32(0).Version(2, 0);
    b.Version(2, morphMinor).I32(1).F32(1).F32(2).F32(3).U32(2).F32(0).F32(1).U32(2).F32(5).F32(7);
    return Record("CMorphControl", b);
  };
  const Bytes current = blocks(1, 1);
  EXPECT_EQ(test::SaveRootToBytes(morph.get()),
            test::NewHeader().I32(0).I32(0).A("_Root").Append(current).data);
  EXPECT_EQ(morph->GetSaveSize(), static_cast<int64_t>(current.size()));

  for (const auto& [controlMinor, morphMinor, first] :
       {std::tuple{0, 0, 0.0f}, std::tuple{1, 0, 5.0f}, std::tuple{0, 1, 5.0f}}) {
    CPersistContext context;
    const Bytes file = test::NewHeader().I32(0).I32(0).A("_Root").Append(blocks(controlMinor, morphMinor));
    ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
    auto* loaded = KindOf<CMorphControl>(context.roots.at(0).get());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->weightTimes.at(0), first) << controlMinor << morphMinor;
    EXPECT_EQ(loaded->auxValue, 1.0f);
  }
}

TEST_F(Deformers, SeamWeldsOnlyWhenBothMeshesReachedTheTime) {
  CRefPtr<CNode> root(new CNode);
  auto a = Mesh({{0, 0, 0}, {5, 5, 5}}, u"a");
  auto b = Mesh({{7, 7, 7}, {2, 0, 0}}, u"b");
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(a.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(b.get())));
  CRefPtr<CConnectData> seam(new CConnectData);
  seam->mesh1 = a.get();
  seam->mesh2 = b.get();
  seam->seamVertices1 = {0, 9};
  seam->seamVertices2 = {1, 0};  // one partner per seam vertex; the second seam vertex is bogus
  for (CTriMesh* mesh : {a.get(), b.get()}) {
    CRefPtr<CConnectControl> control(new CConnectControl);
    control->connection = seam;
    EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(control.get())));
  }

  ASSERT_EQ(a->Update(1), kOk);
  EXPECT_EQ(seam->Update(1), kNothingDone);  // b has not been updated to 1 s
  EXPECT_EQ(a->worldPositions[0], V{});
  ASSERT_EQ(b->Update(1), kOk);  // b's controller welds
  EXPECT_EQ(a->worldPositions[0], (V{1, 0, 0}));
  EXPECT_EQ(b->worldPositions[1], (V{1, 0, 0}));
  EXPECT_EQ(b->worldPositions[0], (V{7, 7, 7}));
  EXPECT_EQ(seam->skippedIndices, 1u);
  // A new time: a alone again, nothing joins.
  ASSERT_EQ(a->Update(2), kOk);
  EXPECT_EQ(a->worldPositions[0], V{});

  // The pair, the controllers and the shared seam survive a file.
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(root.get());
  auto* node = KindOf<CNode>(loaded.get());
  auto* la = KindOf<CTriMesh>(node->children.at(0).get());
  auto* ca = KindOf<CConnectControl>(la->controllers.get());
  auto* cb = KindOf<CConnectControl>(node->children.at(1)->controllers.get());
  ASSERT_TRUE(ca && cb && ca->connection);
  EXPECT_EQ(ca->connection, cb->connection);
  EXPECT_EQ(ca->connection->mesh1, la);
  EXPECT_EQ(ca->connection->seamVertices2, seam->seamVertices2);

  // A copy of the whole tree gets one seam of its own between the copied meshes.
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(root->Duplicate(copy, map), kOk);
  ASSERT_EQ(static_cast<CNode*>(copy.get())->RemapReferences(map), kOk);
  auto* copyNode = static_cast<CNode*>(copy.get());
  auto* copySeam = KindOf<CConnectControl>(copyNode->children[0]->controllers.get())->connection.get();
  EXPECT_NE(copySeam, seam.get());
  EXPECT_EQ(copySeam->mesh1, copyNode->children[0].get());
  EXPECT_EQ(copySeam->mesh2, copyNode->children[1].get());
}

TEST_F(Deformers, SeamJoinsNormalsFromBothSides) {
  auto a = Mesh({{0, 0, 0}});
  auto b = Mesh({{0, 0, 0}});
  a->worldNormals.items = {{1, 0, 0}, {1, 0, 0}};
  b->worldNormals.items = {{0, 0, 3}};
  CRefPtr<CConnectData> seam(new CConnectData);
  seam->mesh1 = a.get();
  seam->mesh2 = b.get();
  seam->seamVertices1 = {0};
  seam->normalGroups1 = {{0, 1, 77}};
  seam->normalGroups2 = {{0}};
  seam->time1 = seam->time2 = 3;
  ASSERT_EQ(seam->Update(3), kOk);
  const float h = std::sqrt(0.5f);
  for (const V& n : {a->worldNormals[0], a->worldNormals[1], b->worldNormals[0]}) ExpectNear(n, V{h, 0, h});
  EXPECT_EQ(seam->skippedIndices, 1u);
}

TEST_F(Deformers, SelectionHasNothingToEvaluateAndKeepsItsBits) {
  CRefPtr<CMeshSelControl> sel(new CMeshSelControl);
  EXPECT_TRUE(::KX::Succeeded(sel->selection.Resize(33)));
  sel->selection.Set(32);
  EXPECT_EQ(sel->Update(0), kNothingDone);
  EXPECT_EQ(sel->GetDuration(), 0.0f);
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(sel.get());
  auto* back = KindOf<CMeshSelControl>(loaded.get());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->selection, sel->selection);
  EXPECT_TRUE(back->selection.Test(32));
}

TEST_F(Deformers, HostileCountsAreStreamErrors) {
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  skin->bones.push_back({nullptr, u"", {}, {{0, 1.0f}}});
  const auto good = test::SaveRootToBytes(skin.get());
  // The bone count sits 4 + 64 + 4 + 8 bytes before the end, the influence count 12.
  for (const auto& [back, value] : {std::pair{84, 0x7FFFFFFF}, std::pair{12, 0x40000000}}) {
    auto bad = good;
    std::memcpy(bad.data() + bad.size() - back, &value, 4);
    CPersistContext context;
    EXPECT_EQ(test::LoadFromBytes(bad, context), kErrStream) << back;
  }
}

// Every word of a file with meshes and each kind of deformer replaced by hostile values: loading
// fails cleanly or gives objects whose updates, ray queries and saves stay within their buffers.
TEST_F(Deformers, HostileWordsNeverReachPastABuffer) {
  CRefPtr<CNode> root(new CNode);
  auto bone = Bone(u"bone", MatrixTranslation({0, 1, 0}));
  auto a = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, u"a");
  auto b = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, u"b");
  for (CTriMesh* m : {a.get(), b.get()}) {
    m->faceCount = 1;
    m->facePositionIndices.items = {0, 1, 2};
    m->faceNormalIndices.items = {0, 1, 2};
    m->normals.items.assign(3, V{0, 0, 1});
    EXPECT_TRUE(::KX::Succeeded(m->SizeWorkingBuffers()));
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(m)));
  }
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(bone.get())));
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  EXPECT_TRUE(::KX::Succeeded(a->AttachController(skin.get())));
  EXPECT_TRUE(::KX::Succeeded(skin->AddBone(bone.get(), {}, {{1, 0.5f}, {2, 1.0f}})));
  auto morph = Morph(a.get());
  CRefPtr<CConnectData> seam(new CConnectData);
  seam->mesh1 = a.get();
  seam->mesh2 = b.get();
  seam->seamVertices1 = {0};
  seam->seamVertices2 = {2};
  seam->normalGroups1 = {{0}};
  seam->normalGroups2 = {{2}};
  for (CTriMesh* m : {a.get(), b.get()}) {
    CRefPtr<CConnectControl> control(new CConnectControl);
    control->connection = seam;
    EXPECT_TRUE(::KX::Succeeded(m->AttachController(control.get())));
  }
  const auto good = test::SaveRootToBytes(root.get());
  int loads = 0;
  for (size_t at = 0; at + 4 <= good.size(); ++at) {
    for (uint32_t value : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x100u, 0u}) {
      auto bad = good;
      std::memcpy(bad.data() + at, &value, 4);
      CPersistContext context;
      if (Failed(test::LoadFromBytes(bad, context))) continue;
      ++loads;
      for (const auto& loadedRoot : context.roots) {
        auto* node = KindOf<CNode>(loadedRoot.get());
        if (!node) continue;
        // A hostile word may well leave a deformer without its owner, which the update rightly
        // refuses; what counts here is that it stays within its buffers.
        node->UpdateHierarchy(0, 1, 0, false).Ignore();
        for (const auto& child : node->children)
          if (auto* mesh = KindOf<CTriMesh>(child.get())) {
            RayHit hit;
            mesh->IntersectRay({0.2f, 0.2f, 1}, {0, 0, -1}, true, hit);
          }
      }
      CPersistContext save;
      for (const auto& loadedRoot : context.roots) EXPECT_TRUE(::KX::Succeeded(AddRoot(save, loadedRoot.get())));
      test::SaveToBytes(save);
    }
  }
  EXPECT_GT(loads, 0);
}

}  // namespace
}  // namespace KX
