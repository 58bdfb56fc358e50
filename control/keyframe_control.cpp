#include "control/keyframe_control.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/key_search.h"
#include "object/ref_list.h"
#include "core/alloc.h"
#include "core/math/transform.h"
#include "object/archive.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CKeyframeControl, CRTSControl, 2, 3)
KX_DEFINE_CLASS(CKeyframeClipControl, CKeyframeControl, 2, 0)

namespace {

// Stored versions at which the keyframe block changed: up to 2.0 it carried a dropped matrix and
// byte and a trailing value; 2.2 added transitions and types that did not work and are dropped;
// 2.3 keeps them.
constexpr int32_t kLegacyKeyframeVersion = 200;
constexpr int32_t kDroppedTransitionsVersion = 202;
constexpr int32_t kTransitionsVersion = 203;
constexpr uint64_t kLegacyDroppedBytes = 64 + 1;

// Clip blocks before 2.0 stored clip names as 32 bytes of 8-bit text.
constexpr int32_t kWideClipNamesVersion = 200;
constexpr int64_t kNarrowClipSize = 32 + 16;

// A sequence entry starts this much early, so that a time that rounds to just before the entry
// still plays it.
constexpr float kSequenceSlack = 0.016666668f;

// Value `index` of a channel, clamped to the values it has: a file may give a channel fewer values
// than key times, and those keys hold the channel's last value.
template <class T>
const T* ChannelValue(std::span<const T> values, int32_t index) {
  if (values.empty()) return nullptr;
  const size_t i = std::min(static_cast<size_t>(std::max(index, 0)), values.size() - 1);
  return &values[i];
}

void Interpolate(std::span<const CQuaternion> keys, const KeySegment& seg, float u,
                 CQuaternion& out) {
  const CQuaternion* a = ChannelValue(keys, seg.a);
  const CQuaternion* b = ChannelValue(keys, seg.b);
  if (!a) return;
  out = (u == 0.0f || a == b) ? *a : QuaternionSlerp(*a, *b, u);
}

void Interpolate(std::span<const CVector3<float>> keys, const KeySegment& seg, float u,
                 CVector3<float>& out) {
  const CVector3<float>* a = ChannelValue(keys, seg.a);
  const CVector3<float>* b = ChannelValue(keys, seg.b);
  if (!a) return;
  out = (u == 0.0f || a == b) ? *a : Lerp(*a, *b, u);
}

// A parameter a search computed from unusable key times (NaN, infinities) holds key a.
float Usable(float u) {
  return std::isfinite(u) ? u : 0.0f;
}

float PlayClip(float d, const ClipRecord& clip) {
  if (clip.mode == kClipHold) return clip.start;
  const float length = clip.end - clip.start;
  // The remainder of a division, not repeated subtraction: a long time over a short clip would
  // otherwise take as many steps as the clip fits into it.
  if (length > 0 && length <= d) d = std::fmod(d, length);
  return clip.start + d;
}

}  // namespace

Status CKeyframeControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The channel time lists are held outside the object, where a copy's statements do not reach
  // them, and only the oldest blocks state legacyValue: both are copied here. Every search starts
  // afresh.
  auto* keyed = static_cast<CKeyframeControl*>(target);
  KX_RETURN_IF_FAILED(TryAssign(keyed->channelTimes, channelTimes));
  keyed->legacyValue = legacyValue;
  keyed->ResetCursors();
  return kOk;
}

Status CKeyframeControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (version <= kLegacyKeyframeVersion && ar.Loading()) ar.reader().Skip(kLegacyDroppedBytes);
  ar.Counted("rotationKeys", rotationKeys).Counted("positionKeys", positionKeys);
  ar.Counted("scaleKeys", scaleKeys).Counted("keyTimes", keyTimes);
  // A read takes the channel time lists aside and sets them once the block is read; the other
  // passes state the lists the controller holds, which they do not change.
  ChannelKeyTimes loaded;
  ChannelKeyTimes& channel =
      ar.Loading() ? loaded : const_cast<ChannelKeyTimes&>(channelTimes.get());
  ar.Counted("rotationTimes", channel.rotationTimes);
  ar.Counted("positionTimes", channel.positionTimes);
  ar.Counted("scaleTimes", channel.scaleTimes);
  if (version <= kLegacyKeyframeVersion) ar("legacyValue", legacyValue);
  if (ar.Loading()) {
    transition.clear();
    type.clear();
  }
  if (version >= kTransitionsVersion) {
    ar.Counted("transition", transition).Counted("type", type);
  } else if (version >= kDroppedTransitionsVersion) {
    // Stored by 2.2 but never worked: read past.
    CSmallArray<float> droppedTransition;
    CSmallArray<int32_t> droppedType;
    ar.Counted("transition", droppedTransition).Counted("type", droppedType);
  }
  if (!ar.Loading() || !ar.ok()) return ar.status();
  // The oldest blocks kept their keys in scene time.
  if (version <= kLegacyKeyframeVersion)
    if (const float start = LegacyStartTime(ar.reader()); start != 0.0f)
      for (auto* times :
           {&keyTimes, &loaded.rotationTimes, &loaded.positionTimes, &loaded.scaleTimes})
        for (float& t : *times) t -= start;
  KX_RETURN_IF_FAILED(TryAllocate([&] {
    SetChannelTimes(std::move(loaded.rotationTimes), std::move(loaded.positionTimes),
                    std::move(loaded.scaleTimes));
    RebuildTransitions();
  }));
  ResetCursors();
  return ar.status();
}

void CKeyframeControl::SetChannelTimes(CSmallArray<float> rotation, CSmallArray<float> position,
                                       CSmallArray<float> scale) {
  if (rotation.empty() && position.empty() && scale.empty()) {
    channelTimes = CHeldValue<ChannelKeyTimes>();
    return;
  }
  ChannelKeyTimes& channel = channelTimes.Mutable();
  channel.rotationTimes = std::move(rotation);
  channel.positionTimes = std::move(position);
  channel.scaleTimes = std::move(scale);
}

void CKeyframeControl::ResetCursors() {
  keyCursor = 0;
  if (!channelTimes.get().empty()) {
    ChannelKeyTimes& channel = channelTimes.Mutable();
    channel.rotationCursor = channel.positionCursor = channel.scaleCursor = 0;
  }
}

void CKeyframeControl::RebuildTransitions() {
  if (transition.size() == keyTimes.size() && type.size() == keyTimes.size()) return;
  transition.assign(keyTimes.size(), kNoTransition);
  type.assign(keyTimes.size(), kKeyLinear);
}

namespace {

// Stored floats and ints of a keyframe block, not counting the nine counts.
int64_t KeyElements(const CKeyframeControl& c) {
  const ChannelKeyTimes& channel = c.channelTimes;
  return 4 * static_cast<int64_t>(c.rotationKeys.size()) +
         3 * static_cast<int64_t>(c.positionKeys.size() + c.scaleKeys.size()) +
         static_cast<int64_t>(c.keyTimes.size() + channel.rotationTimes.size() +
                              channel.positionTimes.size() + channel.scaleTimes.size() +
                              c.transition.size() + c.type.size());
}

}  // namespace

int64_t CKeyframeControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 236 + 4 * KeyElements(*this);
}

float CKeyframeControl::GetDuration() const {
  if (!keyTimes.empty()) return keyTimes.back();
  float duration = 0.0f;
  const ChannelKeyTimes& channel = channelTimes;
  for (const auto* times : {&channel.rotationTimes, &channel.positionTimes, &channel.scaleTimes})
    if (!times->empty()) duration = std::max(duration, times->back());
  return duration;
}

Status CKeyframeControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  EvaluateKeys(MapTime(time));
  return kOk;
}

void CKeyframeControl::EvaluateKeys(float t) {
  // A time that is not a number (from unusable clip tables or huge scales) evaluates the start.
  if (std::isnan(t)) t = 0.0f;
  CQuaternion rotation;
  CVector3<float> position;
  CVector3<float> scale{1.0f, 1.0f, 1.0f};
  CSpatial* spatial = SpatialOwner();
  if (!keyTimes.empty()) {
    const bool eased = !transition.empty() && !type.empty() &&
                       transition.size() == keyTimes.size() && type.size() == keyTimes.size();
    const KeySegment seg = eased ? FindKeySegmentEased(t, keyTimes, transition, type, keyCursor)
                                 : FindKeySegment(t, keyTimes, keyCursor);
    const float u = Usable(seg.t);
    Interpolate(rotationKeys, seg, u, rotation);
    Interpolate(positionKeys, seg, u, position);
    Interpolate(scaleKeys, seg, u, scale);
  } else if (!channelTimes.get().empty()) {
    // Each channel on its own times; a channel without times keeps its default.
    ChannelKeyTimes& channel = channelTimes.Mutable();
    if (!channel.rotationTimes.empty()) {
      const KeySegment seg = FindKeySegment(t, channel.rotationTimes, channel.rotationCursor);
      Interpolate(rotationKeys, seg, Usable(seg.t), rotation);
    }
    if (!channel.positionTimes.empty()) {
      const KeySegment seg = FindKeySegment(t, channel.positionTimes, channel.positionCursor);
      Interpolate(positionKeys, seg, Usable(seg.t), position);
    }
    if (!channel.scaleTimes.empty()) {
      const KeySegment seg = FindKeySegment(t, channel.scaleTimes, channel.scaleCursor);
      Interpolate(scaleKeys, seg, Usable(seg.t), scale);
    }
  } else if (spatial) {
    // Nothing keyed: the owner stands in its rest pose.
    rotation = QuaternionFromRotation(spatial->rotation);
    position = spatial->position;
    scale = spatial->scale;
  }
  matrix = ComposeMatrix(scale, rotation, position);
  if (spatial) matrix = ParentSpace::OfParentOf(*spatial).Combine(matrix);
}

// ---------------------------------------------------------------------------------------------

std::u16string_view ClipRecord::Name() const {
  const auto* end = std::find(std::begin(name), std::end(name), u'\0');
  return {name, static_cast<size_t>(end - name)};
}

void ClipRecord::SetName(std::u16string_view text) {
  std::fill(std::begin(name), std::end(name), u'\0');
  // One unit stays for the terminator.
  std::copy_n(text.begin(), std::min(text.size(), std::size(name) - 1), name);
}

Status CKeyframeClipControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CKeyframeControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CKeyframeClipControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CKeyframeControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (version >= kWideClipNamesVersion)
    ar.Counted("clips", clips);
  else if (ar.Loading())
    KX_RETURN_IF_FAILED(LoadNarrowClips(ar.reader()));
  ar.Counted("sequence", sequence);
  return ar.status();
}

Status CKeyframeClipControl::LoadNarrowClips(CReader& in) {
  const int32_t count = in.Get<int32_t>();
  if (!in.CanHold(count, kNarrowClipSize)) return in.status();
  KX_RETURN_IF_FAILED(TryAllocate([&] { clips.assign(static_cast<size_t>(count), ClipRecord{}); }));
  for (ClipRecord& clip : clips) {
    uint8_t narrow[32] = {};
    in.ReadBytes(narrow, sizeof narrow);
    // Old tools wrote names in the classic code page, where every byte is the UTF-16 unit of the
    // same value.
    for (size_t k = 0; k < std::size(narrow); ++k) clip.name[k] = narrow[k];
    in.Read(clip.id).Read(clip.mode).Read(clip.start).Read(clip.end);
  }
  return in.status();
}

int64_t CKeyframeClipControl::GetMemorySize() const {
  return CKeyframeControl::GetMemorySize() + 24 +
         static_cast<int64_t>(sizeof(ClipRecord)) * static_cast<int64_t>(clips.size()) +
         static_cast<int64_t>(sizeof(SequenceEntry)) * static_cast<int64_t>(sequence.size());
}

float CKeyframeClipControl::ClipTime(float x) const {
  auto defaultClip = [&]() -> const ClipRecord* {
    for (const ClipRecord& clip : clips)
      if (clip.mode == kClipDefault) return &clip;
    return nullptr;
  };
  // The entry in force: the last of those that have started, stopping at the first that has not.
  const SequenceEntry* entry = nullptr;
  for (const SequenceEntry& e : sequence) {
    if (!(x + kSequenceSlack > timeScale * e.startTime)) break;
    entry = &e;
  }
  // An entry naming a clip the table does not have plays nothing of its own.
  if (entry && entry->clipIndex < clips.size()) {
    const ClipRecord& clip = clips[entry->clipIndex];
    const float length = clip.end - clip.start;
    if (length == 0.0f) return clip.start;
    const float d = x - entry->startTime * timeScale;
    const float played = length * static_cast<float>(entry->repeat);
    if (d + kSequenceSlack <= played) return PlayClip(d, clip);
    const ClipRecord* fallback = defaultClip();
    return fallback ? PlayClip(d - played, *fallback) : 0.0f;
  }
  const ClipRecord* fallback = defaultClip();
  return fallback ? PlayClip(x, *fallback) : 0.0f;
}

Status CKeyframeClipControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const float local = ClipTime(timeScale * time);
  // The keys are evaluated as at a scene time that maps to `local`; a zero scale maps every
  // scene time to 0.
  const float sceneTime = timeScale != 0.0f ? local / timeScale : 0.0f;
  EvaluateKeys(MapTime(sceneTime));
  return kOk;
}

}  // namespace KX
