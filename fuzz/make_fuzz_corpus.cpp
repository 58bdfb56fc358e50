// Writes the seed corpus of the loader's fuzzer into the folder given first, and the pictures
// that seed the JPEG walk's fuzzer into the second, when given.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/sample_scenes.h"
#include "support/jpeg_pictures.h"
#include "support/test_classes.h"

namespace {

// Small pictures of the shapes the JPEG walk reads: every sampling, restart markers, tables made
// for the picture, low and full quality.
int WritePictures(const std::string& folder) {
  auto shape = [](const char* name, int components, int lumaH, int lumaV, int quality,
                  int restartUnits, bool optimize) {
    KX::test::JpegShape s;
    s.name = name;
    s.components = components;
    s.lumaH = lumaH;
    s.lumaV = lumaV;
    s.quality = quality;
    s.restartUnits = restartUnits;
    s.optimize = optimize;
    s.width = 40;
    s.height = 24;
    return s;
  };
  const KX::test::JpegShape shapes[] = {
      shape("444", 3, 1, 1, 90, 0, false),
      shape("420", 3, 2, 2, 75, 0, false),
      shape("422_restarts", 3, 2, 1, 90, 3, false),
      shape("grey_q100", 1, 1, 1, 100, 0, false),
      shape("restart_every_unit", 3, 1, 1, 95, 1, false),
      shape("optimised", 3, 2, 2, 98, 2, true),
  };
  int written = 0;
  for (const KX::test::JpegShape& s : shapes) {
    const std::vector<uint8_t> bytes = KX::test::EncodeJpeg(s);
    std::ofstream out(folder + "/seed_" + s.name + ".jpg", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ++written;
  }
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER [PICTURE_FOLDER]\n");
    return 2;
  }
  if (argc == 3) std::printf("make_fuzz_corpus: %d seed pictures\n", WritePictures(argv[2]));
  KX::test::RegisterForTests();
  int written = 0;
  for (const auto& [name, bytes] : KX::fuzz::SampleScenes()) {
    if (bytes.empty()) continue;
    std::ofstream out(std::string(argv[1]) + "/seed_" + name + ".crv", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ++written;
  }
  std::printf("make_fuzz_corpus: %d seed files\n", written);
  return written > 0 ? 0 : 1;
}
