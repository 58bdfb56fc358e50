#include <gtest/gtest.h>

#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;

CRefPtr<CNode> Node(const char16_t* name, uint32_t tag = 0) {
  CRefPtr<CNode> n(new CNode);
  n->name = name;
  n->tag = tag;
  return n;
}

std::vector<CSpatial*> Children(const CNode& n) {
  std::vector<CSpatial*> out;
  for (const auto& c : n.children) out.push_back(c.get());
  return out;
}

TEST(NodeChildren, AddAndRemoveStatuses) {
  auto a = Node(u"a"), b = Node(u"b");
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  EXPECT_EQ(a->AddChild(nullptr), kNothingDone);
  EXPECT_EQ(a->AddChild(leaf.get()), kOk);
  EXPECT_EQ(leaf->parent, a.get());
  EXPECT_EQ(a->modified, 1);

  // A child of another node: refused, neither node changes.
  EXPECT_EQ(b->AddChild(leaf.get()), kErrBadArgument);
  EXPECT_EQ(Children(*a), std::vector<CSpatial*>{leaf.get()});
  EXPECT_TRUE(b->children.empty());
  EXPECT_EQ(leaf->parent, a.get());

  EXPECT_EQ(b->RemoveChild(nullptr), kNothingDone);
  EXPECT_EQ(b->RemoveChild(leaf.get()), kErrBadArgument);
  EXPECT_EQ(a->RemoveChild(leaf.get()), kOk);
  EXPECT_EQ(leaf->parent, nullptr);
  EXPECT_TRUE(a->children.empty());

  // Parent says a, list does not hold it: the link is cleared and nothing was erased.
  leaf->parent = a.get();
  EXPECT_EQ(a->RemoveChild(leaf.get()), kNothingDone);
  EXPECT_EQ(leaf->parent, nullptr);
}

TEST(NodeChildren, ATreeCannotBeMadeToOwnItself) {
  auto root = Node(u"root"), mid = Node(u"mid"), low = Node(u"low");
  ASSERT_EQ(root->AddChild(mid.get()), kOk);
  ASSERT_EQ(mid->AddChild(low.get()), kOk);
  EXPECT_EQ(low->AddChild(root.get()), kErrBadArgument);
  EXPECT_EQ(root->AddChild(root.get()), kErrBadArgument);
  EXPECT_TRUE(low->children.empty());
  EXPECT_EQ(root->parent, nullptr);
}

TEST(NodeChildren, DestroyedNodeLeavesNoDanglingParent) {
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  {
    auto n = Node(u"n");
    n->AddChild(leaf.get());
  }
  EXPECT_EQ(leaf->parent, nullptr);
  EXPECT_EQ(leaf->refCount, 1);
}

TEST(NodeAssign, MovesEveryChildToTheTarget) {
  auto source = Node(u"src", 5), target = Node(u"dst");
  source->option1 = false;
  source->option3 = true;
  CRefPtr<CTestLeaf> c1(new CTestLeaf), c2(new CTestLeaf), old(new CTestLeaf);
  source->AddChild(c1.get());
  source->AddChild(c2.get());
  target->AddChild(old.get());
  ReleasedList released;
  ASSERT_EQ(source->AssignTo(target.get(), released), kOk);
  EXPECT_TRUE(source->children.empty());
  EXPECT_EQ(Children(*target), (std::vector<CSpatial*>{c1.get(), c2.get()}));
  EXPECT_EQ(c1->parent, target.get());
  EXPECT_EQ(c2->parent, target.get());
  EXPECT_EQ(target->tag, 5u);
  EXPECT_FALSE(target->option1);
  EXPECT_TRUE(target->option3);
  EXPECT_EQ(target->name, u"src");
  // The target's previous child is handed to the caller and no longer names the target.
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), old.get());
  EXPECT_EQ(old->parent, nullptr);
}

TEST(NodeAssign, RefusedTargets) {
  auto source = Node(u"src"), mid = Node(u"mid"), low = Node(u"low");
  source->AddChild(mid.get());
  mid->AddChild(low.get());
  ReleasedList released;
  // Below the source: the children would end up under themselves.
  EXPECT_EQ(source->AssignTo(low.get(), released), kErrBadArgument);
  EXPECT_EQ(Children(*source), std::vector<CSpatial*>{mid.get()});
  EXPECT_EQ(low->name, u"low");
  // Not a node: the spatial part is copied, the children stay.
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  EXPECT_EQ(source->AssignTo(leaf.get(), released), kErrMalformed);
  EXPECT_EQ(Children(*source), std::vector<CSpatial*>{mid.get()});
  // Onto itself: nothing moves.
  EXPECT_EQ(source->AssignTo(source.get(), released), kOk);
  EXPECT_EQ(Children(*source), std::vector<CSpatial*>{mid.get()});
  EXPECT_EQ(mid->parent, source.get());
}

TEST(NodeCopies, DuplicateNodesFiltersByTagAndLeavesOutNonNodes) {
  auto root = Node(u"root", 7), sub = Node(u"sub", 3);
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  root->AddChild(leaf.get());
  root->AddChild(sub.get());
  sub->AddChild(Node(u"deep", 3).get());

  DuplicateMap map;
  CRefPtr<CNode> copy;
  EXPECT_EQ(root->DuplicateNodes(map, copy, 8u), kNothingDone);
  EXPECT_FALSE(copy);
  EXPECT_TRUE(map.empty());

  // The filter applies to the top only: children are copied whatever their tag.
  ASSERT_EQ(root->DuplicateNodes(map, copy, 7u), kOk);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->name, u"root");
  ASSERT_EQ(copy->children.size(), 1u);
  auto* subCopy = KindOf<CNode>(copy->children[0].get());
  ASSERT_TRUE(subCopy);
  EXPECT_NE(subCopy, sub.get());
  EXPECT_EQ(subCopy->parent, copy.get());
  EXPECT_EQ(subCopy->children.size(), 1u);
  EXPECT_EQ(map.size(), 3u);

  // A node the map holds answers its copy.
  CRefPtr<CNode> again;
  EXPECT_EQ(root->DuplicateNodes(map, again, std::nullopt), kOk);
  EXPECT_EQ(again.get(), copy.get());

  CRefPtr<CNode> cloned;
  ASSERT_EQ(root->CloneNodes(cloned, std::nullopt), kOk);
  EXPECT_NE(cloned.get(), copy.get());
  EXPECT_EQ(cloned->children.size(), 1u);
}

TEST(NodeCopies, DuplicateCopiesEveryChildAndKeepsSharedObjectsShared) {
  auto root = Node(u"root");
  CRefPtr<CTestLeaf> a(new CTestLeaf), b(new CTestLeaf);
  CRefPtr<test::CTestObject> shared(new test::CTestObject);
  a->attachment = shared;
  b->attachment = shared;
  root->AddChild(a.get());
  root->AddChild(b.get());
  DuplicateMap map;
  CRefPtr<CBase> out;
  ASSERT_EQ(root->Duplicate(out, map), kOk);
  auto* copy = KindOf<CNode>(out.get());
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->children.size(), 2u);
  EXPECT_EQ(copy->children[0]->parent, copy);
  EXPECT_NE(copy->children[0]->attachment.get(), shared.get());
  EXPECT_EQ(copy->children[0]->attachment.get(), copy->children[1]->attachment.get());
}

TEST(NodeBound, JoinsChildrenAndIgnoresEmptyOnes) {
  auto n = Node(u"n");
  Bound previous;
  previous.radius = 42;
  n->bound = previous;
  EXPECT_EQ(n->UpdateBound(), kOk);
  EXPECT_EQ(n->bound, previous);  // no children: kept

  CRefPtr<CTestLeaf> a(new CTestLeaf), empty(new CTestLeaf), b(new CTestLeaf);
  a->geometry = {{0, 0, 0}, 1, {-1, -1, -1}, {1, 1, 1}};
  b->geometry = {{10, 0, 0}, 2, {8, -2, -2}, {12, 2, 2}};
  n->AddChild(empty.get());
  n->AddChild(a.get());
  n->AddChild(b.get());
  n->children.push_back(nullptr);  // unresolved reference: skipped
  ASSERT_EQ(n->UpdateBound(), kOk);
  EXPECT_FLOAT_EQ(n->bound.radius, 6.5f);
  EXPECT_FLOAT_EQ(n->bound.center.x, 5.5f);
  EXPECT_EQ(n->bound.boxMin, (CVector3<float>{-1, -2, -2}));
}

TEST(NodeSearch, ChildrenAreSearchedInOrderAfterTheNode) {
  auto root = Node(u"x"), sub = Node(u"y");
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  leaf->name = u"x";
  root->AddChild(sub.get());
  sub->AddChild(leaf.get());
  EXPECT_EQ(root->FindObject(u"x", nullptr, false), root.get());
  EXPECT_EQ(root->FindObject(u"x", &CTestLeaf::classRecord, false), leaf.get());
  std::vector<CBase*> all;
  root->FindObjects(all, std::nullopt, &CSpatial::classRecord, true);
  EXPECT_EQ(all, (std::vector<CBase*>{root.get(), sub.get(), leaf.get()}));
  EXPECT_EQ(root->GetMemorySize(), 188 + 4 + 36);
  EXPECT_TRUE(root->HasAttachments());
}

}  // namespace
}  // namespace KX
