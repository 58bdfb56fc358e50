#include "control/visibility_control.h"

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CBooleanControl, CDataControl, 2, 1)

namespace {

// Two lists and a cursor.
constexpr int64_t kBooleanMemory = 2 * 16 + 4;

// The object whose flag the controller sets. Its C++ class decides, as for a child list: grass
// has a visibility flag although its record leaves out the spatial level.
CSpatial* VisibleOwner(CBase* owner) {
  return SlotCast<CSpatial>(owner);
}

}  // namespace

Status CBooleanControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the search starts over, and the owner takes the new values.
  auto* control = static_cast<CBooleanControl*>(target);
  control->cursor = 0;
  control->modified = 1;
  return kOk;
}

Status CBooleanControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "keyTimes", keyTimes);
  UintCounted(ar, "keyValues", keyValues);
  if (ar.Loading()) cursor = 0;
  ShiftLegacyKeyTimes(ar, *this, version, keyTimes);
  return ar.status();
}

int64_t CBooleanControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + kBooleanMemory + ListBytes(keyTimes) +
         ListBytes(keyValues);
}

Status CBooleanControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  CSpatial* object = VisibleOwner(owner);
  if (!object) return kErrBadArgument;
  const KeyNear near = FindKeyNear(MapTime(time), keyTimes, cursor);
  if (near.code == kKeyNone || near.code == kKeyBefore) return kNothingDone;
  cursor = near.index;
  uint8_t value = 0;
  if (!HoldKey(keyValues, near.index, value)) return kNothingDone;
  object->visible = value != 0;
  return kOk;
}

float CBooleanControl::GetDuration() const {
  return LastKeyTime(keyTimes);
}

Status CBooleanControl::ApplyData() {
  return VisibleOwner(owner) ? kNothingDone : kErrBadArgument;
}

}  // namespace KX
