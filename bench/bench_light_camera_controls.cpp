// Evaluation of light, camera and visibility controllers: 10,000 controllers of five kinds (colour,
// point-light range, spot-light cone, camera, visibility), 2,000 of each, every one with 100 keys
// spread over the playback and attached to an owner of its kind, evaluated (Update, then
// ApplyData) at 1,000 frames 1/30 s apart.
//
//   build/bench/bench_light_camera_controls [--benchmark_filter=...]
//
// Argument 0 plays the frames forward, so every key cursor moves at most a key per frame;
// argument 1 visits the same frames shuffled, so each search walks from wherever its cursor was.
// The "controllers" counter is controller evaluations per second; its inverse is the cost of one
// controller per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "control/camera_control.h"
#include "control/light_controls.h"
#include "control/visibility_control.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/node.h"

namespace {

constexpr int32_t kPerKind = 2'000;
constexpr int32_t kKinds = 5;
constexpr int32_t kKeys = 100;
constexpr int32_t kFrames = 1'000;
constexpr float kFrameTime = 1.0f / 30.0f;

struct Scene {
  std::vector<KX::CRefPtr<KX::CCorva>> owners;
  std::vector<KX::CControl*> controls;  // held by their owners' chains

  template <class Owner, class Control, class Fill>
  void Add(Fill fill) {
    for (int32_t i = 0; i < kPerKind; ++i) {
      KX::CRefPtr<Owner> owner(new Owner);
      KX::CRefPtr<Control> control(new Control);
      // Keys over the whole playback, each controller's slightly offset from the others'.
      std::vector<float> times(kKeys);
      for (int32_t k = 0; k < kKeys; ++k)
        times[k] = (k + 0.001f * i) * (kFrames * kFrameTime) / kKeys;
      fill(*control, times);
      if (KX::Failed(owner->AttachController(control.get()))) std::abort();
      controls.push_back(control.get());
      owners.emplace_back(owner.get());
    }
  }
};

Scene& Controllers() {
  static Scene scene = [] {
    Scene s;
    s.Add<KX::CPointLight, KX::CLightControl>([](auto& c, const auto& times) {
      c.keyTimes = times;
      for (int32_t k = 0; k < kKeys; ++k) c.colorKeys.push_back({k % 2 * 1.0f, 0.5f, k % 3 * 0.5f});
    });
    s.Add<KX::CPointLight, KX::CPointLightControl>([](auto& c, const auto& times) {
      c.keyTimes = times;
      for (int32_t k = 0; k < kKeys; ++k) c.rangeKeys.push_back(10.0f + k);
    });
    s.Add<KX::CSpotLight, KX::CSpotLightControl>([](auto& c, const auto& times) {
      c.keyTimes = times;
      for (int32_t k = 0; k < kKeys; ++k) {
        c.coneKeys.push_back({1.0f, 0.5f + 0.001f * k, 0.25f});
        c.rangeKeys.push_back(20.0f + k);
      }
    });
    s.Add<KX::CCamera, KX::CCameraControl>([](auto& c, const auto& times) {
      c.timesA = c.timesB = times;
      for (int32_t k = 0; k < kKeys; ++k) {
        c.param8Keys.push_back(0.1f * k);
        c.param9Keys.push_back(1000.0f + k);
        c.param10Keys.push_back(1.0f);
        c.param11Keys.push_back(static_cast<uint32_t>(k));
        c.param3Keys.push_back(1.0f + 0.01f * k);
      }
    });
    s.Add<KX::CNode, KX::CBooleanControl>([](auto& c, const auto& times) {
      c.keyTimes = times;
      for (int32_t k = 0; k < kKeys; ++k) c.keyValues.push_back(static_cast<uint8_t>(k % 2));
    });
    return s;
  }();
  return scene;
}

void BM_Evaluate(benchmark::State& state) {
  const std::vector<KX::CControl*>& controls = Controllers().controls;
  std::vector<int32_t> order(kFrames);
  std::iota(order.begin(), order.end(), 1);
  if (state.range(0)) std::shuffle(order.begin(), order.end(), std::mt19937(20240601));
  for (auto _ : state)
    for (int32_t f : order)
      for (KX::CControl* c : controls) {
        // The visibility controller answers 1 before its first key; only failures count.
        if (KX::Failed(c->Update(f * kFrameTime)) || KX::Failed(c->ApplyData()))
          state.SkipWithError("evaluation failed");
      }
  state.counters["frames"] =
      benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["controllers"] = benchmark::Counter(double(kFrames) * kPerKind * kKinds,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Evaluate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
