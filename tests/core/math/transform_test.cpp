#include <cmath>
#include <numbers>

#include "core/math/transform.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::Near;
using test::NearM;
using test::Rows3;

const CMatrix3 kRz90 = Rows3({0, 1, 0}, {-1, 0, 0}, {0, 0, 1});

TEST(ComposeMatrix, ScaleThenRotateThenTranslate) {
  const CMatrix4 m = ComposeMatrix({2, 3, 4}, kRz90, {5, 6, 7});
  const CMatrix4 expected = [] {
    CMatrix4 e;
    e.SetRow(0, {0, 2, 0}, 0);
    e.SetRow(1, {-3, 0, 0}, 0);
    e.SetRow(2, {0, 0, 4}, 0);
    e.SetRow(3, {5, 6, 7}, 1);
    return e;
  }();
  EXPECT_EQ(m, expected);
  // (1,1,1) scaled to (2,3,4), turned to (-3,2,4), moved to (2,8,11).
  EXPECT_EQ(TransformCoord({1, 1, 1}, m), (CVector3<float>{2, 8, 11}));
  EXPECT_TRUE(NearM(m, MatrixScaling({2, 3, 4}) * ToMatrix4(kRz90) * MatrixTranslation({5, 6, 7})));
  EXPECT_TRUE(NearM(ComposeMatrix({2, 3, 4}, CQuaternion{test::kHalfSqrt2, 0, 0, test::kHalfSqrt2},
                                  {5, 6, 7}),
                    m));
}

TEST(DecomposeMatrix, RoundTripsAPlainTransform) {
  const CQuaternion q{0.1f, 0.3f, 0.9f, 0.3f};
  const CMatrix4 m = ComposeMatrix({2, 3, 0.5f}, q, {-1, 2, 8});
  CVector3<float> s, p;
  CQuaternion r;
  DecomposeMatrix(m, s, r, p);
  EXPECT_TRUE(test::Near(s, {2, 3, 0.5f}));
  EXPECT_TRUE(Near(r, q));
  EXPECT_EQ(p, (CVector3<float>{-1, 2, 8}));
}

TEST(DecomposeMatrix, MirroringGoesToAllThreeScaleFactors) {
  // A mirror in x alone reads as scale (-1,-1,-1) and a half turn about x.
  const CMatrix4 mirror = MatrixScaling({-1, 1, 1}) * MatrixTranslation({1, 2, 3});
  CVector3<float> s, p;
  CMatrix3 r;
  DecomposeMatrix(mirror, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{-1, -1, -1}));
  EXPECT_EQ(r, Rows3({1, 0, 0}, {0, -1, 0}, {0, 0, -1}));
  EXPECT_EQ(p, (CVector3<float>{1, 2, 3}));
  EXPECT_EQ(ComposeMatrix(s, r, p), mirror);

  // Mirrored, non-uniform and rotated: still a proper rotation, and it rebuilds the matrix.
  const CMatrix4 m = ComposeMatrix({2, 3, -4}, CQuaternion{0.9f, 0.3f, 0.3f, 0.1f}, {0, 0, 1});
  DecomposeMatrix(m, s, r, p);
  EXPECT_TRUE(test::Near(s, {-2, -3, -4}));
  EXPECT_NEAR(Determinant3(r), 1.0, 1e-5);
  EXPECT_TRUE(NearM(ComposeMatrix(s, r, p), m));
}

TEST(DecomposeMatrix, SingularMatricesStayFiniteAndRebuild) {
  CVector3<float> s, p;
  CMatrix3 r;
  // All zero: nothing to mirror, nothing to divide.
  DecomposeMatrix(MatrixScaling({0, 0, 0}), s, r, p);
  EXPECT_EQ(s, (CVector3<float>{}));
  EXPECT_EQ(r, CMatrix3{});

  // Flattened along z after a quarter turn: the surviving rows keep their rotation and scale.
  const CMatrix4 flat = ComposeMatrix({2, 3, 0}, kRz90, {1, 1, 1});
  DecomposeMatrix(flat, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{2, 3, 0}));
  EXPECT_EQ(r, kRz90);
  EXPECT_EQ(ComposeMatrix(s, r, p), flat);

  // Two equal rows: determinant 0 without any zero row.
  CMatrix4 twin;
  twin.SetRow(1, {1, 0, 0}, 0);
  DecomposeMatrix(twin, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{1, 1, 1}));
  EXPECT_TRUE(test::AllFinite(r));
  EXPECT_EQ(ComposeMatrix(s, r, p), twin);

  CQuaternion q;
  DecomposeMatrix(MatrixScaling({0, 0, 0}), s, q, p);
  EXPECT_TRUE(std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z));
}

// One-axis matrices exactly as defined for the Euler decomposition.
CMatrix3 Rx(float a) { return Rows3({1, 0, 0}, {0, std::cos(a), std::sin(a)}, {0, -std::sin(a), std::cos(a)}); }
CMatrix3 Ry(float a) { return Rows3({std::cos(a), 0, -std::sin(a)}, {0, 1, 0}, {std::sin(a), 0, std::cos(a)}); }
CMatrix3 Rz(float a) { return Rows3({std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}); }

TEST(Euler, AnglesOfRxRyRz) {
  const CVector3<float> cases[] = {{0.3f, -0.7f, 1.1f}, {-2.5f, 0.4f, 3.0f}, {0, 0, 0},
                                   {std::numbers::pi_v<float> / 2, 0.2f, 0.1f}};
  for (const CVector3<float>& a : cases) {
    const CMatrix3 r = Rx(a.x) * Ry(a.y) * Rz(a.z);
    EXPECT_TRUE(NearM(RotationFromEuler(a), r));
    EXPECT_TRUE(test::Near(EulerFromRotation(r), a));
  }
}

TEST(Euler, GimbalLockKeepsTheRotation) {
  const float half = std::numbers::pi_v<float> / 2;
  for (float y : {half, -half}) {
    const CMatrix3 r = Rx(0.4f) * Ry(y) * Rz(0.3f);
    const CVector3<float> a = EulerFromRotation(r);
    EXPECT_FLOAT_EQ(a.y, y);
    EXPECT_EQ(a.z, 0.0f);
    EXPECT_TRUE(NearM(RotationFromEuler(a), r));
  }
}

}  // namespace
}  // namespace KX
