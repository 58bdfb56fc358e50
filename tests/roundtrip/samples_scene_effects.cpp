// Round-trip samples of billboards, particle systems, image layers and sound.
#include "material/material.h"
#include "scene/audio.h"
#include "scene/billboard.h"
#include "scene/bounding_objects.h"
#include "scene/image_layer.h"
#include "scene/node.h"
#include "scene/particles.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CAudioData> SampleSound(uint16_t bits, std::vector<uint8_t> samples) {
  CRefPtr<CAudioData> sound(new CAudioData);
  sound->name = u"sound";
  sound->format = {1, 2, 11025, static_cast<uint32_t>(11025 * 2 * bits / 8),
                   static_cast<uint16_t>(2 * bits / 8), bits};
  sound->samples = std::move(samples);
  return sound;
}

// Sub-objects of several kinds and an empty slot; one of them is the material as well.
CRefPtr<CBase> BillboardSample() {
  CRefPtr<CBillboard> billboard(new CBillboard);
  billboard->name = u"sign";
  billboard->positions.items = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  billboard->mapVertices.items = {{0, 0, 0}, {1, 1, 0}};
  billboard->position = {0, 3, 0};
  billboard->billboardValue1 = 7;
  billboard->billboardValue2 = 0xFFFFFFFFu;
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  billboard->material = material;
  billboard->subObjects = {new CBoundingBox, nullptr, material, new CNode};
  EXPECT_TRUE(::KX::Succeeded(billboard->SizeWorkingBuffers()));
  return billboard;
}

CRefPtr<CBase> ParticlesSample() {
  CRefPtr<CParticles> particles(new CParticles);
  particles->name = u"sparks";
  EXPECT_TRUE(::KX::Succeeded(particles->SetCapacity(5)));
  particles->particleValue = 42;
  particles->material = new CStandardMaterial;
  particles->scale = {2, 2, 2};
  return particles;
}

CRefPtr<CBase> ImageLayerSample() {
  CRefPtr<CImageLayer> layer(new CImageLayer);
  layer->name = u"overlay";
  layer->layerValue1 = 0.5f;
  layer->layerValue2 = {1, 2, 3, 4, 5, 6, 7, 8};
  layer->layerValue12 = 12;
  layer->layerFlag3 = true;
  layer->layerSource = SampleSound(16, {1, 0, 2, 0});
  layer->layerObjects = {new CNode, nullptr, layer->layerSource};
  return layer;
}

CRefPtr<CBase> AudioInstanceSample() {
  CRefPtr<CAudioInstance> emitter(new CAudioInstance);
  emitter->name = u"bell";
  emitter->audioValue0 = 10;
  emitter->audioScale1 = 0.25f;
  emitter->SetAudio(SampleSound(8, {0x80, 0x90, 0x70}).get());
  return emitter;
}
CRefPtr<CBase> AudioDataSample() { return SampleSound(16, {0, 1, 2, 3, 4, 5, 6, 7, 8}); }

const RoundTripRegistrar billboard("CBillboard", BillboardSample);
const RoundTripRegistrar particles("CParticles", ParticlesSample);
const RoundTripRegistrar imageLayer("CImageLayer", ImageLayerSample);
const RoundTripRegistrar audioInstance("CAudioInstance", AudioInstanceSample);
const RoundTripRegistrar audioData("CAudioData", AudioDataSample);

}  // namespace
}  // namespace KX::test
