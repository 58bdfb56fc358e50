// Writes the seed corpus of the loader's fuzzer into the folder given first, and the pictures
// that seed the JPEG walk's fuzzer into the second, when given.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "fuzz/sample_scenes.h"
#include "support/test_classes.h"

namespace {

struct PictureShape {
  const char* name;
  int components, lumaH, lumaV, quality, restartUnits;
  bool optimize;
};

// A small noisy picture in the given shape, written by the JPEG library.
std::vector<uint8_t> EncodePicture(const PictureShape& s) {
  jpeg_compress_struct c{};
  jpeg_error_mgr error{};
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = 40;
  c.image_height = 24;
  c.input_components = s.components;
  c.in_color_space = s.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, s.quality, TRUE);
  c.comp_info[0].h_samp_factor = s.lumaH;
  c.comp_info[0].v_samp_factor = s.lumaV;
  c.restart_interval = static_cast<unsigned>(s.restartUnits);
  c.optimize_coding = s.optimize ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(40 * s.components));
  uint32_t noise = 7;
  for (int y = 0; y < 24; ++y) {
    for (size_t x = 0; x < row.size(); ++x) {
      noise = noise * 1103515245u + 12345u;
      row[x] = static_cast<JSAMPLE>((static_cast<int>(x) * 5 + y * 9 + (noise >> 27)) & 255);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

int WritePictures(const std::string& folder) {
  const PictureShape shapes[] = {
      {"444", 3, 1, 1, 90, 0, false},
      {"420", 3, 2, 2, 75, 0, false},
      {"422_restarts", 3, 2, 1, 90, 3, false},
      {"grey_q100", 1, 1, 1, 100, 0, false},
      {"restart_every_unit", 3, 1, 1, 95, 1, false},
      {"optimised", 3, 2, 2, 98, 2, true},
  };
  int written = 0;
  for (const PictureShape& shape : shapes) {
    const std::vector<uint8_t> bytes = EncodePicture(shape);
    std::ofstream out(folder + "/seed_" + shape.name + ".jpg", std::ios::binary);
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
