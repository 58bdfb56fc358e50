#include "control/material_control.h"

#include <algorithm>
#include <cmath>

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "control/key_search.h"
#include "core/alloc.h"

namespace KX {

KX_DEFINE_CLASS(CMaterialDataControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CMaterialControl, CMaterialDataControl, 2, 3)
KX_DEFINE_CLASS(CMaterialLayerControl, CMaterialDataControl, 2, 0)
KX_DEFINE_CLASS(CMaterialClipControl, CMaterialDataControl, 2, 1)

namespace {

template <class T>
int64_t ListMemory(const std::vector<T>& values) {
  return 12 + static_cast<int64_t>(sizeof(T) * values.size());
}

inline float Mix(float a, float b, float u) {
  return a + u * (b - a);
}
inline CVector3<float> Mix(const CVector3<float>& a, const CVector3<float>& b, float u) {
  return {Mix(a.x, b.x, u), Mix(a.y, b.y, u), Mix(a.z, b.z, u)};
}

// Sets `value` from the keys of a segment. A list shorter than its times has no value there:
// `value` keeps what it had.
template <class T>
void TakeKey(const KeySegment& seg, const std::vector<T>& keys, T& value) {
  const auto a = static_cast<size_t>(seg.a), b = static_cast<size_t>(seg.b);
  if (a < keys.size() && b < keys.size()) value = Mix(keys[a], keys[b], seg.t);
}

void TakeAmounts(const KeySegment& seg, const std::vector<ChannelAmounts>& keys,
                 std::array<float, CStandardMaterial::kChannels>& amounts) {
  const auto a = static_cast<size_t>(seg.a), b = static_cast<size_t>(seg.b);
  if (a >= keys.size() || b >= keys.size()) return;
  for (size_t i = 0; i < amounts.size(); ++i)
    amounts[i] = Mix(keys[a].amount[i], keys[b].amount[i], seg.t);
}

}  // namespace

// --- held values ------------------------------------------------------------------------------

MaterialValues MaterialValues::Of(const CStandardMaterial& m) {
  MaterialValues v;
  v.ambient = m.ambient;
  v.diffuse = m.diffuse;
  v.specular = m.specular;
  std::copy_n(m.param.begin(), v.param.size(), v.param.begin());
  v.param9 = m.param[9];
  v.channelAmount = m.channelAmount;
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
    v.channels[k].offset = m.channelOffset[kAnimatedChannels[k]];
    v.channels[k].tiling = m.channelTiling[kAnimatedChannels[k]];
  }
  return v;
}

void MaterialValues::ClearBlended() {
  ambient = diffuse = specular = {};
  param.fill(0.0f);
  param9 = 0.0f;
  channelAmount.fill(0.0f);
}

void MaterialValues::AddBlended(const MaterialValues& o, float w) {
  ambient += o.ambient * w;
  diffuse += o.diffuse * w;
  specular += o.specular * w;
  for (size_t i = 0; i < param.size(); ++i) param[i] += w * o.param[i];
  param9 += w * o.param9;
  for (size_t i = 0; i < channelAmount.size(); ++i) channelAmount[i] += w * o.channelAmount[i];
}

// --- per-kind base ----------------------------------------------------------------------------

Status CMaterialDataControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The held values are not stored, but go with the copy.
  auto* control = static_cast<CMaterialDataControl*>(target);
  control->values = values;
  control->hasValues = hasValues;
  return kOk;
}

Status CMaterialDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

int64_t CMaterialDataControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + 204;
}

Status CMaterialDataControl::ApplyData() {
  CStandardMaterial* m = Material();
  if (!m) return kErrBadArgument;
  if (!hasValues) return kNothingDone;
  m->ambient = values.ambient;
  m->diffuse = values.diffuse;
  m->specular = values.specular;
  std::copy(values.param.begin(), values.param.end(), m->param.begin());
  m->param[9] = values.param9;
  m->channelAmount = values.channelAmount;
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
    m->channelOffset[kAnimatedChannels[k]] = values.channels[k].offset;
    m->channelTiling[kAnimatedChannels[k]] = values.channels[k].tiling;
  }
  m->modified = 1;
  m->Invalidate();
  return kOk;
}

// --- keyed controller -------------------------------------------------------------------------

CMaterialControl::CMaterialControl(const CMaterialControl& other)
    : CMaterialDataControl(other),
      times1(other.times1),
      ambientKeys(other.ambientKeys),
      diffuseKeys(other.diffuseKeys),
      specularKeys(other.specularKeys),
      param0Keys(other.param0Keys),
      param1Keys(other.param1Keys),
      param2Keys(other.param2Keys),
      times2(other.times2),
      param3Keys(other.param3Keys),
      param4Keys(other.param4Keys),
      param9Keys(other.param9Keys),
      times3(other.times3),
      amountKeys(other.amountKeys),
      channelTimes(other.channelTimes),
      channelKeys(other.channelKeys) {}

void CMaterialControl::ResetCursors() {
  cursor1 = cursor2 = cursor3 = 0;
  channelCursor.fill(0);
}

Status CMaterialControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CMaterialDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the searches start over, and the material takes the new values.
  auto* c = static_cast<CMaterialControl*>(target);
  c->ResetCursors();
  c->modified = 1;
  return kOk;
}

Status CMaterialControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterialDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  UintCounted(ar, "times1", times1);
  UintCounted(ar, "ambientKeys", ambientKeys);
  UintCounted(ar, "diffuseKeys", diffuseKeys);
  UintCounted(ar, "specularKeys", specularKeys);
  UintCounted(ar, "param0Keys", param0Keys);
  UintCounted(ar, "param1Keys", param1Keys);
  UintCounted(ar, "param2Keys", param2Keys);
  UintCounted(ar, "times2", times2);
  UintCounted(ar, "param3Keys", param3Keys);
  UintCounted(ar, "param4Keys", param4Keys);
  UintCounted(ar, "param9Keys", param9Keys);
  UintCounted(ar, "times3", times3);
  UintCounted(ar, "amountKeys", amountKeys);
  {
    const auto list = ListScope(ar, "channels");
    for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
      const auto record = RecordScope(ar, nullptr);
      UintCounted(ar, "times", channelTimes[k]);
      UintCounted(ar, "keys", channelKeys[k]);
    }
  }
  if (!ar.Loading()) return ar.status();
  ResetCursors();
  if (!ar.ok()) return ar.status();
  // Old blocks kept their key times in scene time; they become relative to the controller.
  if (version <= kLegacyKeysVersion) {
    const float start = LegacyStartTime(ar.reader());
    for (auto* times : {&times1, &times2, &times3}) ShiftKeyTimes(*times, start);
    for (auto& times : channelTimes) ShiftKeyTimes(times, start);
  }
  return kOk;
}

int64_t CMaterialControl::GetMemorySize() const {
  int64_t size = CMaterialDataControl::GetMemorySize() + ListMemory(times1) +
                 ListMemory(ambientKeys) + ListMemory(diffuseKeys) + ListMemory(specularKeys) +
                 ListMemory(param0Keys) + ListMemory(param1Keys) + ListMemory(param2Keys) +
                 ListMemory(times2) + ListMemory(param3Keys) + ListMemory(param4Keys) +
                 ListMemory(param9Keys) + ListMemory(times3) + ListMemory(amountKeys);
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k)
    size += ListMemory(channelTimes[k]) + ListMemory(channelKeys[k]);
  return size;
}

float CMaterialControl::GetDuration() const {
  float last = 0.0f;
  auto take = [&](const std::vector<float>& times) {
    if (!times.empty()) last = std::max(last, times.back());
  };
  take(times1);
  take(times2);
  take(times3);
  for (const auto& times : channelTimes) take(times);
  return last;
}

Status CMaterialControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const CStandardMaterial* material = Material();
  if (!material) return kErrBadArgument;
  MaterialValues v = MaterialValues::Of(*material);
  const float t = MapTime(time);
  if (!times1.empty()) {
    const KeySegment seg = FindKeySegment(t, times1, cursor1);
    TakeKey(seg, ambientKeys, v.ambient);
    TakeKey(seg, diffuseKeys, v.diffuse);
    TakeKey(seg, specularKeys, v.specular);
    TakeKey(seg, param0Keys, v.param[0]);
    TakeKey(seg, param1Keys, v.param[1]);
    TakeKey(seg, param2Keys, v.param[2]);
  }
  if (!times2.empty()) {
    const KeySegment seg = FindKeySegment(t, times2, cursor2);
    TakeKey(seg, param3Keys, v.param[3]);
    TakeKey(seg, param4Keys, v.param[4]);
    TakeKey(seg, param9Keys, v.param9);
  }
  if (!times3.empty()) TakeAmounts(FindKeySegment(t, times3, cursor3), amountKeys, v.channelAmount);
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
    v.channels[k] = UvTransformKey{};
    const KeyNear near = FindKeyNear(t, channelTimes[k], channelCursor[k]);
    if (near.code == kKeyNone) continue;
    channelCursor[k] = near.index;
    const auto index = static_cast<size_t>(near.index);
    if (index < channelKeys[k].size()) v.channels[k] = channelKeys[k][index];
  }
  values = v;
  hasValues = true;
  return kOk;
}

// --- layer ------------------------------------------------------------------------------------

Status CMaterialLayerControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CMaterialDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  KX_RETURN_IF_FAILED(ShareSubControllers(target, released));
  // The tracks are stated track by track, in the list's own storage, out of a copy's reach.
  auto* layered = static_cast<CMaterialLayerControl*>(target);
  KX_RETURN_IF_FAILED(TryAssign(layered->weightTracks, weightTracks));
  layered->weightCursor = 0;
  return kOk;
}

Status CMaterialLayerControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterialDataControl::Persist(ar));
  ar.Version(classRecord);
  ListOfLists<uint32_t>(ar, "weightTracks", weightTracks);
  layer.PersistIds(ar, "subControllers");
  UintCounted(ar, "weightTimes", weightTimes);
  if (ar.Loading()) weightCursor = 0;
  return ar.status();
}

int64_t CMaterialLayerControl::GetMemorySize() const {
  int64_t size = CCompositeControl::GetMemorySize() + ListMemory(weightTimes) + 16;
  for (const auto& track : weightTracks) size += ListMemory(track);
  return size;
}

std::vector<float> CMaterialLayerControl::WeightsAt(float time) {
  const size_t n = layer.subControllers.size();
  std::vector<float> weights(n, 0.0f);
  if (n == 0) return weights;
  if (weightTimes.empty()) {
    std::fill(weights.begin(), weights.end(), 1.0f / static_cast<float>(n));
    return weights;
  }
  const KeySegment seg = FindKeySegment(MapTime(time), weightTimes, weightCursor);
  const float u = std::isfinite(seg.t) ? seg.t : 0.0f;
  // A sub-controller without a track of its own takes no part; a short track holds its last
  // weight.
  for (size_t i = 0; i < n && i < weightTracks.size(); ++i) {
    const std::vector<float>& track = weightTracks[i];
    if (track.empty()) continue;
    const size_t last = track.size() - 1;
    const float a = track[std::min(static_cast<size_t>(seg.a), last)];
    const float b = track[std::min(static_cast<size_t>(seg.b), last)];
    weights[i] = Mix(a, b, u);
  }
  return weights;
}

Status CMaterialLayerControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const CStandardMaterial* material = Material();
  if (!material) return kErrBadArgument;
  std::vector<float> weights;
  KX_RETURN_IF_FAILED(TryAllocate([&] { weights = WeightsAt(time); }));
  // The offsets and tilings are not blended: they stay as the material has them.
  MaterialValues sum = MaterialValues::Of(*material);
  sum.ClearBlended();
  for (size_t i = 0; i < weights.size(); ++i) {
    CMaterialDataControl* sub = layer.At(i);
    if (!sub) continue;
    KX_RETURN_IF_FAILED(sub->Update(time));
    if (std::isfinite(weights[i])) sum.AddBlended(sub->values, weights[i]);
  }
  values = sum;
  hasValues = true;
  return kOk;
}

}  // namespace KX
