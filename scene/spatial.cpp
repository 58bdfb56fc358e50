#include "scene/spatial.h"

#include <cmath>

#include "object/control.h"
#include "core/alloc.h"
#include "core/math/quaternion.h"
#include "core/math/transform.h"
#include "object/archive.h"
#include "scene/bounding_objects.h"
#include "scene/node.h"

namespace KX {

KX_DEFINE_CLASS(CSpatial, CCorva, 2, 2)

namespace {

// Stored versions at which the block changed: 2.0 brought the version pairs and the current
// field order, 2.1 gave the inheritance flags their meaning, 2.2 added `frozen`.
constexpr int32_t kCurrentBlockVersion = 200;
constexpr int32_t kFlagsMeaningfulVersion = 201;
constexpr int32_t kFrozenVersion = 202;
// Tools before 2.1 wrote this value for "no inheritance restrictions".
constexpr uint32_t kLegacyPlainFlags = 512;

constexpr float kRotationNoise = 0.00001f;

// What an estimate of an object's memory answers for every spatial object.
constexpr int64_t kSpatialMemorySize = 188;

}  // namespace

bool CleanRotation(CMatrix3& rotation) {
  CQuaternion q = QuaternionFromRotation(rotation);
  bool noisy = false;
  for (float* c : {&q.w, &q.x, &q.y, &q.z}) {
    if (*c != 0.0f && std::fabs(*c) < kRotationNoise) {
      *c = 0.0f;
      noisy = true;
    }
  }
  // Going to a quaternion and back is not exact: done on every load, it would move every rotation
  // by a little each time a file is opened and saved. So a rotation without noise stays exactly
  // as stored.
  if (!noisy) return false;
  // Not normalised again: the other components are what the file said.
  rotation = RotationFromQuaternion(q);
  return true;
}

CSpatial::CSpatial(const CSpatial& other)
    : CCorva(other),
      flags(other.flags),
      position(other.position),
      scale(other.scale),
      rotation(other.rotation),
      transform(other.transform),
      bound(other.bound),
      visible(other.visible),
      frozen(other.frozen),
      auxFlag(other.auxFlag),
      auxMode(other.auxMode) {}

Status CSpatial::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CSpatial*>(out.get());
  if (attachment) {
    CRefPtr<CBase> attached;
    KX_RETURN_IF_FAILED(attachment->Duplicate(attached, map));
    copy->attachment = KindOf<CCorva>(attached.get());
  }
  if (bounding) {
    CRefPtr<CBase> head;
    KX_RETURN_IF_FAILED(bounding->Duplicate(head, map));
    KX_RETURN_IF_FAILED(copy->AddBounding(KindOf<CCorva>(head.get())));
  }
  return kOk;
}

Status CSpatial::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* spatial = KindOf<CSpatial>(target);
  if (!spatial) return kErrMalformed;
  spatial->flags = flags;
  spatial->position = position;
  spatial->scale = scale;
  spatial->rotation = rotation;
  spatial->transform = transform;
  spatial->visible = visible;
  spatial->frozen = frozen;
  spatial->auxFlag = auxFlag;
  spatial->auxMode = auxMode;
  // The target shares what this object carries; what it carried before goes to the caller.
  auto share = [&](CRefPtr<CCorva>& theirs, const CRefPtr<CCorva>& mine) -> Status {
    if (theirs) KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(theirs.get())));
    theirs = mine;
    return kOk;
  };
  KX_RETURN_IF_FAILED(share(spatial->attachment, attachment));
  return share(spatial->bounding, bounding);
}

Status CSpatial::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (version < kCurrentBlockVersion) return ar.Loading() ? LoadOldBlock(ar.reader()) : ar.status();
  ar("rotation", rotation)("position", position)("scale", scale)("flags", flags);
  if (ar.Loading() && ar.ok()) {
    if (version < kFlagsMeaningfulVersion && flags == kLegacyPlainFlags) flags = 0;
    CleanRotation(rotation);
  }
  ar.Ref("attachment", attachment).Ref("bounding", bounding)("visible", visible);
  if (version >= kFrozenVersion) ar("frozen", frozen);
  return ar.status();
}

Status CSpatial::LoadOldBlock(CReader& in) {
  // Old tools stored the whole rest transform as one matrix and a list of ids nothing uses.
  CMatrix4 matrix;
  in.Read(matrix).Read(visible);
  const int32_t count = in.Get<int32_t>();
  if (in.CanHold(count, 4)) in.Skip(4 * static_cast<uint64_t>(count));
  if (!in.ok()) return in.status();
  DecomposeMatrix(matrix, scale, rotation, position);
  CleanRotation(rotation);
  return kOk;
}

int64_t CSpatial::GetMemorySize() const { return kSpatialMemorySize; }

bool CSpatial::HasAttachments() const {
  return attachment || bounding || CCorva::HasAttachments();
}

void CSpatial::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(attachment, kSearch | kCollect);
  visit(bounding);
  visit(parent);
}

Status CSpatial::Update(float time) {
  KX_RETURN_IF_FAILED(CCorva::Update(time));
  return bounding ? bounding->Update(time) : kOk;
}

CBase* CSpatial::GetTargetAt(float time) {
  for (CControl* c = controllers.get(); c; c = c->next.get())
    if (CBase* target = c->GetTargetAt(time)) return target;
  return nullptr;
}

Status CSpatial::EvaluateTransform(float time) {
  for (CControl* c = controllers.get(); c; c = c->next.get()) {
    KX_RETURN_IF_FAILED(c->EvaluateTransform(time));
    // A controller that has nothing to write (a data controller) says so; that is no failure.
    KX_RETURN_IF_FAILED(c->ApplyTransform());
  }
  return kOk;
}

Status CSpatial::AddBounding(CCorva* object) {
  if (!object) return kErrBadArgument;
  if (bounding) {
    // Only a chain of hulls can take another member, and only another hull.
    auto* head = KindOf<CBoundingMesh>(bounding.get());
    auto* hull = KindOf<CBoundingMesh>(object);
    if (!head || !hull) return kErrBadArgument;
    KX_RETURN_IF_FAILED(head->AppendBounding(hull));
    object->modified = 1;
    return kOk;
  }
  object->modified = 1;
  bounding = object;
  return kOk;
}

CMatrix4 CSpatial::GetLocalMatrix() const { return ComposeMatrix(scale, rotation, position); }

void CSpatial::SetFromMatrix(const CMatrix4& matrix) {
  DecomposeMatrix(matrix, scale, rotation, position);
  modified = 1;
}

Status CSpatial::UpdateHierarchy(float startTime, float deltaTime, float rate,
                                 bool notifyAncestors) {
  // Times and rates that are not finite, or a rate that runs backwards, would never reach the
  // end time.
  const float endTime = startTime + deltaTime;
  if (!std::isfinite(startTime) || !std::isfinite(endTime) || !std::isfinite(rate) || rate < 0)
    return kErrBadArgument;
  if (rate == 0.0f) {
    KX_RETURN_IF_FAILED(EvaluateSubtreeAt(endTime));
  } else {
    // Sample k lies on the grid of multiples of 1/rate, computed afresh for every k rather than
    // by adding up steps, so that rounding cannot carry a sample past the end time.
    const double base = std::floor(static_cast<double>(rate) * startTime);
    auto sample = [&](double k) { return static_cast<float>((base + k) / rate); };
    if (endTime < sample(1)) {
      KX_RETURN_IF_FAILED(EvaluateSubtreeAt(endTime));
    } else {
      float last = endTime;
      for (double k = 1;; ++k) {
        const float t = sample(k);
        if (t > endTime) break;
        KX_RETURN_IF_FAILED(EvaluateSubtreeAt(t));
        last = t;
      }
      if (last != endTime) KX_RETURN_IF_FAILED(EvaluateSubtreeAt(endTime));
    }
  }
  KX_RETURN_IF_FAILED(Update(endTime));
  KX_RETURN_IF_FAILED(UpdateBound());
  if (notifyAncestors)
    for (CNode* p = parent; p; p = p->parent) KX_RETURN_IF_FAILED(p->UpdateBound());
  return kOk;
}

Status CSpatial::EvaluateSubtreeAt(float time) {
  SpatialQueue queue;
  KX_RETURN_IF_FAILED(TryAllocate([&] { CollectSpatials(queue); }));
  for (CSpatial* object : queue) object->flag = 1;

  // Objects that cannot be evaluated yet go to the back of the queue. A pass is one round over
  // the queue as it stood when the pass began; a pass that starts with as many objects as the one
  // before it follows a round in which nothing could be evaluated, and then waiting is given up.
  size_t passStart = queue.size();
  size_t leftInPass = queue.size();
  bool stalled = false;
  while (!queue.empty()) {
    if (leftInPass == 0) {
      stalled = queue.size() == passStart;
      passStart = leftInPass = queue.size();
    }
    --leftInPass;
    CSpatial* object = queue.front();
    queue.pop_front();

    // The top of the subtree has its parent outside this evaluation, which nothing here would
    // ever evaluate; only parents inside the subtree are waited for.
    if (object != this && object->parent && object->parent->flag) {
      if (stalled) return kErrMalformed;
      KX_RETURN_IF_FAILED(TryAppend(queue, object));
      continue;
    }
    Status status = object->EvaluateTransform(time);
    if (Succeeded(status)) {
      object->flag = 0;
      continue;
    }
    if (status != kErrPending) return status;
    if (!stalled) {
      KX_RETURN_IF_FAILED(TryAppend(queue, object));
      continue;
    }
    // Everything left waits for something else. Break one wait: let this object's controllers
    // see the object they wait for as evaluated, just for this one evaluation.
    auto* awaited = KindOf<CCorva>(object->GetTargetAt(time));
    if (!awaited) return kErrMalformed;
    const uint8_t awaitedMark = awaited->flag;
    awaited->flag = 0;
    status = object->EvaluateTransform(time);
    awaited->flag = awaitedMark;
    stalled = false;
    if (status == kErrPending) return kErrMalformed;
    if (Failed(status)) return status;
    object->flag = 0;
  }
  return kOk;
}

}  // namespace KX
