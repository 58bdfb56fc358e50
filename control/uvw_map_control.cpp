#include "control/uvw_map_control.h"

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "control/key_search.h"
#include "scene/tri_mesh.h"

namespace KX {

KX_DEFINE_CLASS(CUvwMapDataControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CUvwMapControl, CUvwMapDataControl, 2, 1)
KX_DEFINE_CLASS(CUvwMapClipControl, CUvwMapDataControl, 2, 1)

// --- per-kind base ----------------------------------------------------------------------------

CUvwMap* CUvwMapDataControl::Map() const {
  return KindOf<CUvwMap>(owner);
}

Status CUvwMapDataControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CUvwMapDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

Status CUvwMapDataControl::Update(float) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  return owner ? kNothingDone : kErrBadArgument;
}

// --- keyed controller -------------------------------------------------------------------------

Status CUvwMapControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CUvwMapDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the search starts over, and the map takes the new coordinates.
  auto* c = static_cast<CUvwMapControl*>(target);
  c->cursor = 0;
  c->modified = 1;
  return kOk;
}

Status CUvwMapControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CUvwMapDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "coordinateKeys", coordinateKeys);
  UintCounted(ar, "keyTimes", keyTimes);
  if (ar.Loading()) cursor = 0;
  ShiftLegacyKeyTimes(ar, *this, version, keyTimes);
  return ar.status();
}

int64_t CUvwMapControl::GetMemorySize() const {
  return CUvwMapDataControl::GetMemorySize() + 28 +
         12 * static_cast<int64_t>(coordinateKeys.size()) +
         4 * static_cast<int64_t>(keyTimes.size());
}

Status CUvwMapControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  CUvwMap* map = Map();
  if (!map) return kErrBadArgument;
  if (keyTimes.empty()) return kOk;
  const size_t n = map->mapVertices.size();
  // The stride of the keys comes from the map; it only fits when every key time has a full set.
  if (coordinateKeys.size() / keyTimes.size() != n || coordinateKeys.size() % keyTimes.size() != 0)
    return kErrMalformed;
  const KeySegment seg = FindKeySegment(MapTime(time), keyTimes, cursor);
  const CVector3<float>* a = coordinateKeys.data() + static_cast<size_t>(seg.a) * n;
  const CVector3<float>* b = coordinateKeys.data() + static_cast<size_t>(seg.b) * n;
  CVector3<float>* uvw = map->mapVertices.data();
  const float u = seg.t;
  for (size_t i = 0; i < n; ++i) uvw[i] = a[i] + (b[i] - a[i]) * u;
  map->modified = 1;
  return kOk;
}

}  // namespace KX
