#include "control/camera_control.h"

#include <algorithm>

#include "control/data_keys.h"
#include "object/persist.h"
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
  auto* control = KindOf<CCameraDataControl>(target);
  if (!control) return kErrMalformed;
  control->worldUp = worldUp;
  control->param8 = param8;
  control->param9 = param9;
  control->param10 = param10;
  control->param11 = param11;
  control->param3 = param3;
  return kOk;
}

Status CCameraDataControl::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CDataControl::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CCameraDataControl::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CDataControl::Save(out));
  out.Version(classRecord);
  return out.status();
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
  auto* control = KindOf<CCameraControl>(target);
  if (!control) return kErrMalformed;
  if (control == this) return kOk;
  KX_RETURN_IF_FAILED(CopyLists(*this, *control, &CCameraControl::timesA,
                                &CCameraControl::param8Keys, &CCameraControl::param9Keys,
                                &CCameraControl::param10Keys, &CCameraControl::param11Keys,
                                &CCameraControl::timesB, &CCameraControl::param3Keys));
  control->cursorA = control->cursorB = 0;
  control->modified = 1;
  return kOk;
}

Status CCameraControl::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCameraDataControl::Load(in));
  const int32_t version = in.Version(classRecord);
  ReadKeyList(in, timesA);
  ReadKeyList(in, param8Keys);
  ReadKeyList(in, param9Keys);
  ReadKeyList(in, param10Keys);
  ReadKeyList(in, param11Keys);
  ReadKeyList(in, timesB);
  ReadKeyList(in, param3Keys);
  cursorA = cursorB = 0;
  if (!in.ok()) return in.status();
  if (version <= kLegacyKeysVersion) {
    const float start = LegacyStartTime(in);
    ShiftKeyTimes(timesA, start);
    ShiftKeyTimes(timesB, start);
  }
  return kOk;
}

Status CCameraControl::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCameraDataControl::Save(out));
  out.Version(classRecord);
  WriteKeyList(out, "timesA", timesA);
  WriteKeyList(out, "param8Keys", param8Keys);
  WriteKeyList(out, "param9Keys", param9Keys);
  WriteKeyList(out, "param10Keys", param10Keys);
  WriteKeyList(out, "param11Keys", param11Keys);
  WriteKeyList(out, "timesB", timesB);
  WriteKeyList(out, "param3Keys", param3Keys);
  return out.status();
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
