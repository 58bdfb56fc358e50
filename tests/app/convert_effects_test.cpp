// Old scenes holding billboards, particle systems, image layers and sound convert: geometry of
// either kind is cleaned up like any geometry, billboards are baked like meshes, and every one of
// them ends static with a single rest key.
#include <gtest/gtest.h>

#include <span>

#include "app/convert.h"
#include "app_fixtures.h"
#include "control/keyframe_control.h"
#include "scene/audio.h"
#include "scene/billboard.h"
#include "scene/image_layer.h"
#include "scene/node.h"
#include "scene/particles.h"

namespace KX {
namespace {

using test::LegacyScene;
using V = CVector3<float>;

void ExpectNear(std::span<const V> actual, const std::vector<V>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i].x, expected[i].x, 1e-4f) << i;
    EXPECT_NEAR(actual[i].y, expected[i].y, 1e-4f) << i;
    EXPECT_NEAR(actual[i].z, expected[i].z, 1e-4f) << i;
  }
}

// One key at time 0 holding the identity rest transform, and nothing else in the chain.
void ExpectSingleRestKey(const CSpatial* object) {
  ASSERT_TRUE(object);
  auto* key = KindOf<CKeyframeControl>(object->controllers.get());
  ASSERT_TRUE(key) << "no rest key";
  EXPECT_FALSE(key->next);
  EXPECT_EQ(key->keyTimes, (std::vector<float>{0.0f}));
  EXPECT_EQ(object->position, V{});
}

class ConvertEffects : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // Every class under a group, beside a mesh that makes the scene a plain 3D scene.
  void Build(const std::u16string& rootName) {
    const auto root = scene.Root(rootName, test::Translation({0, 0, 1}));
    const auto group = scene.Node(u"Group", test::Translation({0, 2, 0}));
    scene.AddChild(root, group);
    const auto mesh = scene.Mesh(u"Mesh", test::LegacyMesh::Triangle());
    scene.SetMaterial(mesh, scene.Material({}));
    scene.AddChild(root, mesh);

    const auto sub = scene.Node(u"Sub", test::Translation({9, 9, 9}));
    const auto sign = scene.Billboard(u"Sign", {{-1, -1, 0}, {1, 1, 0}}, test::Translation({5, 0, 0}), {sub});
    scene.SetMaterial(sign, scene.Material({}));
    scene.KeyframeController(sign, {{0.0f, {5, 0, 0}}, {1.0f, {6, 0, 0}}});
    scene.LinkController(sign, group);
    const auto bare = scene.Billboard(u"Bare", {{0, 0, 0}});  // no material
    const auto sparks = scene.Particles(u"Sparks", 4, test::Translation({0, 3, 0}));
    scene.SetMaterial(sparks, scene.Material({}));
    const auto spent = scene.Particles(u"Spent", 0);  // no positions
    scene.SetMaterial(spent, scene.Material({}));
    const auto bell = scene.Sound(u"Bell", {1, 1, 8000, 8000, 1, 8}, {0x80, 0x90, 0xA0});
    const auto overlay = scene.ImageLayer(u"Overlay", bell, {scene.Node(u"Layered")});
    scene.KeyframeController(overlay, {{0.0f, {0, 0, 0}}});
    const auto emitter = scene.AudioInstance(u"Emitter", bell, test::Translation({1, 1, 1}));
    for (auto object : {sign, bare, sparks, spent, overlay, emitter}) scene.AddChild(group, object);
  }

  Status Convert() {
    document = test::LoadScene(scene);
    return ConvertSceneToProp(*document, ui);
  }
  CNode* Root() const { return KindOf<CNode>(document->roots.at(0).get()); }
  template <class T>
  T* Find(std::u16string_view name) const {
    return KindOf<T>(Root()->FindObject(name, nullptr, false));
  }

  LegacyScene scene{"1.50"};
  std::unique_ptr<CPersistContext> document;
  test::ScriptedUi ui;
};

TEST_F(ConvertEffects, EveryClassComesThroughAPropConversion) {
  Build(u"Props");
  ASSERT_EQ(Convert(), kOk) << (ui.messages.empty() ? "" : ui.messages.back().detail);

  // Geometry without a material, or without positions, leaves the tree like a broken mesh.
  EXPECT_FALSE(Find<CBillboard>(u"Bare"));
  EXPECT_FALSE(Find<CParticles>(u"Spent"));

  // The billboard is baked into the scene frame like a mesh; its sub-object, which searches do
  // not reach, is left as it was.
  auto* sign = Find<CBillboard>(u"Sign");
  ASSERT_TRUE(sign);
  ExpectNear(sign->positions.items, {{4, 1, 1}, {6, 3, 1}});
  ExpectSingleRestKey(sign);
  ASSERT_EQ(sign->subObjects.size(), 1u);
  auto* sub = KindOf<CNode>(sign->subObjects[0].get());
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->position, (V{9, 9, 9}));
  EXPECT_FALSE(sub->controllers);

  // Particle positions belong to the controllers: not baked.
  auto* sparks = Find<CParticles>(u"Sparks");
  ASSERT_TRUE(sparks);
  EXPECT_EQ(sparks->capacity, 4);
  EXPECT_EQ(sparks->positions.items, std::vector<V>(4));
  ExpectSingleRestKey(sparks);

  auto* overlay = Find<CImageLayer>(u"Overlay");
  ExpectSingleRestKey(overlay);
  EXPECT_FALSE(overlay->layerFlag3);
  ASSERT_EQ(overlay->layerObjects.size(), 1u);
  ExpectSingleRestKey(KindOf<CSpatial>(overlay->layerObjects[0].get()));
  auto* emitter = Find<CAudioInstance>(u"Emitter");
  ExpectSingleRestKey(emitter);
  ASSERT_TRUE(emitter->audio);
  EXPECT_EQ(emitter->audio.get(), overlay->layerSource.get());
  EXPECT_EQ(emitter->audio->samples, (std::vector<uint8_t>{0x80, 0x90, 0xA0}));
  EXPECT_EQ(emitter->audio->format.bitsPerSample, 8);
}

}  // namespace
}  // namespace KX
