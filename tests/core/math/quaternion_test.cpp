#include <cmath>

#include "core/math/quaternion.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::kHalfSqrt2;
using test::Near;
using test::NearM;
using test::Rows3;

// Quarter turns: the rows are the images of the axes (row vectors, counter-clockwise).
const CQuaternion kQx90{kHalfSqrt2, kHalfSqrt2, 0, 0};
const CQuaternion kQy90{kHalfSqrt2, 0, kHalfSqrt2, 0};
const CQuaternion kQz90{kHalfSqrt2, 0, 0, kHalfSqrt2};
const CMatrix3 kRx90 = Rows3({1, 0, 0}, {0, 0, 1}, {0, -1, 0});
const CMatrix3 kRy90 = Rows3({0, 0, -1}, {0, 1, 0}, {1, 0, 0});
const CMatrix3 kRz90 = Rows3({0, 1, 0}, {-1, 0, 0}, {0, 0, 1});

TEST(QuaternionMatrix, QuarterTurnsAboutEachAxisBothWays) {
  EXPECT_TRUE(NearM(RotationFromQuaternion(kQx90), kRx90));
  EXPECT_TRUE(NearM(RotationFromQuaternion(kQy90), kRy90));
  EXPECT_TRUE(NearM(RotationFromQuaternion(kQz90), kRz90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRx90), kQx90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRy90), kQy90));
  EXPECT_TRUE(Near(QuaternionFromRotation(kRz90), kQz90));
  // The x axis turns into y about z.
  EXPECT_TRUE(test::Near(TransformCoord({1, 0, 0}, MatrixFromQuaternion(kQz90)), {0, 1, 0}));
}

TEST(QuaternionMatrix, EachBranchRecoversTheQuaternion) {
  // Unit quaternions whose rotation matrices have a positive trace (w branch) or whose largest
  // diagonal element is m00, m11 or m22; off-diagonal terms are all non-zero.
  const CQuaternion cases[] = {
      {0.9f, 0.3f, 0.3f, 0.1f},  // trace 2.24
      {0.1f, 0.9f, 0.3f, 0.3f},  // diagonal (0.64, -0.8, -0.8)
      {0.1f, 0.3f, 0.9f, 0.3f},  // diagonal (-0.8, 0.64, -0.8)
      {0.1f, 0.3f, 0.3f, 0.9f},  // diagonal (-0.8, -0.8, 0.64)
  };
  for (const CQuaternion& q : cases) {
    const CMatrix4 m = MatrixFromQuaternion(q);
    const CQuaternion back = QuaternionFromMatrix(m);
    EXPECT_TRUE(Near(back, q));
    EXPECT_TRUE(NearM(MatrixFromQuaternion(back), m));
  }
}

TEST(QuaternionMatrix, HalfTurnsAndZeroTrace) {
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({1, 0, 0}, {0, -1, 0}, {0, 0, -1})), {0, 1, 0, 0}));
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({-1, 0, 0}, {0, 1, 0}, {0, 0, -1})), {0, 0, 1, 0}));
  EXPECT_TRUE(Near(QuaternionFromRotation(Rows3({-1, 0, 0}, {0, -1, 0}, {0, 0, 1})), {0, 0, 0, 1}));
  // x -> y -> z -> x: a third of a turn about (1, 1, 1), trace exactly 0, so not the w branch.
  EXPECT_TRUE(
      Near(QuaternionFromRotation(Rows3({0, 1, 0}, {0, 0, 1}, {1, 0, 0})), {0.5f, 0.5f, 0.5f, 0.5f}));
  // Translation and the last column do not take part.
  CMatrix4 m = MatrixFromQuaternion(kQy90);
  m.SetRow(3, {5, 6, 7}, 3);
  EXPECT_TRUE(Near(QuaternionFromMatrix(m), kQy90));
  // A zero-scaled rotation has no rotation left but must not produce NaN.
  const CQuaternion zero = QuaternionFromRotation(Rows3({0, 0, 0}, {0, 0, 0}, {0, 0, 0}));
  EXPECT_TRUE(std::isfinite(zero.w) && std::isfinite(zero.x) && std::isfinite(zero.y) &&
              std::isfinite(zero.z));
}

TEST(QuaternionSlerp, HalfwayEndpointsAndShorterArc) {
  const CQuaternion id{};
  const CQuaternion z45{0.92387953f, 0, 0, 0.38268343f};
  EXPECT_TRUE(Near(QuaternionSlerp(id, kQz90, 0.5f), z45));
  EXPECT_TRUE(Near(QuaternionSlerp(id, kQz90, 0.0f), id));
  EXPECT_TRUE(Near(QuaternionSlerp(id, kQz90, 1.0f), kQz90));
  // -q is the same rotation; interpolating toward it must not take the long way round.
  const CQuaternion negZ90{-kHalfSqrt2, 0, 0, -kHalfSqrt2};
  EXPECT_TRUE(Near(QuaternionSlerp(id, negZ90, 0.5f), z45));
  // Storage order matters: a quarter turn about x, halfway, is 45 degrees about x.
  EXPECT_TRUE(Near(QuaternionSlerp(id, kQx90, 0.5f), {0.92387953f, 0.38268343f, 0, 0}));
}

TEST(QuaternionSlerp, NearlyParallelUsesLinearWeightsWithoutNormalising) {
  const CQuaternion a{1, 0, 0, 0};
  const CQuaternion b{0.9995f, 0.03f, 0, 0};  // 1 - dot = 0.0005
  const CQuaternion expected{0.75f * 1 + 0.25f * 0.9995f, 0.25f * 0.03f, 0, 0};
  const CQuaternion r = QuaternionSlerp(a, b, 0.25f);
  EXPECT_FLOAT_EQ(r.w, expected.w);
  EXPECT_FLOAT_EQ(r.x, expected.x);
  // Negated b: shorter arc, the same linear blend.
  const CQuaternion rn = QuaternionSlerp(a, {-b.w, -b.x, -b.y, -b.z}, 0.25f);
  EXPECT_FLOAT_EQ(rn.w, expected.w);
  EXPECT_FLOAT_EQ(rn.x, expected.x);
}

TEST(QuaternionSlerp, OppositeAndDegenerateInputsStayFinite) {
  const CQuaternion a{0, 0, 1, 0};
  const CQuaternion opposite{0, 0, -1, 0};
  for (float t : {0.0f, 0.3f, 1.0f}) EXPECT_TRUE(Near(QuaternionSlerp(a, opposite, t), a));
  const CQuaternion zero{0, 0, 0, 0};
  const CQuaternion r = QuaternionSlerp(zero, kQx90, 0.5f);
  EXPECT_TRUE(std::isfinite(r.w) && std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z));
  // Slightly longer than unit: |dot| above 1 must not reach acos.
  const CQuaternion big{1.0001f, 0, 0, 0};
  EXPECT_TRUE(Near(QuaternionSlerp(big, big, 0.5f), big));
}

TEST(QuaternionInverse, ConjugateOverNormAndZero) {
  CQuaternion out;
  ASSERT_TRUE(QuaternionInverse(out, {1, 2, 3, 4}));  // norm^2 = 30
  EXPECT_TRUE(Near(out, {1.0f / 30, -2.0f / 30, -3.0f / 30, -4.0f / 30}, 1e-7f));

  CQuaternion q = kQz90;
  ASSERT_TRUE(QuaternionInverse(q, q));
  EXPECT_TRUE(Near(QuaternionMultiply(kQz90, q), CQuaternion{}));

  out = {5, 5, 5, 5};
  EXPECT_FALSE(QuaternionInverse(out, {0, 0, 0, 0}));
  EXPECT_EQ(out, CQuaternion{});
  EXPECT_FALSE(QuaternionInverse(out, {1e-30f, 0, 0, 0}));  // 1/norm^2 overflows
  EXPECT_EQ(out, CQuaternion{});
}

TEST(QuaternionMultiply, MatchesTheMatrixProductOrder) {
  // Rx * Rz differs from Rz * Rx, so this also pins the order of the factors.
  EXPECT_TRUE(NearM(RotationFromQuaternion(QuaternionMultiply(kQx90, kQz90)), kRx90 * kRz90));
  EXPECT_TRUE(NearM(RotationFromQuaternion(QuaternionMultiply(kQz90, kQx90)), kRz90 * kRx90));
  const CQuaternion a{0.9f, 0.3f, 0.3f, 0.1f}, b{0.1f, 0.3f, 0.9f, 0.3f};
  EXPECT_TRUE(NearM(RotationFromQuaternion(QuaternionMultiply(a, b)),
                    RotationFromQuaternion(a) * RotationFromQuaternion(b)));
}

}  // namespace
}  // namespace KX
