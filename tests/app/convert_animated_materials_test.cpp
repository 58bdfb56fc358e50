// Old scenes whose materials, map channels and particle systems are animated load, convert and
// save: the conversion strips the controllers of spatial objects only, so those of materials and
// map channels stay, still playing, and go into the prop.
#include <gtest/gtest.h>

#include "app/convert.h"
#include "app_fixtures.h"
#include "control/material_control.h"
#include "control/particle_control.h"
#include "control/uvw_map_control.h"
#include "material/material.h"
#include "scene/node.h"
#include "scene/particles.h"
#include "scene/tri_mesh.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using V = CVector3<float>;

TEST(ConvertDataControls, AnimatedMaterialsMapsAndParticlesConvert) {
  test::RegisterForTests();
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Props");
  const auto mesh = scene.Mesh(u"Mesh", test::LegacyMesh::Triangle());
  scene.AddChild(root, mesh);
  const auto material = scene.Material({});
  scene.SetMaterial(mesh, material);
  scene.MaterialController(material, {0, 0, 0}, {1, 1, 1}, 3.0f);
  scene.DataComposite("CMaterialLayerControl", material,
                      {scene.MaterialController(material, {1, 0, 0}, {1, 0, 0}, 0, false),
                       scene.MaterialController(material, {0, 1, 0}, {0, 1, 0}, 0, false)});
  scene.DataComposite("CMaterialClipControl", material,
                      {scene.MaterialController(material, {0, 0, 1}, {0, 0, 1}, 0, false)});
  const auto map = scene.UvwMap(mesh, {{0, 0, 0}, {1, 0, 0}});
  scene.UvwMapController(map, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {1, 3});
  scene.DataComposite("CUvwMapClipControl", map,
                      {scene.UvwMapController(map, {{0, 0, 0}, {1, 0, 0}}, {0}, false)});
  const auto sparks = scene.Particles(u"Sparks", 4);
  scene.SetMaterial(sparks, scene.Material({}));
  scene.AddChild(root, sparks);
  scene.ParticleController(sparks, 1, 5, 2);
  scene.DataComposite("CParticleClipControl", sparks,
                      {scene.ParticleController(sparks, 0, 1, 8, false)});

  auto document = test::LoadScene(scene);
  ASSERT_TRUE(document);
  test::ScriptedUi ui;
  ASSERT_EQ(ConvertSceneToProp(*document, ui), kOk);
  auto* node = KindOf<CNode>(document->roots.at(0).get());
  ASSERT_TRUE(node);

  // The material keeps its three controllers, keyed relative to their start.
  auto* m = KindOf<CStandardMaterial>(
      node->FindObject(std::nullopt, &CStandardMaterial::classRecord, false));
  ASSERT_TRUE(m);
  auto* keys = KindOf<CMaterialControl>(m->controllers.get());
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->times1, (std::vector<float>{0, 2}));
  auto* layer = KindOf<CMaterialLayerControl>(keys->next.get());
  ASSERT_TRUE(layer && layer->layer.subControllers.size() == 2);
  EXPECT_EQ(layer->layer.subControllers[1]->owner, m);
  ASSERT_TRUE(KindOf<CMaterialClipControl>(layer->next.get()));
  ASSERT_EQ(m->Update(1), kOk);  // the clip plays last: its blue holds
  EXPECT_EQ(m->ambient, (V{0, 0, 1}));

  auto* mesh3 = KindOf<CTriMesh>(node->FindObject(u"Mesh", nullptr, false));
  ASSERT_TRUE(mesh3 && mesh3->mapChannels.size() == 1);
  CUvwMap* channel = mesh3->mapChannels[0].get();
  auto* mapKeys = KindOf<CUvwMapControl>(channel->controllers.get());
  ASSERT_TRUE(mapKeys && KindOf<CUvwMapClipControl>(mapKeys->next.get()));
  ASSERT_EQ(mapKeys->Update(2), kOk);
  EXPECT_EQ(channel->mapVertices.items, (std::vector<V>{{0, 0.5f, 0}, {1, 0.5f, 0}}));
  ASSERT_EQ(channel->Update(2), kOk);  // the clip plays last
  EXPECT_EQ(channel->mapVertices.items, (std::vector<V>{{0, 0, 0}, {1, 0, 0}}));

  // Particle systems are spatial: their emitters go with the rest of the animation.
  auto* particles = KindOf<CParticles>(node->FindObject(u"Sparks", nullptr, false));
  ASSERT_TRUE(particles);
  EXPECT_FALSE(KindOf<CParticleDataControl>(particles->controllers.get()));

  // What the converter writes loads again, byte for byte.
  test::ExpectRoundTrip(node);
}

TEST(ConvertDataControls, OldEmittersKeepTheirWindow) {
  test::RegisterForTests();
  test::LegacyScene scene("1.50");
  const auto sparks = scene.Particles(u"Sparks", 4);
  scene.MarkRoot(sparks);
  scene.ParticleController(sparks, 1, 5, 2);
  auto document = test::LoadScene(scene);
  ASSERT_TRUE(document);
  auto* system = KindOf<CParticles>(document->roots.at(0).get());
  ASSERT_TRUE(system);
  auto* emitter = KindOf<CParticleControl>(system->controllers.get());
  ASSERT_TRUE(emitter);
  EXPECT_EQ(emitter->eventTimes, (std::vector<float>{1, 5}));
  EXPECT_EQ(emitter->eventFlags, (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(emitter->priority, 0);
  EXPECT_EQ(emitter->auxValue, 1);
  EXPECT_EQ(emitter->emitValue3, 2);
}

}  // namespace
}  // namespace KX
