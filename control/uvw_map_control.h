#pragma once
// Data controllers of texture-coordinate maps: the keyed controller writes interpolated map
// coordinates straight into its map, and a clip controller plays such controllers one after
// another.
#include <cstdint>
#include <vector>

#include "object/control.h"
#include "control/data_clip.h"
#include "core/math/vector.h"

namespace KX {

class CUvwMap;

// The level every map controller shares; it holds nothing, so alone it changes nothing.
class CUvwMapDataControl : public CDataControl {
  KX_DECLARE_CLASS(CUvwMapDataControl)

 public:
  CUvwMapDataControl() = default;
  CUvwMapDataControl(const CUvwMapDataControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  float GetDuration() const override { return 0.0f; }
  // Nothing to compute: disabled or not, kNothingDone once there is an owner.
  Status Update(float time) override;
  // Map controllers write while they update; applying has nothing left to do.
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }

 protected:
  // The owner as a map, or null.
  CUvwMap* Map() const;
};

class CUvwMapControl : public CUvwMapDataControl {
  KX_DECLARE_CLASS(CUvwMapControl)

 public:
  // n coordinates per key, n being the map's coordinate count: key k's coordinates are
  // coordinateKeys[k * n .. k * n + n).
  std::vector<CVector3<float>> coordinateKeys;
  std::vector<float> keyTimes;
  int32_t cursor = 0;  // transient

  CUvwMapControl() = default;
  // Copies the keys; the cursor starts afresh.
  CUvwMapControl(const CUvwMapControl& other)
      : CUvwMapDataControl(other), coordinateKeys(other.coordinateKeys), keyTimes(other.keyTimes) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  float GetDuration() const override { return keyTimes.empty() ? 0.0f : keyTimes.back(); }
  // Writes the map's coordinates for the mapped time. Keys that do not hold one full set of the
  // map's coordinates per key time (the map changed its count, or the file was damaged) cannot
  // be placed: kErrMalformed, and the map is left as it is.
  Status Update(float time) override;
};

class CUvwMapClipControl
    : public CDataClipControl<CUvwMapDataControl, CUvwMapDataControl, CUvwMapClipControl> {
  KX_DECLARE_CLASS(CUvwMapClipControl)

 public:
  CUvwMapClipControl() = default;
  CUvwMapClipControl(const CUvwMapClipControl&) = default;
};

}  // namespace KX
