#include <gtest/gtest.h>

#include <cmath>

#include "core/math/quaternion.h"
#include "core/math/transform.h"
#include "scene_fixtures.h"

namespace KX {
namespace {

using test::CTestLeaf;
using V = CVector3<float>;

bool AllFinite(const CSpatial& s) {
  for (const auto& row : s.rotation.m)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  for (float v : {s.scale.x, s.scale.y, s.scale.z, s.position.x, s.position.y, s.position.z})
    if (!std::isfinite(v)) return false;
  return true;
}

void ExpectNear(const CMatrix4& a, const CMatrix4& b, float tolerance = 1e-5f) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], tolerance) << i << "," << j;
}

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
  EXPECT_EQ(s->parent, nullptr);
  EXPECT_EQ(s->GetMemorySize(), 188);
  EXPECT_FALSE(s->Reserved3(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST(Spatial, CopyKeepsTransformAndSettingsButNoLinks) {
  CRefPtr<CNode> parent(new CNode);
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  parent->AddChild(s.get());
  s->flags = 7;
  s->position = {1, 2, 3};
  s->transform.m[3][0] = 5;
  s->bound.radius = 4;
  s->visible = false;
  s->frozen = true;
  s->auxFlag = 9;
  s->auxMode = -1;
  s->attachment = new test::CTestObject;
  s->bounding = new test::CTestObject;
  CRefPtr<CBase> out;
  ASSERT_EQ(s->Clone(out), kOk);
  auto* copy = KindOf<CTestLeaf>(out.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->flags, 7u);
  EXPECT_EQ(copy->position, (V{1, 2, 3}));
  EXPECT_EQ(copy->transform, s->transform);
  EXPECT_EQ(copy->bound.radius, 4);
  EXPECT_FALSE(copy->visible);
  EXPECT_TRUE(copy->frozen);
  EXPECT_EQ(copy->auxFlag, 9);
  EXPECT_EQ(copy->auxMode, -1);
  EXPECT_EQ(copy->parent, nullptr);
  EXPECT_FALSE(copy->attachment);
  EXPECT_FALSE(copy->bounding);
}

TEST(Spatial, LocalMatrixScalesThenRotatesThenTranslates) {
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  // A quarter turn about z: x goes to y.
  s->rotation.m[0][0] = 0; s->rotation.m[0][1] = 1;
  s->rotation.m[1][0] = -1; s->rotation.m[1][1] = 0;
  s->scale = {2, 3, 4};
  s->position = {10, 20, 30};
  const CMatrix4 m = s->GetLocalMatrix();
  const V p = TransformCoord({1, 1, 1}, m);
  // Scaled (2, 3, 4), turned (-3, 2, 4), moved.
  EXPECT_NEAR(p.x, 7, 1e-6);
  EXPECT_NEAR(p.y, 22, 1e-6);
  EXPECT_NEAR(p.z, 34, 1e-6);

  CRefPtr<CTestLeaf> back(new CTestLeaf);
  back->SetFromMatrix(m);
  EXPECT_EQ(back->modified, 1);
  ExpectNear(back->GetLocalMatrix(), m);
  EXPECT_NEAR(back->scale.y, 3, 1e-6);
}

TEST(Spatial, MirroredMatrixGivesThreeNegativeScales) {
  CMatrix4 m;
  m.m[0][0] = -2;  // mirrored along x
  m.m[1][1] = 3;
  m.m[2][2] = 4;
  m.m[3][0] = 1;
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  s->SetFromMatrix(m);
  EXPECT_EQ(s->scale, (V{-2, -3, -4}));
  // The rotation is proper (determinant +1) and the parts rebuild the matrix.
  EXPECT_NEAR(Determinant3(s->rotation), 1.0, 1e-6);
  ExpectNear(s->GetLocalMatrix(), m);
}

TEST(Spatial, DegenerateMatricesDecomposeToFiniteValues) {
  CMatrix4 zeroScale;
  zeroScale.m[1][1] = 0;  // flattened along y
  CMatrix4 allZero;
  for (auto& row : allZero.m)
    for (float& v : row) v = 0;
  for (const CMatrix4& m : {zeroScale, allZero}) {
    CRefPtr<CTestLeaf> s(new CTestLeaf);
    s->SetFromMatrix(m);
    EXPECT_TRUE(AllFinite(*s));
    // What is left of the matrix is rebuilt.
    const CMatrix4 back = s->GetLocalMatrix();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(back.m[i][j], m.m[i][j], 1e-6);
  }
}

TEST(Spatial, RotationCleanUpZeroesOnlyTinyComponents) {
  // A rotation whose quaternion has an x of 0.000009 (noise) and a z of 0.00002 (kept).
  const float noise = 0.000009f, kept = 0.00002f;
  const float w = std::sqrt(1.0f - noise * noise - kept * kept);
  CMatrix3 r = RotationFromQuaternion({w, noise, 0, kept});
  EXPECT_TRUE(CleanRotation(r));
  const CQuaternion q = QuaternionFromRotation(r);
  EXPECT_EQ(q.x, 0.0f);
  EXPECT_EQ(q.y, 0.0f);
  EXPECT_NEAR(q.z, kept, 1e-7);
  EXPECT_NEAR(q.w, w, 1e-7);

  // Cleaning again finds nothing: loading the same file twice gives the same rotation.
  const CMatrix3 cleaned = r;
  EXPECT_FALSE(CleanRotation(r));
  EXPECT_EQ(r, cleaned);

  // A rotation without noise is kept bit for bit, although its quaternion has zero components.
  CMatrix3 quarter;
  quarter.m[0][0] = 0; quarter.m[0][1] = 1;
  quarter.m[1][0] = -1; quarter.m[1][1] = 0;
  const CMatrix3 stored = quarter;
  EXPECT_FALSE(CleanRotation(quarter));
  EXPECT_EQ(quarter, stored);

  // Garbage rotations stay finite.
  CMatrix3 zero;
  for (auto& row : zero.m)
    for (float& v : row) v = 0;
  CleanRotation(zero);
  for (const auto& row : zero.m)
    for (float v : row) EXPECT_TRUE(std::isfinite(v));
}

TEST(Spatial, EvaluateRunsEveryControllerThenAppliesIt) {
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  CRefPtr<test::CWaitControl> a(new test::CWaitControl), b(new test::CWaitControl);
  s->AttachController(a.get());
  s->AttachController(b.get());
  EXPECT_EQ(s->EvaluateTransform(2.0f), kOk);
  EXPECT_EQ(a->applied, 1);
  EXPECT_EQ(b->applied, 1);
  // A failure stops the chain before the failing controller applies anything.
  a->failure = kErrBadArgument;
  EXPECT_EQ(s->EvaluateTransform(3.0f), kErrBadArgument);
  EXPECT_EQ(a->applied, 1);
  EXPECT_EQ(b->times.size(), 1u);
}

TEST(Spatial, BoundingHeadAndAttachmentTakePartInSearches) {
  CRefPtr<CTestLeaf> s(new CTestLeaf);
  CRefPtr<test::CTestObject> attached(new test::CTestObject), hull(new test::CTestObject);
  attached->name = u"a";
  hull->name = u"h";
  s->attachment = attached;
  EXPECT_EQ(s->AddBounding(nullptr), kErrBadArgument);
  EXPECT_EQ(s->AddBounding(hull.get()), kOk);
  EXPECT_EQ(s->FindObject(u"h", nullptr, false), hull.get());
  std::vector<CBase*> found;
  s->FindObjects(found, std::nullopt, &test::CTestObject::classRecord, false);
  EXPECT_EQ(found, (std::vector<CBase*>{attached.get(), hull.get()}));
  EXPECT_TRUE(s->HasAttachments());
}

// ---------------------------------------------------------------------------------------------

Bound Sphere(V c, float r) {
  Bound b;
  b.center = c;
  b.radius = r;
  b.boxMin = c - V{r, r, r};
  b.boxMax = c + V{r, r, r};
  return b;
}

TEST(BoundBuilding, BoxSphereAndPointSphere) {
  const std::vector<V> points{{0, 0, 0}, {2, 0, 0}, {0, 4, 0}, {1, 1, 4}};
  Bound box;
  EXPECT_TRUE(box.EncloseBox(points));
  EXPECT_EQ(box.boxMin, (V{0, 0, 0}));
  EXPECT_EQ(box.boxMax, (V{2, 4, 4}));
  EXPECT_EQ(box.center, (V{1, 2, 2}));
  EXPECT_FLOAT_EQ(box.radius, 3.0f);  // half the diagonal of 2 x 4 x 4

  Bound tight;
  tight.EnclosePoints(points);
  EXPECT_EQ(tight.center, (V{1, 2, 2}));
  EXPECT_FLOAT_EQ(tight.radius, 3.0f);  // three of the points sit on box corners
  // Points on the middles of the box's edges: the sphere reaches them, not the corners.
  tight.EnclosePoints(std::vector<V>{{0, 1, 0}, {2, 1, 0}, {1, 0, 0}, {1, 2, 0}});
  EXPECT_FLOAT_EQ(tight.radius, 1.0f);

  // Too few points leave a bound alone; none at all give the empty bound.
  Bound kept = Sphere({5, 5, 5}, 1);
  EXPECT_FALSE(kept.EncloseBox(std::span<const V>(points.data(), 1)));
  EXPECT_EQ(kept, Sphere({5, 5, 5}, 1));
  kept.EnclosePoints({});
  EXPECT_EQ(kept, Bound{});
}

TEST(BoundMerging, EmptySidesContainmentAndJoin) {
  const Bound a = Sphere({0, 0, 0}, 1);
  Bound m = a;
  m.Merge(Bound{});
  EXPECT_EQ(m, a);
  m = Bound{};
  m.Merge(a);
  EXPECT_EQ(m, a);

  // Contained either way: the larger sphere stands, the boxes join.
  m = Sphere({0, 0, 0}, 5);
  m.Merge(Sphere({1, 0, 0}, 1));
  EXPECT_EQ(m.center, (V{0, 0, 0}));
  EXPECT_EQ(m.radius, 5);
  m = Sphere({1, 0, 0}, 1);
  m.Merge(Sphere({0, 0, 0}, 5));
  EXPECT_EQ(m.center, (V{0, 0, 0}));
  EXPECT_EQ(m.radius, 5);

  // Apart: the smallest sphere around both.
  m = Sphere({0, 0, 0}, 1);
  m.Merge(Sphere({10, 0, 0}, 2));
  EXPECT_FLOAT_EQ(m.radius, 6.5f);
  EXPECT_FLOAT_EQ(m.center.x, 5.5f);
  EXPECT_EQ(m.boxMin, (V{-1, -2, -2}));
  EXPECT_EQ(m.boxMax, (V{12, 2, 2}));
}

}  // namespace
}  // namespace KX
