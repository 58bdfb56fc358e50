#include "core/math/quaternion.h"

#include <cmath>

namespace KX {
namespace {

// The quaternion routines below keep the (x, y, z, w) component order in which their algorithms are
// usually written. Storage order (w, x, y, z) is translated here and nowhere else; the public
// functions convert on the way in and out.
struct QuatXYZW {
  float x, y, z, w;
};

QuatXYZW ToXYZW(const CQuaternion& q) { return {q.x, q.y, q.z, q.w}; }
CQuaternion FromXYZW(const QuatXYZW& q) { return {q.w, q.x, q.y, q.z}; }

float Dot(const QuatXYZW& a, const QuatXYZW& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

QuatXYZW RotationMatrixXYZW(const CMatrix4& mat) {
  const auto& m = mat.m;
  const float trace = m[0][0] + m[1][1] + m[2][2];
  QuatXYZW q;
  if (trace > 0.0f) {
    float s = std::sqrt(trace + 1.0f);  // > 1
    q.w = 0.5f * s;
    s = 0.5f / s;
    q.x = (m[1][2] - m[2][1]) * s;
    q.y = (m[2][0] - m[0][2]) * s;
    q.z = (m[0][1] - m[1][0]) * s;
    return q;
  }
  // The largest diagonal element gives the best-conditioned component. With trace <= 0 the radicand
  // is at least 1 for the chosen element, so there is no division by zero even for a zero matrix.
  int i = 0;
  if (m[1][1] > m[0][0]) i = 1;
  if (m[2][2] > m[i][i]) i = 2;
  if (i == 0) {
    float s = std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]);
    q.x = 0.5f * s;
    s = 0.5f / s;
    q.y = (m[0][1] + m[1][0]) * s;
    q.z = (m[0][2] + m[2][0]) * s;
    q.w = (m[1][2] - m[2][1]) * s;
  } else if (i == 1) {
    float s = std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]);
    q.y = 0.5f * s;
    s = 0.5f / s;
    q.x = (m[0][1] + m[1][0]) * s;
    q.z = (m[1][2] + m[2][1]) * s;
    q.w = (m[2][0] - m[0][2]) * s;
  } else {
    float s = std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]);
    q.z = 0.5f * s;
    s = 0.5f / s;
    q.x = (m[0][2] + m[2][0]) * s;
    q.y = (m[1][2] + m[2][1]) * s;
    q.w = (m[0][1] - m[1][0]) * s;
  }
  return q;
}

QuatXYZW SlerpXYZW(const QuatXYZW& a, const QuatXYZW& b, float t) {
  float cosine = Dot(a, b);
  float sign = 1.0f;
  if (cosine < 0.0f) {
    cosine = -cosine;
    sign = -1.0f;
  }
  float wa = 1.0f - t;
  float wb = t;
  // Only when the angle is well away from 0 is the sine safe to divide by; this also keeps acos
  // inside its domain for quaternions that are not quite unit length.
  if (1.0f - cosine > 0.001f) {
    const float theta = std::acos(cosine);
    const float sine = std::sin(theta);
    wa = std::sin((1.0f - t) * theta) / sine;
    wb = std::sin(t * theta) / sine;
  }
  wb *= sign;
  return {wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w};
}

bool InverseXYZW(QuatXYZW& out, const QuatXYZW& q) {
  const float norm = Dot(q, q);
  if (norm != 0.0f && std::isfinite(norm)) {
    const QuatXYZW r{-q.x / norm, -q.y / norm, -q.z / norm, q.w / norm};
    if (std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z) && std::isfinite(r.w)) {
      out = r;
      return true;
    }
  }
  out = {0.0f, 0.0f, 0.0f, 1.0f};
  return false;
}

}  // namespace

CQuaternion QuaternionFromMatrix(const CMatrix4& m) { return FromXYZW(RotationMatrixXYZW(m)); }

CQuaternion QuaternionFromRotation(const CMatrix3& r) { return QuaternionFromMatrix(ToMatrix4(r)); }

CMatrix3 RotationFromQuaternion(const CQuaternion& q) {
  const float w = q.w, x = q.x, y = q.y, z = q.z;
  CMatrix3 r;
  r.m[0][0] = 1.0f - 2.0f * (y * y + z * z);
  r.m[0][1] = 2.0f * (x * y + w * z);
  r.m[0][2] = 2.0f * (x * z - w * y);
  r.m[1][0] = 2.0f * (x * y - w * z);
  r.m[1][1] = 1.0f - 2.0f * (x * x + z * z);
  r.m[1][2] = 2.0f * (y * z + w * x);
  r.m[2][0] = 2.0f * (x * z + w * y);
  r.m[2][1] = 2.0f * (y * z - w * x);
  r.m[2][2] = 1.0f - 2.0f * (x * x + y * y);
  return r;
}

CMatrix4 MatrixFromQuaternion(const CQuaternion& q) { return ToMatrix4(RotationFromQuaternion(q)); }

CQuaternion QuaternionSlerp(const CQuaternion& a, const CQuaternion& b, float t) {
  return FromXYZW(SlerpXYZW(ToXYZW(a), ToXYZW(b), t));
}

bool QuaternionInverse(CQuaternion& out, const CQuaternion& q) {
  QuatXYZW r;
  const bool ok = InverseXYZW(r, ToXYZW(q));
  out = FromXYZW(r);
  return ok;
}

CQuaternion QuaternionMultiply(const CQuaternion& first, const CQuaternion& second) {
  // Row vectors apply the left factor first, so the matrix product first * second is the
  // Hamilton product second (x) first.
  const CQuaternion& p = second;
  const CQuaternion& q = first;
  return {p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z,
          p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
          p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
          p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w};
}

}  // namespace KX
