#pragma once
// Test-only classes for the scene graph: a leaf spatial object with a fixed geometry bound, and a
// transform controller that waits for another object the way constraint controllers do.
#include <vector>

#include "control/control.h"
#include "core/persist.h"
#include "scene/node.h"
#include "support/bytes.h"
#include "support/test_classes.h"

namespace KX::test {

class CTestLeaf : public CSpatial {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  Status GetVersion() const override { return classRecord.Version(); }

  // What UpdateBound makes the bound, standing in for geometry.
  Bound geometry;

  CTestLeaf() = default;
  CTestLeaf(const CTestLeaf&) = default;
  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override {
    bound = geometry;
    return kOk;
  }
};
inline const CRuntimeClass CTestLeaf::classRecord{"CTestLeaf", &CSpatial::classRecord, 2, 0};

// Evaluates at once unless `waitFor` is still pending (or always, when stubborn); names
// `waitFor` from GetTargetAt when `namesTarget` is set. Logs every evaluation.
class CWaitControl : public CControl {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  Status GetVersion() const override { return classRecord.Version(); }

  CCorva* waitFor = nullptr;
  bool stubborn = false;
  bool namesTarget = true;
  Status failure = kOk;  // answered once the wait is over, when set
  std::vector<float> times;  // every call
  // Owners in the order their evaluation succeeded, shared by the controllers of one test.
  std::vector<const CCorva*>* order = nullptr;
  int applied = 0;

  CWaitControl() = default;
  CWaitControl(const CWaitControl&) = default;
  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  float GetDuration() const override { return 0.0f; }
  Status Update(float) override { return kOk; }
  Status EvaluateTransform(float time) override {
    times.push_back(time);
    if (waitFor && (stubborn || waitFor->flag)) return kErrPending;
    if (Failed(failure)) return failure;
    if (order) order->push_back(owner);
    return kOk;
  }
  CBase* GetTargetAt(float) override { return namesTarget ? waitFor : nullptr; }
  Status ApplyTransform() override {
    ++applied;
    return kOk;
  }
  Status ApplyData() override { return kNothingDone; }
};
inline const CRuntimeClass CWaitControl::classRecord{"CWaitControl", &CControl::classRecord, 2, 0};

// Stands in for the thumbnail class, which old files require: reads the old block of an empty
// picture.
class COldThumbnail : public CCorva {
 public:
  Status Load(CReader& in) override {
    in.Skip(4 * 3 + 2 + 4 * 2 + 4 + 4 * 2 + 1 + 4);
    return in.status();
  }
};

inline Bytes OldEmptyThumbnail() {
  return Bytes().A("_CorvaThumbnail").I32(0).I32(0).I32(0).I16(0).I32(96).I32(96).I32(0).I32(1)
      .I32(0).U8(0).I32(0);
}

}  // namespace KX::test
