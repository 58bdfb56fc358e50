// Evaluation of the data controllers of materials, texture-coordinate maps and particle
// systems: 10,000 controllers of those kinds, each on an owner of its own, updated and applied
// at 1,000 frames 1/30 s apart, forward and in a shuffled order.
//
//   build/bench/bench_data_controls [--benchmark_filter=...]
//
// The mix: 40 % keyed material controllers (every group and channel keyed, 100 keys a list),
// 20 % material layers over two of those, 30 % map controllers (8 coordinates, 100 keys) and
// 10 % emitters (64 particles each, emitting throughout). The counter "controls" is controller
// evaluations per second; its inverse is the cost of one controller for one frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "control/material_control.h"
#include "control/particle_control.h"
#include "control/uvw_map_control.h"
#include "material/material.h"
#include "scene/particles.h"
#include "scene/tri_mesh.h"

namespace {

using namespace KX;

constexpr int32_t kControls = 10'000;
constexpr int32_t kKeys = 100;
constexpr int32_t kFrames = 1'000;
constexpr float kFrameTime = 1.0f / 30.0f;
constexpr float kSpan = kFrames * kFrameTime;

std::vector<float> Times() {
  std::vector<float> times(kKeys);
  for (int32_t k = 0; k < kKeys; ++k) times[k] = kSpan * static_cast<float>(k) / (kKeys - 1);
  return times;
}

CRefPtr<CMaterialControl> MaterialKeys(std::mt19937& random) {
  std::uniform_real_distribution<float> value(0, 1);
  CRefPtr<CMaterialControl> c(new CMaterialControl);
  c->times1 = c->times2 = c->times3 = Times();
  for (int32_t k = 0; k < kKeys; ++k) {
    const CVector3<float> colour{value(random), value(random), value(random)};
    c->ambientKeys.push_back(colour);
    c->diffuseKeys.push_back(colour);
    c->specularKeys.push_back(colour);
    for (auto* list : {&c->param0Keys, &c->param1Keys, &c->param2Keys, &c->param3Keys,
                       &c->param4Keys, &c->param9Keys})
      list->push_back(value(random));
    ChannelAmounts amounts;
    std::fill(std::begin(amounts.amount), std::end(amounts.amount), value(random));
    c->amountKeys.push_back(amounts);
  }
  for (size_t k = 0; k < kAnimatedChannels.size(); ++k) {
    c->channelTimes[k] = Times();
    c->channelKeys[k].assign(kKeys, UvTransformKey{});
  }
  return c;
}

struct Rig {
  std::vector<CRefPtr<CCorva>> owners;
  std::vector<CControl*> controls;
};

const Rig& Controls() {
  static const Rig rig = [] {
    Rig r;
    std::mt19937 random(20240601);
    for (int32_t i = 0; i < kControls; ++i) {
      const int32_t kind = i % 10;
      CRefPtr<CControl> control;
      CRefPtr<CCorva> owner;
      if (kind < 4) {
        owner = new CStandardMaterial;
        control = MaterialKeys(random).get();
      } else if (kind < 6) {
        owner = new CStandardMaterial;
        CRefPtr<CMaterialLayerControl> layer(new CMaterialLayerControl);
        layer->layer.subControllers = {MaterialKeys(random).get(), MaterialKeys(random).get()};
        layer->weightTracks = {std::vector<float>(kKeys, 0.25f), std::vector<float>(kKeys, 0.75f)};
        layer->weightTimes = Times();
        control = layer.get();
      } else if (kind < 9) {
        CRefPtr<CUvwMap> map(new CUvwMap);
        map->mapVertices.items.assign(8, {});
        owner = map.get();
        CRefPtr<CUvwMapControl> keys(new CUvwMapControl);
        keys->keyTimes = Times();
        keys->coordinateKeys.assign(8 * kKeys, {0.5f, 0.25f, 0});
        control = keys.get();
      } else {
        CRefPtr<CParticles> system(new CParticles);
        if (Failed(system->SetCapacity(64))) std::abort();
        owner = system.get();
        CRefPtr<CParticleControl> emitter(new CParticleControl);
        emitter->emitValue3 = 30;
        emitter->emitValue1 = 2;
        emitter->emitVector1 = {0, 1, 0};
        emitter->emitVector2 = {0, -9.8f, 0};
        emitter->emitVector5 = {0.5f, 0.5f, 0.5f};
        emitter->eventTimes = {0};
        emitter->eventFlags = {1};
        control = emitter.get();
      }
      if (Failed(owner->AttachController(control.get()))) std::abort();
      r.controls.push_back(control.get());
      r.owners.push_back(owner);
    }
    return r;
  }();
  return rig;
}

void BM_DataControls(benchmark::State& state) {
  const Rig& rig = Controls();
  std::vector<int32_t> order(kFrames);
  std::iota(order.begin(), order.end(), 1);
  if (state.range(0)) std::shuffle(order.begin(), order.end(), std::mt19937(20240601));
  for (auto _ : state) {
    for (int32_t f : order) {
      for (CControl* c : rig.controls) {
        if (Failed(c->Update(f * kFrameTime)) || Failed(c->ApplyData()))
          state.SkipWithError("evaluation failed");
      }
    }
  }
  state.counters["frames"] =
      benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["controls"] = benchmark::Counter(double(kFrames) * kControls,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DataControls)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
