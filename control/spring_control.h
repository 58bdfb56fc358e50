#pragma once
// A spring that lets its owner trail behind the pose the controllers before it computed (its
// animated pose) and settle onto it.
//
// Response: the position is a critically damped spring toward the animated position, advanced
// with the exact solution of the spring equation over each time step, so any step length is
// stable and the same inputs always give the same poses. Mode 0 springs the position only (the
// rotation and scale follow at once); mode 1 also lets the rotation trail, easing toward the
// animated rotation by 1 - exp(-rotationFrequency * dt) of the remaining turn per step.
#include <vector>

#include "control/rts_control.h"
#include "object/fields.h"

namespace KX {

// Per settings entry, 36 bytes as stored.
struct SpringSetting {
  float frequency = 8.0f;          // radians per second of the position spring; <= 0: rigid
  float rotationFrequency = 8.0f;  // mode 1: how fast the rotation follows; <= 0: rigid
  float reserved1[4] = {};
  float startTime = 0.0f;          // the entry is in force from this time
  uint32_t reserved2 = 0;
  int32_t mode = 0;
};
static_assert(sizeof(SpringSetting) == 36);

inline void DescribeValue(CFieldSink& sink, const char* name, const SpringSetting& s) {
  CFieldRecord(sink, name)("frequency", s.frequency)("rotationFrequency", s.rotationFrequency)(
      "reserved1", s.reserved1)("startTime", s.startTime)("reserved2", s.reserved2)("mode", s.mode);
}

class CSpringControl : public CRTSControl {
  KX_DECLARE_CLASS(CSpringControl)

 public:
  // Stored and copied for the tools that edit springs; the response does not read them.
  std::vector<float> values1;
  std::vector<float> values2;
  std::vector<float> values3;
  std::vector<SpringSetting> settings;
  // Transient: the last five poses, newest first, with their times, and the spring's velocity.
  CMatrix4 history[5];
  float historyTimes[5] = {};
  CVector3<float> velocity;

  CSpringControl() = default;
  CSpringControl(const CSpringControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  float GetDuration() const override { return 0.0f; }
  Status EvaluateTransform(float time) override;

 private:
  void Seed(const CMatrix4& pose, float time);
  void Push(const CMatrix4& pose, float time);
};

}  // namespace KX
