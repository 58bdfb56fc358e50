#pragma once
#include <gtest/gtest.h>

#include <cmath>

#include "core/math/matrix.h"
#include "core/math/quaternion.h"

namespace KX::test {

inline constexpr float kHalfSqrt2 = 0.70710678f;

// Rows given the way they are written on paper.
inline CMatrix3 Rows3(CVector3<float> r0, CVector3<float> r1, CVector3<float> r2) {
  CMatrix3 m;
  m.SetRow(0, r0);
  m.SetRow(1, r1);
  m.SetRow(2, r2);
  return m;
}

inline ::testing::AssertionResult Near(const CVector3<float>& a, const CVector3<float>& b,
                                       float tol = 1e-5f) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                       << b.x << ", " << b.y << ", " << b.z << ")";
}

inline ::testing::AssertionResult Near(const CQuaternion& a, const CQuaternion& b,
                                       float tol = 1e-5f) {
  if (std::fabs(a.w - b.w) <= tol && std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol &&
      std::fabs(a.z - b.z) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.w << ", " << a.x << ", " << a.y << ", " << a.z
                                       << ") vs (" << b.w << ", " << b.x << ", " << b.y << ", "
                                       << b.z << ")";
}

template <typename M>
::testing::AssertionResult NearM(const M& a, const M& b, float tol = 1e-5f) {
  constexpr int n = sizeof(a.m) / sizeof(a.m[0]);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (!(std::fabs(a.m[i][j] - b.m[i][j]) <= tol))
        return ::testing::AssertionFailure() << "element [" << i << "][" << j << "]: " << a.m[i][j]
                                             << " vs " << b.m[i][j];
  return ::testing::AssertionSuccess();
}

template <typename M>
bool AllFinite(const M& a) {
  constexpr int n = sizeof(a.m) / sizeof(a.m[0]);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (!std::isfinite(a.m[i][j])) return false;
  return true;
}

}  // namespace KX::test
