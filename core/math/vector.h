#pragma once
// Small fixed-size vectors. They are plain records: scene files carry whole arrays of them as raw
// little-endian floats, so the layout is exactly the components in order, nothing else.
#include <cmath>
#include <type_traits>

namespace KX {

template <typename T>
struct CVector3 {
  T x = T(0);
  T y = T(0);
  T z = T(0);

  constexpr CVector3& operator+=(const CVector3& o) { x += o.x; y += o.y; z += o.z; return *this; }
  constexpr CVector3& operator-=(const CVector3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
  constexpr CVector3& operator*=(T s) { x *= s; y *= s; z *= s; return *this; }
  constexpr CVector3& operator/=(T s) { x /= s; y /= s; z /= s; return *this; }

  friend constexpr CVector3 operator+(CVector3 a, const CVector3& b) { return a += b; }
  friend constexpr CVector3 operator-(CVector3 a, const CVector3& b) { return a -= b; }
  friend constexpr CVector3 operator-(const CVector3& a) { return {-a.x, -a.y, -a.z}; }
  friend constexpr CVector3 operator*(CVector3 a, T s) { return a *= s; }
  friend constexpr CVector3 operator*(T s, CVector3 a) { return a *= s; }
  friend constexpr CVector3 operator/(CVector3 a, T s) { return a /= s; }
  friend constexpr bool operator==(const CVector3&, const CVector3&) = default;
};

template <typename T>
struct CVector4 {
  T x = T(0);
  T y = T(0);
  T z = T(0);
  T w = T(0);

  friend constexpr bool operator==(const CVector4&, const CVector4&) = default;
};

static_assert(std::is_trivially_copyable_v<CVector3<float>> && std::is_standard_layout_v<CVector3<float>>);
static_assert(std::is_trivially_copyable_v<CVector4<float>> && std::is_standard_layout_v<CVector4<float>>);
static_assert(sizeof(CVector3<float>) == 12 && sizeof(CVector4<float>) == 16);

template <typename T>
constexpr T Dot(const CVector3<T>& a, const CVector3<T>& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

template <typename T>
constexpr CVector3<T> Cross(const CVector3<T>& a, const CVector3<T>& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

template <typename T>
T Length(const CVector3<T>& v) {
  // Squares of large single-precision components overflow long before the length does, so a
  // float vector is measured in double.
  using Wide = std::conditional_t<std::is_same_v<T, float>, double, T>;
  const Wide x = v.x, y = v.y, z = v.z;
  return static_cast<T>(std::sqrt(x * x + y * y + z * z));
}

// The unit vector along v. A vector of length 0 (or one whose length is not finite) has no
// direction and is returned unchanged, so geometry with collapsed faces stays finite.
template <typename T>
CVector3<T> Normalised(const CVector3<T>& v) {
  const T len = Length(v);
  if (!(len > T(0)) || !std::isfinite(len)) return v;
  // Divide rather than multiply by 1/len: the reciprocal of a tiny length overflows.
  return {v.x / len, v.y / len, v.z / len};
}

// a + u * (b - a), per component: the interpolation the controllers use for positions and scales.
template <typename T>
constexpr CVector3<T> Lerp(const CVector3<T>& a, const CVector3<T>& b, T u) {
  return {a.x + u * (b.x - a.x), a.y + u * (b.y - a.y), a.z + u * (b.z - a.z)};
}

}  // namespace KX
