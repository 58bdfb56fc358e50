#include "control/share_control.h"

#include "core/math/transform.h"
#include "object/archive.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CShareControl, CRTSControl, 2, 1)

namespace {

// An entry starts this much early, so that a time rounded to just before it still uses it.
constexpr float kStartSlack = 0.016666668f;

CVector3<float> Times(const CVector3<float>& a, const CVector3<float>& b) {
  return {a.x * b.x, a.y * b.y, a.z * b.z};
}

}  // namespace

Status CShareControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CShareControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  ar.Version(classRecord);
  ar.RefList("sources", sources).Counted("shareEntries", shareEntries);
  ar("positionFactor", positionFactor)("rotationFactor", rotationFactor);
  ar("scaleFactor", scaleFactor);
  return ar.status();
}

int64_t CShareControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 2 * 16 + RefListSize(sources) +
         CountedSize(shareEntries) + 3 * 12;
}

void CShareControl::VisitReferences(CReferenceVisitor& visit) {
  CRTSControl::VisitReferences(visit);
  visit.Each(sources, kRetarget);
}

Status CShareControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  const CSpatial* self = SpatialOwner();
  if (!self) return kErrBadArgument;
  const float x = timeScale * time;
  const ShareEntry* entry = nullptr;
  size_t index = 0;
  for (size_t i = 0; i < shareEntries.size(); ++i) {
    if (!(x + kStartSlack > timeScale * shareEntries[i].startTime)) break;
    entry = &shareEntries[i];
    index = i;
  }
  if (!entry) return kErrMalformed;
  const CSpatial* source = index < sources.size() ? sources[index] : nullptr;
  if (IsPending(source)) return kErrPending;

  // The source's own animation, without what its parent adds.
  const CMatrix4 local = source ? ParentSpace::OfParentOf(*source).Separate(source->transform)
                                : self->GetLocalMatrix();
  CVector3<float> scale, position;
  CMatrix3 rotation;
  DecomposeMatrix(local, scale, rotation, position);
  if (entry->copyScale) scale = scale * entry->scaleFactor;
  position = Times(position, positionFactor);
  scale = Times(scale, scaleFactor);
  // Unit factors keep the rotation exactly as it is instead of passing it through angles.
  if (!(rotationFactor == CVector3<float>{1.0f, 1.0f, 1.0f}))
    rotation = RotationFromEuler(Times(EulerFromRotation(rotation), rotationFactor));
  const CMatrix4 shared = ComposeMatrix(scale, rotation, position);
  // Placed in the owner's own parent space, as a keyed pose would be.
  const CMatrix4 world = ParentSpace::OfParentOf(*self).Combine(shared);
  if (IsFinite(world)) matrix = world;
  return kOk;
}

}  // namespace KX
