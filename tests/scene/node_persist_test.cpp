#include <gtest/gtest.h>

#include <optional>

#include "core/container.h"
#include "core/custom_data.h"
#include "core/math/quaternion.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

// Record pieces of the current layout, field by field.
Bytes BaseBlocks(int32_t id, const std::u16string& name, int32_t controller = 0) {
  return Bytes().Version(2, 0).I32(id).W(name).Version(2, 0).I32(controller).I32(0).I32(0);
}

struct SpatialFields {
  CMatrix3 rotation;
  V position;
  V scale{1, 1, 1};
  uint32_t flags = 0;
  int32_t attachment = 0;
  int32_t bounding = 0;
  uint8_t visible = 1;
};

Bytes SpatialBlock(int32_t minor, const SpatialFields& f, std::optional<uint8_t> frozen) {
  Bytes b;
  b.Version(2, minor);
  for (const auto& row : f.rotation.m)
    for (float v : row) b.F32(v);
  b.F32(f.position.x).F32(f.position.y).F32(f.position.z);
  b.F32(f.scale.x).F32(f.scale.y).F32(f.scale.z);
  b.U32(f.flags).I32(f.attachment).I32(f.bounding).U8(f.visible);
  if (frozen) b.U8(*frozen);
  return b;
}

Bytes NodeBlock(int32_t minor, uint32_t tag, uint8_t o1, uint8_t o2, std::optional<uint8_t> o3,
                std::initializer_list<int32_t> children) {
  Bytes b;
  b.Version(2, minor).U32(tag).U8(o1).U8(o2);
  if (o3) b.U8(*o3);
  b.I32(static_cast<int32_t>(children.size()));
  for (int32_t id : children) b.I32(id);
  return b;
}

Bytes Record(const std::string& className, const Bytes& body) {
  return Bytes().A(className).I32(static_cast<int32_t>(body.size())).Append(body);
}

// A current-layout node record with default spatial fields.
Bytes PlainNode(int32_t id, std::initializer_list<int32_t> children, bool root = false) {
  Bytes body = BaseBlocks(id, u"");
  body.Append(SpatialBlock(2, {}, 0)).Append(NodeBlock(1, 0, 1, 1, 0, children));
  Bytes r = root ? Bytes().A("_Root") : Bytes();
  return r.Append(Record("CNode", body));
}

Bytes NewFile() { return test::NewHeader().I32(0).I32(0); }

class NodePersistence : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    if (!IsClassRegistered("CThumbnail")) RegisterClass<test::COldThumbnail>("CThumbnail");
  }
  Status Load(const Bytes& file) { return test::LoadFromBytes(file.data, context); }
  CNode* Root(size_t i = 0) {
    return i < context.roots.size() ? KindOf<CNode>(context.roots[i].get()) : nullptr;
  }
  CPersistContext context;
};

TEST_F(NodePersistence, CurrentLayoutIsByteExact) {
  CRefPtr<CNode> root(new CNode);
  root->name = u"top";
  root->tag = 0x01020304;
  root->option1 = false;
  root->option3 = true;
  root->rotation.m[0][0] = 0; root->rotation.m[0][1] = 1;
  root->rotation.m[1][0] = -1; root->rotation.m[1][1] = 0;
  root->position = {1, 2, 3};
  root->scale = {4, 5, 6};
  root->flags = 0x1C0;
  root->visible = false;
  root->frozen = true;
  root->transform.m[3][0] = 99;  // never saved
  CRefPtr<CBillboardNode> bb(new CBillboardNode);
  root->AddChild(bb.get());
  root->children.push_back(nullptr);

  SpatialFields f;
  f.rotation = root->rotation;
  f.position = root->position;
  f.scale = root->scale;
  f.flags = 0x1C0;
  f.visible = 0;
  const Bytes rootBody = BaseBlocks(1, u"top")
                             .Append(SpatialBlock(2, f, 1))
                             .Append(NodeBlock(1, 0x01020304, 0, 1, 1, {2, 0}));
  const Bytes bbBody = BaseBlocks(2, u"")
                           .Append(SpatialBlock(2, {}, 0))
                           .Append(NodeBlock(1, 0, 1, 1, 0, {}))
                           .Version(2, 0);
  const Bytes expected =
      NewFile().A("_Root").Append(Record("CNode", rootBody)).Append(Record("CBillboardNode", bbBody));
  EXPECT_EQ(test::SaveRootToBytes(root.get()), expected.data);
  // The spatial block is 82 bytes, the node block 19 plus 4 per child.
  EXPECT_EQ(SpatialBlock(2, f, 1).size(), 82u);
  EXPECT_EQ(root->GetSaveSize(), static_cast<int64_t>(Record("CNode", rootBody).size()));
}

TEST_F(NodePersistence, OldLayoutDecomposesTheMatrixAndSkipsZeroChildIds) {
  // Mirrored, turned a quarter about z, scaled (2, 3, 4), moved (5, 6, 7).
  const float matrix[16] = {0, 2, 0, 0, -3, 0, 0, 0, 0, 0, -4, 0, 5, 6, 7, 1};
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CNode").I32(1).A("old").I32(0).I32(0).I32(0);
  for (float v : matrix) file.F32(v);
  file.U8(7).I32(2).I32(11).I32(12);                              // visible, two unused ids
  file.U32(0xDEAD).U8(0).U8(1).I32(4).I32(0).I32(2).I32(0).I32(3);  // tag ignored, options, children
  file.A("CNode").I32(2).A("").I32(0).I32(0).I32(0);
  for (float v : matrix) file.F32(v);
  file.U8(0).I32(0).U32(0).U8(1).U8(1).I32(0);
  file.A("CBillboardNode").I32(3).A("").I32(0).I32(0).I32(0);
  for (float v : matrix) file.F32(v);
  file.U8(1).I32(0).U32(0).U8(1).U8(1).I32(0);
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();

  CNode* root = Root();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name, u"old");
  EXPECT_EQ(root->tag, 0u);
  EXPECT_FALSE(root->option1);
  EXPECT_TRUE(root->option2);
  EXPECT_FALSE(root->option3);
  EXPECT_TRUE(root->visible);
  EXPECT_EQ(root->flags, 0u);
  EXPECT_EQ(root->scale, (V{-2, -3, -4}));
  EXPECT_EQ(root->position, (V{5, 6, 7}));
  EXPECT_EQ(root->rotation.Row(0), (V{0, -1, 0}));
  EXPECT_EQ(root->rotation.Row(1), (V{1, 0, 0}));
  EXPECT_EQ(root->rotation.Row(2), (V{0, 0, 1}));
  ASSERT_EQ(root->children.size(), 2u);
  EXPECT_STREQ(root->children[0]->GetRuntimeClass()->className, "CNode");
  EXPECT_STREQ(root->children[1]->GetRuntimeClass()->className, "CBillboardNode");
  EXPECT_EQ(root->children[0]->parent, root);
  EXPECT_EQ(root->children[1]->parent, root);
  EXPECT_FALSE(root->children[0]->visible);

  // Old files come back in the current layout, and that layout round-trips.
  test::ExpectRoundTrip(root);
}

TEST_F(NodePersistence, VersionTwoZeroBlocks) {
  // A spatial block of 2.0 (flags of 512 meant "none", no frozen byte) and a node block of 2.0
  // (no option3), with rotation noise that the loader removes.
  const float noise = 0.000009f;
  SpatialFields f;
  f.rotation = RotationFromQuaternion({std::sqrt(1 - noise * noise), noise, 0, 0});
  ASSERT_NE(f.rotation.m[1][2], 0.0f);
  auto file = [&](uint32_t flags) {
    f.flags = flags;
    Bytes body = BaseBlocks(1, u"");
    body.Append(SpatialBlock(0, f, std::nullopt)).Append(NodeBlock(0, 9, 1, 0, std::nullopt, {}));
    return NewFile().A("_Root").Append(Record("CNode", body));
  };
  ASSERT_EQ(Load(file(512)), kOk) << context.diagnostics.Describe();
  EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
  CNode* n = Root();
  ASSERT_TRUE(n);
  EXPECT_EQ(n->flags, 0u);
  EXPECT_EQ(n->tag, 9u);
  EXPECT_FALSE(n->frozen);
  EXPECT_FALSE(n->option2);
  EXPECT_EQ(n->rotation, CMatrix3{});  // the quaternion's x was noise: exactly the identity

  CPersistContext other;
  ASSERT_EQ(test::LoadFromBytes(file(513).data, other), kOk);
  EXPECT_EQ(KindOf<CNode>(other.roots.at(0).get())->flags, 513u);

  // From 2.1 on, 512 is a real value.
  Bytes body = BaseBlocks(1, u"");
  f.flags = 512;
  body.Append(SpatialBlock(1, f, std::nullopt)).Append(NodeBlock(1, 0, 1, 1, 0, {}));
  CPersistContext newer;
  ASSERT_EQ(test::LoadFromBytes(NewFile().A("_Root").Append(Record("CNode", body)).data, newer), kOk);
  EXPECT_EQ(KindOf<CNode>(newer.roots.at(0).get())->flags, 512u);
}

TEST_F(NodePersistence, AttachmentAndBoundingResolveAndRoundTrip) {
  SpatialFields f;
  f.attachment = 2;
  f.bounding = 3;
  Bytes body = BaseBlocks(1, u"n").Append(SpatialBlock(2, f, 0)).Append(NodeBlock(1, 0, 1, 1, 0, {}));
  Bytes file = NewFile().A("_Root").Append(Record("CNode", body));
  file.Append(Record("CTestObject", BaseBlocks(2, u"attached")));
  file.Append(Record("CTestObject", BaseBlocks(3, u"hull")));
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  CNode* n = Root();
  ASSERT_TRUE(n && n->attachment && n->bounding);
  EXPECT_EQ(n->attachment->name, u"attached");
  EXPECT_EQ(n->bounding->name, u"hull");
  EXPECT_EQ(test::SaveRootToBytes(n), file.data);
}

TEST_F(NodePersistence, NodeThatIsItsOwnAncestorIsRefused) {
  // 1 -> 2 -> 1, and a node that lists itself.
  for (const Bytes& file : {NewFile().Append(PlainNode(1, {2}, true)).Append(PlainNode(2, {1})),
                            NewFile().Append(PlainNode(1, {1}, true))}) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(file.data, ctx), kErrMalformed);
    EXPECT_NE(ctx.diagnostics.message.find("owns itself"), std::string::npos)
        << ctx.diagnostics.Describe();
    // The refused graph is taken apart: no child still names a parent it is not listed by.
    for (const auto& r : ctx.roots) {
      if (auto* n = KindOf<CNode>(r.get())) {
        EXPECT_EQ(n->parent, nullptr);
      }
    }
  }
}

TEST_F(NodePersistence, ChildListedTwiceKeepsItsFirstListing) {
  // Node 1 lists 2 twice and 3; node 3 lists 2 as well.
  const Bytes file = NewFile()
                         .Append(PlainNode(1, {2, 2, 3}, true))
                         .Append(PlainNode(2, {}))
                         .Append(PlainNode(3, {2}));
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  EXPECT_EQ(context.diagnostics.warnings.size(), 2u) << context.diagnostics.Describe();
  CNode* root = Root();
  ASSERT_TRUE(root);
  ASSERT_EQ(root->children.size(), 3u);
  CSpatial* shared = root->children[0].get();
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->parent, root);
  EXPECT_EQ(root->children[1], nullptr);
  auto* other = KindOf<CNode>(root->children[2].get());
  ASSERT_TRUE(other);
  ASSERT_EQ(other->children.size(), 1u);
  EXPECT_EQ(other->children[0], nullptr);

  // Every walk sees the child once.
  std::vector<CBase*> found;
  root->FindObjects(found, std::nullopt, &CNode::classRecord, false);
  EXPECT_EQ(found.size(), 3u);
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 30, true), kOk);
  test::ExpectRoundTrip(root);
}

TEST_F(NodePersistence, CountsBeyondTheFileAreStreamErrors) {
  Bytes hugeChildren = BaseBlocks(1, u"");
  hugeChildren.Append(SpatialBlock(2, {}, 0)).Version(2, 1).U32(0).U8(1).U8(1).U8(0).I32(0x7FFFFFFF);
  Bytes negativeChildren = BaseBlocks(1, u"");
  negativeChildren.Append(SpatialBlock(2, {}, 0)).Version(2, 1).U32(0).U8(1).U8(1).U8(0).I32(-1);
  for (const Bytes& body : {hugeChildren, negativeChildren}) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(NewFile().A("_Root").Append(Record("CNode", body)).data, ctx),
              kErrStream);
  }
  // The unused id list of the old spatial block.
  Bytes old = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  old.A("CNode").I32(1).A("").I32(0).I32(0).I32(0);
  for (int i = 0; i < 16; ++i) old.F32(0);
  old.U8(1).I32(0x40000000).I32(1);
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(old.data, ctx), kErrStream);
}

TEST_F(NodePersistence, NewerBlocksAreRefused) {
  Bytes body = BaseBlocks(1, u"").Append(SpatialBlock(3, {}, 0)).Append(NodeBlock(1, 0, 1, 1, 0, {}));
  EXPECT_EQ(Load(NewFile().A("_Root").Append(Record("CNode", body))), kErrNewerVersion);
}

// ---------------------------------------------------------------------------------------------

CRefPtr<CBase> SampleTree(CNode* root) {
  root->name = u"root";
  root->tag = 77;
  root->option2 = false;
  root->option3 = true;
  root->position = {1, -2, 3};
  root->scale = {0.5f, 2, 2};
  root->flags = 0x3F;
  root->frozen = true;
  CRefPtr<CRawData> attached(new CRawData);
  attached->name = u"payload";
  root->attachment = attached;
  root->bounding = new test::CTestObject;
  CRefPtr<test::CTestControl> control(new test::CTestControl);
  control->keyTimes = {0, 1};
  root->AttachController(control.get());
  CRefPtr<CNode> child(new CNode);
  child->visible = false;
  CRefPtr<CBillboardNode> grandchild(new CBillboardNode);
  child->AddChild(grandchild.get());
  root->AddChild(child.get());
  return root;
}

const test::RoundTripRegistrar kNodeSample("CNode", [] { return SampleTree(new CNode); });
const test::RoundTripRegistrar kBillboardNodeSample("CBillboardNode",
                                                    [] { return SampleTree(new CBillboardNode); });

TEST_F(NodePersistence, RegisteredSamplesRoundTrip) {
  for (const auto& sample : test::RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    const CRefPtr<CBase> root = sample.make();
    const CRefPtr<CBase> loaded = test::ExpectRoundTrip(root.get());
    ASSERT_TRUE(loaded);
    if (auto* node = KindOf<CNode>(loaded.get())) {
      ASSERT_EQ(node->children.size(), 1u);
      EXPECT_EQ(node->children[0]->parent, node);
      EXPECT_EQ(node->tag, 77u);
      EXPECT_TRUE(node->frozen);
      ASSERT_TRUE(node->attachment);
      EXPECT_EQ(node->attachment->name, u"payload");
    }
  }
}

}  // namespace
}  // namespace KX
