#include "core/math/transform.h"

#include <cmath>
#include <numbers>

namespace KX {

CMatrix4 ComposeMatrix(const CVector3<float>& scale, const CMatrix3& rotation,
                       const CVector3<float>& position) {
  CMatrix4 m;
  m.SetRow(0, rotation.Row(0) * scale.x, 0.0f);
  m.SetRow(1, rotation.Row(1) * scale.y, 0.0f);
  m.SetRow(2, rotation.Row(2) * scale.z, 0.0f);
  m.SetRow(3, position, 1.0f);
  return m;
}

CMatrix4 ComposeMatrix(const CVector3<float>& scale, const CQuaternion& rotation,
                       const CVector3<float>& position) {
  return ComposeMatrix(scale, RotationFromQuaternion(rotation), position);
}

void DecomposeMatrix(const CMatrix4& m, CVector3<float>& scale, CMatrix3& rotation,
                     CVector3<float>& position) {
  const double det = Determinant3(UpperMatrix3(m));
  // A singular 3x3 has no handedness; reading it as unmirrored keeps every row that is there.
  const float sign = det < 0.0 ? -1.0f : 1.0f;
  float factors[3];
  CMatrix3 r;
  for (int i = 0; i < 3; ++i) {
    const CVector3<float> row = m.Row(i);
    factors[i] = Length(row) * sign;
    if (factors[i] != 0.0f && std::isfinite(factors[i])) {
      r.SetRow(i, row / factors[i]);
    }
    // else: r keeps the identity's row i; scaled by 0 it rebuilds the zero row.
  }
  scale = {factors[0], factors[1], factors[2]};
  rotation = r;
  position = m.Row(3);
}

void DecomposeMatrix(const CMatrix4& m, CVector3<float>& scale, CQuaternion& rotation,
                     CVector3<float>& position) {
  CMatrix3 r;
  DecomposeMatrix(m, scale, r, position);
  rotation = QuaternionFromRotation(r);
}

CVector3<float> EulerFromRotation(const CMatrix3& rot) {
  const auto& r = rot.m;
  constexpr double kHalfPi = std::numbers::pi / 2.0;
  double x, y, z;
  if (1.0 - std::fabs(double(r[0][2])) < 0.00001) {
    // cos y is 0: rows 1 and 2 only hold x - z (y = +pi/2) or x + z (y = -pi/2).
    y = r[0][2] < 0.0f ? kHalfPi : -kHalfPi;
    x = std::atan2(double(r[1][0]), double(r[2][0]));
    if (r[0][2] > 0.0f) x += std::numbers::pi;
    z = 0.0;
  } else {
    x = std::atan2(double(r[1][2]), double(r[2][2]));
    // r12 = sin x cos y and r22 = cos x cos y: divide by whichever of sin x, cos x is not near 0.
    const double cosY = std::fabs(std::fabs(x) - kHalfPi) < 0.00001 ? r[1][2] / std::sin(x)
                                                                     : r[2][2] / std::cos(x);
    y = std::atan2(-double(r[0][2]), cosY);
    z = std::atan2(double(r[0][1]), double(r[0][0]));
  }
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

CMatrix3 RotationFromEuler(const CVector3<float>& angles) {
  // Rx * Ry * Rz multiplied out.
  const double cx = std::cos(double(angles.x)), sx = std::sin(double(angles.x));
  const double cy = std::cos(double(angles.y)), sy = std::sin(double(angles.y));
  const double cz = std::cos(double(angles.z)), sz = std::sin(double(angles.z));
  const double a[3][3] = {{cy * cz, cy * sz, -sy},
                          {sx * sy * cz - cx * sz, sx * sy * sz + cx * cz, sx * cy},
                          {cx * sy * cz + sx * sz, cx * sy * sz - sx * cz, cx * cy}};
  CMatrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = static_cast<float>(a[i][j]);
  return r;
}

}  // namespace KX
