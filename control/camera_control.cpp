#include "control/camera_control.h"

#include <algorithm>

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "scene/camera.h"

namespace KX {

KX_DEFINE_CLASS(CCameraDataControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CCameraControl, CCameraDataControl, 2, 1)

namespace {

constexpr int64_t kCameraDataMemory = 32;
// Seven lists and two cursors.
constexpr int64_t kCameraKeysMemory = 7 * 16 + 8;

}  // namespace

// --- CCameraDataControl ----------------------------------------------------------------------

Status CCameraDataControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The held values are not stored, but go with the copy.
  auto* control = static_cast<CCameraDataControl*>(target);
  control->worldUp = worldUp;
  control->param8 = param8;
  control->param9 = param9;
  control->param10 = param10;
  control->param11 = param11;
  control->param3 = param3;
  return kOk;
}

Status CCameraDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

int64_t CCameraDataControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + kCameraDataMemory;
}

Status CCameraDataControl::ApplyData() {
  auto* camera = KindOf<CCamera>(owner);
  if (!camera) return kErrBadArgument;
  camera->worldUp = worldUp;
  camera->param8 = param8;
  camera->param9 = param9;
  camera->param10 = param10;
  camera->param11 = param11;
  camera->param3 = param3;
  camera->modified = 0;
  return kOk;
}

// --- CCameraControl --------------------------------------------------------------------------

Status CCameraControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCameraDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the searches start over, and the owner takes the new values.
  auto* control = static_cast<CCameraControl*>(target);
  control->cursorA = control->cursorB = 0;
  control->modified = 1;
  return kOk;
}

Status CCameraControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCameraDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "timesA", timesA);
  UintCounted(ar, "param8Keys", param8Keys);
  UintCounted(ar, "param9Keys", param9Keys);
  UintCounted(ar, "param10Keys", param10Keys);
  UintCounted(ar, "param11Keys", param11Keys);
  UintCounted(ar, "timesB", timesB);
  UintCounted(ar, "param3Keys", param3Keys);
  if (ar.Loading()) {
    cursorA = cursorB = 0;
    if (ar.ok() && version <= kLegacyKeysVersion) {
      const float start = LegacyStartTime(ar.reader());
      ShiftKeyTimes(timesA, start);
      ShiftKeyTimes(timesB, start);
    }
  }
  return ar.status();
}

int64_t CCameraControl::GetMemorySize() const {
  return CCameraDataControl::GetMemorySize() + kCameraKeysMemory + ListBytes(timesA) +
         ListBytes(param8Keys) + ListBytes(param9Keys) + ListBytes(param10Keys) +
         ListBytes(param11Keys) + ListBytes(timesB) + ListBytes(param3Keys);
}

Status CCameraControl::Update(float time) {
  auto* camera = KindOf<CCamera>(owner);
  if (!camera) return kErrBadArgument;
  if (const Status s = IsDisabled(); s != kOk) return s;
  worldUp = camera->worldUp;
  param8 = camera->param8;
  param9 = camera->param9;
  param10 = camera->param10;
  param11 = camera->param11;
  param3 = camera->param3;
  if (timesA.empty() && timesB.empty()) return kOk;
  const float t = MapTime(time);
  if (!timesA.empty()) {
    const KeySegment a = FindKeySegment(t, timesA, cursorA);
    BlendKeys(param8Keys, a, param8);
    BlendKeys(param9Keys, a, param9);
    BlendKeys(param10Keys, a, param10);
    HoldKey(param11Keys, a.a, param11);
  }
  if (!timesB.empty()) BlendKeys(param3Keys, FindKeySegment(t, timesB, cursorB), param3);
  return kOk;
}

float CCameraControl::GetDuration() const {
  return std::max(LastKeyTime(timesA), LastKeyTime(timesB));
}

}  // namespace KX
