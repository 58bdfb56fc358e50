// Time evaluation of a large animated hierarchy: 10,000 nodes, each with a 100-key keyframe
// controller, evaluated at 1,000 frames 1/30 s apart, through UpdateHierarchy (transforms in
// dependency order, then the data pass and the bounds).
//
//   build/bench/bench_hierarchy [--benchmark_filter=...]
//
// Forward playback moves every key cursor by at most a key per frame, so its key searches cost
// constant work per frame. The jump-around pattern visits the same 1,000 frames in a shuffled
// order: each search walks from wherever the cursor was, up to the whole key list. The counters
// report frames per second and node evaluations per second; their inverses are the time per
// frame and per node. BM_KeyframesOnly runs the same two patterns over the controllers alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "bench/generate_hierarchy.h"
#include "object/control.h"

namespace {

constexpr int32_t kNodes = 10'000;
constexpr int32_t kKeys = 100;
constexpr int32_t kFrames = 1'000;
constexpr float kFrameTime = 1.0f / 30.0f;

KX::CNode* Hierarchy() {
  // The keys span the whole playback, so forward stepping crosses a key every few frames.
  static KX::CRefPtr<KX::CNode> root =
      KX::bench::GenerateKeyedHierarchy(kNodes, kKeys, kFrames * kFrameTime, 10);
  return root.get();
}

void Report(benchmark::State& state) {
  state.counters["frames"] =
      benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["nodes"] =
      benchmark::Counter(double(kFrames) * kNodes, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_StepForward(benchmark::State& state) {
  KX::CNode* root = Hierarchy();
  for (auto _ : state) {
    for (int32_t f = 0; f < kFrames; ++f) {
      const KX::Status s = root->UpdateHierarchy(f * kFrameTime, kFrameTime, 0, false);
      if (KX::Failed(s)) state.SkipWithError("evaluation failed");
    }
  }
  Report(state);
}
BENCHMARK(BM_StepForward)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_JumpAround(benchmark::State& state) {
  KX::CNode* root = Hierarchy();
  std::vector<int32_t> order(kFrames);
  std::iota(order.begin(), order.end(), 1);
  std::shuffle(order.begin(), order.end(), std::mt19937(20240601));
  for (auto _ : state) {
    for (int32_t f : order) {
      const KX::Status s = root->UpdateHierarchy(f * kFrameTime, 0, 0, false);
      if (KX::Failed(s)) state.SkipWithError("evaluation failed");
    }
  }
  Report(state);
}
BENCHMARK(BM_JumpAround)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The keyframe controllers alone, without the queue, the data pass and the bounds: forward
// (argument 0) against shuffled (argument 1) frames, to show what the cursors save.
void BM_KeyframesOnly(benchmark::State& state) {
  KX::CNode* root = Hierarchy();
  KX::SpatialQueue all;
  root->CollectSpatials(all);
  std::vector<KX::CControl*> controls;
  for (KX::CSpatial* s : all) controls.push_back(s->controllers.get());
  std::vector<int32_t> order(kFrames);
  std::iota(order.begin(), order.end(), 1);
  if (state.range(0)) std::shuffle(order.begin(), order.end(), std::mt19937(20240601));
  for (auto _ : state)
    for (int32_t f : order)
      for (KX::CControl* c : controls) benchmark::DoNotOptimize(c->EvaluateTransform(f * kFrameTime));
  Report(state);
}
BENCHMARK(BM_KeyframesOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
