#pragma once
// Data controllers that animate a camera's viewing values. They write only into a camera; one
// attached to anything else answers bad-argument and leaves the object alone.
#include <cstdint>
#include <vector>

#include "object/control.h"
#include "core/math/vector.h"

namespace KX {

// Holds the eight camera values ApplyData copies into the owner.
class CCameraDataControl : public CDataControl {
  KX_DECLARE_CLASS(CCameraDataControl)

 public:
  // Held values, not stored.
  CVector3<float> worldUp;
  float param8 = 0.0f;
  float param9 = 0.0f;
  float param10 = 0.0f;
  uint32_t param11 = 0;
  float param3 = 1.0f;

  CCameraDataControl() = default;
  CCameraDataControl(const CCameraDataControl&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Writes the held values into the owning camera.
  Status ApplyData() override;
};

class CCameraControl : public CCameraDataControl {
  KX_DECLARE_CLASS(CCameraControl)

 public:
  // Group A: param8 to param10 interpolate, param11 holds the value of the key before.
  std::vector<float> timesA;
  std::vector<float> param8Keys;
  std::vector<float> param9Keys;
  std::vector<float> param10Keys;
  std::vector<uint32_t> param11Keys;
  // Group B: param3, over times of its own.
  std::vector<float> timesB;
  std::vector<float> param3Keys;
  // Where the last search over each time list ended; not stored.
  int32_t cursorA = 0;
  int32_t cursorB = 0;

  CCameraControl() = default;
  CCameraControl(const CCameraControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // The camera's current values, replaced by each group's keys at `time` where it has keys.
  Status Update(float time) override;
  // The later of the two groups' last keys.
  float GetDuration() const override;
};

}  // namespace KX
