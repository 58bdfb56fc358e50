#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "object/container.h"
#include "object/custom_data.h"
#include "core/math/quaternion.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

// Current-layout blocks, field by field, from the fields of an object.
Bytes SpatialBlock(int32_t minor, const CSpatial& s) {
  Bytes b;
  b.Version(2, minor);
  for (const auto& row : s.rotation.m)
    for (float v : row) b.F32(v);
  for (const V& v : {s.position, s.scale}) b.F32(v.x).F32(v.y).F32(v.z);
  b.U32(s.flags).I32(0).I32(0).U8(s.visible);  // no attachment, no bounding
  if (minor >= 2) b.U8(s.frozen);
  return b;
}

Bytes NodeRecord(int32_t id, const CNode& n, std::initializer_list<int32_t> children,
                 int32_t spatialMinor = 2, int32_t nodeMinor = 1, bool billboard = false) {
  Bytes body;
  body.Version(2, 0).I32(id).W(n.name).Version(2, 0).I32(0).I32(0).I32(0);
  body.Append(SpatialBlock(spatialMinor, n));
  body.Version(2, nodeMinor).U32(n.tag).U8(n.option1).U8(n.option2);
  if (nodeMinor >= 1) body.U8(n.option3);
  body.I32(static_cast<int32_t>(children.size()));
  for (int32_t child : children) body.I32(child);
  if (billboard) body.Version(2, 0);
  return Bytes()
      .A(billboard ? "CBillboardNode" : "CNode")
      .I32(static_cast<int32_t>(body.size()))
      .Append(body);
}

Bytes NewFile() {
  return test::NewHeader().I32(0).I32(0);
}
Bytes Root() {
  return Bytes().A("_Root");
}

class NodePersistence : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) { return test::LoadFromBytes(file.data, context); }
  CNode* Root0() { return context.roots.empty() ? nullptr : KindOf<CNode>(context.roots[0].get()); }
  CPersistContext context;
};

TEST_F(NodePersistence, CurrentLayoutIsByteExact) {
  CRefPtr<CNode> root(new CNode);
  root->name = u"top";
  root->tag = 0x01020304;
  root->option1 = false;
  root->option3 = true;
  root->rotation.m[0][1] = 0.5f;
  root->position = {1, 2, 3};
  root->scale = {4, 5, 6};
  root->flags = 0x1C0;
  root->visible = false;
  root->frozen = true;
  root->transform.Mutable().m[3][0] = 99;  // never saved
  CRefPtr<CBillboardNode> bb(new CBillboardNode);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(bb.get())));
  root->children.push_back(nullptr);

  const Bytes rootRecord = NodeRecord(1, *root, {2, 0});
  const Bytes expected =
      NewFile().Append(Root()).Append(rootRecord).Append(NodeRecord(2, *bb, {}, 2, 1, true));
  EXPECT_EQ(test::SaveRootToBytes(root.get()), expected.data);
  EXPECT_EQ(SpatialBlock(2, *root).size(), 82u);
  EXPECT_EQ(root->GetSaveSize(), static_cast<int64_t>(rootRecord.size()));
}

TEST_F(NodePersistence, OldLayoutDecomposesTheMatrixAndSkipsZeroChildIds) {
  // Mirrored, turned a quarter about z, scaled (2, 3, 4), moved (5, 6, 7).
  const float matrix[16] = {0, 2, 0, 0, -3, 0, 0, 0, 0, 0, -4, 0, 5, 6, 7, 1};
  auto oldSpatial = [&](Bytes& b, int32_t id, const char* name, uint8_t visible) {
    b.I32(id).A(name).I32(0).I32(0).I32(0);  // CBase, CCorva
    for (float v : matrix) b.F32(v);
    b.U8(visible);
  };
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CNode");
  oldSpatial(file, 1, "old", 7);
  file.I32(2).I32(11).I32(12);                                      // two unused ids
  file.U32(0xDEAD).U8(0).U8(1).I32(4).I32(0).I32(2).I32(0).I32(3);  // tag ignored; children
  file.A("CNode");
  oldSpatial(file, 2, "", 0);
  file.I32(0).U32(0).U8(1).U8(1).I32(0);
  file.A("CBillboardNode");
  oldSpatial(file, 3, "", 1);
  file.I32(0).U32(0).U8(1).U8(1).I32(0);
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();

  CNode* root = Root0();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->tag, 0u);
  EXPECT_FALSE(root->option1);
  EXPECT_TRUE(root->visible);
  EXPECT_EQ(root->scale, (V{-2, -3, -4}));
  EXPECT_EQ(root->position, (V{5, 6, 7}));
  EXPECT_EQ(root->rotation.Row(0), (V{0, -1, 0}));
  EXPECT_EQ(root->rotation.Row(1), (V{1, 0, 0}));
  ASSERT_EQ(root->children.size(), 2u);
  EXPECT_FALSE(root->children[0]->visible);
  EXPECT_STREQ(root->children[1]->GetRuntimeClass()->className, "CBillboardNode");
  EXPECT_EQ(root->children[1]->parent, root);
  // Old files come back in the current layout, and that layout round-trips.
  test::ExpectRoundTrip(root);
}

TEST_F(NodePersistence, VersionTwoZeroBlocks) {
  // 2.0 blocks: no frozen byte, no option3, and flags of 512 meant "none". The rotation carries
  // noise that loading removes.
  CRefPtr<CNode> stored(new CNode);
  const float noise = 0.000009f;
  stored->rotation = RotationFromQuaternion({std::sqrt(1 - noise * noise), noise, 0, 0});
  stored->tag = 9;
  stored->option2 = false;
  for (const auto& [spatialMinor, flags, loaded] :
       {std::tuple{0, 512u, 0u}, std::tuple{0, 513u, 513u}, std::tuple{1, 512u, 512u}}) {
    stored->flags = flags;
    CPersistContext ctx;
    const Bytes file = NewFile().Append(Root()).Append(NodeRecord(1, *stored, {}, spatialMinor, 0));
    ASSERT_EQ(test::LoadFromBytes(file.data, ctx), kOk) << ctx.diagnostics.Describe();
    EXPECT_TRUE(ctx.diagnostics.warnings.empty()) << ctx.diagnostics.Describe();
    auto* n = KindOf<CNode>(ctx.roots.at(0).get());
    EXPECT_EQ(n->flags, loaded);
    EXPECT_EQ(n->tag, 9u);
    EXPECT_FALSE(n->option2);
    EXPECT_EQ(n->rotation, CMatrix3{});  // the quaternion's x was noise: exactly the identity
  }
}

TEST_F(NodePersistence, NodeThatIsItsOwnAncestorIsRefused) {
  CRefPtr<CNode> plain(new CNode);
  // 1 -> 2 -> 1, and a node that lists itself.
  for (const Bytes& file : {NewFile()
                                .Append(Root())
                                .Append(NodeRecord(1, *plain, {2}))
                                .Append(NodeRecord(2, *plain, {1})),
                            NewFile().Append(Root()).Append(NodeRecord(1, *plain, {1}))}) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(file.data, ctx), kErrMalformed);
    EXPECT_NE(ctx.diagnostics.message.find("owns itself"), std::string::npos)
        << ctx.diagnostics.Describe();
    // The refused graph is taken apart, parent links included.
    EXPECT_EQ(KindOf<CNode>(ctx.roots.at(0).get())->parent, nullptr);
  }
}

TEST_F(NodePersistence, ChildWithTwoParentsIsRefused) {
  CRefPtr<CNode> plain(new CNode);
  // Node 1 lists 2 twice; then node 1 lists 2 and 3, and node 3 lists 2 as well.
  for (const Bytes& file : {NewFile()
                                .Append(Root())
                                .Append(NodeRecord(1, *plain, {2, 2}))
                                .Append(NodeRecord(2, *plain, {})),
                            NewFile()
                                .Append(Root())
                                .Append(NodeRecord(1, *plain, {2, 3}))
                                .Append(NodeRecord(2, *plain, {}))
                                .Append(NodeRecord(3, *plain, {2}))}) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(file.data, ctx), kErrMalformed);
    EXPECT_NE(ctx.diagnostics.message.find("another listing holds"), std::string::npos)
        << ctx.diagnostics.Describe();
    // Taken apart: the root keeps no children.
    for (const auto& child : KindOf<CNode>(ctx.roots.at(0).get())->children) EXPECT_FALSE(child);
  }
}

TEST_F(NodePersistence, CountsBeyondTheFileAreStreamErrors) {
  CRefPtr<CNode> plain(new CNode);
  Bytes huge = NewFile().Append(Root()).Append(NodeRecord(1, *plain, {}));
  std::memcpy(huge.data.data() + huge.size() - 4, "\xFF\xFF\xFF\x7F", 4);  // child count
  EXPECT_EQ(Load(huge), kErrStream);
  // The unused id list of the old spatial block.
  Bytes old = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  old.A("CNode").I32(1).A("").I32(0).I32(0).I32(0);
  for (int i = 0; i < 16; ++i) old.F32(0);
  old.U8(1).I32(0x40000000).I32(1);
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(old.data, ctx), kErrStream);
}

TEST_F(NodePersistence, TreesRoundTripWithParentsAndAttachments) {
  for (CNode* root : {new CNode, static_cast<CNode*>(new CBillboardNode)}) {
    const CRefPtr<CBase> sample = test::SampleTree(root);
    SCOPED_TRACE(root->GetRuntimeClass()->className);
    const CRefPtr<CBase> loaded = test::ExpectRoundTrip(sample.get());
    auto* node = KindOf<CNode>(loaded.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(node->children.size(), 1u);
    EXPECT_EQ(node->children[0]->parent, node);
    EXPECT_TRUE(node->attachment && node->bounding && node->frozen);
  }
}

}  // namespace
}  // namespace KX
