// Load and save throughput of the container next to plainly reading and writing the same bytes.
//
//   build/bench/bench_container [--benchmark_filter=...]
//
// Two shapes: 600,000 small records of about 160 bytes (per-object cost dominates) and 3,000
// objects with 100 KB payloads (the byte copies dominate). Throughput is reported in bytes of the file per second.
#include "bench/require.h"
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/class_registration.h"
#include "bench/generate_scenes.h"
#include "core/io_buffer.h"

namespace {

struct Scene {
  std::string path;
  int64_t size = 0;
};

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("kxbench-" + std::to_string(::getpid()) + "-" + name)).string();
}

const Scene& SceneFor(int shape) {
  static Scene scenes[2];
  Scene& scene = scenes[shape];
  if (scene.size == 0) {
    KX::RegisterAllClasses();
    KX::CPersistContext context;
    if (shape == 0)
      KX::bench::GenerateRecordScene(context, 20'000, 20, 64);  // 600,000 objects, ~100 MB
    else
      KX::bench::GenerateRecordScene(context, 100, 20, 100'000);  // 3,000 objects, ~200 MB
    scene.path = TempPath("scene" + std::to_string(shape) + ".crv");
    scene.size = KX::bench::WriteScene(context, scene.path);
  }
  return scene;
}

void BM_PlainReadWrite(benchmark::State& state) {
  const Scene& scene = SceneFor(static_cast<int>(state.range(0)));
  const std::string out = TempPath("plain.out");
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    if (KX::Failed(KX::ReadWholeFile(scene.path, bytes))) state.SkipWithError("read failed");
    std::FILE* f = std::fopen(out.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::remove(out.c_str());
  state.SetBytesProcessed(state.iterations() * scene.size);
}

void BM_LoadSave(benchmark::State& state) {
  const Scene& scene = SceneFor(static_cast<int>(state.range(0)));
  const std::string out = TempPath("loadsave.out");
  for (auto _ : state) {
    KX::CPersistContext in;
    if (KX::Failed(KX::LoadFile(0, in, scene.path))) state.SkipWithError("load failed");
    KX::CPersistContext save;
    for (const auto& root : in.roots) KX::Require(KX::AddRoot(save, root.get()));
    if (KX::Failed(KX::SaveFile(0, save, out))) state.SkipWithError("save failed");
  }
  std::remove(out.c_str());
  state.SetBytesProcessed(state.iterations() * scene.size);
}

void BM_Load(benchmark::State& state) {
  const Scene& scene = SceneFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    KX::CPersistContext in;
    if (KX::Failed(KX::LoadFile(0, in, scene.path))) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(state.iterations() * scene.size);
}

BENCHMARK(BM_PlainReadWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (int shape : {0, 1}) std::remove(SceneFor(shape).path.c_str());
  return 0;
}
