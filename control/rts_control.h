#pragma once
// Transform controllers: controllers that compute the 4x4 transform of a spatial object for a
// time and write it into the object's `transform`. This file holds their common base and the
// matrix helpers they share (the combination with a parent's transform under the inheritance
// flags of the owner, and its inverse).
#include "object/control.h"
#include "core/held_value.h"
#include "core/math/matrix.h"
#include "core/math/quaternion.h"

namespace KX {

class CSpatial;

class CRTSControl : public CControl {
  KX_DECLARE_CLASS(CRTSControl)

 public:
  // The last computed transform; never saved.
  CHeldValue<CMatrix4> matrix;

  CRTSControl() = default;
  CRTSControl(const CRTSControl&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Transform controllers do their work in EvaluateTransform; the data pass has nothing for them.
  Status Update(float) override { return kNothingDone; }

  // Copies `matrix` into the owner's transform; kErrBadArgument without a spatial owner.
  Status ApplyTransform() override;
  Status ApplyData() override { return kNothingDone; }

  // The owner when it is a spatial object, else null.
  CSpatial* SpatialOwner() const;
};

// True when every element is a finite number.
bool IsFinite(const CMatrix4& m);

// How a child's matrix is carried into its parent's space. Without inheritance restrictions (flags
// 0) it is the plain product local * parent. A set bit of the child's flags keeps that part of the
// parent's transform (translation, rotation or scale, per axis) away from the child's own axes:
// the child's axes are first taken out of the kept parts (Q), then the whole parent carries the
// child, and the parent translation that is kept away (p) is taken off again.
struct ParentSpace {
  enum Kind { kIdentity, kProduct, kRestricted };
  Kind kind = kIdentity;
  CMatrix4 parent;  // the parent's world transform
  CMatrix4 kept;    // Q: rotation and scale the child's axes are taken out of
  CMatrix4 keptInverse;
  CVector3<float> keptTranslation;  // p

  // The space of `parent` for a child with inheritance `flags`.
  static ParentSpace Of(const CMatrix4& parent, uint32_t flags);
  // The space of an object's parent under the object's own flags; identity without a parent.
  static ParentSpace OfParentOf(const CSpatial& object);

  // local -> world.
  CMatrix4 Combine(const CMatrix4& local) const;
  // world -> local. Singular parents cannot be undone; the identity stands in for their inverse,
  // so the answer stays finite for finite input.
  CMatrix4 Separate(const CMatrix4& world) const;
};

// Rows scaled to unit length (zero rows stay zero); row 3 zero, (0,0,0,1) column.
CMatrix3 NormalisedRotation(const CMatrix4& m);

// Rotation by `angle` radians about the unit axis `axis`, row-vector form.
CMatrix3 RotationAboutAxis(const CVector3<float>& axis, float angle);

// a / |a|, or `fallback` when a has no usable direction.
CVector3<float> DirectionOr(const CVector3<float>& a, const CVector3<float>& fallback);

}  // namespace KX
