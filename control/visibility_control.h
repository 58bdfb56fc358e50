#pragma once
// A data controller that switches the visibility flag of the spatial object it is attached to.
#include <cstdint>
#include <vector>

#include "object/control.h"

namespace KX {

class CBooleanControl : public CDataControl {
  KX_DECLARE_CLASS(CBooleanControl)

 public:
  std::vector<float> keyTimes;
  // One byte per key, as stored: non-zero shows the owner. Kept as read so that a save gives
  // back the same bytes.
  std::vector<uint8_t> keyValues;
  int32_t cursor = 0;  // where the last search over keyTimes ended; not stored

  CBooleanControl() = default;
  CBooleanControl(const CBooleanControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Sets the owner's flag to the key at or before `time`. Before the first key, without keys,
  // or at a key that has no value: kNothingDone and the flag stays.
  Status Update(float time) override;
  float GetDuration() const override;
  // Update writes into the owner itself.
  Status ApplyData() override;
};

}  // namespace KX
