#include "control/uvw_map_control.h"

#include "control/data_keys.h"
#include "control/key_search.h"
#include "core/alloc.h"
#include "object/persist.h"
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
  return KindOf<CUvwMapDataControl>(target) ? kOk : kErrMalformed;
}

Status CUvwMapDataControl::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CDataControl::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CUvwMapDataControl::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CDataControl::Save(out));
  out.Version(classRecord);
  return out.status();
}

Status CUvwMapDataControl::Update(float) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  return owner ? kNothingDone : kErrBadArgument;
}

// --- keyed controller -------------------------------------------------------------------------

Status CUvwMapControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CUvwMapDataControl::AssignTo(target, released));
  auto* c = KindOf<CUvwMapControl>(target);
  if (!c) return kErrMalformed;
  if (c == this) return kOk;
  KX_RETURN_IF_FAILED(TryAllocate([&] {
    c->coordinateKeys = coordinateKeys;
    c->keyTimes = keyTimes;
  }));
  c->cursor = 0;
  c->modified = 1;
  return kOk;
}

Status CUvwMapControl::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CUvwMapDataControl::Load(in));
  const int32_t version = in.Version(classRecord);
  ReadKeyList(in, coordinateKeys);
  ReadKeyList(in, keyTimes);
  cursor = 0;
  if (!in.ok()) return in.status();
  // Old blocks kept their key times in scene time; they become relative to the controller.
  if (version <= kLegacyKeysVersion) ShiftKeyTimes(keyTimes, LegacyStartTime(in));
  return kOk;
}

Status CUvwMapControl::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CUvwMapDataControl::Save(out));
  out.Version(classRecord);
  WriteKeyList(out, "coordinateKeys", coordinateKeys);
  WriteKeyList(out, "keyTimes", keyTimes);
  return out.status();
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
