#include <cfloat>
#include <cstring>
#include <limits>

#include "core/math/matrix.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::NearM;

CMatrix4 Rows4(std::initializer_list<std::initializer_list<float>> rows) {
  CMatrix4 m;
  int i = 0;
  for (const auto& r : rows) {
    int j = 0;
    for (float v : r) m.m[i][j++] = v;
    ++i;
  }
  return m;
}

TEST(MathLayout, ArraysMoveAsRawFloatsInFileOrder) {
  // Whole arrays are read and written as bytes: the translation must sit at elements 12..14 and
  // a quaternion must start with w.
  const CMatrix4 mats[2] = {MatrixTranslation({5, 6, 7}), MatrixScaling({2, 3, 4})};
  float f[32];
  std::memcpy(f, mats, sizeof f);
  EXPECT_EQ(f[12], 5.0f);
  EXPECT_EQ(f[13], 6.0f);
  EXPECT_EQ(f[14], 7.0f);
  EXPECT_EQ(f[15], 1.0f);
  EXPECT_EQ(f[16 + 5], 3.0f);

  const CQuaternion q{1, 2, 3, 4};
  const CVector3<float> v[2] = {{1, 2, 3}, {4, 5, 6}};
  float g[4], h[6];
  std::memcpy(g, &q, sizeof g);
  std::memcpy(h, v, sizeof h);
  EXPECT_EQ(g[0], 1.0f);
  EXPECT_EQ(g[3], 4.0f);
  EXPECT_EQ(h[3], 4.0f);

  EXPECT_EQ(CQuaternion{}, (CQuaternion{1, 0, 0, 0}));
  EXPECT_EQ(CMatrix4{}, MatrixIdentity());
}

TEST(Vector3, CrossDotLengthAndNormalise) {
  const CVector3<float> x{1, 0, 0}, y{0, 1, 0};
  EXPECT_EQ(Cross(x, y), (CVector3<float>{0, 0, 1}));
  EXPECT_EQ(Cross(y, x), (CVector3<float>{0, 0, -1}));
  EXPECT_EQ(Dot(CVector3<float>{1, 2, 3}, CVector3<float>{4, -5, 6}), 12.0f);
  EXPECT_EQ(Length(CVector3<float>{3, 4, 12}), 13.0f);
  EXPECT_TRUE(test::Near(Normalised(CVector3<float>{3, 4, 0}), {0.6f, 0.8f, 0}));

  // No direction: stays zero instead of NaN.
  EXPECT_EQ(Normalised(CVector3<float>{}), (CVector3<float>{}));
  // Squares of these overflow a float; the result must still be the unit vector.
  EXPECT_TRUE(test::Near(Normalised(CVector3<float>{3e30f, 0, 4e30f}), {0.6f, 0, 0.8f}));
  EXPECT_TRUE(test::Near(Normalised(CVector3<float>{1e-30f, 0, 0}), {1, 0, 0}));
  EXPECT_EQ(Lerp(CVector3<float>{1, 2, 3}, CVector3<float>{3, 2, -1}, 0.25f),
            (CVector3<float>{1.5f, 2, 2}));
}

TEST(MatrixMultiply, RowVectorOrderAndHandValues) {
  // p * (S * T): scale first, then translate; the other order scales the translation too.
  const CMatrix4 s = MatrixScaling({2, 3, 4}), t = MatrixTranslation({1, 2, 3});
  EXPECT_EQ(s * t, Rows4({{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {1, 2, 3, 1}}));
  EXPECT_EQ(t * s, Rows4({{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {2, 6, 12, 1}}));

  const CMatrix4 a = Rows4({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});
  const CMatrix4 aa = a * a;
  EXPECT_EQ(aa.m[0][0], 90.0f);
  EXPECT_EQ(aa.m[0][3], 120.0f);
  EXPECT_EQ(aa.m[1][0], 202.0f);
  EXPECT_EQ(aa.m[1][2], 254.0f);
}

TEST(MatrixMultiply, OutputMayAliasEitherInput) {
  const CMatrix4 a = Rows4({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});
  const CMatrix4 b = Rows4({{0, 1, 0, 2}, {1, 0, 3, 0}, {0, 4, 0, 1}, {5, 0, 1, 0}});
  const CMatrix4 ab = a * b, ba = b * a, aa = a * a;

  CMatrix4 out = a;
  MatrixMultiply(out, out, b);
  EXPECT_EQ(out, ab);
  out = a;
  MatrixMultiply(out, b, out);
  EXPECT_EQ(out, ba);
  out = a;
  MatrixMultiply(out, out, out);
  EXPECT_EQ(out, aa);
}

TEST(MatrixInverse, HandComputedInverseAndDeterminant) {
  // (S * T)^-1 = T^-1 * S^-1, all powers of two so the values are exact.
  const CMatrix4 m = MatrixScaling({2, 4, 8}) * MatrixTranslation({1, 2, 3});
  CMatrix4 inv;
  float det = 0;
  ASSERT_TRUE(MatrixInverse(inv, m, &det));
  EXPECT_EQ(det, 64.0f);
  EXPECT_EQ(inv, Rows4({{0.5f, 0, 0, 0}, {0, 0.25f, 0, 0}, {0, 0, 0.125f, 0}, {-0.5f, -0.5f, -0.375f, 1}}));

  // In place.
  CMatrix4 same = m;
  ASSERT_TRUE(MatrixInverse(same, same));
  EXPECT_EQ(same, inv);
}

TEST(MatrixInverse, GeneralMatrixIncludingLastColumn) {
  // Upper triangular: the determinant is the product of the diagonal.
  const CMatrix4 m = Rows4({{2, 3, 5, 7}, {0, 1, 4, 6}, {0, 0, 4, 2}, {0, 0, 0, 0.5f}});
  CMatrix4 inv;
  float det = 0;
  ASSERT_TRUE(MatrixInverse(inv, m, &det));
  EXPECT_FLOAT_EQ(det, 4.0f);
  EXPECT_TRUE(NearM(m * inv, CMatrix4{}));
  EXPECT_TRUE(NearM(inv * m, CMatrix4{}));

  const CMatrix4 dense = Rows4({{4, 7, 2, 3}, {0, 5, 0, 1}, {1, 0, 3, 0}, {2, 2, 2, 9}});
  ASSERT_TRUE(MatrixInverse(inv, dense));
  EXPECT_TRUE(NearM(dense * inv, CMatrix4{}));
}

TEST(MatrixInverse, SingularOrUnrepresentableGivesIdentityAndFalse) {
  const CMatrix4 garbage = Rows4({{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const CMatrix4 cases[] = {
      Rows4({{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}),
      MatrixScaling({1, 0, 1}),                                           // zero scale
      Rows4({{1, 1, 0, 0}, {0, 1, 1, 0}, {0, 0, 1, 1}, {1, 0, 0, 1}}),    // no zero row, det 0
      Rows4({{nan, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}),  // not finite
      MatrixScaling({FLT_TRUE_MIN, 1, 1}),  // inverse does not fit in a float
  };
  for (const CMatrix4& m : cases) {
    CMatrix4 out = garbage;
    float det = 7;
    EXPECT_FALSE(MatrixInverse(out, m, &det));
    EXPECT_EQ(out, CMatrix4{});
    EXPECT_TRUE(det == 0.0f || !std::isfinite(det) || det == FLT_TRUE_MIN);
  }
}

TEST(TransformCoord, AffineProjectiveAndZeroW) {
  const CMatrix4 m = MatrixScaling({2, 4, 8}) * MatrixTranslation({1, 2, 3});
  EXPECT_EQ(TransformCoord({1, 1, 1}, m), (CVector3<float>{3, 6, 11}));

  CMatrix4 p;
  p.m[3][3] = 2;  // w = 2 for every point
  EXPECT_EQ(TransformCoord({2, 4, 6}, p), (CVector3<float>{1, 2, 3}));
  p.m[0][3] = 1;  // w = x + 2
  EXPECT_EQ(TransformCoord({2, 4, 6}, p), (CVector3<float>{0.5f, 1, 1.5f}));

  // w = 0: no division, the undivided coordinates come back.
  CMatrix4 z;
  z.m[3][3] = 0;
  EXPECT_EQ(TransformCoord({2, 4, 6}, z), (CVector3<float>{2, 4, 6}));

  const CMatrix3 swap = test::Rows3({0, 1, 0}, {1, 0, 0}, {0, 0, 2});
  EXPECT_EQ(TransformVector({1, 2, 3}, swap), (CVector3<float>{2, 1, 6}));
}

}  // namespace
}  // namespace KX
