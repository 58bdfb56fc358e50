#pragma once
// Aim constraint: turns its owner toward a target object, entry by entry along a time line, with
// an optional up object, a turn limit and a blend into each following entry.
#include <vector>

#include "control/key_search.h"
#include "object/ref_list.h"
#include "control/rts_control.h"
#include "object/fields.h"

namespace KX {

// Per aim entry, 48 bytes as stored.
struct AimSettings {
  // (0, 0, -1) aims the owner's negative z axis at the target; anything else its z axis.
  CVector3<float> axis{0.0f, 0.0f, 1.0f};
  CVector3<float> secondary;  // stored and copied; the aim does not read it
  // Extra turns after aiming, in radians, about z, then y, then x of the aimed frame.
  float angleZ = 0.0f;
  float angleY = 0.0f;
  float angleX = 0.0f;
  // How long the blend from the previous entry into this one takes.
  float transition = kNoTransition;
  // 1 aims fully at the target; less keeps part of the owner's current direction.
  float weight = 1.0f;
  uint32_t reserved = 0;
};
static_assert(sizeof(AimSettings) == 48);

inline void DescribeValue(CFieldSink& sink, const char* name, const AimSettings& s) {
  CFieldRecord(sink, name)("axis", s.axis)("secondary", s.secondary)("angleZ", s.angleZ)(
      "angleY", s.angleY)("angleX", s.angleX)("transition", s.transition)("weight", s.weight)(
      "reserved", s.reserved);
}

class CLookAtControl : public CRTSControl {
  KX_DECLARE_CLASS(CLookAtControl)

 public:
  // Entry i is active from aimTimes[i]. The lists below have one element per entry; a list that
  // is shorter (a damaged file) gives the defaults for the entries it lacks.
  std::vector<float> aimTimes;
  std::vector<AimSettings> aimSettings;
  std::vector<CSpatial*> targets;    // not owned; null keeps the owner's direction
  std::vector<CSpatial*> upObjects;  // not owned; null: the world z axis is up
  std::vector<float> angleLimits;    // largest turn from the current direction, in units of pi
  std::vector<float> blendTimes;     // stored and copied only

  CLookAtControl() = default;
  CLookAtControl(const CLookAtControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  float GetDuration() const override;
  Status EvaluateTransform(float time) override;
  // The target the evaluation at `time` waits for, when it is still pending: the active entry's,
  // or the next entry's while the blend into it is under way.
  CBase* GetTargetAt(float time) override;

 private:
  // The orientation entry i gives the owner whose current transform is `current`.
  Status Aim(size_t i, const CMatrix4& current, CMatrix3& orientation) const;
  // How far the blend from the entry starting at `from` into the entry at index `next` is at x.
  float BlendInto(size_t next, float from, float x) const;
  CSpatial* TargetOf(size_t i) const { return i < targets.size() ? targets[i] : nullptr; }
};

}  // namespace KX
