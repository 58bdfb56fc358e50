#include "control/light_controls.h"

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "scene/light.h"

namespace KX {

KX_DEFINE_CLASS(CLightDataControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CLightControl, CLightDataControl, 2, 1)
KX_DEFINE_CLASS(CPointLightControl, CDataControl, 2, 1)
KX_DEFINE_CLASS(CSpotLightControl, CDataControl, 2, 1)

namespace {

constexpr int64_t kLightDataMemory = 12;
// Two lists and a cursor, over the held value.
constexpr int64_t kKeyedMemory = 2 * 16 + 4;

}  // namespace

// --- CLightDataControl -----------------------------------------------------------------------

Status CLightDataControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The held colour is not stored, but goes with the copy.
  static_cast<CLightDataControl*>(target)->color = color;
  return kOk;
}

Status CLightDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

int64_t CLightDataControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + kLightDataMemory;
}

Status CLightDataControl::ApplyData() {
  auto* light = KindOf<CLight>(owner);
  if (!light) return kErrBadArgument;
  light->color = color;
  light->modified = 0;
  return kOk;
}

// --- CLightControl ---------------------------------------------------------------------------

Status CLightControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CLightDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the search starts over, and the owner takes the new values.
  auto* control = static_cast<CLightControl*>(target);
  control->cursor = 0;
  control->modified = 1;
  return kOk;
}

Status CLightControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CLightDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "colorKeys", colorKeys);
  UintCounted(ar, "keyTimes", keyTimes);
  if (ar.Loading()) cursor = 0;
  ShiftLegacyKeyTimes(ar, *this, version, keyTimes);
  return ar.status();
}

int64_t CLightControl::GetMemorySize() const {
  return CLightDataControl::GetMemorySize() + kKeyedMemory + ListBytes(colorKeys) +
         ListBytes(keyTimes);
}

Status CLightControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  auto* light = KindOf<CLight>(owner);
  if (!light) return kErrBadArgument;
  color = light->color;
  if (!keyTimes.empty())
    BlendKeys(colorKeys, FindKeySegment(MapTime(time), keyTimes, cursor), color);
  return kOk;
}

float CLightControl::GetDuration() const {
  return LastKeyTime(keyTimes);
}

// --- CPointLightControl ----------------------------------------------------------------------

CPointLightControl::CPointLightControl() : range(DefaultLightRange()) {}

Status CPointLightControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The held range is not stored, but goes with the copy; the search over the new keys starts
  // over, and the owner takes the new values.
  auto* control = static_cast<CPointLightControl*>(target);
  control->range = range;
  control->cursor = 0;
  control->modified = 1;
  return kOk;
}

Status CPointLightControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "rangeKeys", rangeKeys);
  UintCounted(ar, "keyTimes", keyTimes);
  if (ar.Loading()) cursor = 0;
  ShiftLegacyKeyTimes(ar, *this, version, keyTimes);
  return ar.status();
}

int64_t CPointLightControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + 4 + kKeyedMemory + ListBytes(rangeKeys) +
         ListBytes(keyTimes);
}

Status CPointLightControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  if (auto* light = KindOf<CPointLight>(owner)) range = light->range;
  if (!keyTimes.empty())
    BlendKeys(rangeKeys, FindKeySegment(MapTime(time), keyTimes, cursor), range);
  return kOk;
}

float CPointLightControl::GetDuration() const {
  return LastKeyTime(keyTimes);
}

Status CPointLightControl::ApplyData() {
  auto* light = KindOf<CPointLight>(owner);
  if (!light) return kErrBadArgument;
  light->range = range;
  light->modified = 0;
  return kOk;
}

// --- CSpotLightControl -----------------------------------------------------------------------

CSpotLightControl::CSpotLightControl() : range(DefaultLightRange()) {
  const CSpotLight fresh;
  cone = {fresh.falloff, fresh.phi, fresh.theta};
}

Status CSpotLightControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The held range and cone are not stored, but go with the copy; the search over the new keys
  // starts over, and the owner takes the new values.
  auto* control = static_cast<CSpotLightControl*>(target);
  control->range = range;
  control->cone = cone;
  control->cursor = 0;
  control->modified = 1;
  return kOk;
}

Status CSpotLightControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "keyTimes", keyTimes);
  UintCounted(ar, "coneKeys", coneKeys);
  UintCounted(ar, "rangeKeys", rangeKeys);
  if (ar.Loading()) cursor = 0;
  ShiftLegacyKeyTimes(ar, *this, version, keyTimes);
  return ar.status();
}

int64_t CSpotLightControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + 16 + 16 + kKeyedMemory + ListBytes(keyTimes) +
         ListBytes(coneKeys) + ListBytes(rangeKeys);
}

Status CSpotLightControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  // Without keys the light keeps its cone and range: zeros would switch it off.
  if (auto* light = KindOf<CSpotLight>(owner)) {
    range = light->range;
    cone = {light->falloff, light->phi, light->theta};
  }
  if (keyTimes.empty()) return kOk;
  const KeySegment segment = FindKeySegment(MapTime(time), keyTimes, cursor);
  BlendKeys(rangeKeys, segment, range);
  BlendKeys(coneKeys, segment, cone);
  return kOk;
}

float CSpotLightControl::GetDuration() const {
  return LastKeyTime(keyTimes);
}

Status CSpotLightControl::ApplyData() {
  auto* light = KindOf<CSpotLight>(owner);
  if (!light) return kErrBadArgument;
  light->range = range;
  light->falloff = cone.falloff;
  light->phi = cone.phi;
  light->theta = cone.theta;
  light->modified = 0;
  return kOk;
}

}  // namespace KX
