// Throughput of the image codec wrapper and of Blit on 4096 x 4096 pictures.
//
//   build/bench/bench_image [--benchmark_filter=...]
//
// Three groups:
//   - BM_Encode* / BM_Decode*: one JPEG or PNG encode or decode of the test picture through
//     EncodeBlob / DecodeBlob, in megapixels per second.
//   - BM_GmConvert* next to BM_WrapperRoundTrip*: the same decode + encode once by the `gm`
//     command line on files and once by the wrapper from memory, to see whether the wrapper costs
//     anything beyond the library's own work.
//   - BM_Blit*: every format pair Blit blends (BGRA/BGR onto BGRA/BGR), with alpha 255 (the
//     source's own alpha decides) and 128 (the source is also scaled), in megapixels per second.
//
// The test picture is a smooth gradient with a little noise, so that neither codec gets an easy
// ride (a flat picture compresses to almost nothing, pure noise defeats PNG's filters entirely).
// The machine is small and shared: iteration counts are fixed and low.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/pixel_buffer.h"

namespace {

constexpr int32_t kSide = 4096;
constexpr double kMegapixels = double{kSide} * kSide / 1e6;

// Small deterministic generator: the picture is the same on every run.
struct Lcg {
  uint32_t state = 0x2545F491u;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

// Fills a BGR or BGRA buffer with a diagonal gradient plus noise of about +-8 levels. For BGRA,
// `alphaMix` chooses the alpha channel: false gives opaque pixels, true a noisy ramp that covers
// fully transparent, partly transparent and opaque pixels so every blend path is taken.
void FillPicture(KX::CPixelBuffer& buffer, bool alphaMix) {
  KX::CPixelLock lock(buffer);
  uint8_t* base = lock.get();
  if (base == nullptr) return;
  Lcg rng;
  const int bpp = buffer.bytesPerPixel;
  for (int32_t y = 0; y < buffer.height; ++y) {
    uint8_t* row = base + static_cast<int64_t>(y) * buffer.stride;
    for (int32_t x = 0; x < buffer.width; ++x) {
      uint8_t* p = row + static_cast<int64_t>(x) * bpp;
      const uint32_t r = rng.Next();
      const int noise = static_cast<int>(r & 15) - 8;
      const int b = (x * 255) / buffer.width;
      const int g = (y * 255) / buffer.height;
      const int red = ((x + y) * 255) / (buffer.width + buffer.height);
      auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
      p[0] = clamp(b + noise);
      p[1] = clamp(g + ((noise * 3) >> 2));
      p[2] = clamp(red - noise);
      if (bpp == 4) {
        if (!alphaMix) {
          p[3] = 255;
        } else {
          // A quarter transparent, a quarter opaque, the rest in between.
          const uint32_t pick = (r >> 4) & 3;
          p[3] = pick == 0 ? 0 : pick == 1 ? 255 : static_cast<uint8_t>(1 + ((r >> 6) % 254));
        }
      }
    }
  }
}

// The codec test picture (BGR: JPEG has no alpha, and the command line then sees the same
// three-channel PNG the wrapper writes) and its encodings, made once.
struct Fixture {
  KX::CPixelBuffer picture;
  std::vector<uint8_t> jpeg;
  std::vector<uint8_t> png;
  std::filesystem::path folder;
  bool ok = false;
};

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Made on first use only, so that a filtered run of the Blit cases does not pay for encoding.
Fixture fixture;
bool fixtureMade = false;

Fixture& GetFixture() {
  if (fixtureMade) return fixture;
  fixtureMade = true;
  if (KX::Failed(fixture.picture.Create(kSide, kSide, KX::kPixelBGR, 0))) return fixture;
  FillPicture(fixture.picture, false);
  if (KX::Failed(KX::EncodeBlob(fixture.picture, KX::kCodecJPEG, fixture.jpeg))) return fixture;
  if (KX::Failed(KX::EncodeBlob(fixture.picture, KX::kCodecPNG, fixture.png))) return fixture;

  std::string pattern =
      (std::filesystem::temp_directory_path() / "kxbench-image-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return fixture;
  fixture.folder = pattern;
  if (!WriteFile(fixture.folder / "in.jpg", fixture.jpeg)) return fixture;
  if (!WriteFile(fixture.folder / "in.png", fixture.png)) return fixture;
  fixture.ok = true;
  return fixture;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kMegapixels,
                                              benchmark::Counter::kIsRate);
}

void SetOutputSize(benchmark::State& state, double bytes) {
  state.counters["out_MB"] = bytes / 1e6;
}

// ---------------------------------------------------------------------------------------------
// Wrapper encode / decode

void EncodeLoop(benchmark::State& state, int32_t format) {
  Fixture& f = GetFixture();
  if (!f.ok) {
    state.SkipWithError("fixture failed");
    return;
  }
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    if (KX::Failed(KX::EncodeBlob(f.picture, format, bytes))) {
      state.SkipWithError("encode failed");
      return;
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  SetRate(state);
  SetOutputSize(state, static_cast<double>(bytes.size()));
}

void DecodeLoop(benchmark::State& state, const std::vector<uint8_t>& encoded, int32_t format) {
  KX::CPixelBuffer buffer;
  for (auto _ : state) {
    if (KX::Failed(KX::DecodeBlob(buffer, format, encoded.data(), encoded.size()))) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(buffer.pixels);
  }
  if (buffer.width != kSide || buffer.height != kSide) state.SkipWithError("wrong size decoded");
  SetRate(state);
}

void BM_EncodeJpeg(benchmark::State& state) { EncodeLoop(state, KX::kCodecJPEG); }
void BM_EncodePng(benchmark::State& state) { EncodeLoop(state, KX::kCodecPNG); }

void BM_DecodeJpeg(benchmark::State& state) {
  Fixture& f = GetFixture();
  if (!f.ok) return state.SkipWithError("fixture failed");
  DecodeLoop(state, f.jpeg, KX::kCodecJPEG);
}

void BM_DecodePng(benchmark::State& state) {
  Fixture& f = GetFixture();
  if (!f.ok) return state.SkipWithError("fixture failed");
  DecodeLoop(state, f.png, KX::kCodecPNG);
}

// ---------------------------------------------------------------------------------------------
// Command line against wrapper, decode + encode
//
// The command line pays for more than the codec work: starting the process and initialising the
// library, reading the input file and writing the output file (page cache, so mostly copies).
// The wrapper works from memory in an already initialised process. The difference between a
// BM_GmConvert* and its BM_WrapperRoundTrip* is therefore an upper bound on that fixed cost plus
// whatever the wrapper adds or saves; it is not the wrapper's overhead on its own.
//
// Our encoder always writes at quality 100. For JPEG the command line is told the same. For PNG,
// quality sets the zlib level and the row filter, and the command line's default (75) is not what
// we write, so it runs both as given and with -quality 100; only the latter is the same work.

void GmLoop(benchmark::State& state, const char* input, const char* output, const char* options) {
  Fixture& f = GetFixture();
  if (!f.ok) return state.SkipWithError("fixture failed");
  const std::filesystem::path out = f.folder / output;
  const std::string command = "gm convert '" + (f.folder / input).string() + "' " + options +
                              "'" + out.string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("gm convert failed");
      return;
    }
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(out, error);
  SetOutputSize(state, error ? 0.0 : static_cast<double>(size));
  std::filesystem::remove(out, error);
  SetRate(state);
}

void RoundTripLoop(benchmark::State& state, const std::vector<uint8_t>& encoded, int32_t format) {
  KX::CPixelBuffer buffer;
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    if (KX::Failed(KX::DecodeBlob(buffer, format, encoded.data(), encoded.size())) ||
        KX::Failed(KX::EncodeBlob(buffer, format, bytes))) {
      state.SkipWithError("round trip failed");
      return;
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  SetRate(state);
  SetOutputSize(state, static_cast<double>(bytes.size()));
}

void BM_GmConvertJpeg(benchmark::State& state) {
  GmLoop(state, "in.jpg", "out.jpg", "-quality 100 ");
}
void BM_GmConvertPng(benchmark::State& state) { GmLoop(state, "in.png", "out.png", ""); }
void BM_GmConvertPngQuality100(benchmark::State& state) {
  GmLoop(state, "in.png", "out.png", "-quality 100 ");
}

void BM_WrapperRoundTripJpeg(benchmark::State& state) {
  Fixture& f = GetFixture();
  if (!f.ok) return state.SkipWithError("fixture failed");
  RoundTripLoop(state, f.jpeg, KX::kCodecJPEG);
}
void BM_WrapperRoundTripPng(benchmark::State& state) {
  Fixture& f = GetFixture();
  if (!f.ok) return state.SkipWithError("fixture failed");
  RoundTripLoop(state, f.png, KX::kCodecPNG);
}

// ---------------------------------------------------------------------------------------------
// Blit
//
// Whole 4096 x 4096 source onto a destination of the same size. The destination is not restored
// between iterations: its colour and alpha drift, but no branch in the blend depends on them, so
// the work per pixel stays the same. The BGRA source carries the mixed alpha from FillPicture.

void BM_Blit(benchmark::State& state) {
  const int32_t sourceFormat = static_cast<int32_t>(state.range(0));
  const int32_t destFormat = static_cast<int32_t>(state.range(1));
  const int32_t alpha = static_cast<int32_t>(state.range(2));
  KX::CPixelBuffer source;
  KX::CPixelBuffer destination;
  if (KX::Failed(source.Create(kSide, kSide, sourceFormat, 0)) ||
      KX::Failed(destination.Create(kSide, kSide, destFormat, 0)))
    return state.SkipWithError("allocation failed");
  FillPicture(source, true);
  FillPicture(destination, false);
  for (auto _ : state) {
    if (KX::Failed(KX::Blit(destination, 0, 0, source, 0, 0, kSide, kSide, alpha))) {
      state.SkipWithError("blit failed");
      return;
    }
    benchmark::ClobberMemory();
  }
  SetRate(state);
  state.SetLabel(std::string(sourceFormat == KX::kPixelBGRA ? "BGRA" : "BGR") + " onto " +
                 (destFormat == KX::kPixelBGRA ? "BGRA" : "BGR") + ", alpha " +
                 std::to_string(alpha));
}

BENCHMARK(BM_EncodeJpeg)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeJpeg)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodePng)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodePng)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_GmConvertJpeg)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WrapperRoundTripJpeg)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GmConvertPng)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GmConvertPngQuality100)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WrapperRoundTripPng)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_Blit)
    ->ArgNames({"src", "dst", "alpha"})
    ->ArgsProduct({{KX::kPixelBGRA, KX::kPixelBGR}, {KX::kPixelBGRA, KX::kPixelBGR}, {255, 128}})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  if (!fixture.folder.empty()) std::filesystem::remove_all(fixture.folder, error);
  return 0;
}
