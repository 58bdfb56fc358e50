#pragma once
// JPEG pictures of every shape, written by the JPEG library itself: for the tests of the JPEG
// check and the seeds of its fuzzer.
#include <cstdint>
#include <string>
#include <vector>

namespace KX::test {

struct JpegShape {
  std::string name;
  int components = 3;        // 1 grey, 3 colour, 4 CMYK
  int lumaH = 1, lumaV = 1;  // sampling factors of the first component
  bool progressive = false;
  int restartRows = 0;
  int restartUnits = 0;   // a restart marker after this many units, when restartRows is 0
  bool optimize = false;  // Huffman tables made for the picture: shorter codes, fewer symbols
  int quality = 90;
  bool jfif = true;
  int unit = 0, densityX = 1, densityY = 1;
  std::string comment;
  std::vector<uint8_t> app1;
  int width = 61, height = 43;  // partial blocks at the right and bottom edges
};

// Encodes a smooth picture with a little noise in the given shape with the JPEG library itself,
// which can write every shape the codec's writer cannot.
std::vector<uint8_t> EncodeJpeg(const JpegShape& s);

}  // namespace KX::test
