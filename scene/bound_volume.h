#pragma once
// The bounding volume every spatial object carries: a sphere for quick rejection and an
// axis-aligned box. A radius of 0 marks a bound that encloses nothing yet.
#include <span>

#include "core/math/vector.h"

namespace KX {

struct Bound {
  CVector3<float> center;
  float radius = 0.0f;
  CVector3<float> boxMin;
  CVector3<float> boxMax;

  bool IsEmpty() const { return radius == 0.0f; }

  // Box around the points; the sphere sits in the box's middle and reaches its corners (half the
  // diagonal), which is cheap and never too small. Needs at least two points: with fewer the
  // bound is left as it was and the answer is false.
  bool EncloseBox(std::span<const CVector3<float>> points);
  // Box around the points; the sphere sits in the box's middle and reaches the farthest point, a
  // tighter fit for geometry. No points give the empty bound (all zeros).
  void EnclosePoints(std::span<const CVector3<float>> points);
  // Grows this bound to enclose `other` as well. An empty bound on either side leaves the other
  // one standing; otherwise the spheres are joined into the smallest sphere around both and the
  // boxes into their union.
  void Merge(const Bound& other);

  friend bool operator==(const Bound&, const Bound&) = default;
};

static_assert(sizeof(Bound) == 40, "a bound is ten floats");

}  // namespace KX
