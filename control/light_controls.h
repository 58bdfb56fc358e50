#pragma once
// Data controllers that animate lights: the colour of any light, the range of a point light, and
// the range and cone of a spot light. Each writes only into a light of the kind it animates; one
// attached to anything else answers bad-argument and leaves the object alone.
#include <cstdint>
#include <vector>

#include "object/control.h"
#include "object/fields.h"
#include "core/math/vector.h"

namespace KX {

// Holds a light's colour for ApplyData to copy into the owner.
class CLightDataControl : public CDataControl {
  KX_DECLARE_CLASS(CLightDataControl)

 public:
  CVector3<float> color;  // held value, not stored

  CLightDataControl() = default;
  CLightDataControl(const CLightDataControl&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Writes the held colour into the owning light.
  Status ApplyData() override;
};

class CLightControl : public CLightDataControl {
  KX_DECLARE_CLASS(CLightControl)

 public:
  std::vector<CVector3<float>> colorKeys;
  std::vector<float> keyTimes;
  int32_t cursor = 0;  // where the last search over keyTimes ended; not stored

  CLightControl() = default;
  CLightControl(const CLightControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // The owner's colour, replaced by the keys' value at `time` when there are keys.
  Status Update(float time) override;
  float GetDuration() const override;
};

class CPointLightControl : public CDataControl {
  KX_DECLARE_CLASS(CPointLightControl)

 public:
  std::vector<float> rangeKeys;
  std::vector<float> keyTimes;
  int32_t cursor = 0;  // not stored
  float range;         // held value, not stored

  CPointLightControl();
  CPointLightControl(const CPointLightControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Needs no owner; with a point light as owner the held range starts from the light's.
  Status Update(float time) override;
  float GetDuration() const override;
  Status ApplyData() override;
};

// A spot light's cone at one key.
struct SpotConeKey {
  float falloff = 0.0f;
  float phi = 0.0f;
  float theta = 0.0f;
  friend bool operator==(const SpotConeKey&, const SpotConeKey&) = default;
  friend SpotConeKey operator+(const SpotConeKey& a, const SpotConeKey& b) {
    return {a.falloff + b.falloff, a.phi + b.phi, a.theta + b.theta};
  }
  friend SpotConeKey operator-(const SpotConeKey& a, const SpotConeKey& b) {
    return {a.falloff - b.falloff, a.phi - b.phi, a.theta - b.theta};
  }
  friend SpotConeKey operator*(float s, const SpotConeKey& k) {
    return {s * k.falloff, s * k.phi, s * k.theta};
  }
};
static_assert(sizeof(SpotConeKey) == 12);

inline void DescribeValue(CFieldSink& sink, const char* name, const SpotConeKey& k) {
  CFieldRecord(sink, name)("falloff", k.falloff)("phi", k.phi)("theta", k.theta);
}

class CSpotLightControl : public CDataControl {
  KX_DECLARE_CLASS(CSpotLightControl)

 public:
  std::vector<float> keyTimes;
  std::vector<SpotConeKey> coneKeys;
  std::vector<float> rangeKeys;
  int32_t cursor = 0;  // not stored
  // Held values, not stored.
  float range;
  SpotConeKey cone;

  CSpotLightControl();
  CSpotLightControl(const CSpotLightControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Needs no owner; with a spot light as owner the held values start from the light's.
  Status Update(float time) override;
  float GetDuration() const override;
  Status ApplyData() override;
};

}  // namespace KX
