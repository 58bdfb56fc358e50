#include "control/look_at_control.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/math/transform.h"
#include "object/archive.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CLookAtControl, CRTSControl, 2, 1)

namespace {

// Blocks of 2.0 and older kept their aim data in a form that is not read any more.
constexpr int32_t kOldestReadableVersion = 201;
constexpr float kSpanEpsilon = 0.00001f;
const CVector3<float> kWorldUp{0.0f, 0.0f, 1.0f};
const CVector3<float> kNegativeZ{0.0f, 0.0f, -1.0f};

const float kPi = static_cast<float>(4.0 * std::atan(1.0));

// The owner's current rotation: its axes without their scale. A collapsed axis (scale 0) has no
// direction of its own; the identity's stands in for it.
CMatrix3 RotationOf(const CMatrix4& m) {
  CMatrix3 r;
  for (int i = 0; i < 3; ++i) r.SetRow(i, DirectionOr(m.Row(i), CMatrix3{}.Row(i)));
  return r;
}

// Some unit vector perpendicular to z, for an up direction that lies along z.
CVector3<float> Perpendicular(const CVector3<float>& z) {
  const CVector3<float> v = DirectionOr(Cross(CVector3<float>{0, 1, 0}, z), {});
  return Length(v) > 0.5f ? v : DirectionOr(Cross(CVector3<float>{1, 0, 0}, z), {1, 0, 0});
}

CMatrix3 Slerp(const CMatrix3& from, const CMatrix3& to, float e) {
  CQuaternion q = QuaternionSlerp(QuaternionFromRotation(from), QuaternionFromRotation(to), e);
  const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!(n > 0.0f) || !std::isfinite(n)) return from;
  q = {q.w / n, q.x / n, q.y / n, q.z / n};
  return RotationFromQuaternion(q);
}

// Orientation rows scaled by s, at `position`.
CMatrix4 Placed(const CMatrix3& r, float s, const CVector3<float>& position) {
  CMatrix4 m;
  for (int i = 0; i < 3; ++i) m.SetRow(i, r.Row(i) * s, 0.0f);
  m.SetRow(3, position, 1.0f);
  return m;
}

}  // namespace

Status CLookAtControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CLookAtControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (ar.Loading() && ar.ok() && version < kOldestReadableVersion) return ar.Fail(kErrNewerVersion);
  ar.Counted("aimTimes", aimTimes).Counted("aimSettings", aimSettings);
  ar.RefList("targets", targets).RefList("upObjects", upObjects);
  ar.Counted("angleLimits", angleLimits).Counted("blendTimes", blendTimes);
  return ar.status();
}

int64_t CLookAtControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 6 * 16 + CountedSize(aimTimes) + CountedSize(aimSettings) +
         RefListSize(targets) + RefListSize(upObjects) + CountedSize(angleLimits) +
         CountedSize(blendTimes);
}

void CLookAtControl::VisitReferences(CReferenceVisitor& visit) {
  CRTSControl::VisitReferences(visit);
  visit.Each(targets, kRetarget);
  visit.Each(upObjects, kRetarget);
}

float CLookAtControl::GetDuration() const {
  return aimTimes.empty() ? 0.0f : aimTimes.back();
}

float CLookAtControl::BlendInto(size_t next, float from, float x) const {
  const float to = aimTimes[next];
  const float length = next < aimSettings.size() ? aimSettings[next].transition : kNoTransition;
  const float span = std::min(to - from, length);
  const float rest = std::min(to - x, span);
  if (!(span > kSpanEpsilon)) return 0.0f;
  const float e = (span - rest) / span;
  return std::isfinite(e) ? std::clamp(e, 0.0f, 1.0f) : 0.0f;
}

Status CLookAtControl::Aim(size_t i, const CMatrix4& current, CMatrix3& orientation) const {
  const CSpatial* target = TargetOf(i);
  if (IsPending(target)) return kErrPending;
  const CMatrix3 currentRotation = RotationOf(current);
  // Without a target the entry keeps the owner's direction.
  if (!target) {
    orientation = currentRotation;
    return kOk;
  }
  const AimSettings settings = i < aimSettings.size() ? aimSettings[i] : AimSettings{};
  const CVector3<float> c = currentRotation.Row(2);
  // A target on the owner's position gives no direction; the current one is kept.
  CVector3<float> d = DirectionOr(target->transform.get().Translation() - current.Translation(), c);
  if (settings.axis == kNegativeZ) d = -d;
  const float w = settings.weight;
  const CVector3<float> z = DirectionOr(w * d - (1.0f - w) * c, DirectionOr(d, c));
  const CSpatial* up = i < upObjects.size() ? upObjects[i] : nullptr;
  const CVector3<float> u = up ? up->transform.get().Row(1) : kWorldUp;
  // An up direction along the aim leaves the roll open; any perpendicular settles it.
  const CVector3<float> x = DirectionOr(Cross(u, z), Perpendicular(z));
  const CVector3<float> y = DirectionOr(Cross(z, x), Perpendicular(z));
  orientation.SetRow(0, x);
  orientation.SetRow(1, y);
  orientation.SetRow(2, z);

  const float limit = i < angleLimits.size() ? angleLimits[i] : 0.0f;
  if (up && limit > 0.0f) {
    const CVector3<float> k = Cross(currentRotation.Row(0), currentRotation.Row(1));
    const float lengths = Length(z) * Length(k);
    if (lengths > 0.0f) {
      const float a = std::acos(std::clamp(Dot(z, k) / lengths, -1.0f, 1.0f));
      if (a > limit * kPi) {
        const float side = Dot(Cross(z, k), y) >= 0.0f ? 1.0f : -1.0f;
        const CVector3<float> axis = DirectionOr(up->transform.get().Row(1), kWorldUp);
        orientation = orientation * RotationAboutAxis(axis, (a - limit * kPi) * side);
      }
    }
  }
  // The extra turns act in the aimed frame: about its z (roll), then y, then x.
  orientation = RotationAboutAxis({0, 0, 1}, settings.angleZ) * orientation;
  orientation = RotationAboutAxis({0, 1, 0}, settings.angleY) * orientation;
  orientation = RotationAboutAxis({1, 0, 0}, settings.angleX) * orientation;
  return kOk;
}

Status CLookAtControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const CSpatial* self = SpatialOwner();
  if (!self) return kErrBadArgument;
  const CMatrix4 current = self->transform;
  const float x = timeScale * time;
  const KeyNear near = FindKeyNear(x, aimTimes, 0);
  if (near.code == kKeyNone) {
    matrix = current;
    return kNothingDone;
  }
  const float scale = Length(current.Row(0));
  const CVector3<float> position = current.Translation();

  if (near.code == kKeyBefore) {
    // Before the first entry the owner turns from its own direction into the first aim.
    matrix = current;
    const float e = BlendInto(0, 0.0f, x);
    if (e > 0.0f) {
      CMatrix3 first;
      KX_RETURN_IF_FAILED(Aim(0, current, first));
      matrix = Placed(Slerp(RotationOf(current), first, e), scale, position);
    }
    return kOk;
  }

  const auto i = static_cast<size_t>(near.index);
  CMatrix3 orientation;
  KX_RETURN_IF_FAILED(Aim(i, current, orientation));
  // Blend into the next entry. Its own orientation is the aim it gives at its start, where no
  // blend of its own has begun, so it is computed directly rather than by evaluating again.
  if (i + 1 < aimTimes.size()) {
    const float e = BlendInto(i + 1, aimTimes[i], x);
    if (e > 0.0f) {
      CMatrix3 next;
      KX_RETURN_IF_FAILED(Aim(i + 1, current, next));
      orientation = Slerp(orientation, next, e);
    }
  }
  matrix = Placed(orientation, scale, position);
  return kOk;
}

CBase* CLookAtControl::GetTargetAt(float time) {
  const float x = timeScale * time;
  const KeyNear near = FindKeyNear(x, aimTimes, 0);
  if (near.code == kKeyNone) return nullptr;
  if (near.code == kKeyBefore) {
    CSpatial* first = TargetOf(0);
    return IsPending(first) && BlendInto(0, 0.0f, x) > 0.0f ? first : nullptr;
  }
  const auto i = static_cast<size_t>(near.index);
  if (CSpatial* target = TargetOf(i); IsPending(target)) return target;
  if (i + 1 < aimTimes.size()) {
    CSpatial* next = TargetOf(i + 1);
    if (IsPending(next) && BlendInto(i + 1, aimTimes[i], x) > 0.0f) return next;
  }
  return nullptr;
}

}  // namespace KX
