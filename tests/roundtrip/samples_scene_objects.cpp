// Round-trip samples of the bounding objects and the scene-level objects.
#include "scene/bounding_objects.h"
#include "scene/camera.h"
#include "scene/node.h"
#include "scene/scene_settings.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> BoundingBoxSample() {
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  box->name = u"box";
  for (int i = 0; i < 8; ++i)
    box->corners[i] = {i & 1 ? 1.0f : -1.0f, i & 2 ? 2.0f : -2.0f, i & 4 ? 0.5f : -0.5f};
  return box;
}

// A node carrying two hulls: one moved by the node itself, one by its child.
CRefPtr<CBase> BoundingMeshSample() {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CNode> child(new CNode);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(child.get())));
  CRefPtr<CBoundingMesh> body(new CBoundingMesh);
  body->node = root.get();
  body->faceCount = 1;
  body->faceIndices.items = {0, 1, 2};
  body->vertices.items = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  body->hullFlag2 = false;
  CRefPtr<CBoundingMesh> limb(new CBoundingMesh);
  limb->name = u"limb";
  limb->node = child.get();
  limb->vertices.items = {{0, 0, 2}};
  EXPECT_TRUE(::KX::Succeeded(root->AddBounding(body.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddBounding(limb.get())));
  return root;
}

CRefPtr<CBase> SceneSample() {
  CRefPtr<CScene> scene(new CScene);
  scene->name = u"settings";
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject1(new CNode)));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject4(new CBoundingBox)));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject7(scene->object4.get())));  // one object in two fields
  scene->value1 = {1, 2, 3};
  scene->value2 = {0.1f, 0.2f, 0.3f, 0.4f};
  scene->value3 = true;
  scene->value4 = {-1, -2, -3};
  scene->value5 = {10, 20, 30};
  scene->value6 = 2;
  return scene;
}

// The cameras are children of a node that the switcher carries as its extra object.
CRefPtr<CBase> CameraSwitcherSample() {
  CRefPtr<CCameraSwitcher> switcher(new CCameraSwitcher);
  CRefPtr<CNode> stage(new CNode);
  for (int i = 0; i < 2; ++i) {
    CRefPtr<CCamera> camera(new CCamera);
    camera->position = {float(i), 0, 5};
    EXPECT_TRUE(::KX::Succeeded(stage->AddChild(camera.get())));
    switcher->cameras.push_back(camera.get());
  }
  switcher->switchTimes = {0, 1.5f};
  switcher->switching = 1;
  switcher->primaryCamera = new CCamera;
  switcher->secondaryCamera = switcher->cameras[0];
  switcher->extraObject = stage;
  EXPECT_TRUE(::KX::Succeeded(switcher->Update(2)));
  return switcher;
}

const RoundTripRegistrar scene("CScene", SceneSample);
const RoundTripRegistrar cameraSwitcher("CCameraSwitcher", CameraSwitcherSample);
const RoundTripRegistrar boundingBox("CBoundingBox", BoundingBoxSample);
const RoundTripRegistrar boundingMesh("CBoundingMesh", BoundingMeshSample);

}  // namespace
}  // namespace KX::test
