#pragma once
// Rest transforms: a scale along the local axes, then a rotation, then a translation, as one
// row-vector matrix (p * M = translate(rotate(scale(p)))), and the way back.
#include "core/math/matrix.h"
#include "core/math/quaternion.h"

namespace KX {

// Rows (sx * R0, 0), (sy * R1, 0), (sz * R2, 0), (position, 1).
CMatrix4 ComposeMatrix(const CVector3<float>& scale, const CMatrix3& rotation,
                       const CVector3<float>& position);
CMatrix4 ComposeMatrix(const CVector3<float>& scale, const CQuaternion& rotation,
                       const CVector3<float>& position);

// Splits the rows r0, r1, r2, r3 of m into scale, rotation and position:
//   s = sign of the determinant of the 3x3 part,
//   scale = (|r0| s, |r1| s, |r2| s)   - a mirroring turns all three factors negative,
//   rotation rows = ri / (|ri| s)      - a proper rotation even for a mirrored matrix,
//   position = r3.
// A matrix whose 3x3 part has determinant 0 (a flattened or collapsed object) mirrors nothing and
// is read with s = +1; a zero-length row gets scale 0 and the identity's row as its rotation row.
// So every input gives finite values, and ComposeMatrix of the parts rebuilds the 3x3 part of m
// (up to rounding) whatever its determinant. Column 3 of m is not read.
void DecomposeMatrix(const CMatrix4& m, CVector3<float>& scale, CMatrix3& rotation,
                     CVector3<float>& position);
void DecomposeMatrix(const CMatrix4& m, CVector3<float>& scale, CQuaternion& rotation,
                     CVector3<float>& position);

// Euler angles (x, y, z) in radians of a rotation r = Rx(x) * Ry(y) * Rz(z), where
//   Rx(a) rows (1, 0, 0), (0, cos a, sin a), (0, -sin a, cos a)
//   Ry(a) rows (cos a, 0, -sin a), (0, 1, 0), (sin a, 0, cos a)
//   Rz(a) rows (cos a, sin a, 0), (-sin a, cos a, 0), (0, 0, 1).
// Near the poles (1 - |r02| < 0.00001) only x +- z is determined; z is then 0 and x carries it
// (the x found there may lie outside (-pi, pi], which names the same rotation).
CVector3<float> EulerFromRotation(const CMatrix3& r);
CMatrix3 RotationFromEuler(const CVector3<float>& angles);

}  // namespace KX
