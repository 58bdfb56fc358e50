#include <gtest/gtest.h>

#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;
using Kids = std::vector<CSpatial*>;

Kids Children(const CNode& n) {
  Kids out;
  for (const auto& c : n.children) out.push_back(c.get());
  return out;
}

TEST(NodeChildren, AddAndRemoveStatuses) {
  CRefPtr<CNode> a(new CNode), b(new CNode);
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  EXPECT_EQ(a->AddChild(nullptr), kNothingDone);
  EXPECT_EQ(a->AddChild(leaf.get()), kOk);
  EXPECT_EQ(leaf->parent, a.get());
  // A child of another node: refused, neither node changes.
  EXPECT_EQ(b->AddChild(leaf.get()), kErrBadArgument);
  EXPECT_EQ(Children(*a), Kids{leaf.get()});
  EXPECT_TRUE(b->children.empty());

  EXPECT_EQ(b->RemoveChild(nullptr), kNothingDone);
  EXPECT_EQ(b->RemoveChild(leaf.get()), kErrBadArgument);
  EXPECT_EQ(a->RemoveChild(leaf.get()), kOk);
  EXPECT_EQ(leaf->parent, nullptr);
  EXPECT_TRUE(a->children.empty());
  // Parent says a, list does not hold it.
  leaf->parent = a.get();
  EXPECT_EQ(a->RemoveChild(leaf.get()), kNothingDone);
  EXPECT_EQ(leaf->parent, nullptr);

  // A tree cannot be made to own itself.
  CRefPtr<CNode> low(new CNode);
  EXPECT_TRUE(::KX::Succeeded(a->AddChild(b.get())));
  EXPECT_TRUE(::KX::Succeeded(b->AddChild(low.get())));
  EXPECT_EQ(low->AddChild(a.get()), kErrBadArgument);
  EXPECT_EQ(a->AddChild(a.get()), kErrBadArgument);
  EXPECT_TRUE(low->children.empty());

  // A node that goes away leaves no parent link behind.
  EXPECT_TRUE(::KX::Succeeded(a->AddChild(leaf.get())));
  a = nullptr;
  EXPECT_EQ(b->parent, nullptr);
  EXPECT_EQ(leaf->parent, nullptr);
}

TEST(NodeAssign, MovesEveryChildToTheTarget) {
  CRefPtr<CNode> source(new CNode), target(new CNode);
  source->tag = 5;
  source->option3 = true;
  CRefPtr<CTestLeaf> c1(new CTestLeaf), c2(new CTestLeaf), old(new CTestLeaf);
  EXPECT_TRUE(::KX::Succeeded(source->AddChild(c1.get())));
  EXPECT_TRUE(::KX::Succeeded(source->AddChild(c2.get())));
  EXPECT_TRUE(::KX::Succeeded(target->AddChild(old.get())));
  ReleasedList released;
  ASSERT_EQ(source->AssignTo(target.get(), released), kOk);
  EXPECT_TRUE(source->children.empty());
  EXPECT_EQ(Children(*target), (Kids{c1.get(), c2.get()}));
  EXPECT_EQ(c1->parent, target.get());
  EXPECT_EQ(c2->parent, target.get());
  EXPECT_EQ(target->tag, 5u);
  EXPECT_TRUE(target->option3);
  // The target's previous child goes to the caller and no longer names the target.
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), old.get());
  EXPECT_EQ(old->parent, nullptr);

  // A target inside the source's subtree would end up below itself: refused, nothing moves.
  CRefPtr<CNode> low(new CNode);
  CRefPtr<CNode> mid(new CNode);
  EXPECT_TRUE(::KX::Succeeded(target->AddChild(mid.get())));
  EXPECT_TRUE(::KX::Succeeded(mid->AddChild(low.get())));
  EXPECT_EQ(target->AssignTo(low.get(), released), kErrBadArgument);
  EXPECT_EQ(Children(*target), (Kids{c1.get(), c2.get(), mid.get()}));
}

TEST(NodeCopies, DuplicateNodesFiltersByTagAndLeavesOutNonNodes) {
  CRefPtr<CNode> root(new CNode), sub(new CNode), deep(new CNode);
  root->tag = 7;
  sub->tag = 3;
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(new CTestLeaf)));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(sub.get())));
  EXPECT_TRUE(::KX::Succeeded(sub->AddChild(deep.get())));

  DuplicateMap map;
  CRefPtr<CNode> copy;
  EXPECT_EQ(root->DuplicateNodes(map, copy, 8u), kNothingDone);
  EXPECT_FALSE(copy);
  // The filter applies to the top only.
  ASSERT_EQ(root->DuplicateNodes(map, copy, 7u), kOk);
  ASSERT_EQ(copy->children.size(), 1u);
  auto* subCopy = KindOf<CNode>(copy->children[0].get());
  ASSERT_TRUE(subCopy);
  EXPECT_NE(subCopy, sub.get());
  EXPECT_EQ(subCopy->parent, copy.get());
  EXPECT_EQ(subCopy->children.size(), 1u);
  // A node the map holds answers its copy; CloneNodes makes a new one.
  CRefPtr<CNode> again;
  EXPECT_EQ(root->DuplicateNodes(map, again, std::nullopt), kOk);
  EXPECT_EQ(again, copy);
  ASSERT_EQ(root->CloneNodes(again, std::nullopt), kOk);
  EXPECT_NE(again, copy);
}

TEST(NodeBound, JoinsChildrenAndIgnoresEmptyOnes) {
  CRefPtr<CNode> n(new CNode);
  n->bound.Mutable().radius = 42;
  EXPECT_EQ(n->UpdateBound(), kOk);
  EXPECT_EQ(n->bound.get().radius, 42);  // no children: kept

  CRefPtr<CTestLeaf> empty(new CTestLeaf), a(new CTestLeaf), b(new CTestLeaf);
  a->geometry = {{0, 0, 0}, 1, {-1, -1, -1}, {1, 1, 1}};
  b->geometry = {{10, 0, 0}, 2, {8, -2, -2}, {12, 2, 2}};
  EXPECT_TRUE(::KX::Succeeded(n->AddChild(empty.get())));
  EXPECT_TRUE(::KX::Succeeded(n->AddChild(a.get())));
  EXPECT_TRUE(::KX::Succeeded(n->AddChild(b.get())));
  n->children.push_back(nullptr);  // an unresolved reference
  ASSERT_EQ(n->UpdateBound(), kOk);
  // The smallest sphere around both, the union of the boxes.
  EXPECT_FLOAT_EQ(n->bound.get().radius, 6.5f);
  EXPECT_FLOAT_EQ(n->bound.get().center.x, 5.5f);
  EXPECT_EQ(n->bound.get().boxMin, (CVector3<float>{-1, -2, -2}));
  EXPECT_EQ(n->bound.get().boxMax, (CVector3<float>{12, 2, 2}));
}

}  // namespace
}  // namespace KX
