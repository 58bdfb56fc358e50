#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <numbers>

#include "object/container.h"
#include "core/math/transform.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

void ExpectNear(const V& actual, const V& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-6f);
  EXPECT_NEAR(actual.y, expected.y, 1e-6f);
  EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

// A quarter turn about y (row vectors: x goes to -z), scaled by 2 and moved along x.
CMatrix4 TurnedNodeMatrix() {
  return ComposeMatrix(V{2, 2, 2}, RotationFromEuler({0, std::numbers::pi_v<float> / 2, 0}),
                       V{5, 0, 0});
}

TEST(Lights, NewLightsHaveTheDocumentedDefaults) {
  CRefPtr<CSpotLight> spot(new CSpotLight);
  EXPECT_EQ(spot->GetLightType(), kLightSpot);
  EXPECT_EQ(spot->localDirection, (V{0, 0, -1}));
  EXPECT_EQ(spot->worldDirection, (V{0, 0, -1}));
  EXPECT_EQ(std::bit_cast<uint32_t>(spot->range), 0x5C11AFB4u);
  EXPECT_FLOAT_EQ(spot->range, 1.6402824e17f);
  EXPECT_EQ((std::array{spot->attenuation0, spot->attenuation1, spot->attenuation2}),
            (std::array{1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(spot->theta, 0.0f);
  EXPECT_EQ(spot->phi, std::numbers::pi_v<float> / 2);
  EXPECT_TRUE(spot->enabled);
  EXPECT_EQ(CRefPtr<CPointLight>(new CPointLight)->range, spot->range);

  // Lights are leaves without geometry.
  SpatialQueue queue;
  spot->CollectSpatials(queue);
  EXPECT_EQ(queue.size(), 1u);
  EXPECT_EQ(spot->UpdateBound(), kNothingDone);
}

TEST(Lights, UpdateTurnsLocalValuesIntoWorldValues) {
  CRefPtr<CNode> node(new CNode);
  node->SetFromMatrix(TurnedNodeMatrix());
  CRefPtr<CDirectionalLight> sun(new CDirectionalLight);
  CRefPtr<CSpotLight> spot(new CSpotLight);
  CRefPtr<CPointLight> point(new CPointLight);
  for (CSpatial* light : std::initializer_list<CSpatial*>{sun.get(), spot.get(), point.get()}) {
    ASSERT_EQ(node->AddChild(light), kOk);
    // What the transform controllers write: the light's rest transform under its node's.
    light->transform = light->GetLocalMatrix() * node->GetLocalMatrix();
  }
  spot->localPosition = point->localPosition = {1, 0, 0};
  ASSERT_EQ(node->Update(0), kOk);
  // The direction is only turned: the node's scale and translation leave it a unit vector.
  ExpectNear(sun->worldDirection, {-1, 0, 0});
  ExpectNear(spot->worldDirection, {-1, 0, 0});
  ExpectNear(spot->worldPosition, {5, 0, -2});
  ExpectNear(point->worldPosition, {5, 0, -2});

  // A mirrored transform still gives a turned, unmirrored direction.
  sun->transform = ComposeMatrix(V{-1, -1, -1}, CMatrix3{}, V{});
  ASSERT_EQ(sun->Update(0), kOk);
  ExpectNear(sun->worldDirection, {0, 0, -1});
}

TEST(Lights, CloneAndAssignCopyComputedValuesToTheSameClassOnly) {
  CRefPtr<CSpotLight> spot(new CSpotLight);
  spot->color = {1, 2, 3};
  spot->worldDirection = {0, 1, 0};
  spot->phi = 0.7f;
  CRefPtr<CBase> clone;
  ASSERT_EQ(spot->Clone(clone), kOk);
  EXPECT_EQ(KindOf<CSpotLight>(clone.get())->worldDirection, (V{0, 1, 0}));

  ReleasedList released;
  CRefPtr<CSpotLight> assigned(new CSpotLight);
  ASSERT_EQ(spot->AssignTo(assigned.get(), released), kOk);
  EXPECT_EQ(assigned->color, (V{1, 2, 3}));
  EXPECT_EQ(assigned->worldDirection, (V{0, 1, 0}));
  EXPECT_EQ(assigned->phi, 0.7f);
  EXPECT_EQ(spot->AssignTo(CRefPtr<CPointLight>(new CPointLight).get(), released), kErrMalformed);
}

TEST(Camera, WorldTargetFollowsTheTargetObjectUnlessFixed) {
  CRefPtr<CCamera> camera(new CCamera);
  camera->transform = ComposeMatrix(V{1, 1, 1}, CMatrix3{}, V{0, 0, 10});
  camera->localEye = {0, 1, 0};
  ASSERT_EQ(camera->Update(0), kOk);
  ExpectNear(camera->worldTarget, {0, 0, 9});
  ExpectNear(camera->worldEye, {0, 1, 10});
  ExpectNear(camera->worldUp, {0, 1, 0});

  CRefPtr<CCameraTarget> target(new CCameraTarget);
  target->transform = ComposeMatrix(V{3, 3, 3}, CMatrix3{}, V{3, 4, 5});
  camera->target = target;
  ASSERT_EQ(camera->Update(0), kOk);
  ExpectNear(camera->worldTarget, {0, 0, 9});  // fixed: the target object is not looked at

  camera->fixedTarget = false;
  ASSERT_EQ(camera->Update(0), kOk);
  EXPECT_EQ(camera->worldTarget, (V{3, 4, 5}));

  camera->target = nullptr;
  ASSERT_EQ(camera->Update(0), kOk);
  ExpectNear(camera->worldTarget, {0, 0, 9});
}

TEST(Camera, TargetIsEvaluatedSearchedAndCopiedWithTheCamera) {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CCamera> camera(new CCamera);
  CRefPtr<CCameraTarget> target(new CCameraTarget);
  target->name = u"aim";
  camera->target = target;
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(camera.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(target.get())));

  SpatialQueue queue;
  camera->CollectSpatials(queue);
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[1], target.get());
  EXPECT_EQ(root->UpdateHierarchy(0, 0, 0, false), kOk);

  EXPECT_EQ(camera->FindObject(u"aim", nullptr, false), target.get());

  // A clone shares the target; a duplicate of the whole tree gets the target's one copy.
  CRefPtr<CBase> clone;
  ASSERT_EQ(camera->Clone(clone), kOk);
  EXPECT_EQ(KindOf<CCamera>(clone.get())->target, target);
  DuplicateMap map;
  CRefPtr<CBase> rootCopy;
  ASSERT_EQ(root->Duplicate(rootCopy, map), kOk);
  auto* treeCopy = KindOf<CNode>(rootCopy.get());
  auto* cameraCopy = KindOf<CCamera>(treeCopy->children[0].get());
  ASSERT_TRUE(cameraCopy && cameraCopy->target);
  EXPECT_NE(cameraCopy->target, target);
  EXPECT_EQ(cameraCopy->target.get(), treeCopy->children[1].get());
  EXPECT_TRUE(cameraCopy->modified);

  // AssignTo shares the target; the one the other camera had goes to the caller.
  CRefPtr<CCamera> other(new CCamera);
  CRefPtr<CCameraTarget> oldTarget(new CCameraTarget);
  other->target = oldTarget;
  ReleasedList released;
  camera->worldEye = {1, 2, 3};
  ASSERT_EQ(camera->AssignTo(other.get(), released), kOk);
  EXPECT_EQ(other->target, target);
  EXPECT_EQ(other->worldEye, (V{1, 2, 3}));
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), oldTarget.get());
  EXPECT_EQ(camera->AssignTo(CRefPtr<CSpotLight>(new CSpotLight).get(), released), kErrMalformed);
}

// ---------------------------------------------------------------------------------------------

Bytes Header(const char* cls, const Bytes& body) {
  return Bytes().A(cls).I32(static_cast<int32_t>(body.size())).Append(body);
}

Bytes BaseBlocks(int32_t id, const CSpatial& s, uint32_t attachIds = 0) {
  Bytes b;
  b.Version(2, 0).I32(id).W(s.name).Version(2, 0).I32(0).I32(0).I32(0);
  b.Version(2, 2);
  for (const auto& row : s.rotation.m)
    for (float v : row) b.F32(v);
  for (const V& v : {s.position, s.scale}) b.F32(v.x).F32(v.y).F32(v.z);
  return b.U32(s.flags).I32(static_cast<int32_t>(attachIds)).I32(0).U8(s.visible).U8(s.frozen);
}

Bytes& Vec(Bytes& b, const V& v) { return b.F32(v.x).F32(v.y).F32(v.z); }

Bytes NewFile() { return test::NewHeader().I32(0).I32(0).A("_Root"); }

TEST(LightCameraPersistence, CurrentLayoutIsByteExact) {
  test::RegisterForTests();
  CRefPtr<CSpotLight> spot(new CSpotLight);
  spot->name = u"spot";
  spot->color = {0.5f, 0.25f, 1};
  spot->enabled = false;
  spot->localPosition = {1, 2, 3};
  spot->localDirection = {0, -1, 0};
  spot->worldPosition = {9, 9, 9};  // never saved
  spot->falloff = 2;
  spot->theta = 0.25f;
  Bytes body = BaseBlocks(1, *spot);
  Vec(body.Version(2, 0), spot->color).U8(0);
  Vec(Vec(body.Version(2, 0), spot->localPosition), spot->localDirection);
  for (float v : {spot->range, 2.0f, 1.0f, 0.0f, 0.0f, 0.25f, spot->phi}) body.F32(v);
  const Bytes record = Header("CSpotLight", body);
  EXPECT_EQ(test::SaveRootToBytes(spot.get()), NewFile().Append(record).data);
  EXPECT_EQ(spot->GetSaveSize(), static_cast<int64_t>(record.size()));

  CRefPtr<CCamera> camera(new CCamera);
  camera->param3 = 4;
  camera->localEye = {1, 0, 0};
  camera->fixedTarget = false;
  camera->param11 = 0x01020304;
  camera->target = new CCameraTarget;
  Bytes cameraBody = BaseBlocks(1, *camera);
  cameraBody.Version(2, 0);
  for (float v : {1.0f, 2.0f, 4.0f, 0.0f, 1.0f, 0.0f, 1.0f}) cameraBody.F32(v);
  Vec(Vec(Vec(cameraBody, {1, 0, 0}), {0, 1, 0}), {0, 0, -1});
  cameraBody.U8(1).U8(0).I32(2).F32(0).F32(1000).F32(1).U32(0x01020304);
  Bytes targetBody = BaseBlocks(2, *camera->target);
  targetBody.Version(2, 0);
  const Bytes cameraRecord = Header("CCamera", cameraBody);
  EXPECT_EQ(test::SaveRootToBytes(camera.get()),
            NewFile().Append(cameraRecord).Append(Header("CCameraTarget", targetBody)).data);
  EXPECT_EQ(camera->GetSaveSize(), static_cast<int64_t>(cameraRecord.size()));

  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(camera.get());
  auto* loadedCamera = KindOf<CCamera>(loaded.get());
  ASSERT_TRUE(loadedCamera);
  EXPECT_STREQ(loadedCamera->target->GetRuntimeClass()->className, "CCameraTarget");
  EXPECT_EQ(loadedCamera->param11, 0x01020304u);
}

TEST(LightCameraPersistence, OldLayoutSkipsTheLightWordAndLacksTheLaterCameraValues) {
  test::RegisterForTests();
  auto oldSpatial = [](Bytes& b, int32_t id, const char* name) {
    b.I32(id).A(name).I32(0).I32(0).I32(0);  // CBase, CCorva
    const float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    for (float v : matrix) b.F32(v);
    b.U8(1).I32(0);  // visible, no unused ids
  };
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail()).A("_CorvaRoot").A("CNode");
  oldSpatial(file, 1, "root");
  file.U32(0).U8(1).U8(1).I32(3).I32(2).I32(3).I32(4);
  file.A("CPointLight");
  oldSpatial(file, 2, "lamp");
  file.F32(1).F32(0.5f).F32(0).U32(0xDEADBEEF).U8(0);  // colour, the old word, enabled
  file.F32(0).F32(1).F32(0).F32(20).F32(1).F32(0.5f).F32(0.25f);
  file.A("CCamera");
  oldSpatial(file, 3, "cam");
  for (int i = 0; i < 7; ++i) file.F32(static_cast<float>(i));
  file.F32(0).F32(0).F32(0).F32(0).F32(1).F32(0).F32(0).F32(0).F32(-5);
  file.U8(0).U8(0).I32(4);
  file.A("CCameraTarget");
  oldSpatial(file, 4, "cam.target");

  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  auto* root = KindOf<CNode>(context.roots.at(0).get());
  ASSERT_TRUE(root && root->children.size() == 3);
  auto* lamp = KindOf<CPointLight>(root->children[0].get());
  ASSERT_TRUE(lamp);
  EXPECT_EQ(lamp->color, (V{1, 0.5f, 0}));
  EXPECT_FALSE(lamp->enabled);
  EXPECT_EQ(lamp->localPosition, (V{0, 1, 0}));
  EXPECT_EQ(lamp->range, 20.0f);
  EXPECT_EQ(lamp->attenuation2, 0.25f);
  EXPECT_EQ(lamp->position, (V{1, 2, 3}));

  auto* camera = KindOf<CCamera>(root->children[1].get());
  ASSERT_TRUE(camera);
  EXPECT_EQ(camera->param7, 6.0f);
  EXPECT_EQ(camera->localTarget, (V{0, 0, -5}));
  EXPECT_FALSE(camera->cameraFlag);
  EXPECT_EQ(camera->target.get(), root->children[2].get());
  EXPECT_EQ(camera->param9, 1000.0f);  // not in old files: the default
  test::ExpectRoundTrip(root);
}

}  // namespace
}  // namespace KX
