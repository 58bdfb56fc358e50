#include <gtest/gtest.h>

#include <cstring>

#include "object/container.h"
#include "scene/bounding_objects.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

Bytes NewFile() {
  return test::NewHeader().I32(0).I32(0);
}

// CBase and CCorva blocks of an object without name or chains.
Bytes BaseBlocks(int32_t id) {
  return Bytes().Version(2, 0).I32(id).I32(0).Version(2, 0).I32(0).I32(0).I32(0);
}

Bytes Record(const char* className, const Bytes& body) {
  return Bytes().A(className).I32(static_cast<int32_t>(body.size())).Append(body);
}

// A hull block with the given stored counts, indices 0, 1, 2, ... and vertices (i, 2i, 3i).
Bytes HullBlock(int32_t minor, int32_t nodeId, int32_t nextId, int32_t faces, int32_t vertexCount,
                bool flag2 = true) {
  Bytes b;
  b.Version(2, minor).I32(nodeId).I32(nextId).I32(faces);
  for (int32_t i = 0; i < 3 * faces; ++i) b.I32(i);
  b.I32(vertexCount);
  for (int32_t i = 0; i < vertexCount; ++i) b.F32(float(i)).F32(2.0f * i).F32(3.0f * i);
  if (minor >= 1) b.U8(flag2);
  return b;
}

CRefPtr<CBoundingMesh> Hull(std::initializer_list<V> vertices, const char16_t* name = u"") {
  CRefPtr<CBoundingMesh> hull(new CBoundingMesh);
  hull->name = name;
  hull->vertices.items = vertices;
  hull->worldVertices.items = vertices;
  return hull;
}

class Bounding : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) { return test::LoadFromBytes(file.data, context); }
  CPersistContext context;
};

TEST_F(Bounding, CurrentLayoutIsByteExact) {
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  for (int i = 0; i < 8; ++i) box->corners[i] = {float(i), -float(i), 0.5f};
  Bytes boxBody = BaseBlocks(1).Version(2, 0);
  for (const V& c : box->corners) boxBody.F32(c.x).F32(c.y).F32(c.z);
  const Bytes boxRecord = Record("CBoundingBox", boxBody);
  EXPECT_EQ(test::SaveRootToBytes(box.get()), NewFile().A("_Root").Append(boxRecord).data);
  EXPECT_EQ(box->GetSaveSize(), static_cast<int64_t>(boxRecord.size()));
  EXPECT_EQ(boxBody.size() - BaseBlocks(1).size(), 104u);

  CRefPtr<CBoundingMesh> head = Hull({{0, 0, 0}, {1, 2, 3}, {2, 4, 6}});
  head->faceCount = 1;
  head->faceIndices.items = {0, 1, 2};
  head->hullFlag2 = false;
  head->hullFlag1 = false;  // never saved
  head->scale = {7, 7, 7};  // never saved
  EXPECT_TRUE(::KX::Succeeded(head->AppendBounding(Hull({}).get())));
  const Bytes first =
      Record("CBoundingMesh", BaseBlocks(1).Append(HullBlock(1, 0, 2, 1, 3, false)));
  const Bytes second = Record("CBoundingMesh", BaseBlocks(2).Append(HullBlock(1, 0, 0, 0, 0)));
  EXPECT_EQ(test::SaveRootToBytes(head.get()),
            NewFile().A("_Root").Append(first).Append(second).data);
  EXPECT_EQ(head->GetSaveSize(), static_cast<int64_t>(first.size()));
}

TEST_F(Bounding, HullStoresExactlyThreeIndicesPerStatedFace) {
  // A face count that the index buffer does not match is written as the count says, so the
  // record reads back whole.
  CRefPtr<CBoundingMesh> hull = Hull({{1, 1, 1}});
  hull->faceCount = 2;
  hull->faceIndices.items = {4, 5, 6, 7};
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(hull.get());
  auto* back = KindOf<CBoundingMesh>(loaded.get());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->faceCount, 2);
  EXPECT_EQ(back->faceIndices.items, (std::vector<uint32_t>{4, 5, 6, 7, 0, 0}));
  EXPECT_EQ(back->worldVertices.items, back->vertices.items);
}

TEST_F(Bounding, OlderAndDamagedHullRecords) {
  // 2.0: no hullFlag2 byte. A node id naming a spatial object links it.
  CRefPtr<CNode> plain(new CNode);
  Bytes nodeBody = BaseBlocks(2).Version(2, 2);
  for (int i = 0; i < 9; ++i) nodeBody.F32(i % 4 == 0 ? 1.0f : 0.0f);
  nodeBody.F32(0).F32(0).F32(0).F32(1).F32(1).F32(1).U32(0).I32(0).I32(0).U8(1).U8(0);
  nodeBody.Version(2, 1).U32(0).U8(1).U8(1).U8(0).I32(0);
  const Bytes file =
      NewFile()
          .A("_Root")
          .Append(Record("CBoundingMesh", BaseBlocks(1).Append(HullBlock(0, 2, 0, 1, 2))))
          .A("_Root")
          .Append(Record("CNode", nodeBody));
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* hull = KindOf<CBoundingMesh>(context.roots.at(0).get());
  ASSERT_TRUE(hull);
  EXPECT_TRUE(hull->hullFlag2);
  EXPECT_EQ(hull->node, context.roots.at(1).get());
  EXPECT_EQ(hull->faceIndices.items, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(hull->vertices.items, (std::vector<V>{{0, 0, 0}, {1, 2, 3}}));
  EXPECT_EQ(hull->worldVertices.items, hull->vertices.items);

  // Counts that cannot fit in the file are stream errors; a negative face count means none.
  for (int32_t faces : {0x7FFFFFFF, 0x2AAAAAAB}) {
    CPersistContext ctx;
    const Bytes huge = NewFile().A("_Root").Append(
        Record("CBoundingMesh", BaseBlocks(1).Version(2, 1).I32(0).I32(0).I32(faces).I32(0).U8(1)));
    EXPECT_EQ(test::LoadFromBytes(huge.data, ctx), kErrStream) << faces;
  }
  CPersistContext ctx;
  const Bytes negative = NewFile().A("_Root").Append(
      Record("CBoundingMesh", BaseBlocks(1).Version(2, 1).I32(0).I32(0).I32(-5).I32(-1).U8(0)));
  ASSERT_EQ(test::LoadFromBytes(negative.data, ctx), kOk) << ctx.diagnostics.Describe();
  auto* empty = KindOf<CBoundingMesh>(ctx.roots.at(0).get());
  EXPECT_EQ(empty->faceCount, 0);
  EXPECT_TRUE(empty->vertices.empty());
  EXPECT_FALSE(empty->hullFlag2);
}

TEST_F(Bounding, SpatialChainsHullsInAppendOrderAndRefusesLoops) {
  CRefPtr<CNode> node(new CNode);
  CRefPtr<CBoundingMesh> a = Hull({}), b = Hull({}), c = Hull({});
  for (CBoundingMesh* hull : {a.get(), b.get(), c.get()}) EXPECT_EQ(node->AddBounding(hull), kOk);
  EXPECT_EQ(node->bounding.get(), a.get());
  EXPECT_EQ(a->next.get(), b.get());
  EXPECT_EQ(b->next.get(), c.get());
  EXPECT_FALSE(c->next);
  EXPECT_TRUE(a->modified && b->modified && c->modified);

  // Anything that would make the chain come back to itself is refused and changes nothing.
  CRefPtr<CBoundingMesh> d = Hull({});
  d->next = b;  // a tail leading into the chain
  for (CBoundingMesh* loop : {a.get(), c.get(), d.get()}) {
    EXPECT_EQ(node->AddBounding(loop), kErrBadArgument);
    EXPECT_FALSE(c->next);
  }
  EXPECT_EQ(a->AppendBounding(nullptr), kErrBadArgument);
  EXPECT_EQ(node->AddBounding(nullptr), kErrBadArgument);
  // Only hulls chain.
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  EXPECT_EQ(node->AddBounding(box.get()), kErrBadArgument);
  CRefPtr<CNode> boxed(new CNode);
  EXPECT_EQ(boxed->AddBounding(box.get()), kOk);
  EXPECT_EQ(boxed->AddBounding(Hull({}).get()), kErrBadArgument);

  std::vector<CBase*> found;
  node->FindObjects(found, std::nullopt, &CBoundingMesh::classRecord, false);
  EXPECT_EQ(found, (std::vector<CBase*>{a.get(), b.get(), c.get()}));
}

TEST_F(Bounding, UpdateMovesEveryHullOfTheChainWithItsNode) {
  CRefPtr<CNode> node(new CNode);
  node->transform.Mutable().SetRow(3, {10, 0, 0}, 1.0f);
  CRefPtr<CBoundingMesh> moved = Hull({{1, 2, 3}, {0, 0, 0}});
  moved->node = node.get();
  CRefPtr<CBoundingMesh> still = Hull({{1, 2, 3}});
  still->worldVertices.items.clear();  // sized again by the update
  EXPECT_TRUE(::KX::Succeeded(node->AddBounding(moved.get())));
  EXPECT_TRUE(::KX::Succeeded(node->AddBounding(still.get())));
  ASSERT_EQ(node->Update(0.5f), kOk);
  EXPECT_EQ(moved->worldVertices.items, (std::vector<V>{{11, 2, 3}, {10, 0, 0}}));
  EXPECT_EQ(still->worldVertices.items, (std::vector<V>{{1, 2, 3}}));

  EXPECT_EQ(still->SetVertexCount(0), kErrBadArgument);
  ASSERT_EQ(still->SetVertexCount(4), kOk);
  EXPECT_EQ(still->vertices.size(), 4u);
  EXPECT_EQ(still->worldVertices.size(), 4u);
}

TEST_F(Bounding, NamesBindNodesAlongTheChain) {
  CRefPtr<CNode> root(new CNode), arm(new CNode), leg(new CNode), stray(new CNode);
  arm->name = u"arm";
  leg->name = u"leg";
  stray->name = u"tail";
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(arm.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(leg.get())));
  CRefPtr<CNode> stand(new CNode), standArm(new CNode);
  standArm->name = u"arm";
  CRefPtr<CBoundingMesh> first = Hull({}), second = Hull({});
  first->node = standArm.get();
  second->node = standArm.get();
  EXPECT_TRUE(::KX::Succeeded(first->AppendBounding(second.get())));
  EXPECT_EQ(first->ResolveNames(root.get()), kOk);
  EXPECT_EQ(first->node, arm.get());
  EXPECT_EQ(second->node, arm.get());

  // No object of the name: the hull fails and the rest of the chain stays as it was.
  first->node = stray.get();
  second->node = standArm.get();
  EXPECT_EQ(first->ResolveNames(root.get()), kErrNodeNotFound);
  EXPECT_EQ(second->node, standArm.get());
  EXPECT_EQ(first->ResolveNames(nullptr), kErrBadArgument);
}

TEST_F(Bounding, DuplicatedTreeMovesHullsWithTheCopies) {
  CRefPtr<CNode> root(new CNode), limb(new CNode);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(limb.get())));
  CRefPtr<CBoundingMesh> a = Hull({{1, 0, 0}}, u"a"), b = Hull({{0, 1, 0}}, u"b");
  a->node = root.get();
  b->node = limb.get();
  a->faceCount = 3;
  a->hullFlag1 = false;
  EXPECT_TRUE(::KX::Succeeded(root->AddBounding(a.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddBounding(b.get())));

  DuplicateMap map;
  CRefPtr<CBase> out;
  ASSERT_EQ(root->Duplicate(out, map), kOk);
  ASSERT_EQ(KindOf<CCorva>(out.get())->RemapReferences(map), kOk);
  auto* copy = KindOf<CNode>(out.get());
  auto* copyA = KindOf<CBoundingMesh>(copy->bounding.get());
  ASSERT_TRUE(copyA && copyA != a.get());
  ASSERT_TRUE(copyA->next && copyA->next.get() != b.get());
  EXPECT_EQ(copyA->node, copy);
  EXPECT_EQ(copyA->next->node, copy->children.at(0).get());
  EXPECT_EQ(copyA->faceCount, 3);
  EXPECT_FALSE(copyA->hullFlag1);
  EXPECT_EQ(copyA->vertices.items, a->vertices.items);
  EXPECT_EQ(copyA->next->name, u"b");

  // A hull whose node was not copied cannot be moved over.
  CRefPtr<CBase> lone;
  DuplicateMap other;
  ASSERT_EQ(b->Duplicate(lone, other), kOk);
  EXPECT_EQ(KindOf<CBoundingMesh>(lone.get())->RemapReferences(other), kErrNodeNotFound);
}

TEST_F(Bounding, AssignSharesTheTailAndCopiesTheHull) {
  CRefPtr<CBoundingMesh> source = Hull({{1, 2, 3}}), tail = Hull({});
  CRefPtr<CNode> node(new CNode);
  source->node = node.get();
  source->faceCount = 1;
  source->faceIndices.items = {0, 0, 0};
  source->scale = {2, 2, 2};
  EXPECT_TRUE(::KX::Succeeded(source->AppendBounding(tail.get())));
  CRefPtr<CBoundingMesh> target = Hull({{9, 9, 9}, {8, 8, 8}}), oldTail = Hull({});
  EXPECT_TRUE(::KX::Succeeded(target->AppendBounding(oldTail.get())));
  ReleasedList released;
  ASSERT_EQ(source->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->node, node.get());
  EXPECT_EQ(target->vertices.items, source->vertices.items);
  EXPECT_EQ(target->faceIndices.items, source->faceIndices.items);
  EXPECT_EQ(target->scale, source->scale);
  EXPECT_EQ(target->next.get(), tail.get());
  EXPECT_EQ(released.size(), 1u);
  EXPECT_EQ(released.at(0).get(), oldTail.get());

  // A target in this hull's own tail would become its own successor.
  released.clear();
  EXPECT_EQ(source->AssignTo(tail.get(), released), kErrBadArgument);
  EXPECT_FALSE(tail->next);
  CRefPtr<CBoundingBox> box(new CBoundingBox), otherBox(new CBoundingBox);
  EXPECT_EQ(source->AssignTo(box.get(), released), kErrMalformed);
  box->corners[7] = {1, 2, 3};
  ASSERT_EQ(box->AssignTo(otherBox.get(), released), kOk);
  EXPECT_EQ(otherBox->corners[7], (V{1, 2, 3}));
  EXPECT_EQ(box->AssignTo(source.get(), released), kErrMalformed);
}

}  // namespace
}  // namespace KX
