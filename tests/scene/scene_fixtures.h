#pragma once
// Test-only classes for the scene graph: a leaf spatial object with a fixed geometry bound, a
// transform controller that waits for another object the way constraint controllers do.
#include <vector>

#include <gtest/gtest.h>

#include "object/control.h"
#include "object/custom_data.h"
#include "object/persist.h"
#include "scene/node.h"
#include "support/bytes.h"
#include "support/test_classes.h"

namespace KX::test {

class CTestLeaf : public CSpatial {
  KX_DECLARE_CLASS(CTestLeaf)
 public:
  Bound geometry;  // what UpdateBound makes the bound
  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override {
    bound = geometry;
    return kOk;
  }
};
inline KX_DEFINE_CLASS(CTestLeaf, CSpatial, 2, 0)

// Waits while `waitFor` is pending (always, when stubborn), then answers `failure`; names
// `waitFor` from GetTargetAt when `namesTarget` is set.
class CWaitControl : public CControl {
  KX_DECLARE_CLASS(CWaitControl)
 public:
  CCorva* waitFor = nullptr;
  bool stubborn = false;
  bool namesTarget = true;
  Status failure = kOk;
  std::vector<float> times;                     // every call
  std::vector<const CCorva*>* order = nullptr;  // owners, as their evaluation succeeds

  float GetDuration() const override { return 0.0f; }
  Status Update(float) override { return kOk; }
  Status EvaluateTransform(float time) override {
    times.push_back(time);
    if (waitFor && (stubborn || waitFor->flag)) return kErrPending;
    if (Failed(failure)) return failure;
    if (order) order->push_back(KindOf<CCorva>(owner));
    return kOk;
  }
  CBase* GetTargetAt(float) override { return namesTarget ? waitFor : nullptr; }
  Status ApplyTransform() override { return kOk; }
  Status ApplyData() override { return kNothingDone; }
};
inline KX_DEFINE_CLASS(CWaitControl, CControl, 2, 0)

// A node with every kind of attachment and a two-level subtree; `root` is taken over.
inline CRefPtr<CBase> SampleTree(CNode* root) {
  CRefPtr<CBase> keep(root);
  root->tag = 77;
  root->option3 = true;
  root->position = {1, -2, 3};
  root->flags = 0x3F;
  root->frozen = true;
  root->attachment = new CRawData;
  root->bounding = new test::CTestObject;
  CRefPtr<test::CTestControl> control(new test::CTestControl);
  control->keyTimes = {0, 1};
  EXPECT_TRUE(::KX::Succeeded(root->AttachController(control.get())));
  CRefPtr<CNode> child(new CNode);
  child->visible = false;
  EXPECT_TRUE(::KX::Succeeded(child->AddChild(new CBillboardNode)));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(child.get())));
  return keep;
}

}  // namespace KX::test
