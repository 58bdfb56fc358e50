#include "control/rts_control.h"

#include <cmath>
#include <cstring>

#include "core/math/transform.h"
#include "object/archive.h"
#include "scene/node.h"

namespace KX {

KX_DEFINE_CLASS(CRTSControl, CControl, 2, 0)

namespace {

constexpr uint32_t kAllTranslation = kInheritTranslationX | kInheritTranslationY | kInheritTranslationZ;
constexpr uint32_t kAllRotation = kInheritRotationX | kInheritRotationY | kInheritRotationZ;
constexpr uint32_t kAllScale = kInheritScaleX | kInheritScaleY | kInheritScaleZ;

bool IsExactIdentity(const CMatrix4& m) {
  static const CMatrix4 identity;
  // Bytewise: a parent that merely compares equal (-0 entries) still goes through the product.
  return std::memcmp(&m, &identity, sizeof m) == 0;
}

void AddToTranslation(CMatrix4& m, const CVector3<float>& v) {
  m.m[3][0] += v.x;
  m.m[3][1] += v.y;
  m.m[3][2] += v.z;
}

}  // namespace

Status CRTSControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // The last computed transform is not stored, but goes with the copy.
  static_cast<CRTSControl*>(target)->matrix = matrix;
  return kOk;
}

Status CRTSControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

int64_t CRTSControl::GetMemorySize() const { return CControl::GetMemorySize() + 64; }

CSpatial* CRTSControl::SpatialOwner() const { return KindOf<CSpatial>(owner); }

Status CRTSControl::ApplyTransform() {
  CSpatial* spatial = SpatialOwner();
  if (!spatial) return kErrBadArgument;
  spatial->transform = matrix;
  return kOk;
}

// ---------------------------------------------------------------------------------------------

bool IsFinite(const CMatrix4& m) {
  for (const auto& row : m.m)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  return true;
}

CMatrix3 NormalisedRotation(const CMatrix4& m) {
  CMatrix3 r;
  for (int i = 0; i < 3; ++i) r.SetRow(i, DirectionOr(m.Row(i), {}));
  return r;
}

CVector3<float> DirectionOr(const CVector3<float>& a, const CVector3<float>& fallback) {
  const float len = Length(a);
  if (!(len > 1e-20f) || !std::isfinite(len)) return fallback;
  const CVector3<float> unit = a / len;
  return std::isfinite(unit.x) && std::isfinite(unit.y) && std::isfinite(unit.z) ? unit : fallback;
}

CMatrix3 RotationAboutAxis(const CVector3<float>& axis, float angle) {
  const float half = 0.5f * angle;
  const float s = std::sin(half);
  return RotationFromQuaternion({std::cos(half), axis.x * s, axis.y * s, axis.z * s});
}

ParentSpace ParentSpace::Of(const CMatrix4& parentMatrix, uint32_t flags) {
  ParentSpace space;
  if (IsExactIdentity(parentMatrix)) return space;
  space.parent = parentMatrix;
  if (flags == 0) {
    space.kind = kProduct;
    return space;
  }
  space.kind = kRestricted;
  // The parent's parts: translation, the lengths of its axes, and the axes' directions. A
  // collapsed axis has no direction; the identity's stands in for it.
  CVector3<float> p = parentMatrix.Translation();
  CVector3<float> s{Length(parentMatrix.Row(0)), Length(parentMatrix.Row(1)),
                    Length(parentMatrix.Row(2))};
  CMatrix3 r;
  for (int i = 0; i < 3; ++i) r.SetRow(i, DirectionOr(parentMatrix.Row(i), CMatrix3{}.Row(i)));

  if ((flags & kAllTranslation) != kAllTranslation) {
    if (!(flags & kInheritTranslationX)) p.x = 0;
    if (!(flags & kInheritTranslationY)) p.y = 0;
    if (!(flags & kInheritTranslationZ)) p.z = 0;
  }
  if ((flags & kAllRotation) != kAllRotation) {
    CVector3<float> angles = EulerFromRotation(r);
    if (!(flags & kInheritRotationX)) angles.x = 0;
    if (!(flags & kInheritRotationY)) angles.y = 0;
    if (!(flags & kInheritRotationZ)) angles.z = 0;
    // A parent with non-finite axes has no angles to keep.
    if (!std::isfinite(angles.x) || !std::isfinite(angles.y) || !std::isfinite(angles.z))
      angles = {};
    r = RotationFromEuler(angles);
  }
  if ((flags & kAllScale) != kAllScale) {
    if (!(flags & kInheritScaleX)) s.x = 1;
    if (!(flags & kInheritScaleY)) s.y = 1;
    if (!(flags & kInheritScaleZ)) s.z = 1;
  }
  space.keptTranslation = p;
  space.kept = ComposeMatrix(s, r, {});
  MatrixInverse(space.keptInverse, space.kept);
  return space;
}

ParentSpace ParentSpace::OfParentOf(const CSpatial& object) {
  if (!object.parent) return {};
  return Of(object.parent->transform, object.flags);
}

CMatrix4 ParentSpace::Combine(const CMatrix4& local) const {
  switch (kind) {
    case kIdentity:
      return local;
    case kProduct:
      return local * parent;
    case kRestricted:
      break;
  }
  CMatrix4 m = local;
  const CVector3<float> t = m.Translation();
  m.SetRow(3, {}, m.m[3][3]);
  m = m * keptInverse;
  AddToTranslation(m, t);
  m = m * parent;
  AddToTranslation(m, -keptTranslation);
  return m;
}

CMatrix4 ParentSpace::Separate(const CMatrix4& world) const {
  if (kind == kIdentity) return world;
  // Only separating needs the parent's inverse; combining, which every keyed evaluation does,
  // does not pay for it.
  CMatrix4 parentInverse;
  MatrixInverse(parentInverse, parent);
  if (kind == kProduct) return world * parentInverse;
  CMatrix4 m = world;
  AddToTranslation(m, keptTranslation);
  m = m * parentInverse;
  const CVector3<float> t = m.Translation();
  m.SetRow(3, {}, m.m[3][3]);
  m = m * kept;
  AddToTranslation(m, t);
  return m;
}

}  // namespace KX
