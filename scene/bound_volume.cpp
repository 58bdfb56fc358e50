#include "scene/bound_volume.h"

#include <algorithm>
#include <cmath>

namespace KX {

namespace {

// Closer than this the two centres count as one: the joined sphere keeps this bound's centre
// rather than dividing by the distance.
constexpr double kSameCenter = 0.000001;

void BoxAround(std::span<const CVector3<float>> points, CVector3<float>& lo, CVector3<float>& hi) {
  lo = hi = points.front();
  for (const auto& p : points.subspan(1)) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
}

CVector3<float> Middle(const CVector3<float>& lo, const CVector3<float>& hi) {
  return {(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, (lo.z + hi.z) * 0.5f};
}

}  // namespace

bool Bound::EncloseBox(std::span<const CVector3<float>> points) {
  if (points.size() < 2) return false;
  BoxAround(points, boxMin, boxMax);
  center = Middle(boxMin, boxMax);
  radius = Length(center - boxMin);
  return true;
}

void Bound::EnclosePoints(std::span<const CVector3<float>> points) {
  if (points.empty()) {
    *this = Bound{};
    return;
  }
  BoxAround(points, boxMin, boxMax);
  center = Middle(boxMin, boxMax);
  float farthest = 0.0f;
  for (const auto& p : points) farthest = std::max(farthest, Length(p - center));
  radius = farthest;
}

void Bound::Merge(const Bound& other) {
  if (other.radius == 0.0f) return;
  if (radius == 0.0f) {
    *this = other;
    return;
  }
  // Distances in double: the squares of large coordinates overflow floats long before the
  // distances themselves do.
  const double dx = double(center.x) - other.center.x;
  const double dy = double(center.y) - other.center.y;
  const double dz = double(center.z) - other.center.z;
  const double d2 = dx * dx + dy * dy + dz * dz;
  const double b = double(other.radius) - radius;
  if (d2 <= b * b) {
    // One sphere already holds the other.
    if (b >= 0) {
      center = other.center;
      radius = other.radius;
    }
  } else {
    const double d = std::sqrt(d2);
    if (d > kSameCenter) {
      const double k = (d - b) / (2.0 * d);
      center = {static_cast<float>(other.center.x + dx * k),
                static_cast<float>(other.center.y + dy * k),
                static_cast<float>(other.center.z + dz * k)};
    }
    radius = static_cast<float>((d + radius + other.radius) / 2.0);
  }
  boxMin = {std::min(boxMin.x, other.boxMin.x), std::min(boxMin.y, other.boxMin.y),
            std::min(boxMin.z, other.boxMin.z)};
  boxMax = {std::max(boxMax.x, other.boxMax.x), std::max(boxMax.y, other.boxMax.y),
            std::max(boxMax.z, other.boxMax.z)};
}

}  // namespace KX
