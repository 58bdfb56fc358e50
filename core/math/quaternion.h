#pragma once
// Rotation quaternions, held as (w, x, y, z) - the order in which files store them, four floats,
// w first. A default-constructed quaternion is the identity rotation (1, 0, 0, 0).
#include <type_traits>

#include "core/math/matrix.h"

namespace KX {

struct CQuaternion {
  float w = 1.0f;
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  friend constexpr bool operator==(const CQuaternion&, const CQuaternion&) = default;
};

static_assert(std::is_trivially_copyable_v<CQuaternion> && std::is_standard_layout_v<CQuaternion>);
static_assert(sizeof(CQuaternion) == 16);

// The rotation of the 3x3 part of m (row-vector form; row 3 and column 3 are not read, the matrix is
// taken as that 3x3 in an identity 4x4). With t the trace of the 3x3: when t > 0 the w component
// is derived first; otherwise the largest diagonal element picks x, y or z as the one derived
// first. The input is not orthonormalised and the result not normalised.
CQuaternion QuaternionFromMatrix(const CMatrix4& m);
CQuaternion QuaternionFromRotation(const CMatrix3& r);

// The rotation matrix of q in row-vector form:
//   row 0 = (1 - 2(y^2 + z^2), 2(xy + wz),         2(xz - wy))
//   row 1 = (2(xy - wz),         1 - 2(x^2 + z^2), 2(yz + wx))
//   row 2 = (2(xz + wy),         2(yz - wx),         1 - 2(x^2 + y^2))
// q is used as it is (not normalised); QuaternionFromRotation inverts it for unit quaternions.
CMatrix3 RotationFromQuaternion(const CQuaternion& q);
CMatrix4 MatrixFromQuaternion(const CQuaternion& q);

// Spherical interpolation from a (t = 0) to b (t = 1) along the shorter arc: when a . b < 0, b's
// weight is negated. When the two are nearly parallel (1 - |a . b| <= 0.001) the weights are the
// linear (1 - t, t). The result is not normalised. Opposite quaternions (a . b = -1) therefore give
// (1 - t) a - t b, which for b = -a is a: the same rotation, finite.
CQuaternion QuaternionSlerp(const CQuaternion& a, const CQuaternion& b, float t);

// The conjugate of q divided by its squared norm. A quaternion of norm 0 (or one whose norm or
// inverse is not finite) has no inverse: the answer is false and out becomes the identity
// (1, 0, 0, 0). Otherwise true. out may be the same object as q.
bool QuaternionInverse(CQuaternion& out, const CQuaternion& q);

// The rotation `first` followed by the rotation `second`, matching the matrices:
// RotationFromQuaternion(QuaternionMultiply(a, b)) == RotationFromQuaternion(a) * RotationFromQuaternion(b).
CQuaternion QuaternionMultiply(const CQuaternion& first, const CQuaternion& second);

}  // namespace KX
