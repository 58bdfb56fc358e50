#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/math/matrix.h"
#include "core/math/quaternion.h"

namespace KX::test {

inline constexpr float kHalfSqrt2 = 0.70710678f;

inline CMatrix3 Rows3(CVector3<float> r0, CVector3<float> r1, CVector3<float> r2) {
  CMatrix3 m;
  m.SetRow(0, r0);
  m.SetRow(1, r1);
  m.SetRow(2, r2);
  return m;
}

// Every math record is a packed run of floats, so one comparison serves them all.
template <typename T>
::testing::AssertionResult Near(const T& a, const T& b, float tol = 1e-5f) {
  constexpr int n = sizeof(T) / sizeof(float);
  float fa[n], fb[n];
  std::memcpy(fa, &a, sizeof a);
  std::memcpy(fb, &b, sizeof b);
  for (int i = 0; i < n; ++i)
    if (!(std::fabs(fa[i] - fb[i]) <= tol))
      return ::testing::AssertionFailure() << "float " << i << ": " << fa[i] << " vs " << fb[i];
  return ::testing::AssertionSuccess();
}

template <typename T>
bool AllFinite(const T& a) {
  float f[sizeof(T) / sizeof(float)];
  std::memcpy(f, &a, sizeof a);
  for (float v : f)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace KX::test
