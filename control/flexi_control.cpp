#include "control/flexi_control.h"

#include <algorithm>
#include <cmath>

#include "core/alloc.h"
#include "object/archive.h"
#include "object/ref_list.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CFlexiData, CCorva, 2, 0)
KX_DEFINE_CLASS(CFlexiControl, CRTSControl, 2, 0)

namespace {

const float kFourPi = static_cast<float>(16.0 * std::atan(1.0));

// The simulation runs in milliseconds, at 60 fixed steps per second. A jump of more than
// kCatchUpLimit is not played through: the simulation restarts kRestartLead before the new time.
constexpr float kStepMs = 1000.0f / 60.0f;
constexpr float kCatchUpLimit = 160.0f;
constexpr float kRestartLead = 16.0f;
// More steps than a catch-up can need; it also ends the loop where float steps stop advancing.
constexpr int kMaxStepsPerCall = 12;
constexpr int kConstraintPasses = 4;

bool Finite(const CVector3<float>& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float Clamped(float value, float low, float high, float fallback) {
  return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

// A fixed number of values stored one after another, listed as one list.
template <size_t N>
void FixedValues(CArchive& ar, const char* name, std::array<uint32_t, N>& values) {
  if (ar.Loading())
    ar.reader().Read(values);
  else if (ar.Saving())
    ar.writer().FieldArray(name, std::span<const uint32_t>(values));
}

}  // namespace

CFlexiData::CFlexiData() : flexiValue8(kFourPi) {}

CFlexiData::CFlexiData(const CFlexiData& other)
    : CCorva(other),
      flexiRecords(other.flexiRecords),
      flexiMatrices(other.flexiMatrices),
      flexiObjects(other.flexiObjects),
      flexiValues(other.flexiValues),
      flexiFlag(other.flexiFlag),
      flexiValue7(other.flexiValue7),
      flexiValue8(other.flexiValue8),
      flexiVector1(other.flexiVector1),
      flexiVector2(other.flexiVector2),
      flexiPair(other.flexiPair) {}

CFlexiData::~CFlexiData() = default;

Status CFlexiData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The fixed value lists are stated straight to the reader and the writer.
  auto* chain = static_cast<CFlexiData*>(target);
  chain->flexiValues = flexiValues;
  chain->flexiPair = flexiPair;
  return kOk;
}

Status CFlexiData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar.Counted("flexiRecords", flexiRecords).Counted("flexiMatrices", flexiMatrices);
  ar.RefList("flexiObjects", flexiObjects);
  FixedValues(ar, "flexiValues", flexiValues);
  ar("flexiFlag", flexiFlag)("flexiValue7", flexiValue7)("flexiValue8", flexiValue8);
  // Values below 4π are lifted by 4π. Lifting by whole turns of 4π into [4π, 8π) gives the same
  // result for every value from 0 up and keeps a loaded value where the next load finds it, so
  // that negative values do not creep upwards with every save and load.
  if (ar.Loading() && ar.ok() && std::isfinite(flexiValue8) && flexiValue8 < kFourPi) {
    float turns = std::fmod(flexiValue8, kFourPi);
    if (turns < 0) turns += kFourPi;
    flexiValue8 = kFourPi + turns;
    if (!(flexiValue8 >= kFourPi)) flexiValue8 = kFourPi;  // rounding at the edge
  }
  ar("flexiVector1", flexiVector1)("flexiVector2", flexiVector2);
  FixedValues(ar, "flexiPair", flexiPair);
  return ar.status();
}

int64_t CFlexiData::GetMemorySize() const {
  return CCorva::GetMemorySize() + 77 + 3 * 16 + CountedSize(flexiRecords) +
         CountedSize(flexiMatrices) + RefListSize(flexiObjects) + CountedSize(points);
}

void CFlexiData::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  // A copied chain keeps the objects that were copied with it.
  visit.Each(flexiObjects, kRetarget);
  for (Point& point : points) visit(point.control);
}

size_t CFlexiData::Register(CFlexiControl* control, const CVector3<float>& animated, bool restart) {
  auto it = std::find_if(points.begin(), points.end(),
                         [&](const Point& p) { return p.control == control; });
  if (it == points.end()) {
    points.push_back({control, animated, animated, animated});
    return points.size() - 1;
  }
  it->animated = animated;
  if (restart) it->position = it->previous = animated;
  return static_cast<size_t>(it - points.begin());
}

void CFlexiData::Unregister(const CFlexiControl* control) {
  std::erase_if(points, [&](const Point& p) { return p.control == control; });
}

bool CFlexiData::IsDriver(const CFlexiControl* control) const {
  return !points.empty() && points.back().control == control;
}

void CFlexiData::Step() {
  if (points.empty()) return;
  points[0].position = points[0].previous = points[0].animated;
  for (size_t k = 1; k < points.size(); ++k) {
    Point& p = points[k];
    const FlexiSettings defaults;
    const FlexiSettings& s = p.control ? p.control->settings : defaults;
    // A pull of at least a little keeps every point coming back to its animated position.
    const float pull = Clamped(s.stiffness, 0.001f, 1.0f, defaults.stiffness);
    const float keep = 1.0f - Clamped(s.damping, 0.0f, 1.0f, defaults.damping);
    const CVector3<float> moved = p.position + (p.position - p.previous) * keep;
    p.previous = p.position;
    p.position = moved + (p.animated - moved) * pull;
  }
  for (int pass = 0; pass < kConstraintPasses; ++pass) {
    for (size_t k = 1; k < points.size(); ++k) {
      Point& p = points[k];
      const Point& q = points[k - 1];
      const CVector3<float> rest = p.animated - q.animated;
      const CVector3<float> link = p.position - q.position;
      const float length = Length(link);
      p.position =
          length > 1e-12f ? q.position + link * (Length(rest) / length) : q.position + rest;
    }
  }
  for (Point& p : points)
    if (!Finite(p.position) || !Finite(p.previous)) p.position = p.previous = p.animated;
}

// ---------------------------------------------------------------------------------------------

CFlexiControl::CFlexiControl(const CFlexiControl& other)
    : CRTSControl(other), data(other.data), settings(other.settings) {}

CFlexiControl::~CFlexiControl() {
  if (data) data->Unregister(this);
}

void CFlexiControl::SetData(CFlexiData* chain) {
  if (data == chain) return;
  if (data) data->Unregister(this);
  data = chain;
  started = false;
}

Status CFlexiControl::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CRTSControl::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CFlexiControl*>(out.get());
  if (data) {
    // Through the map, so that the copies of one chain's controllers share one copied chain.
    CRefPtr<CBase> chain;
    KX_RETURN_IF_FAILED(data->Duplicate(chain, map));
    copy->SetData(static_cast<CFlexiData*>(chain.get()));
  }
  return kOk;
}

Status CFlexiControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The chain is stated through a local: the target joins it through SetData, which leaves the
  // chain it held, and hands that one back.
  auto* flexi = static_cast<CFlexiControl*>(target);
  if (flexi->data && flexi->data != data)
    KX_RETURN_IF_FAILED(TryAppend(released, flexi->data.get()));
  flexi->SetData(data.get());
  return kOk;
}

Status CFlexiControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  ar.Version(classRecord);
  // The linked chain is joined through SetData, which leaves the one held before.
  CFlexiData* chain = data.get();
  ar.Ref("data", chain);
  if (ar.Linking()) SetData(chain);
  ar("settings", settings);
  return ar.status();
}

int64_t CFlexiControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 4 + sizeof(FlexiSettings) + 8;
}

bool CFlexiControl::HasAttachments() const {
  return data || CRTSControl::HasAttachments();
}

void CFlexiControl::VisitReferences(CReferenceVisitor& visit) {
  CRTSControl::VisitReferences(visit);
  // Searched, collected and remapped with the controller; the chain binds no names.
  visit(data, kSearch | kCollect | kRemap);
}

CMatrix4 CFlexiControl::AnimatedPose() const {
  const CSpatial* self = SpatialOwner();
  for (CControl* c = self->controllers.get(); c && c != this; c = c->next.get())
    if (const auto* rts = KindOf<CRTSControl>(c)) return rts->matrix;
  return ParentSpace::OfParentOf(*self).Combine(self->GetLocalMatrix());
}

Status CFlexiControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  if (!SpatialOwner()) return kErrBadArgument;
  const CMatrix4 animated = AnimatedPose();
  const float now = time * 1000.0f;
  bool restart = false;
  if (!started || time == 0.0f) {
    simulationTime = now;
    started = true;
    restart = true;
  }
  matrix = animated;
  if (!data) return kNothingDone;
  size_t index = 0;
  KX_RETURN_IF_FAILED(
      TryAllocate([&] { index = data->Register(this, animated.Translation(), restart); }));
  if (data->IsDriver(this) && std::isfinite(now) && std::isfinite(simulationTime)) {
    const float ahead = now - simulationTime;
    if (std::fabs(ahead) > kCatchUpLimit)
      simulationTime = ahead > 0 ? now - kRestartLead : now + kRestartLead;
    const float step = now >= simulationTime ? kStepMs : -kStepMs;
    for (int n = 0; n < kMaxStepsPerCall && std::fabs(now - simulationTime) >= kStepMs; ++n) {
      simulationTime += step;
      data->Step();
    }
    simulationTime = now;
  }
  matrix.Mutable().SetRow(3, data->points[index].position, animated.m[3][3]);
  return kNothingDone;
}

}  // namespace KX
