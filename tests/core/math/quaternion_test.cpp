#include "core/math/quaternion.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::AllFinite;
using test::kHalfSqrt2;
using test::Near;
using test::Rows3;

// Quarter turns; the rows are the images of the axes (row vectors, counter-clockwise).
const CQuaternion kQx90{kHalfSqrt2, kHalfSqrt2, 0, 0};
const CQuaternion kQy90{kHalfSqrt2, 0, kHalfSqrt2, 0};
const CQuaternion kQz90{kHalfSqrt2, 0, 0, kHalfSqrt2};
const CMatrix3 kRx90 = Rows3({1, 0, 0}, {0, 0, 1}, {0, -1, 0});
const CMatrix3 kRy90 = Rows3({0, 0, -1}, {0, 1, 0}, {1, 0, 0});
const CMatrix3 kRz90 = Rows3({0, 1, 0}, {-1, 0, 0}, {0, 0, 1});

TEST(QuaternionMatrix, QuarterTurnsAboutEachAxisBothWays) {
  EXPECT_TRUE(Near(RotationFromQuaternion(kQx90), kRx90));
  EXPECT_TRUE(Near(RotationFromQuaternion(kQy90), kRy90));
  EXPECT_TRUE(Near(RotationFromQuaternion(kQz90), kRz90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRx90), kQx90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRy90), kQy90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRz90), kQz90));
}

TEST(QuaternionMatrix, EveryBranchRoundTrips) {
  // Positive trace, then largest diagonal m00, m11, m22; no off-diagonal term is zero. Each branch
  // answers its pivot component positive, so only the right branch gives back q and not -q.
  for (const CQuaternion& q : {CQuaternion{0.9f, -0.3f, -0.3f, -0.1f}, CQuaternion{-0.1f, 0.9f, -0.3f, -0.3f},
                               CQuaternion{-0.1f, -0.3f, 0.9f, -0.3f}, CQuaternion{-0.1f, -0.3f, -0.3f, 0.9f}}) {
    const CMatrix4 m = MatrixFromQuaternion(q);
    EXPECT_TRUE(Near(QuaternionFromMatrix(m), q));
  }
  // Half turns, and a third of a turn about (1,1,1) whose trace is exactly 0.
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({1, 0, 0}, {0, -1, 0}, {0, 0, -1})), {0, 1, 0, 0}));
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({-1, 0, 0}, {0, 1, 0}, {0, 0, -1})), {0, 0, 1, 0}));
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({-1, 0, 0}, {0, -1, 0}, {0, 0, 1})), {0, 0, 0, 1}));
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({0, 1, 0}, {0, 0, 1}, {1, 0, 0})), {0.5f, 0.5f, 0.5f, 0.5f}));
  // A zero-scaled rotation has no rotation left, but no NaN either.
  EXPECT_TRUE(AllFinite(QuaternionFromRotation(Rows3({0, 0, 0}, {0, 0, 0}, {0, 0, 0}))));
}

TEST(QuaternionSlerp, HalfwayAndShorterArc) {
  const CQuaternion z45{0.92387953f, 0, 0, 0.38268343f};
  EXPECT_TRUE(Near(QuaternionSlerp({}, kQz90, 0.5f), z45));
  EXPECT_TRUE(Near(QuaternionSlerp({}, kQz90, 1.0f), kQz90));
  EXPECT_TRUE(Near(QuaternionSlerp({}, {-kHalfSqrt2, 0, 0, -kHalfSqrt2}, 0.5f), z45));
  EXPECT_TRUE(Near(QuaternionSlerp({}, kQx90, 0.5f), {0.92387953f, 0.38268343f, 0, 0}));
}

TEST(QuaternionSlerp, NearlyParallelOppositeAndDegenerate) {
  // 1 - dot = 0.0005: linear weights, result not normalised; the negated target blends the same.
  const CQuaternion a{}, b{0.9995f, 0.03f, 0, 0};
  for (const CQuaternion& target : {b, CQuaternion{-b.w, -b.x, -b.y, -b.z}}) {
    const CQuaternion r = QuaternionSlerp(a, target, 0.25f);
    EXPECT_FLOAT_EQ(r.w, 0.75f + 0.25f * 0.9995f);
    EXPECT_FLOAT_EQ(r.x, 0.25f * 0.03f);
  }
  // Opposite quaternions are the same rotation: the result stays on it.
  EXPECT_TRUE(Near(QuaternionSlerp({0, 0, 1, 0}, {0, 0, -1, 0}, 0.3f), {0, 0, 1, 0}));
  EXPECT_TRUE(AllFinite(QuaternionSlerp({0, 0, 0, 0}, kQx90, 0.5f)));
  // A dot above 1 (not quite unit length) must not reach acos.
  EXPECT_TRUE(Near(QuaternionSlerp({1.0001f, 0, 0, 0}, {1.0001f, 0, 0, 0}, 0.5f), {1.0001f, 0, 0, 0}));
}

TEST(QuaternionInverse, ConjugateOverNormAndZero) {
  CQuaternion out;
  ASSERT_TRUE(QuaternionInverse(out, {1, 2, 3, 4}));  // norm^2 = 30
  EXPECT_TRUE(Near(out, {1.0f / 30, -2.0f / 30, -3.0f / 30, -4.0f / 30}, 1e-7f));
  for (const CQuaternion& q : {CQuaternion{0, 0, 0, 0}, CQuaternion{1e-30f, 0, 0, 0}}) {
    out = {5, 5, 5, 5};
    EXPECT_FALSE(QuaternionInverse(out, q));
    EXPECT_EQ(out, CQuaternion{});
  }
}

TEST(QuaternionMultiply, MatchesTheMatrixProductOrder) {
  // Rx * Rz differs from Rz * Rx, so this pins the order of the factors.
  EXPECT_TRUE(Near(RotationFromQuaternion(QuaternionMultiply(kQx90, kQz90)), kRx90 * kRz90));
  EXPECT_TRUE(Near(RotationFromQuaternion(QuaternionMultiply(kQz90, kQx90)), kRz90 * kRx90));
  CQuaternion inv;
  ASSERT_TRUE(QuaternionInverse(inv, kQy90));
  EXPECT_TRUE(Near(QuaternionMultiply(kQy90, inv), CQuaternion{}));
}

}  // namespace
}  // namespace KX
