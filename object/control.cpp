#include "object/control.h"

#include "object/archive.h"

#include <cmath>

#include "core/alloc.h"
#include "object/persist.h"

namespace KX {

KX_DEFINE_CLASS(CControl, CCorva, 2, 1)
KX_DEFINE_CLASS(CDataControl, CControl, 2, 0)

namespace {

// Blocks stored at this version or older carry the legacy timing fields.
constexpr int32_t kLegacyTimingVersion = 200;

}  // namespace

CControl::CControl(const CControl& other)
    : CChainLink(other),
      outOfRange(other.outOfRange),
      timeScale(other.timeScale),
      auxValue(other.auxValue),
      priority(other.priority),
      enabled(other.enabled) {}

Status CControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* control = KindOf<CControl>(target);
  if (!control) return kErrMalformed;
  control->outOfRange = outOfRange;
  control->owner = owner;
  control->timeScale = timeScale;
  control->auxValue = auxValue;
  control->priority = priority;
  control->enabled = enabled;
  ShareNextWith(*control, released);
  return kOk;
}

Status CControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("outOfRange", outOfRange);
  if (version <= kLegacyTimingVersion) {
    // The start time, a value that stands in for the priority until the link, and one dropped
    // value; the link sets both fields to what such blocks mean.
    float dropped = 0;
    ar("auxValue", auxValue)("priority", priority)("dropped", dropped);
    if (ar.Linking()) {
      priority = 0.0f;
      auxValue = 1.0f;
    }
  } else {
    ar("priority", priority)("auxValue", auxValue);
  }
  ar("timeScale", timeScale)("enabled", enabled).Ref("owner", owner).Ref("next", next);
  return ar.status();
}

float CControl::LegacyStartTime(const CReader& in) const {
  return in.record().StoredVersion(classRecord, in.StreamVersion()) <= kLegacyTimingVersion
             ? auxValue
             : 0.0f;
}

int64_t CControl::GetMemorySize() const { return CCorva::GetMemorySize() + 28; }

bool CControl::HasAttachments() const { return owner || CChainLink::HasAttachments(); }

void CControl::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  VisitChainLinks(visit);
}

void CControl::SetOwner(CCorva* object) {
  owner = object;
  modified = 1;
}

CBase* CControl::GetTargetAt(float) { return nullptr; }

void CControl::CollectActive(float start, float length, std::vector<float>& times,
                             std::vector<float>& priorities) {
  const float a = timeScale * start;
  const float e = timeScale * length + a;
  float from = 0.0f;
  if (a >= 0 && GetDuration() > a)
    from = start;
  else if (!(a < 0 && e > 0))
    return;
  // The two lists stay in step: when memory runs out the window is left out of both.
  if (Failed(TryAppend(times, from))) return;
  if (Failed(TryAppend(priorities, priority))) times.pop_back();
}

bool CControl::CheckStart(float& time, float limit, float level) {
  if (priority < level) return false;
  const float s = timeScale * time;
  if (s < 0 && s <= timeScale * limit) {
    time = -time;
    return true;
  }
  return false;
}

bool CControl::CheckEnd(float end, float& time, float level, bool& hit) {
  if (end < 0) return false;
  const float c = timeScale * time;
  const float e = timeScale * end;
  const float d = GetDuration();
  if (c > d) return false;
  if (priority != level) {
    if (priority > level && c < d && d < e) {
      time = d / timeScale;
      return true;
    }
    return false;
  }
  if (d < e && c < d) {
    time = d / timeScale;
  } else if (c < 0) {
    time = 0.0f;
  } else {
    return false;
  }
  hit = true;
  return true;
}

bool CControl::IsActiveAt(float) { return true; }
float CControl::GetPriorityAt(float) { return priority; }

float CControl::MapTime(float time, int32_t& cycles) const {
  cycles = 0;
  const float s = timeScale * time;
  if (outOfRange == kOutOfRangeNone || !(s > 0)) return s;
  const float d = GetDuration();
  if (!(d > 0)) return 0.0f;
  const float q = s / d;
  // A time so far past the duration that the quotient overflows has no phase: the start.
  if (!std::isfinite(q)) return 0.0f;
  const double whole = std::floor(static_cast<double>(q));
  const float phase = static_cast<float>(q - whole);
  // The cycle count only matters for its parity beyond what an int32 holds.
  cycles = whole < 2147483647.0 ? static_cast<int32_t>(whole)
                                : static_cast<int32_t>(std::fmod(whole, 2.0));
  if (outOfRange == kOutOfRangeLoop) return d * phase;
  return (cycles & 1) ? d - d * phase : d * phase;
}

// ---------------------------------------------------------------------------------------------

Status CDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

}  // namespace KX
