#pragma once
// Single-precision matrices for row vectors: a point p is transformed as p * M, so the rows of the
// 3x3 part are the images of the x, y and z axes and a 4x4 carries its translation in row 3
// (m[3][0..2], elements 12..14 in memory). Files store them as 9 or 16 floats in row order.
#include <span>
#include <type_traits>

#include "core/math/vector.h"

namespace KX {

struct CMatrix3 {
  float m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  CVector3<float> Row(int i) const { return {m[i][0], m[i][1], m[i][2]}; }
  void SetRow(int i, const CVector3<float>& r) { m[i][0] = r.x; m[i][1] = r.y; m[i][2] = r.z; }
  friend constexpr bool operator==(const CMatrix3&, const CMatrix3&) = default;
};

struct CMatrix4 {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

  // The first three elements of row i: an axis for i < 3, the translation for i == 3.
  CVector3<float> Row(int i) const { return {m[i][0], m[i][1], m[i][2]}; }
  void SetRow(int i, const CVector3<float>& r, float w) {
    m[i][0] = r.x; m[i][1] = r.y; m[i][2] = r.z; m[i][3] = w;
  }
  CVector3<float> Translation() const { return Row(3); }
  friend constexpr bool operator==(const CMatrix4&, const CMatrix4&) = default;
};

static_assert(std::is_trivially_copyable_v<CMatrix3> && std::is_standard_layout_v<CMatrix3>);
static_assert(std::is_trivially_copyable_v<CMatrix4> && std::is_standard_layout_v<CMatrix4>);
static_assert(sizeof(CMatrix3) == 36 && sizeof(CMatrix4) == 64);

// A default-constructed matrix is the identity; these name the common constructions.
inline CMatrix4 MatrixIdentity() { return CMatrix4{}; }
CMatrix4 MatrixTranslation(const CVector3<float>& t);
CMatrix4 MatrixScaling(const CVector3<float>& s);

// The 3x3 part of m, and a 3x3 placed in an identity 4x4 (zero translation, (0,0,0,1) column).
CMatrix3 UpperMatrix3(const CMatrix4& m);
CMatrix4 ToMatrix4(const CMatrix3& r);

// out = a * b (apply a, then b). out may be the same object as a, b or both.
void MatrixMultiply(CMatrix4& out, const CMatrix4& a, const CMatrix4& b);
CMatrix4 operator*(const CMatrix4& a, const CMatrix4& b);
CMatrix3 operator*(const CMatrix3& a, const CMatrix3& b);

// General inverse. When determinant is given it receives the determinant of m in every case.
// A matrix whose determinant is exactly 0 or not finite, or whose inverse does not fit in floats,
// has no usable inverse: the answer is false and out becomes the identity, so that a caller who
// multiplies by the result without checking keeps its other factor instead of spreading NaN.
// Otherwise the answer is true. out may be the same object as m.
bool MatrixInverse(CMatrix4& out, const CMatrix4& m, float* determinant = nullptr);

// Determinant of the 3x3 part, in double so that its sign is trustworthy.
double Determinant3(const CMatrix3& r);

// Transforms a point: (x, y, z, 1) * m, divided by the resulting w. A w of 0 (or a division that
// would not be finite) cannot be divided by: the undivided x, y, z are answered. For the affine
// matrices of the scene graph w is always 1 and both readings agree.
CVector3<float> TransformCoord(const CVector3<float>& p, const CMatrix4& m);

// TransformCoord of every point, in place: the same answers, without the division where the
// matrix is affine.
void TransformCoords(std::span<CVector3<float>> points, const CMatrix4& m);

// Turns surface normals the way m moves the surface they belong to: each becomes n * (A^-1)^T,
// A being m's 3x3 part, made unit length again (zero normals stay zero). When A has no inverse
// (it flattens space, or holds values that are not finite) the normals are left as they are and
// the answer is false.
bool TransformNormals(std::span<CVector3<float>> normals, const CMatrix4& m);

// Rotates (or scales) a direction: v * r, no translation.
CVector3<float> TransformVector(const CVector3<float>& v, const CMatrix3& r);

}  // namespace KX
