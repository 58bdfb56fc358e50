#include "control/layer_control.h"

#include <algorithm>
#include <cmath>

#include "control/control_archive.h"
#include "control/key_search.h"
#include "core/alloc.h"
#include "core/math/transform.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CRTSClipControl, CRTSControl, 2, 2)
KX_DEFINE_CLASS(CRTSLayerControl, CRTSControl, 2, 1)
KX_DEFINE_CLASS(CRTSSelectorControl, CRTSControl, 2, 0)

namespace {

// From 2.2 the sub-controller flags follow the clip table.
constexpr int32_t kSubFlagsVersion = 202;

// Below this a remaining time or a weight counts as nothing.
constexpr float kNegligible = 0.00001f;

// The owner's rest pose carried into its parent's space.
CMatrix4 RestPose(const CSpatial& owner) {
  return ParentSpace::OfParentOf(owner).Combine(owner.GetLocalMatrix());
}

struct Pose {
  CVector3<float> scale;
  CQuaternion rotation;
  CVector3<float> position;
};

Pose PoseOf(const CMatrix4& m) {
  Pose pose;
  DecomposeMatrix(m, pose.scale, pose.rotation, pose.position);
  return pose;
}

// Evaluates a sub-controller at `time` into `out`; without one the owner's rest pose stands in.
Status PoseAt(CRTSControl* source, float time, const CSpatial& owner, CMatrix4& out) {
  if (!source) {
    out = RestPose(owner);
    return kOk;
  }
  KX_RETURN_IF_FAILED(source->EvaluateTransform(time));
  out = source->matrix;
  return kOk;
}

// Element `index` of a track, clamped to the values it has.
float TrackValue(const std::vector<float>& track, int32_t index) {
  const size_t i = std::min(static_cast<size_t>(std::max(index, 0)), track.size() - 1);
  return track[i];
}

}  // namespace

// --- clips -------------------------------------------------------------------------------------

Status CRTSClipControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  KX_RETURN_IF_FAILED(ShareSubControllers(target, released));
  static_cast<CRTSClipControl*>(target)->currentClip = 0;
  return kOk;
}

Status CRTSClipControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  clip.PersistIds(ar, "subControllers");
  clip.PersistTable(ar, version, timeScale);
  if (version >= kSubFlagsVersion) {
    ar.Counted("subFlags", subFlags);
  } else if (ar.Loading() && ar.ok()) {
    KX_RETURN_IF_FAILED(TryAllocate([&] { subFlags.assign(clip.subControllers.size(), 0); }));
  }
  if (ar.Loading()) currentClip = 0;
  return ar.status();
}

int64_t CRTSClipControl::GetMemorySize() const {
  return CRTSComposite::GetMemorySize() + 4 + static_cast<int64_t>(subFlags.size());
}

float CRTSClipControl::GetDuration() const { return clip.LastEnd(); }

Status CRTSClipControl::EvaluateTransform(float time) {
  if (!enabled) {
    priority = 0.0f;
    return kNothingDone;
  }
  const CSpatial* spatial = SpatialOwner();
  if (!spatial) return kErrBadArgument;
  const float t = MapTime(time);
  const ClipSearch found = clip.FindClip(t, currentClip);
  if (found.code == kClipNone) {
    matrix = RestPose(*spatial);
    priority = 0.0f;
    return kNothingDone;
  }
  const auto& starts = clip.clipStart;
  const auto& records = clip.clipRecords;
  if (found.code == kClipBefore) {
    // Before the first clip its source shows its start.
    CMatrix4 first;
    KX_RETURN_IF_FAILED(PoseAt(clip.SourceOf(records[0]), 0.0f, *spatial, first));
    matrix = first;
    priority = 0.0f;
    return kNothingDone;
  }
  const ClipEntry& a = records[found.a];
  const ClipEntry& b = records[found.b];
  CRTSControl* sourceA = clip.SourceOf(a);
  CMatrix4 poseA;
  KX_RETURN_IF_FAILED(
      PoseAt(sourceA, clip.ClipLocalTime(t - starts[found.a], a), *spatial, poseA));
  const float r = found.rest;
  CMatrix4 result;
  if (r < kNegligible && found.b != found.a) {
    KX_RETURN_IF_FAILED(PoseAt(clip.SourceOf(b), 0.0f, *spatial, result));
  } else if (found.b == found.a || !(b.transition >= r)) {
    result = poseA;
  } else {
    // The pose moves from clip a's to clip b's start as clip b comes nearer.
    const float span = std::min(starts[found.b] - starts[found.a], b.transition);
    CMatrix4 poseB;
    KX_RETURN_IF_FAILED(PoseAt(clip.SourceOf(b), 0.0f, *spatial, poseB));
    const float u = std::clamp(r / span, 0.0f, 1.0f);
    const Pose pa = PoseOf(poseA);
    const Pose pb = PoseOf(poseB);
    result = ComposeMatrix(Lerp(pb.scale, pa.scale, u), QuaternionSlerp(pb.rotation, pa.rotation, u),
                           Lerp(pb.position, pa.position, u));
  }
  matrix = result;
  priority = ClipPriority(found.a, t, sourceA ? sourceA->priority : 0.0f);
  return kOk;
}

float CRTSClipControl::ClipPriority(uint32_t index, float scaled, float sourcePriority) const {
  const ClipEntry& entry = clip.clipRecords[index];
  if (entry.active == 1 || clip.ClipEnd(index) > scaled) return sourcePriority + entry.priorityOffset;
  return 1.0f;
}

bool CRTSClipControl::ClipAt(float time, InForce& found) const {
  found.scaled = MapTime(time);
  uint32_t cursor = currentClip;
  const ClipSearch search = clip.FindClip(found.scaled, cursor);
  if (search.code == kClipNone || search.code == kClipBefore) return false;
  found.index = search.a;
  const ClipEntry& entry = clip.clipRecords[search.a];
  found.local = clip.ClipLocalTime(found.scaled - clip.clipStart[search.a], entry);
  found.source = clip.SourceOf(entry);
  return true;
}

float CRTSClipControl::ToSceneTime(float time, const InForce& found, float sourceTime) const {
  // Within one pass the source's time runs at speed times this controller's scale.
  const float rate = clip.clipRecords[found.index].speed * timeScale;
  const float scene = time + (sourceTime - found.local) / rate;
  return std::isfinite(scene) ? scene : time;
}

void CRTSClipControl::CollectActive(float start, float length, std::vector<float>& times,
                                    std::vector<float>& priorities) {
  InForce found;
  if (!ClipAt(start, found) || !found.source) return;
  const ClipEntry& entry = clip.clipRecords[found.index];
  const size_t before = times.size();
  found.source->CollectActive(found.local, length * timeScale * entry.speed, times, priorities);
  for (size_t k = before; k < times.size(); ++k) times[k] = ToSceneTime(start, found, times[k]);
  for (size_t k = before; k < priorities.size(); ++k) priorities[k] += entry.priorityOffset;
}

bool CRTSClipControl::CheckStart(float& time, float limit, float level) {
  InForce found;
  if (!ClipAt(time, found) || !found.source) return false;
  const ClipEntry& entry = clip.clipRecords[found.index];
  float local = found.local;
  const float localLimit = found.local + (limit - time) * timeScale * entry.speed;
  if (!found.source->CheckStart(local, localLimit, level - entry.priorityOffset)) return false;
  time = ToSceneTime(time, found, local);
  return true;
}

bool CRTSClipControl::CheckEnd(float end, float& time, float level, bool& hit) {
  InForce found;
  if (!ClipAt(time, found) || !found.source) return false;
  const ClipEntry& entry = clip.clipRecords[found.index];
  float local = found.local;
  const float localEnd = found.local + (end - time) * timeScale * entry.speed;
  if (!found.source->CheckEnd(localEnd, local, level - entry.priorityOffset, hit)) return false;
  time = ToSceneTime(time, found, local);
  return true;
}

bool CRTSClipControl::IsActiveAt(float time) {
  InForce found;
  if (!ClipAt(time, found) || clip.clipRecords[found.index].active != 1) return false;
  return found.source && found.source->IsActiveAt(found.local);
}

float CRTSClipControl::GetPriorityAt(float time) {
  InForce found;
  if (!ClipAt(time, found)) return 0.0f;
  const float sourcePriority = found.source ? found.source->GetPriorityAt(found.local) : 0.0f;
  return ClipPriority(found.index, found.scaled, sourcePriority);
}

// --- layers ------------------------------------------------------------------------------------

Status CRTSLayerControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  KX_RETURN_IF_FAILED(ShareSubControllers(target, released));
  // The tracks are stated track by track, in the list's own storage, out of a copy's reach.
  auto* layered = static_cast<CRTSLayerControl*>(target);
  KX_RETURN_IF_FAILED(TryAssign(layered->weightTracks, weightTracks));
  layered->weightCursor = 0;
  return kOk;
}

Status CRTSLayerControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  ar.Version(classRecord);
  layer.PersistIds(ar, "subControllers");
  ListOfLists<int32_t>(ar, "weightTracks", weightTracks);
  ar.Counted("weightTimes", weightTimes).Counted("weightTransition", weightTransition);
  ar.Counted("weightType", weightType);
  if (ar.Loading()) weightCursor = 0;
  return ar.status();
}

int64_t CRTSLayerControl::GetMemorySize() const {
  int64_t size = CRTSComposite::GetMemorySize() + 4 * 12;
  for (const auto& track : weightTracks) size += 12 + 4 * static_cast<int64_t>(track.size());
  return size + 4 * static_cast<int64_t>(weightTimes.size() + weightTransition.size() +
                                         weightType.size());
}

std::vector<float> CRTSLayerControl::WeightsAt(float time) {
  const size_t n = layer.subControllers.size();
  std::vector<float> weights(n, 0.0f);
  if (n == 0) return weights;
  if (weightTimes.empty()) {
    std::fill(weights.begin(), weights.end(), 1.0f / static_cast<float>(n));
    return weights;
  }
  const KeySegment seg =
      FindKeySegmentEased(MapTime(time), weightTimes, weightTransition, weightType, weightCursor);
  const float u = std::isfinite(seg.t) ? seg.t : 0.0f;
  // A sub-controller without a track of its own takes no part.
  for (size_t i = 0; i < n && i < weightTracks.size(); ++i) {
    const std::vector<float>& track = weightTracks[i];
    if (track.empty()) continue;
    const float a = TrackValue(track, seg.a);
    const float b = TrackValue(track, seg.b);
    weights[i] = a + u * (b - a);
  }
  return weights;
}

Status CRTSLayerControl::EvaluateTransform(float time) {
  if (!enabled) return kNothingDone;
  const CSpatial* spatial = SpatialOwner();
  if (!spatial) return kErrBadArgument;
  const ParentSpace space = ParentSpace::OfParentOf(*spatial);
  if (layer.subControllers.empty() || weightTracks.empty()) {
    matrix = space.Combine(spatial->GetLocalMatrix());
    return kOk;
  }
  std::vector<float> weights;
  KX_RETURN_IF_FAILED(TryAllocate([&] { weights = WeightsAt(time); }));
  CQuaternion rotation;
  CVector3<float> scale{1.0f, 1.0f, 1.0f};
  CVector3<float> position;
  for (size_t i = 0; i < weights.size(); ++i) {
    const float w = weights[i];
    CRTSControl* sub = layer.At(i);
    // A weight of 0 (or none that can be used) leaves the sub-controller out altogether.
    if (!sub || w == 0.0f || !std::isfinite(w)) continue;
    KX_RETURN_IF_FAILED(sub->EvaluateTransform(time));
    const Pose pose = PoseOf(space.Separate(sub->matrix));
    rotation = QuaternionMultiply(QuaternionSlerp(CQuaternion{}, pose.rotation, w), rotation);
    scale.x *= w * pose.scale.x + (1.0f - w);
    scale.y *= w * pose.scale.y + (1.0f - w);
    scale.z *= w * pose.scale.z + (1.0f - w);
    position += pose.position * w;
  }
  matrix = space.Combine(ComposeMatrix(scale, rotation, position));
  return kOk;
}

// --- selectors ---------------------------------------------------------------------------------

Status CRTSSelectorControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  KX_RETURN_IF_FAILED(ShareSubControllers(target, released));
  static_cast<CRTSSelectorControl*>(target)->ResetSelection();
  return kOk;
}

Status CRTSSelectorControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  ar.Version(classRecord);
  ar("transitionTime", transitionTime);
  layer.PersistIds(ar, "subControllers");
  if (ar.Loading()) ResetSelection();
  return ar.status();
}

int32_t CRTSSelectorControl::SelectAt(float time) const {
  const auto& subs = layer.subControllers;
  if (subs.empty()) return -1;
  int32_t best = -1;
  float bestPriority = 0.0f;
  for (size_t i = 0; i < subs.size(); ++i) {
    if (!subs[i] || !subs[i]->enabled) continue;
    const float p = subs[i]->GetPriorityAt(time);
    if (p > bestPriority) {
      best = static_cast<int32_t>(i);
      bestPriority = p;
    }
  }
  return best < 0 ? 0 : best;
}

void CRTSSelectorControl::Select(float time) {
  const float t = MapTime(time);
  const int32_t now = SelectAt(time);
  if (selected < 0 || now < 0 || !(t >= lastScaled)) {
    // The first evaluation, or time went back: the selection starts afresh, without a blend.
    selected = previous = now;
    switchTime = t;
  } else if (now != selected) {
    // The change happened between the last evaluation and this one: where the one selected so
    // far ended, when it can tell, else now.
    float change = t;
    if (CRTSControl* old = layer.At(static_cast<size_t>(selected))) {
      float end = lastTime;
      bool hit = false;
      if (old->CheckEnd(time, end, old->GetPriorityAt(lastTime), hit) && end >= lastTime &&
          end <= time)
        change = std::clamp(MapTime(end), lastScaled, t);
    }
    previous = selected;
    selected = now;
    switchTime = change;
  }
  lastScaled = t;
  lastTime = time;
}

std::vector<float> CRTSSelectorControl::Weights(float t) const {
  std::vector<float> weights(layer.subControllers.size(), 0.0f);
  if (selected < 0 || static_cast<size_t>(selected) >= weights.size()) return weights;
  const float span = transitionTime;
  if (previous == selected || previous < 0 || static_cast<size_t>(previous) >= weights.size() ||
      !(span >= kNegligible)) {
    weights[selected] = 1.0f;
    return weights;
  }
  const float d = std::clamp(t - switchTime, 0.0f, span);
  weights[selected] = d / span;
  weights[previous] = (span - d) / span;
  return weights;
}

Status CRTSSelectorControl::EvaluateTransform(float time) {
  if (!enabled) return kNothingDone;
  const CSpatial* spatial = SpatialOwner();
  if (!spatial) return kErrBadArgument;
  Select(time);
  std::vector<float> weights;
  KX_RETURN_IF_FAILED(TryAllocate([&] { weights = Weights(MapTime(time)); }));
  bool first = true;
  CVector3<float> scale{1.0f, 1.0f, 1.0f};
  CQuaternion rotation;
  CVector3<float> position;
  for (size_t i = 0; i < weights.size(); ++i) {
    const float w = weights[i];
    CRTSControl* sub = layer.At(i);
    if (!sub || !(w >= kNegligible)) continue;
    KX_RETURN_IF_FAILED(sub->EvaluateTransform(time));
    const Pose pose = PoseOf(sub->matrix);
    if (first) {
      rotation = pose.rotation;
      scale = pose.scale;
      first = false;
    } else {
      rotation = QuaternionSlerp(rotation, pose.rotation, w);
    }
    position += pose.position * w;
  }
  // Nothing to select from: the owner stands in its rest pose.
  matrix = first ? RestPose(*spatial) : ComposeMatrix(scale, rotation, position);
  return kOk;
}

}  // namespace KX
