// Meshes: load and save of a mesh-heavy file next to plainly reading and writing the same bytes,
// and the per-frame update of a skinned mesh.
//
//   build/bench/bench_geometry [--benchmark_filter=...]
//   build/bench/bench_geometry --peak     one load and save of the mesh file, then the peak
//                                         resident memory of the process against the file size
//
// The file holds 20 meshes of 100,000 vertices and about 200,000 faces each (2 million vertices,
// 4 million faces, about 215 MB): positions, normals and map vertices per vertex, position,
// normal and map indices per face.
#include "bench/require.h"
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/class_registration.h"
#include "bench/generate_meshes.h"
#include "bench/generate_scenes.h"
#include "core/io_buffer.h"

namespace {

constexpr int32_t kMeshes = 20;
constexpr int32_t kVerticesPerMesh = 100'000;

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kxbench-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

struct MeshFile {
  std::string path;
  int64_t size = 0;
};

MeshFile& MeshFileSlot() {
  static MeshFile file;
  return file;
}

const MeshFile& TheMeshFile() {
  MeshFile& file = MeshFileSlot();
  if (file.size == 0) {
    KX::RegisterAllClasses();
    KX::CPersistContext context;
    KX::bench::GenerateMeshScene(context, kMeshes, kVerticesPerMesh);
    file.path = TempPath("meshes.crv");
    file.size = KX::bench::WriteScene(context, file.path);
  }
  return file;
}

void BM_PlainReadWrite(benchmark::State& state) {
  const MeshFile& file = TheMeshFile();
  const std::string out = TempPath("plain.out");
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    if (KX::Failed(KX::ReadWholeFile(file.path, bytes))) state.SkipWithError("read failed");
    std::FILE* f = std::fopen(out.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::remove(out.c_str());
  state.SetBytesProcessed(state.iterations() * file.size);
}

KX::Status LoadAndSave(const std::string& path, const std::string& out) {
  KX::CPersistContext in;
  KX_RETURN_IF_FAILED(KX::LoadFile(0, in, path));
  KX::CPersistContext save;
  for (const auto& root : in.roots) KX::Require(KX::AddRoot(save, root.get()));
  return KX::SaveFile(0, save, out);
}

void BM_LoadSave(benchmark::State& state) {
  const MeshFile& file = TheMeshFile();
  const std::string out = TempPath("loadsave.out");
  for (auto _ : state)
    if (KX::Failed(LoadAndSave(file.path, out))) state.SkipWithError("load or save failed");
  std::remove(out.c_str());
  state.SetBytesProcessed(state.iterations() * file.size);
}

void BM_Load(benchmark::State& state) {
  const MeshFile& file = TheMeshFile();
  for (auto _ : state) {
    KX::CPersistContext in;
    if (KX::Failed(KX::LoadFile(0, in, file.path))) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(state.iterations() * file.size);
}

// One frame of a 100,000-vertex mesh skinned by 50 bones: rest copy, skinning, normals.
void BM_SkinnedUpdate(benchmark::State& state) {
  KX::CRefPtr<KX::CNode> root;
  KX::CTriMesh* mesh = KX::bench::GenerateSkinnedScene(root, 100'000, 50);
  mesh->autoNormals = state.range(0) != 0;
  float time = 0;
  for (auto _ : state) {
    if (KX::Failed(mesh->Update(time))) state.SkipWithError("update failed");
    time += 1.0f / 30;
    benchmark::DoNotOptimize(mesh->worldPositions.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(mesh->positions.size()));
}

BENCHMARK(BM_PlainReadWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SkinnedUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One load and save in a fresh process (the file is written by a child first, so that the
// generator's memory does not count), then the peak resident memory against the file size.
int PeakMemory() {
  const std::string path = TempPath("peak.crv");
  if (::fork() == 0) {
    KX::RegisterAllClasses();
    KX::CPersistContext context;
    KX::bench::GenerateMeshScene(context, kMeshes, kVerticesPerMesh);
    ::_exit(KX::bench::WriteScene(context, path) > 0 ? 0 : 1);
  }
  int status = 0;
  ::wait(&status);
  KX::RegisterAllClasses();
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  const std::string out = TempPath("peak.out");
  const KX::Status result = LoadAndSave(path, out);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
  std::printf("load+save %s: file %.1f MB, peak resident %.1f MB (%.2fx the file)\n",
              KX::Succeeded(result) ? "ok" : "FAILED", static_cast<double>(size) / 1e6, peak / 1e6,
              peak / static_cast<double>(size));
  std::remove(path.c_str());
  std::remove(out.c_str());
  return KX::Succeeded(result) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--peak") == 0) return PeakMemory();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!MeshFileSlot().path.empty()) std::remove(MeshFileSlot().path.c_str());
  return 0;
}
