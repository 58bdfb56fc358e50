#include <algorithm>
#include <cfloat>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/math/matrix.h"
#include "math_test_util.h"

namespace KX {
namespace {

using test::Near;

CMatrix4 Rows4(std::initializer_list<std::initializer_list<float>> rows) {
  CMatrix4 m;
  int i = 0;
  for (const auto& r : rows) std::copy(r.begin(), r.end(), m.m[i++]);
  return m;
}

const CMatrix4 kA = Rows4({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});

TEST(MathLayout, ArraysMoveAsRawFloatsInFileOrder) {
  // Whole arrays are read and written as bytes: translation at elements 12..14, quaternion w first.
  const CMatrix4 mats[2] = {MatrixTranslation({5, 6, 7}), MatrixScaling({2, 3, 4})};
  const CQuaternion q{1, 2, 3, 4};
  float f[32], g[4];
  std::memcpy(f, mats, sizeof f);
  std::memcpy(g, &q, sizeof g);
  EXPECT_EQ((CVector4<float>{f[12], f[13], f[14], f[15]}), (CVector4<float>{5, 6, 7, 1}));
  EXPECT_EQ(f[16 + 5], 3.0f);
  EXPECT_EQ(g[0], 1.0f);
  EXPECT_EQ(CQuaternion{}, (CQuaternion{1, 0, 0, 0}));
}

TEST(Vector3, CrossDotAndNormaliseOfDegenerateLengths) {
  EXPECT_EQ(Cross(CVector3<float>{1, 0, 0}, CVector3<float>{0, 1, 0}), (CVector3<float>{0, 0, 1}));
  EXPECT_EQ(Dot(CVector3<float>{1, 2, 3}, CVector3<float>{4, -5, 6}), 12.0f);
  EXPECT_EQ(Length(CVector3<float>{3, 4, 12}), 13.0f);
  EXPECT_EQ(Normalised(CVector3<float>{}), (CVector3<float>{}));  // stays zero, not NaN
  // Squares overflow a float here, and 1/length overflows for the tiny one.
  EXPECT_TRUE(Near(Normalised(CVector3<float>{3e30f, 0, 4e30f}), {0.6f, 0, 0.8f}));
  EXPECT_TRUE(Near(Normalised(CVector3<float>{1e-40f, 0, 0}), {1, 0, 0}));
}

TEST(MatrixMultiply, RowVectorOrderAndAliasing) {
  // p * (S * T) scales first, then translates; T * S scales the translation too.
  const CMatrix4 s = MatrixScaling({2, 3, 4}), t = MatrixTranslation({1, 2, 3});
  EXPECT_EQ(s * t, Rows4({{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {1, 2, 3, 1}}));
  EXPECT_EQ(t * s, Rows4({{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {2, 6, 12, 1}}));
  const CMatrix4 aa = kA * kA;
  EXPECT_EQ(aa.m[0][0], 90.0f);
  EXPECT_EQ(aa.m[1][2], 254.0f);

  const CMatrix4 b = Rows4({{0, 1, 0, 2}, {1, 0, 3, 0}, {0, 4, 0, 1}, {5, 0, 1, 0}});
  CMatrix4 out = kA;
  MatrixMultiply(out, out, b);
  EXPECT_EQ(out, kA * b);
  out = kA;
  MatrixMultiply(out, b, out);
  EXPECT_EQ(out, b * kA);
  out = kA;
  MatrixMultiply(out, out, out);
  EXPECT_EQ(out, aa);
}

TEST(MatrixInverse, HandValuesDeterminantAndInPlace) {
  // (S * T)^-1 = T^-1 * S^-1; powers of two keep it exact.
  CMatrix4 m = MatrixScaling({2, 4, 8}) * MatrixTranslation({1, 2, 3});
  float det = 0;
  ASSERT_TRUE(MatrixInverse(m, m, &det));
  EXPECT_EQ(det, 64.0f);
  EXPECT_EQ(m, Rows4({{0.5f, 0, 0, 0}, {0, 0.25f, 0, 0}, {0, 0, 0.125f, 0}, {-0.5f, -0.5f, -0.375f, 1}}));

  // Upper triangular with a used last column: determinant = product of the diagonal.
  const CMatrix4 u = Rows4({{2, 3, 5, 7}, {0, 1, 4, 6}, {0, 0, 4, 2}, {0, 0, 0, 0.5f}});
  CMatrix4 inv;
  ASSERT_TRUE(MatrixInverse(inv, u, &det));
  EXPECT_FLOAT_EQ(det, 4.0f);
  EXPECT_TRUE(Near(u * inv, CMatrix4{}));
  EXPECT_TRUE(Near(inv * u, CMatrix4{}));
}

TEST(MatrixInverse, SingularOrUnrepresentableGivesIdentityAndFalse) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const CMatrix4 cases[] = {
      MatrixScaling({0, 0, 0}),
      MatrixScaling({1, 0, 1}),
      Rows4({{1, 1, 0, 0}, {0, 1, 1, 0}, {0, 0, 1, 1}, {1, 0, 0, 1}}),  // det 0, no zero row
      Rows4({{nan, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}),
      MatrixScaling({FLT_TRUE_MIN, 1, 1}),  // the inverse does not fit in a float
  };
  for (const CMatrix4& m : cases) {
    CMatrix4 out = kA;
    EXPECT_FALSE(MatrixInverse(out, m));
    EXPECT_EQ(out, CMatrix4{});
  }
  float det = 1;
  CMatrix4 out;
  MatrixInverse(out, cases[2], &det);
  EXPECT_EQ(det, 0.0f);
}

TEST(TransformCoord, AffineProjectiveAndZeroW) {
  EXPECT_EQ(TransformCoord({1, 1, 1}, MatrixScaling({2, 4, 8}) * MatrixTranslation({1, 2, 3})),
            (CVector3<float>{3, 6, 11}));
  CMatrix4 p;
  p.m[3][3] = 2;
  p.m[0][3] = 1;  // w = x + 2
  EXPECT_EQ(TransformCoord({2, 4, 6}, p), (CVector3<float>{0.5f, 1, 1.5f}));
  p.m[3][3] = -2;  // w = 0 for this point: left undivided, finite
  EXPECT_EQ(TransformCoord({2, 4, 6}, p), (CVector3<float>{2, 4, 6}));
}

// The batch answers what a point at a time answers, bit for bit: for affine matrices (where it
// leaves the division out), with -0 in the last column, and for projective ones; for points that
// overflow, are infinite or NaN as well.
TEST(TransformCoord, ManyPointsAtOnceAnswerWhatOneAtATimeDoes) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<CVector3<float>> points = {{0, 0, 0},    {-0.0f, 1, 2}, {1e30f, 1e30f, -1e30f},
                                         {inf, 0, 1},  {nan, 2, 3},   {1, -inf, nan},
                                         {3e38f, 1, 1}, {1e-40f, 0, 0}};
  std::mt19937 random(11);
  std::uniform_real_distribution<float> value(-1000, 1000);
  for (int i = 0; i < 200; ++i) points.push_back({value(random), value(random), value(random)});

  CMatrix4 negativeZeros = MatrixTranslation({1, 2, 3});
  negativeZeros.m[0][3] = -0.0f;
  CMatrix4 projective = MatrixScaling({1, 2, 3});
  projective.m[2][3] = 0.5f;
  CMatrix4 huge = MatrixScaling({3e38f, -3e38f, 1}) * MatrixTranslation({nan, 0, 0});
  for (const CMatrix4& m : {MatrixIdentity(), MatrixScaling({2, 4, 8}) * MatrixTranslation({1, 2, 3}),
                            negativeZeros, projective, huge}) {
    std::vector<CVector3<float>> batch = points;
    TransformCoords(batch, m);
    for (size_t i = 0; i < points.size(); ++i) {
      const CVector3<float> one = TransformCoord(points[i], m);
      EXPECT_EQ(std::memcmp(&one, &batch[i], sizeof one), 0) << "point " << i;
    }
  }
}

}  // namespace
}  // namespace KX
