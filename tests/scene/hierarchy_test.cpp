#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;
using test::CWaitControl;

// A spatial object with one waiting controller attached.
template <class T>
CWaitControl* Animate(T* object, std::vector<const CCorva*>* order = nullptr) {
  CRefPtr<CWaitControl> c(new CWaitControl);
  c->order = order;
  object->AttachController(c.get());
  return c.get();
}

TEST(UpdateHierarchy, SamplesEveryStepAndTheEndTime) {
  struct Case {
    float start, delta, rate;
    std::vector<float> expected;
  };
  const Case cases[] = {
      {0.0f, 0.1f, 30.0f, {1 / 30.0f, 2 / 30.0f, 3 / 30.0f}},  // the last step lands on the end
      {0.0f, 0.05f, 30.0f, {1 / 30.0f, 0.05f}},                // never past the end, then the end
      {0.01f, 0.1f, 30.0f, {1 / 30.0f, 2 / 30.0f, 3 / 30.0f, 0.11f}},
      {0.0f, 0.01f, 30.0f, {0.01f}},  // shorter than a step
      {1.0f, 0.5f, 0.0f, {1.5f}},     // no rate: the end only
  };
  for (const auto& c : cases) {
    CRefPtr<CTestLeaf> leaf(new CTestLeaf);
    CWaitControl* control = Animate(leaf.get());
    EXPECT_EQ(leaf->UpdateHierarchy(c.start, c.delta, c.rate, false), kOk);
    ASSERT_EQ(control->times.size(), c.expected.size()) << c.start << " + " << c.delta;
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_FLOAT_EQ(control->times[i], c.expected[i]) << c.start << " + " << c.delta << " #" << i;
  }
}

TEST(UpdateHierarchy, RefusesRatesAndTimesThatNeverReachTheEnd) {
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  CWaitControl* control = Animate(leaf.get());
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(leaf->UpdateHierarchy(0, 1, -30, false), kErrBadArgument);
  EXPECT_EQ(leaf->UpdateHierarchy(0, inf, 30, false), kErrBadArgument);
  EXPECT_EQ(leaf->UpdateHierarchy(0, 1, std::nanf(""), false), kErrBadArgument);
  EXPECT_TRUE(control->times.empty());
}

TEST(UpdateHierarchy, ParentsFirstThenDataThenBoundsUpToTheRoot) {
  // root -> mid -> leaf, evaluated from mid: root is outside and only gets its bound updated.
  CRefPtr<CNode> root(new CNode), mid(new CNode);
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  root->AddChild(mid.get());
  mid->AddChild(leaf.get());
  leaf->geometry = {{1, 2, 3}, 4, {-3, -2, -1}, {5, 6, 7}};
  root->flag = 1;  // a mark left behind by an earlier failed evaluation of the whole tree
  std::vector<const CCorva*> order;
  Animate(leaf.get(), &order);
  Animate(mid.get(), &order);
  ASSERT_EQ(mid->UpdateHierarchy(0, 1, 0, true), kOk);
  EXPECT_EQ(order, (std::vector<const CCorva*>{mid.get(), leaf.get()}));
  EXPECT_EQ(mid->flag, 0);
  EXPECT_EQ(leaf->flag, 0);
  EXPECT_EQ(mid->bound, leaf->geometry);
  EXPECT_EQ(root->bound, leaf->geometry);
}

TEST(UpdateHierarchy, AChildWaitsForItsParent) {
  // The parent waits for its child (a look-at of its own child): the child cannot go first, so
  // after a stalled pass the parent's wait is broken and both evaluate, parent first.
  CRefPtr<CNode> parent(new CNode);
  CRefPtr<CTestLeaf> child(new CTestLeaf);
  parent->AddChild(child.get());
  std::vector<const CCorva*> order;
  Animate(parent.get(), &order)->waitFor = child.get();
  Animate(child.get(), &order);
  ASSERT_EQ(parent->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_EQ(order, (std::vector<const CCorva*>{parent.get(), child.get()}));
  EXPECT_EQ(child->flag, 0);
}

class MutualWait : public ::testing::Test {
 protected:
  void SetUp() override {
    root->AddChild(a.get());
    root->AddChild(b.get());
    waitA = Animate(a.get(), &order);
    waitB = Animate(b.get(), &order);
    waitA->waitFor = b.get();
    waitB->waitFor = a.get();
  }
  CRefPtr<CNode> root{new CNode};
  CRefPtr<CTestLeaf> a{new CTestLeaf}, b{new CTestLeaf};
  CWaitControl* waitA = nullptr;
  CWaitControl* waitB = nullptr;
  std::vector<const CCorva*> order;
};

TEST_F(MutualWait, BreakingOneWaitLetsBothEvaluate) {
  ASSERT_EQ(root->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_EQ(order, (std::vector<const CCorva*>{a.get(), b.get()}));
  // Both waited through two passes; the third began as long as the second, so a was forced
  // through with b shown as evaluated, and then b could follow.
  EXPECT_EQ(waitA->times.size(), 4u);
  EXPECT_EQ(waitB->times.size(), 3u);
  EXPECT_EQ(b->flag, 0);
}

TEST_F(MutualWait, AWaitThatCannotBeBrokenFails) {
  waitA->stubborn = true;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrMalformed);
  // The mark of the object waited for is restored; what was not evaluated stays marked.
  EXPECT_EQ(a->flag, 1);
  EXPECT_EQ(b->flag, 1);
  EXPECT_EQ(root->flag, 0);
}

TEST_F(MutualWait, AWaitForNoNamedObjectFails) {
  waitA->namesTarget = false;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrMalformed);
}

TEST_F(MutualWait, AFailureOfTheForcedEvaluationIsAnswered) {
  waitA->failure = kErrNodeNotFound;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrNodeNotFound);
  EXPECT_EQ(a->flag, 1);
}

TEST(UpdateHierarchy, AWaitForAnObjectOutsideThatNeverEvaluatesEndsInTime) {
  // Many objects all waiting for one object that is never part of the evaluation: every one is
  // forced through by a stalled pass, and the whole evaluation stays quadratic at worst.
  CRefPtr<CNode> root(new CNode);
  CRefPtr<test::CTestObject> never(new test::CTestObject);
  never->flag = 1;
  std::vector<CWaitControl*> controls;
  for (int i = 0; i < 50; ++i) {
    CRefPtr<CTestLeaf> leaf(new CTestLeaf);
    root->AddChild(leaf.get());
    controls.push_back(Animate(leaf.get()));
    controls.back()->waitFor = never.get();
  }
  ASSERT_EQ(root->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_EQ(never->flag, 1);
  size_t calls = 0;
  for (auto* c : controls) calls += c->times.size();
  EXPECT_LE(calls, 2u * 51u * 51u);
}

}  // namespace
}  // namespace KX
