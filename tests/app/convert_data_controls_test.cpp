// Old scenes holding light, camera, visibility and animated-picture controllers load with their
// keys moved to the controller's time, and convert into a prop that saves and loads.
#include <gtest/gtest.h>

#include "app/convert.h"
#include "app_fixtures.h"
#include "control/camera_control.h"
#include "control/image_control.h"
#include "control/light_controls.h"
#include "control/visibility_control.h"
#include "image/pixel_buffer.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/light.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX {
namespace {

TEST(ConvertDataControls, EveryControllerLoadsAndTheSceneConverts) {
  test::RegisterForTests();
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Props");
  const auto mesh = scene.Mesh(u"Mesh", test::LegacyMesh::Triangle());
  const auto picture = scene.RawImage(u"pic", 1, 1, kPixelBGR, {1, 2, 3});
  const auto frame = scene.RawImage(u"frame", 1, 1, kPixelBGR, {9, 9, 9});
  const auto map = scene.TextureMap(picture);
  test::LegacyMaterial material;
  material.channels[0] = map;
  scene.SetMaterial(mesh, scene.Material(material));
  scene.AnmImageController(map, scene.AnmImage(u"anim", {frame, frame}, 2));
  scene.VisibilityController(mesh, {0, 1}, {1, 0}, 5);
  const auto point = scene.Light(u"Point", 2);
  scene.LightController(point, {{1, 0, 0}, {0, 1, 0}}, {0, 1}, 5);
  scene.PointLightController(point, {10, 20}, {0, 2}, 5);
  const auto spot = scene.Light(u"Spot", 3);
  scene.SpotLightController(spot, {1}, {{0.5f, 1, 0.25f}}, {}, 5);  // no range keys
  const auto camera = scene.Camera(u"Camera");
  scene.CameraController(camera, {{0, 4}, {1, 2}, {}, {}, {7, 8}, {3}, {2}}, 5);
  for (auto object : {mesh, point, spot, scene.Light(u"Sun", 1), camera})
    scene.AddChild(root, object);

  auto document = test::LoadScene(scene);
  EXPECT_TRUE(document->diagnostics.warnings.empty()) << document->diagnostics.Describe();
  auto* props = KindOf<CNode>(document->roots.at(0).get());
  ASSERT_TRUE(props);
  auto find = [&](const char16_t* name) { return props->FindObject(name, nullptr, false); };
  for (const CRuntimeClass* cls : {&CLightControl::classRecord, &CPointLightControl::classRecord,
                                   &CSpotLightControl::classRecord, &CCameraControl::classRecord,
                                   &CBooleanControl::classRecord, &CAnmImageControl::classRecord})
    EXPECT_TRUE(props->FindObject(std::nullopt, cls, false)) << cls->className;
  // Keys come out in the controller's time, and the scene evaluates.
  auto* view = KindOf<CCameraControl>(KindOf<CCorva>(find(u"Camera"))->controllers.get());
  ASSERT_TRUE(view);
  EXPECT_EQ(view->timesA, (std::vector<float>{0, 4}));
  ASSERT_EQ(props->UpdateHierarchy(0.5f, 0, 0, false), kOk);
  EXPECT_EQ(KindOf<CPointLight>(find(u"Point"))->color, (CVector3<float>{0.5f, 0.5f, 0}));

  test::ScriptedUi ui;
  ASSERT_EQ(ConvertSceneToProp(*document, ui), kOk)
      << (ui.messages.empty() ? "" : ui.messages.back().detail);
  EXPECT_FALSE(find(u"Camera"));
  for (const char16_t* name : {u"Point", u"Spot", u"Sun", u"Mesh"}) {
    auto* object = KindOf<CSpatial>(find(name));
    ASSERT_TRUE(object && object->controllers) << ToUtf8(name);
    EXPECT_FALSE(object->controllers->next) << ToUtf8(name);  // one rest key, nothing else
  }
  test::ExpectRoundTrip(props);
}

}  // namespace
}  // namespace KX
