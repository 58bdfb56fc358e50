#include <numbers>

#include "core/math/transform.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::Near;
using test::Rows3;

const CMatrix3 kRz90 = Rows3({0, 1, 0}, {-1, 0, 0}, {0, 0, 1});

TEST(ComposeMatrix, ScaleThenRotateThenTranslate) {
  const CMatrix4 m = ComposeMatrix({2, 3, 4}, kRz90, {5, 6, 7});
  // (1,1,1) scaled to (2,3,4), turned to (-3,2,4), moved to (2,8,11).
  EXPECT_EQ(TransformCoord({1, 1, 1}, m), (CVector3<float>{2, 8, 11}));
  EXPECT_EQ(m, MatrixScaling({2, 3, 4}) * ToMatrix4(kRz90) * MatrixTranslation({5, 6, 7}));
  EXPECT_TRUE(Near(ComposeMatrix({2, 3, 4}, CQuaternion{test::kHalfSqrt2, 0, 0, test::kHalfSqrt2},
                                 {5, 6, 7}), m));
}

TEST(DecomposeMatrix, PlainAndMirrored) {
  CVector3<float> s, p;
  CQuaternion q;
  DecomposeMatrix(ComposeMatrix({2, 3, 0.5f}, CQuaternion{0.1f, 0.3f, 0.9f, 0.3f}, {-1, 2, 8}), s, q, p);
  EXPECT_TRUE(Near(s, {2, 3, 0.5f}));
  EXPECT_TRUE(Near(q, {0.1f, 0.3f, 0.9f, 0.3f}));
  EXPECT_EQ(p, (CVector3<float>{-1, 2, 8}));

  // A mirror in x alone reads as scale (-1,-1,-1) and a half turn about x.
  const CMatrix4 mirror = MatrixScaling({-1, 1, 1}) * MatrixTranslation({1, 2, 3});
  CMatrix3 r;
  DecomposeMatrix(mirror, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{-1, -1, -1}));
  EXPECT_EQ(r, Rows3({1, 0, 0}, {0, -1, 0}, {0, 0, -1}));
  EXPECT_EQ(ComposeMatrix(s, r, p), mirror);

  // Mirrored, non-uniform and turned: a proper rotation that rebuilds the matrix.
  const CMatrix4 m = ComposeMatrix({2, 3, -4}, CQuaternion{0.9f, 0.3f, 0.3f, 0.1f}, {0, 0, 1});
  DecomposeMatrix(m, s, r, p);
  EXPECT_TRUE(Near(s, {-2, -3, -4}));
  EXPECT_NEAR(Determinant3(r), 1.0, 1e-5);
  EXPECT_TRUE(Near(ComposeMatrix(s, r, p), m));
}

TEST(DecomposeMatrix, SingularMatricesStayFiniteAndRebuild) {
  CVector3<float> s, p;
  CMatrix3 r;
  DecomposeMatrix(MatrixScaling({0, 0, 0}), s, r, p);
  EXPECT_EQ(s, (CVector3<float>{}));
  EXPECT_EQ(r, CMatrix3{});

  // Flattened along z after a quarter turn: the surviving rows keep their rotation and scale.
  const CMatrix4 flat = ComposeMatrix({2, 3, 0}, kRz90, {1, 1, 1});
  DecomposeMatrix(flat, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{2, 3, 0}));
  EXPECT_EQ(r, kRz90);

  // Two equal rows: determinant 0 without a zero row.
  CMatrix4 twin;
  twin.SetRow(1, {1, 0, 0}, 0);
  DecomposeMatrix(twin, s, r, p);
  EXPECT_EQ(s, (CVector3<float>{1, 1, 1}));
  EXPECT_EQ(ComposeMatrix(s, r, p), twin);
}

// One-axis matrices as the Euler decomposition defines them.
CMatrix3 Rx(float a) { return Rows3({1, 0, 0}, {0, std::cos(a), std::sin(a)}, {0, -std::sin(a), std::cos(a)}); }
CMatrix3 Ry(float a) { return Rows3({std::cos(a), 0, -std::sin(a)}, {0, 1, 0}, {std::sin(a), 0, std::cos(a)}); }
CMatrix3 Rz(float a) { return Rows3({std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}); }

TEST(Euler, AnglesOfRxRyRzIncludingPoles) {
  const float half = std::numbers::pi_v<float> / 2;
  for (const CVector3<float>& a : {CVector3<float>{0.3f, -0.7f, 1.1f}, CVector3<float>{-2.5f, 0.4f, 3.0f},
                                   CVector3<float>{half, 0.2f, 0.1f}}) {
    const CMatrix3 r = Rx(a.x) * Ry(a.y) * Rz(a.z);
    EXPECT_TRUE(Near(RotationFromEuler(a), r));
    EXPECT_TRUE(Near(EulerFromRotation(r), a));
  }
  // At y = +-pi/2 only x -+ z is known: z comes back 0 and the rotation is kept.
  for (float y : {half, -half}) {
    const CMatrix3 r = Rx(0.4f) * Ry(y) * Rz(0.3f);
    const CVector3<float> a = EulerFromRotation(r);
    EXPECT_FLOAT_EQ(a.y, y);
    EXPECT_EQ(a.z, 0.0f);
    EXPECT_TRUE(Near(RotationFromEuler(a), r));
  }
}

}  // namespace
}  // namespace KX
