#include "control/spring_control.h"

#include <algorithm>
#include <cmath>

#include "object/archive.h"
#include "object/ref_list.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CSpringControl, CRTSControl, 2, 0)

namespace {

// Beyond this the spring is as good as rigid, and larger products would overflow.
constexpr float kMaxFrequency = 10000.0f;

bool Finite(const CVector3<float>& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A usable frequency, or 0 for a rigid spring.
float Frequency(float f) { return std::isfinite(f) && f > 0.0f ? std::min(f, kMaxFrequency) : 0.0f; }

}  // namespace

Status CSpringControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CSpringControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  ar.Version(classRecord);
  ar.Counted("values1", values1).Counted("values2", values2).Counted("values3", values3);
  ar.Counted("settings", settings);
  return ar.status();
}

int64_t CSpringControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 5 * 68 + 12 + CountedSize(values1) +
         CountedSize(values2) + CountedSize(values3) + CountedSize(settings);
}

void CSpringControl::Seed(const CMatrix4& pose, float time) {
  for (int i = 0; i < 5; ++i) {
    history[i] = pose;
    historyTimes[i] = time;
  }
  velocity = {};
}

void CSpringControl::Push(const CMatrix4& pose, float time) {
  for (int i = 4; i > 0; --i) {
    history[i] = history[i - 1];
    historyTimes[i] = historyTimes[i - 1];
  }
  history[0] = pose;
  historyTimes[0] = time;
}

Status CSpringControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const CSpatial* self = SpatialOwner();
  if (!self) return kErrBadArgument;
  // What the controllers before this one made of the owner: the pose the spring pulls toward.
  const CMatrix4 animated = self->transform;
  const bool unseeded = std::all_of(std::begin(historyTimes), std::end(historyTimes),
                                    [](float t) { return t == 0.0f; });
  const float dt = time - historyTimes[0];
  // A fresh start, a step back in time or a pose that cannot be followed starts over at the
  // animated pose.
  if (unseeded || !(dt >= 0.0f) || !std::isfinite(dt) || !IsFinite(animated)) {
    Seed(animated, time);
    matrix = animated;
    return kOk;
  }
  if (dt == 0.0f) {
    matrix = history[0];
    return kOk;
  }

  const SpringSetting* setting = settings.empty() ? nullptr : &settings.front();
  for (const SpringSetting& s : settings)
    if (s.startTime <= time) setting = &s;
  const float omega = setting ? Frequency(setting->frequency) : 0.0f;

  // Critically damped: with e the offset from the animated position and v its rate, the exact
  // solution over dt is e' = (e + (v + w e) dt) exp(-w dt), v' = (v - w (v + w e) dt) exp(-w dt).
  const CVector3<float> goal = animated.Translation();
  CVector3<float> position = goal;
  if (omega > 0.0f) {
    const CVector3<float> e = history[0].Translation() - goal;
    const CVector3<float> carried = (velocity + omega * e) * dt;
    const float decay = std::exp(-omega * dt);
    const CVector3<float> nextOffset = (e + carried) * decay;
    const CVector3<float> nextVelocity = (velocity - omega * carried) * decay;
    if (Finite(nextOffset) && Finite(nextVelocity)) {
      position = goal + nextOffset;
      velocity = nextVelocity;
    } else {
      velocity = {};
    }
  } else {
    velocity = {};
  }

  CMatrix4 pose = animated;
  pose.SetRow(3, position, animated.m[3][3]);
  const float turnRate = setting ? Frequency(setting->rotationFrequency) : 0.0f;
  if (setting && setting->mode == 1 && turnRate > 0.0f) {
    const CMatrix3 from = NormalisedRotation(history[0]);
    const CMatrix3 to = NormalisedRotation(animated);
    CQuaternion q = QuaternionSlerp(QuaternionFromRotation(from), QuaternionFromRotation(to),
                                    1.0f - std::exp(-turnRate * dt));
    const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (n > 0.0f && std::isfinite(n)) {
      q = {q.w / n, q.x / n, q.y / n, q.z / n};
      const CMatrix3 r = RotationFromQuaternion(q);
      // The animated pose's axis lengths stay: only the direction trails.
      for (int i = 0; i < 3; ++i) pose.SetRow(i, r.Row(i) * Length(animated.Row(i)), animated.m[i][3]);
    }
  }
  if (!IsFinite(pose)) pose = animated;
  Push(pose, time);
  matrix = pose;
  return kOk;
}

}  // namespace KX
