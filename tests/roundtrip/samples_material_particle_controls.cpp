// Round-trip samples of the material, texture-coordinate map and particle controllers: each
// hangs on an object of the kind it animates, composites with two keyed sub-controllers and an
// empty slot, every list filled.
#include "control/material_control.h"
#include "control/particle_control.h"
#include "control/uvw_map_control.h"
#include "scene/particles.h"
#include "scene/tri_mesh.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

// Attaches `control` to `owner` and answers the owner as the root.
CRefPtr<CBase> On(CCorva* owner, CControl* control) {
  CRefPtr<CBase> root(owner);
  CRefPtr<CControl> keep(control);
  control->name = u"animation";
  control->timeScale = 0.5f;
  control->outOfRange = kOutOfRangeLoop;
  EXPECT_TRUE(::KX::Succeeded(owner->AttachController(control)));
  return root;
}

CRefPtr<CMaterialControl> MaterialKeys(float scale) {
  CRefPtr<CMaterialControl> c(new CMaterialControl);
  c->times1 = {0, 2};
  c->ambientKeys = {{0, 0, 0}, {scale, 0.5f, 1}};
  c->diffuseKeys = {{1, 1, 1}, {0, scale, 0}};
  c->specularKeys = {{0.5f, 0.5f, 0.5f}};  // shorter than its times
  c->param0Keys = {1, scale};
  c->param1Keys = {2, 3};
  c->param2Keys = {4, 5};
  c->times2 = {1};
  c->param3Keys = {6};
  c->param4Keys = {7};
  c->param9Keys = {scale};
  c->times3 = {0, 3};
  ChannelAmounts a, b;
  a.amount[0] = 1;
  b.amount[11] = scale;
  c->amountKeys = {a, b};
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
    c->channelTimes[k] = {static_cast<float>(k)};
    c->channelKeys[k] = {{{scale, 0.25f}, {2, static_cast<float>(k)}}};
  }
  return c;
}

CRefPtr<CUvwMap> Map() {
  CRefPtr<CUvwMap> map(new CUvwMap);
  map->mapVertices.items = {{0, 0, 0}, {1, 0, 0}};
  return map;
}

CRefPtr<CUvwMapControl> MapKeys(float u) {
  CRefPtr<CUvwMapControl> c(new CUvwMapControl);
  c->coordinateKeys = {{0, 0, 0}, {1, 0, 0}, {u, 1, 0}, {1, u, 0}};
  c->keyTimes = {0, 4};
  return c;
}

CRefPtr<CParticles> System() {
  CRefPtr<CParticles> system(new CParticles);
  EXPECT_TRUE(::KX::Succeeded(system->SetCapacity(3)));
  system->name = u"sparks";
  return system;
}

CRefPtr<CParticleControl> Emitter(float rate) {
  CRefPtr<CParticleControl> c(new CParticleControl);
  c->emitValue1 = 2;
  c->emitVector1 = {0, 1, 0};
  c->emitValue2 = 0.25f;
  c->emitVector2 = {0, -9.8f, 0};
  c->emitValue3 = rate;
  c->emitVector3 = {-1, 0, -1};
  c->emitVector4 = {1, 0.5f, 1};
  c->emitVector5 = {0.1f, 0.2f, 0.3f};
  c->emitVector6 = {6, 6, 6};
  c->emitColor1 = {1, 0.5f, 0, 1};
  c->emitColor2 = {0, 0, 1, 0};
  c->emitVector7 = {7, 7, 7};
  c->emitVector8 = {8, 8, 8};
  c->emitValue4 = 1234;
  c->emitValue5 = 5;
  c->emitValue6 = 6;
  c->emitValue7 = 7;
  c->emitValue8 = 8;
  c->emitValue9 = 0xFFFFFFFFu;
  c->eventTimes = {0, 1.5f, 3};
  c->eventFlags = {1, 0, 1};
  return c;
}

// Two clips over sub-controllers 0 and 2 of `subs`.
template <class Clip, class Sub>
Clip* Clipped(std::vector<CRefPtr<Sub>> subs) {
  auto* c = new Clip;
  c->clip.subControllers = std::move(subs);
  ClipEntry first, second;
  first.source = 0;
  first.repeat = 2;
  first.speed = 1.5f;
  second.source = 2;
  second.inPoint = 0.5f;
  second.active = 1;
  c->clip.clipStart = {0, 4};
  c->clip.clipRecords = {first, second};
  return c;
}

const RoundTripRegistrar materialSample("CMaterialControl", [] {
  return On(new CStandardMaterial, MaterialKeys(0.75f).get());
});

const RoundTripRegistrar materialLayerSample("CMaterialLayerControl", [] {
  auto* c = new CMaterialLayerControl;
  c->layer.subControllers = {MaterialKeys(1).get(), nullptr, MaterialKeys(2).get()};
  c->weightTracks = {{1, 0.25f}, {}, {0, 0.75f}};
  c->weightTimes = {0, 5};
  return On(new CStandardMaterial, c);
});

const RoundTripRegistrar materialClipSample("CMaterialClipControl", [] {
  return On(new CStandardMaterial, Clipped<CMaterialClipControl, CMaterialDataControl>(
                                       {MaterialKeys(1).get(), nullptr, MaterialKeys(3).get()}));
});

const RoundTripRegistrar mapSample("CUvwMapControl",
                                   [] { return On(Map().get(), MapKeys(0.5f).get()); });

const RoundTripRegistrar mapBaseSample("CUvwMapDataControl",
                                       [] { return On(Map().get(), new CUvwMapDataControl); });

const RoundTripRegistrar mapClipSample("CUvwMapClipControl", [] {
  return On(Map().get(), Clipped<CUvwMapClipControl, CUvwMapDataControl>(
                             {MapKeys(0.25f).get(), nullptr, MapKeys(0.75f).get()}));
});

const RoundTripRegistrar particleSample("CParticleControl",
                                        [] { return On(System().get(), Emitter(4).get()); });

const RoundTripRegistrar particleClipSample("CParticleClipControl", [] {
  return On(System().get(), Clipped<CParticleClipControl, CParticleDataControl>(
                                {Emitter(1).get(), nullptr, Emitter(8).get()}));
});

}  // namespace
}  // namespace KX::test
