#include "core/math/matrix.h"

#include <cmath>

namespace KX {

CMatrix4 MatrixTranslation(const CVector3<float>& t) {
  CMatrix4 r;
  r.SetRow(3, t, 1.0f);
  return r;
}

CMatrix4 MatrixScaling(const CVector3<float>& s) {
  CMatrix4 r;
  r.m[0][0] = s.x;
  r.m[1][1] = s.y;
  r.m[2][2] = s.z;
  return r;
}

CMatrix3 UpperMatrix3(const CMatrix4& m) {
  CMatrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[i][j];
  return r;
}

CMatrix4 ToMatrix4(const CMatrix3& r) {
  CMatrix4 out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out.m[i][j] = r.m[i][j];
  return out;
}

void MatrixMultiply(CMatrix4& out, const CMatrix4& a, const CMatrix4& b) {
  // Built in a temporary: the controllers write `matrix = matrix * P` in place.
  CMatrix4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
  out = r;
}

CMatrix4 operator*(const CMatrix4& a, const CMatrix4& b) {
  CMatrix4 r;
  MatrixMultiply(r, a, b);
  return r;
}

CMatrix3 operator*(const CMatrix3& a, const CMatrix3& b) {
  CMatrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}

bool MatrixInverse(CMatrix4& out, const CMatrix4& m, float* determinant) {
  // Adjugate over 2x2 sub-determinants, in double: a transform chain with a small scale loses
  // most of its digits to cancellation in single precision.
  double a[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = m.m[i][j];

  // 2x2 determinants of the top two rows (s) and the bottom two rows (c).
  const double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  const double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  const double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  const double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  const double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  const double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  const double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
  const double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  const double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  const double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  const double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  const double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];

  const double det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (determinant) *determinant = static_cast<float>(det);

  CMatrix4 r;  // identity: the answer for a matrix without an inverse
  bool ok = det != 0.0 && std::isfinite(det);
  if (ok) {
    const double k = 1.0 / det;
    const double inv[4][4] = {
        {(a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) * k,
         (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) * k,
         (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) * k,
         (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) * k},
        {(-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) * k,
         (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) * k,
         (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) * k,
         (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) * k},
        {(a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) * k,
         (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) * k,
         (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) * k,
         (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) * k},
        {(-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) * k,
         (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) * k,
         (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) * k,
         (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) * k}};
    for (int i = 0; i < 4 && ok; ++i)
      for (int j = 0; j < 4 && ok; ++j) {
        r.m[i][j] = static_cast<float>(inv[i][j]);
        ok = std::isfinite(r.m[i][j]);
      }
    if (!ok) r = CMatrix4{};
  }
  out = r;
  return ok;
}

double Determinant3(const CMatrix3& r) {
  const auto& a = r.m;
  return double(a[0][0]) * (double(a[1][1]) * a[2][2] - double(a[1][2]) * a[2][1]) -
         double(a[0][1]) * (double(a[1][0]) * a[2][2] - double(a[1][2]) * a[2][0]) +
         double(a[0][2]) * (double(a[1][0]) * a[2][1] - double(a[1][1]) * a[2][0]);
}

CVector3<float> TransformCoord(const CVector3<float>& p, const CMatrix4& m) {
  const auto& a = m.m;
  const CVector3<float> v{p.x * a[0][0] + p.y * a[1][0] + p.z * a[2][0] + a[3][0],
                          p.x * a[0][1] + p.y * a[1][1] + p.z * a[2][1] + a[3][1],
                          p.x * a[0][2] + p.y * a[1][2] + p.z * a[2][2] + a[3][2]};
  const float w = p.x * a[0][3] + p.y * a[1][3] + p.z * a[2][3] + a[3][3];
  if (w == 0.0f || !std::isfinite(w)) return v;
  const CVector3<float> d{v.x / w, v.y / w, v.z / w};
  if (!std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.z)) return v;
  return d;
}

void TransformCoords(std::span<CVector3<float>> points, const CMatrix4& m) {
  const auto& a = m.m;
  if (a[0][3] != 0.0f || a[1][3] != 0.0f || a[2][3] != 0.0f || a[3][3] != 1.0f) {
    for (auto& p : points) p = TransformCoord(p, m);
    return;
  }
  // The last column is (0, 0, 0, 1): w is exactly 1 for a finite point, and dividing by it
  // changes nothing; for any other point w is NaN and the undivided values are answered too.
  for (auto& p : points) {
    const CVector3<float> v{p.x * a[0][0] + p.y * a[1][0] + p.z * a[2][0] + a[3][0],
                            p.x * a[0][1] + p.y * a[1][1] + p.z * a[2][1] + a[3][1],
                            p.x * a[0][2] + p.y * a[1][2] + p.z * a[2][2] + a[3][2]};
    p = v;
  }
}

bool TransformNormals(std::span<CVector3<float>> normals, const CMatrix4& m) {
  const CMatrix3 a = UpperMatrix3(m);
  const double det = Determinant3(a);
  if (!std::isfinite(det) || det == 0.0) return false;
  // (A^-1)^T is the cofactor matrix over the determinant; dividing keeps the sign, so that a
  // mirroring matrix still turns each normal to the side of the surface it stood on.
  const auto& e = a.m;
  auto cofactor = [&](int r, int c) {
    const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
    return (double(e[r1][c1]) * e[r2][c2] - double(e[r1][c2]) * e[r2][c1]) / det;
  };
  double n[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) n[r][c] = cofactor(r, c);
  for (auto& v : normals) {
    const double x = v.x * n[0][0] + v.y * n[1][0] + v.z * n[2][0];
    const double y = v.x * n[0][1] + v.y * n[1][1] + v.z * n[2][1];
    const double z = v.x * n[0][2] + v.y * n[1][2] + v.z * n[2][2];
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length)) continue;
    v = {static_cast<float>(x / length), static_cast<float>(y / length),
         static_cast<float>(z / length)};
  }
  return true;
}

CVector3<float> TransformVector(const CVector3<float>& v, const CMatrix3& r) {
  const auto& a = r.m;
  return {v.x * a[0][0] + v.y * a[1][0] + v.z * a[2][0],
          v.x * a[0][1] + v.y * a[1][1] + v.z * a[2][1],
          v.x * a[0][2] + v.y * a[1][2] + v.z * a[2][2]};
}

}  // namespace KX
