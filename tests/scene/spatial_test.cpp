#include <gtest/gtest.h>

#include <cmath>

#include "core/math/quaternion.h"
#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;
using V = CVector3<float>;

TEST(Spatial, NewObjectDefaults) {
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  EXPECT_EQ(s->rotation, CMatrix3{});
  EXPECT_EQ(s->transform, CMatrix4{});
  EXPECT_EQ(s->position, V{});
  EXPECT_EQ(s->scale, (V{1, 1, 1}));
  EXPECT_TRUE(s->visible);
  EXPECT_FALSE(s->frozen);
  EXPECT_EQ(s->flags, 0u);
  EXPECT_EQ(s->bound, Bound{});
  EXPECT_EQ(s->auxMode, 2);
}

TEST(Spatial, SetFromMatrixMirroredAndDegenerate) {
  // Mirrored along x: all three factors negative, a proper rotation, the parts rebuild it.
  CMatrix4 mirrored;
  mirrored.m[0][0] = -2;
  mirrored.m[1][1] = 3;
  mirrored.m[2][2] = 4;
  mirrored.m[3][0] = 1;
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  s->SetFromMatrix(mirrored);
  EXPECT_EQ(s->scale, (V{-2, -3, -4}));
  EXPECT_NEAR(Determinant3(s->rotation), 1.0, 1e-6);
  EXPECT_EQ(s->GetLocalMatrix(), mirrored);

  // Flattened or collapsed matrices give finite parts that rebuild what is left of them.
  CMatrix4 flat, zero;
  flat.m[1][1] = 0;
  for (auto& row : zero.m)
    for (float& v : row) v = 0;
  for (const CMatrix4& m : {flat, zero}) {
    s->SetFromMatrix(m);
    const CMatrix4 back = s->GetLocalMatrix();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        EXPECT_TRUE(std::isfinite(s->rotation.m[i][j]));
        EXPECT_EQ(back.m[i][j], m.m[i][j]);
      }
  }
}

TEST(Spatial, RotationCleanUp) {
  // Quaternion x of 0.000009 is noise and goes; z of 0.00002 stays.
  const float noise = 0.000009f, kept = 0.00002f;
  const float w = std::sqrt(1.0f - noise * noise - kept * kept);
  CMatrix3 r = RotationFromQuaternion({w, noise, 0, kept});
  EXPECT_TRUE(CleanRotation(r));
  const CQuaternion q = QuaternionFromRotation(r);
  EXPECT_EQ(q.x, 0.0f);
  EXPECT_NEAR(q.z, kept, 1e-7);
  // Cleaning again changes nothing, so loading a saved file gives the same rotation.
  const CMatrix3 cleaned = r;
  EXPECT_FALSE(CleanRotation(r));
  EXPECT_EQ(r, cleaned);
  // A rotation without noise is kept bit for bit, though its quaternion has zero components.
  CMatrix3 quarter;
  quarter.m[0][0] = 0, quarter.m[0][1] = 1, quarter.m[1][0] = -1, quarter.m[1][1] = 0;
  const CMatrix3 stored = quarter;
  EXPECT_FALSE(CleanRotation(quarter));
  EXPECT_EQ(quarter, stored);
}

Bound Sphere(V c, float r) { return {c, r, c - V{r, r, r}, c + V{r, r, r}}; }

TEST(BoundTest, BuildingAndMerging) {
  const std::vector<V> edgeMiddles{{0, 1, 0}, {2, 1, 0}, {1, 0, 0}, {1, 2, 0}};
  Bound b;
  EXPECT_TRUE(b.EncloseBox(edgeMiddles));
  EXPECT_EQ(b.center, (V{1, 1, 0}));
  EXPECT_FLOAT_EQ(b.radius, std::sqrt(2.0f));  // to the box corners
  b.EnclosePoints(edgeMiddles);
  EXPECT_FLOAT_EQ(b.radius, 1.0f);  // to the farthest point
  EXPECT_FALSE(b.EncloseBox(std::span(edgeMiddles).first(1)));
  EXPECT_FLOAT_EQ(b.radius, 1.0f);

  // Empty sides leave the other standing; of two nested spheres the outer one stands.
  Bound m = Sphere({0, 0, 0}, 1);
  m.Merge(Bound{});
  EXPECT_EQ(m, Sphere({0, 0, 0}, 1));
  m = Bound{};
  m.Merge(Sphere({0, 0, 0}, 1));
  EXPECT_EQ(m, Sphere({0, 0, 0}, 1));
  m = Sphere({1, 0, 0}, 1);
  m.Merge(Sphere({0, 0, 0}, 5));
  EXPECT_EQ(m, Sphere({0, 0, 0}, 5));
  m.Merge(Sphere({1, 0, 0}, 1));
  EXPECT_EQ(m, Sphere({0, 0, 0}, 5));
}

}  // namespace
}  // namespace KX
