#include <gtest/gtest.h>

#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;
using test::CWaitControl;
using Order = std::vector<const CCorva*>;

CWaitControl* Animate(CCorva* object, Order* order = nullptr) {
  CRefPtr<CWaitControl> c(new CWaitControl);
  c->order = order;
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(c.get())));
  return c.get();
}

TEST(UpdateHierarchy, SamplesEveryStepUpToTheEndAndTheEnd) {
  struct Case {
    float start, delta, rate;
    std::vector<float> expected;
  } const cases[] = {
      {0.0f, 0.1f, 30.0f, {1 / 30.0f, 2 / 30.0f, 0.1f}},  // the last step lands on the end
      {0.0f, 0.05f, 30.0f, {1 / 30.0f, 0.05f}},           // never past the end
      {0.01f, 0.1f, 30.0f, {1 / 30.0f, 2 / 30.0f, 3 / 30.0f, 0.11f}},
      {0.0f, 0.01f, 30.0f, {0.01f}},  // shorter than a step
      {1.0f, 0.5f, 0.0f, {1.5f}},     // no rate
  };
  for (const auto& c : cases) {
    CRefPtr<CTestLeaf> leaf(new CTestLeaf);
    CWaitControl* control = Animate(leaf.get());
    EXPECT_EQ(leaf->UpdateHierarchy(c.start, c.delta, c.rate, false), kOk);
    EXPECT_EQ(control->times, c.expected) << c.start << " + " << c.delta;
  }
  // A rate that runs backwards would never reach the end.
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  EXPECT_EQ(leaf->UpdateHierarchy(0, 1, -30, false), kErrBadArgument);
}

TEST(UpdateHierarchy, ParentsFirstThenBoundsUpToTheRoot) {
  // root -> mid -> leaf, evaluated from mid. Root is outside the evaluation, so a mark an earlier
  // failed evaluation left on it does not hold mid back.
  CRefPtr<CNode> root(new CNode), mid(new CNode);
  CRefPtr<CTestLeaf> leaf(new CTestLeaf);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(mid.get())));
  EXPECT_TRUE(::KX::Succeeded(mid->AddChild(leaf.get())));
  leaf->geometry = {{1, 2, 3}, 4, {-3, -2, -1}, {5, 6, 7}};
  root->flag = 1;
  Order order;
  Animate(leaf.get(), &order);
  Animate(mid.get(), &order);
  ASSERT_EQ(mid->UpdateHierarchy(0, 1, 0, true), kOk);
  EXPECT_EQ(order, (Order{mid.get(), leaf.get()}));
  EXPECT_EQ(leaf->flag, 0);
  EXPECT_EQ(root->bound, leaf->geometry);
}

class MutualWait : public ::testing::Test {
 protected:
  void SetUp() override {
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(a.get())));
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(b.get())));
    waitA = Animate(a.get(), &order);
    waitB = Animate(b.get(), &order);
    waitA->waitFor = b.get();
    waitB->waitFor = a.get();
  }
  CRefPtr<CNode> root{new CNode};
  CRefPtr<CTestLeaf> a{new CTestLeaf}, b{new CTestLeaf};
  CWaitControl* waitA = nullptr;
  CWaitControl* waitB = nullptr;
  Order order;
};

TEST_F(MutualWait, BreakingOneWaitLetsBothEvaluate) {
  ASSERT_EQ(root->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_EQ(order, (Order{a.get(), b.get()}));
  // Two passes of waiting; the third began as long as the second, so a was forced through with
  // b shown as evaluated, and b followed.
  EXPECT_EQ(waitA->times.size(), 4u);
  EXPECT_EQ(waitB->times.size(), 3u);
}

TEST_F(MutualWait, WaitsThatCannotBeBrokenFail) {
  waitA->stubborn = true;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrMalformed);
  // The mark of the object waited for is restored; what was not evaluated stays marked.
  EXPECT_EQ(a->flag, 1);
  EXPECT_EQ(b->flag, 1);
  EXPECT_EQ(root->flag, 0);

  waitA->stubborn = false;
  waitA->namesTarget = false;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrMalformed);

  // A forced evaluation that fails otherwise is a failure, not a success.
  waitA->namesTarget = true;
  waitA->failure = kErrNodeNotFound;
  EXPECT_EQ(root->UpdateHierarchy(0, 1, 0, false), kErrNodeNotFound);
}

}  // namespace
}  // namespace KX
