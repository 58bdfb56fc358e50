// The quick JPEG check against the full decode: on sound pictures of every common shape and on a
// few thousand damaged ones, loading through the check (DecodeBlobWhenUsed) must answer exactly
// what decoding at once (DecodeBlob) answers, and give the same buffer, pixels included.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "image/codec.h"
#include "image/encoded_bytes.h"
#include "image/jpeg_check.h"
#include "image/jpeg_scan.h"
#include "image/pixel_buffer.h"
#include "support/jpeg_pictures.h"

namespace KX {
namespace {

using Bytes = std::vector<uint8_t>;

using Shape = test::JpegShape;

Bytes Encode(const Shape& shape) { return test::EncodeJpeg(shape); }

// The picture as the codec's own writer makes it: what our files hold.
Bytes EncodeWithCodec() {
  CPixelBuffer picture;
  EXPECT_EQ(picture.Create(40, 30, kPixelBGR, 0), kOk);
  {
    CPixelLock lock(picture);
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40 * 3; ++x)
        lock.get()[y * picture.stride + x] = static_cast<uint8_t>(x * 2 + y * 7);
  }
  Bytes bytes;
  EXPECT_EQ(EncodeBlob(picture, kCodecJPEG, bytes), kOk);
  return bytes;
}

// Where the entropy-coded data of the first scan starts (just past its SOS segment).
size_t ScanStart(const Bytes& b) {
  size_t i = 2;
  while (i + 4 <= b.size() && b[i] == 0xFF) {
    const size_t length = static_cast<size_t>(b[i + 2]) << 8 | b[i + 3];
    if (b[i + 1] == 0xDA) return i + 2 + length;
    i += 2 + length;
  }
  return b.size();
}

// The damaged versions of a sound picture: cut short at many lengths, single bytes flipped all
// over the headers and at spread points of the coded data, markers replaced, duplicated, lost.
std::vector<Bytes> Damaged(const Bytes& sound) {
  std::vector<Bytes> out;
  const size_t n = sound.size();
  const size_t scan = ScanStart(sound);
  const size_t step = std::max<size_t>(1, n / 50);
  for (size_t cut = 0; cut < n; cut += step) out.emplace_back(sound.begin(), sound.begin() + cut);
  for (size_t cut = n > 24 ? n - 24 : 0; cut < n; ++cut)
    out.emplace_back(sound.begin(), sound.begin() + cut);
  for (size_t i = 0; i < scan; i += 2)
    for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}}) {
      Bytes b = sound;
      b[i] ^= mask;
      out.push_back(std::move(b));
    }
  for (size_t k = 0; k < 40 && scan < n; ++k) {
    const size_t i = scan + (n - scan) * k / 40;
    for (uint8_t value : {static_cast<uint8_t>(sound[i] ^ 0x5A), uint8_t{0xFF}, uint8_t{0x00}}) {
      Bytes b = sound;
      b[i] = value;
      out.push_back(std::move(b));
    }
  }
  auto withInsert = [&](size_t at, Bytes extra) {
    Bytes b(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(at));
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), sound.begin() + static_cast<std::ptrdiff_t>(at), sound.end());
    out.push_back(std::move(b));
  };
  withInsert(2, {0xFF, 0xD8});                      // a second SOI
  withInsert(scan, {0xFF, 0xD9});                   // EOI before the data
  withInsert(n - 2, {0x12, 0x34, 0x56});            // stray bytes before EOI
  withInsert(n - 2, {0xFF, 0xD0});                  // a restart marker out of place
  withInsert(scan + (n - scan) / 2, {0xFF, 0xC4});  // a marker inside the data
  for (size_t i = 2; i + 1 < scan; ++i) {
    if (sound[i] != 0xFF || sound[i + 1] < 0xC0) continue;
    for (uint8_t other :
         {uint8_t{0xC3}, uint8_t{0xC2}, uint8_t{0xC9}, uint8_t{0xD9}, uint8_t{0xFE}}) {
      Bytes b = sound;
      b[i + 1] = other;
      out.push_back(std::move(b));
    }
  }
  Bytes repeated = sound;  // the whole picture twice over
  repeated.insert(repeated.end(), sound.begin(), sound.end());
  out.push_back(std::move(repeated));
  return out;
}

struct Tally {
  int vouched = 0;  // loaded through the check, decoded when used
  int decoded = 0;  // loaded by the full decode and fine
  int refused = 0;  // refused by both
};

// Loads `blob` both ways and expects the same outcome and the same buffer.
void ExpectSameOutcome(const Bytes& blob, const std::string& label, Tally& tally) {
  CPixelBuffer direct;
  const Status expected = DecodeBlob(direct, kCodecJPEG, blob.data(), blob.size());
  CPixelBuffer later;
  const Status got = DecodeBlobWhenUsed(later, kCodecJPEG, CEncodedBytes::Keep(blob));
  ASSERT_EQ(got, expected) << label;
  if (Failed(expected)) {
    ++tally.refused;
    return;
  }
  ++(later.IsDeferred() ? tally.vouched : tally.decoded);
  ASSERT_TRUE(later.HasPixels()) << label;
  EXPECT_EQ(later.width, direct.width) << label;
  EXPECT_EQ(later.height, direct.height) << label;
  EXPECT_EQ(later.format, direct.format) << label;
  EXPECT_EQ(later.stride, direct.stride) << label;
  EXPECT_EQ(later.resolutionX, direct.resolutionX) << label;
  EXPECT_EQ(later.resolutionY, direct.resolutionY) << label;
  CPixelLock a(direct), b(later);
  ASSERT_NE(b.get(), nullptr) << label;
  EXPECT_FALSE(later.IsDeferred());
  EXPECT_EQ(later.allocSize, direct.allocSize) << label;
  EXPECT_EQ(std::memcmp(a.get(), b.get(), static_cast<size_t>(direct.allocSize - 4)), 0) << label;
}

std::vector<Shape> Shapes() {
  std::vector<Shape> shapes;
  auto add = [&](std::string name, auto change) {
    Shape s;
    s.name = std::move(name);
    change(s);
    shapes.push_back(s);
  };
  add("4:4:4", [](Shape&) {});
  add("4:2:0", [](Shape& s) { s.lumaH = s.lumaV = 2; });
  add("4:2:2 with restarts", [](Shape& s) {
    s.lumaH = 2;
    s.restartRows = 1;
  });
  add("4:4:0 at quality 100", [](Shape& s) {
    s.lumaV = 2;
    s.quality = 100;
  });
  add("4:1:1", [](Shape& s) { s.lumaH = 4; });
  add("grey", [](Shape& s) { s.components = 1; });
  add("progressive 4:2:0", [](Shape& s) {
    s.progressive = true;
    s.lumaH = s.lumaV = 2;
  });
  add("progressive grey", [](Shape& s) {
    s.progressive = true;
    s.components = 1;
  });
  add("CMYK", [](Shape& s) {
    s.components = 4;
    s.jfif = false;
  });
  add("per inch with a comment", [](Shape& s) {
    s.unit = 1;
    s.densityX = 300;
    s.densityY = 150;
    s.comment = "made by the test";
  });
  add("per centimetre", [](Shape& s) {
    s.unit = 2;
    s.densityX = s.densityY = 28;
  });
  add("density without a unit", [](Shape& s) { s.densityX = s.densityY = 72; });
  add("a density of 1 by 200", [](Shape& s) {
    s.unit = 1;
    s.densityY = 200;
  });
  add("no JFIF header", [](Shape& s) { s.jfif = false; });
  add("an APP1 segment", [](Shape& s) { s.app1 = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42}; });
  return shapes;
}

TEST(JpegCheck, SoundPicturesLoadAlikeAndMostAreLeftForLater) {
  Tally tally;
  for (const Shape& shape : Shapes()) ExpectSameOutcome(Encode(shape), shape.name, tally);
  ExpectSameOutcome(EncodeWithCodec(), "the codec's own", tally);
  EXPECT_EQ(tally.refused, 0);
  // Only the 4:1:1, CMYK and APP1 pictures are beyond the check.
  EXPECT_EQ(tally.decoded, 3);
  EXPECT_EQ(tally.vouched, static_cast<int>(Shapes().size()) + 1 - 3);
}

TEST(JpegCheck, DamagedPicturesGetTheVerdictOfTheFullDecode) {
  std::vector<std::pair<std::string, Bytes>> sound;
  for (const Shape& shape : Shapes()) sound.emplace_back(shape.name, Encode(shape));
  sound.emplace_back("the codec's own", EncodeWithCodec());
  Tally tally;
  for (const auto& [name, bytes] : sound) {
    const std::vector<Bytes> damaged = Damaged(bytes);
    for (size_t i = 0; i < damaged.size(); ++i) {
      ExpectSameOutcome(damaged[i], name + " #" + std::to_string(i), tally);
      if (HasFatalFailure()) return;
    }
  }
  // Every kind of answer came up, so none of them is compared vacuously.
  EXPECT_GT(tally.refused, 1000);
  EXPECT_GT(tally.decoded, 1000);
  EXPECT_GT(tally.vouched, 1000);
}

TEST(JpegCheck, PixelsStillToBeDecodedAreReplacedOrCopiedLikeDecodedOnes) {
  const Bytes jpeg = Encode(Shape{});
  CPixelBuffer direct;
  ASSERT_EQ(DecodeBlob(direct, kCodecJPEG, jpeg.data(), jpeg.size()), kOk);

  CPixelBuffer later;
  ASSERT_EQ(DecodeBlobWhenUsed(later, kCodecJPEG, CEncodedBytes::Keep(jpeg)), kOk);
  ASSERT_TRUE(later.IsDeferred());
  CPixelBuffer copy;
  ASSERT_EQ(copy.CopyFrom(later), kOk);
  {
    CPixelLock a(direct), b(copy);
    EXPECT_EQ(std::memcmp(a.get(), b.get(), static_cast<size_t>(direct.allocSize - 4)), 0);
  }

  // Pictures kept in the mapped storage are decoded into it.
  CPixelBuffer mapped(kStorageMapped);
  ASSERT_EQ(DecodeBlobWhenUsed(mapped, kCodecJPEG, CEncodedBytes::Keep(jpeg)), kOk);
  ASSERT_TRUE(mapped.IsDeferred());
  {
    CPixelLock a(direct), b(mapped);
    ASSERT_NE(b.get(), nullptr);
    EXPECT_NE(mapped.storageHandle, 0u);
    EXPECT_EQ(std::memcmp(a.get(), b.get(), static_cast<size_t>(direct.allocSize - 4)), 0);
  }

  // A new picture of the same size starts cleared rather than decoded.
  CPixelBuffer replaced;
  ASSERT_EQ(DecodeBlobWhenUsed(replaced, kCodecJPEG, CEncodedBytes::Keep(jpeg)), kOk);
  ASSERT_EQ(replaced.Create(replaced.width, replaced.height, replaced.format, 0), kOk);
  EXPECT_FALSE(replaced.IsDeferred());
  CPixelLock bits(replaced);
  ASSERT_NE(bits.get(), nullptr);
  EXPECT_EQ(bits.get()[0], 0);
  replaced.Free();
  EXPECT_FALSE(replaced.HasPixels());
}

// The quick walk over a single Huffman-coded scan, alone: true when it vouches for the scan of a
// picture the library has started reading (which must have a clean header).
bool WalkVouches(const Bytes& blob, bool mayBuildTables = true) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, blob.data(), static_cast<unsigned long>(blob.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  const bool vouched =
      !jpeg_has_multiple_scans(&cinfo) &&
      JpegScanIsClean(cinfo, cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer,
                      mayBuildTables);
  jpeg_destroy_decompress(&cinfo);
  return vouched;
}

// Pictures whose scans the walk reads: every sampling, restart markers after every unit and
// every few, tables made for the picture (short codes, many symbols to a look) and long codes.
std::vector<Shape> WalkShapes() {
  std::vector<Shape> shapes;
  for (const Shape& shape : Shapes())
    if (!shape.progressive && shape.components != 4) shapes.push_back(shape);
  auto add = [&](std::string name, auto change) {
    Shape s;
    s.name = std::move(name);
    s.width = 150;
    s.height = 90;
    change(s);
    shapes.push_back(s);
  };
  add("a restart after every unit", [](Shape& s) { s.restartUnits = 1; });
  add("4:2:0, a restart every 7 units", [](Shape& s) {
    s.lumaH = s.lumaV = 2;
    s.restartUnits = 7;
  });
  add("optimised tables", [](Shape& s) { s.optimize = true; });
  add("optimised grey at quality 100 with restarts", [](Shape& s) {
    s.components = 1;
    s.optimize = true;
    s.quality = 100;
    s.restartUnits = 5;
  });
  add("quality 30", [](Shape& s) { s.quality = 30; });
  add("quality 100", [](Shape& s) { s.quality = 100; });
  return shapes;
}

// Damage to the coded data, where the walk does its work: bits flipped, bytes set to FF or 00,
// bytes lost or added, restart markers renumbered, lost, doubled or padded with fill bytes.
std::vector<Bytes> DamagedScans(const Bytes& sound, uint32_t seed) {
  std::vector<Bytes> out;
  const size_t scan = ScanStart(sound);
  if (scan + 4 >= sound.size()) return out;
  const size_t coded = sound.size() - 2 - scan;
  std::mt19937 random(seed);
  auto at = [&] { return scan + random() % coded; };
  for (int i = 0; i < 120; ++i) {
    Bytes b = sound;
    for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips)
      b[at()] ^= static_cast<uint8_t>(1u << (random() % 8));
    out.push_back(std::move(b));
  }
  for (int i = 0; i < 20; ++i) {
    Bytes b = sound;
    b[at()] = i % 2 ? 0xFF : 0x00;
    out.push_back(std::move(b));
    Bytes lost = sound;
    lost.erase(lost.begin() + static_cast<std::ptrdiff_t>(at()));
    out.push_back(std::move(lost));
    Bytes added = sound;
    added.insert(added.begin() + static_cast<std::ptrdiff_t>(at()), static_cast<uint8_t>(random()));
    out.push_back(std::move(added));
  }
  for (size_t i = scan; i + 1 < sound.size(); ++i) {
    if (sound[i] != 0xFF || sound[i + 1] < 0xD0 || sound[i + 1] > 0xD7) continue;
    Bytes renumbered = sound;
    renumbered[i + 1] = static_cast<uint8_t>(0xD0 + ((sound[i + 1] - 0xD0 + 1) & 7));
    out.push_back(std::move(renumbered));
    Bytes lost = sound;
    lost.erase(lost.begin() + static_cast<std::ptrdiff_t>(i),
               lost.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    out.push_back(std::move(lost));
    Bytes doubled = sound;
    doubled.insert(doubled.begin() + static_cast<std::ptrdiff_t>(i), {0xFF, sound[i + 1]});
    out.push_back(std::move(doubled));
    Bytes padded = sound;
    padded.insert(padded.begin() + static_cast<std::ptrdiff_t>(i), 0xFF);
    out.push_back(std::move(padded));
    if (out.size() > 400) break;
  }
  Bytes padded = sound;  // a fill byte before the end of the picture
  padded.insert(padded.end() - 2, 0xFF);
  out.push_back(std::move(padded));
  Bytes trailing = sound;  // bytes after the end of the picture are never read
  trailing.insert(trailing.end(), {0x00, 0xFF, 0x12});
  out.push_back(std::move(trailing));
  return out;
}

TEST(JpegCheck, TheQuickWalkVouchesOnlyForScansTheLibraryReadsWithoutAWord) {
  JpegCheckLimits limits;
  limits.maxSide = 65500;
  limits.maxPixels = int64_t{1} << 28;
  limits.walkTablesFrom = 0;
  JpegCheckLimits reference = limits;
  reference.libraryScan = true;

  int cleanToBoth = 0, walked = 0, refused = 0;
  uint32_t seed = 1;
  for (const Shape& shape : WalkShapes()) {
    const Bytes sound = Encode(shape);
    // 4:1:1 is beyond the check, not the walk.
    EXPECT_TRUE(WalkVouches(sound)) << shape.name;
    std::vector<Bytes> pictures = Damaged(sound);
    for (Bytes& b : DamagedScans(sound, seed++)) pictures.push_back(std::move(b));
    pictures.push_back(sound);
    for (size_t i = 0; i < pictures.size(); ++i) {
      const Bytes& blob = pictures[i];
      const std::string label = shape.name + " #" + std::to_string(i);
      JpegCheckResult quick, library;
      const bool quickClean = JpegCheckClean(blob.data(), blob.size(), limits, quick);
      const bool libraryClean = JpegCheckClean(blob.data(), blob.size(), reference, library);
      ASSERT_EQ(quickClean, libraryClean) << label;
      EXPECT_EQ(quick.width, library.width) << label;
      EXPECT_EQ(quick.height, library.height) << label;
      EXPECT_EQ(quick.resolutionUnit, library.resolutionUnit) << label;
      EXPECT_EQ(quick.resolutionX, library.resolutionX) << label;
      EXPECT_EQ(quick.resolutionY, library.resolutionY) << label;
      if (!libraryClean) {
        ++refused;
        continue;
      }
      ++cleanToBoth;
      if (WalkVouches(blob)) ++walked;
    }
  }
  // Both verdicts came up often, and the walk decided most clean ones itself.
  EXPECT_GT(refused, 3000);
  EXPECT_GT(cleanToBoth, 200);
  EXPECT_GT(walked, cleanToBoth / 2);
}

// Tables built for one scan serve the scans that follow on the same thread, until scans with
// other tables take their room.
TEST(JpegCheck, TheWalkKeepsTheTablesItBuiltForLaterScansOnTheSameThread) {
  std::thread([] {
    const Bytes standard = Encode(Shape{});
    EXPECT_FALSE(WalkVouches(standard, false));
    EXPECT_TRUE(WalkVouches(standard, true));
    EXPECT_TRUE(WalkVouches(standard, false));
    // Pictures with tables of their own (two each) fill the room.
    for (int quality = 60; quality < 100; quality += 8) {
      Shape own;
      own.optimize = true;
      own.quality = quality;
      EXPECT_TRUE(WalkVouches(Encode(own), true)) << quality;
    }
    EXPECT_FALSE(WalkVouches(standard, false));
    EXPECT_TRUE(WalkVouches(standard, true));
  }).join();
}

}  // namespace
}  // namespace KX
