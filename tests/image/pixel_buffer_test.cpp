#include "image/pixel_buffer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/storage/mmf.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace KX {
namespace {

const KX::test::PrivateTmpDir gTmp("kx_image_test");

std::vector<uint8_t> Bytes(const CPixelBuffer& b) {
  CPixelLock lock(b);
  return std::vector<uint8_t>(lock.get(), lock.get() + b.allocSize);
}

// A one-row buffer with the given pixels (BGRA when 4 values each, BGR when 3).
void OneRow(CPixelBuffer& b, int32_t format, const std::vector<uint8_t>& values) {
  const int32_t bpp = format == kPixelBGRA ? 4 : 3;
  ASSERT_EQ(b.Create(static_cast<int32_t>(values.size()) / bpp, 1, format, 0), kOk);
  CPixelLock lock(b);
  std::copy(values.begin(), values.end(), lock.get());
}

std::vector<uint8_t> Row(const CPixelBuffer& b) {
  CPixelLock lock(b);
  return std::vector<uint8_t>(lock.get(), lock.get() + b.width * b.bytesPerPixel);
}

TEST(PixelBufferCreate, SizesStridesAndExtraBytes) {
  struct Case {
    int32_t w, h, format;
    int16_t align;
    int32_t stride;
    int64_t alloc;
  };
  const Case cases[] = {
      {3, 2, kPixelBGR, 1, 12, 25},  // 2*12 - 3 + 4
      {3, 2, kPixelBGR, 0, 9, 19},
      {3, 2, kPixelBGRA, 1, 12, 24},  // 4-byte pixels need nothing extra
      {5, 2, kPixel8, 1, 8, 19},
      {5, 3, kPixel16A, 0, 10, 32},
  };
  for (const Case& c : cases) {
    CPixelBuffer b;
    b.alignRows = c.align;
    ASSERT_EQ(b.Create(c.w, c.h, c.format, 0), kOk);
    EXPECT_EQ(b.stride, c.stride);
    EXPECT_EQ(b.allocSize, c.alloc);
    EXPECT_EQ(b.bytesPerPixel, BytesPerPixelOf(c.format));
    for (uint8_t v : Bytes(b)) ASSERT_EQ(v, 0);
  }
}

TEST(PixelBufferCreate, RefusesBadFormatsSizesAndOverflow) {
  CPixelBuffer b;
  EXPECT_EQ(b.Create(4, 4, 6, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(4, 4, -1, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(0, 4, kPixel8, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(4, -4, kPixelBGRA, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(-4, -4, kPixelBGRA, 0), kErrBadArgument);  // the product would be positive
  EXPECT_EQ(b.Create(INT_MAX, 1, kPixelBGRA, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(65536, 65536, kPixelBGRA, 0), kErrBadArgument);
  EXPECT_EQ(b.Create(46341, 46341, kPixel8, 0), kErrBadArgument);  // just above 2^31 bytes
  EXPECT_FALSE(b.HasPixels());
}

TEST(PixelBufferCreate, SameLayoutClearsInPlaceOtherwiseReallocates) {
  CPixelBuffer b;
  ASSERT_EQ(b.Create(7, 5, kPixelBGR, 0x123456), kOk);
  uint8_t* before = b.pixels;
  ASSERT_EQ(b.Create(7, 5, kPixelBGR, 0), kOk);
  EXPECT_EQ(b.pixels, before);
  for (uint8_t v : Bytes(b)) ASSERT_EQ(v, 0);
  // A fill asked for on re-creation is honoured too.
  ASSERT_EQ(b.Create(7, 5, kPixelBGR, 0x0000FF), kOk);
  EXPECT_EQ(b.pixels, before);
  EXPECT_EQ(Row(b)[0], 0xFF);

  b.alignRows = 1;  // same size, different rows
  ASSERT_EQ(b.Create(7, 5, kPixelBGR, 0), kOk);
  EXPECT_EQ(b.stride, 24);
  EXPECT_EQ(b.allocSize, 5 * 24 - 3 + 4);
}

TEST(PixelBufferFill, FillsPixelsButNotPaddingOrTail) {
  CPixelBuffer b;
  b.alignRows = 1;
  ASSERT_EQ(b.Create(3, 4, kPixelBGR, 0x00CCBBAA), kOk);  // stride 12, 3 padding bytes a row
  const std::vector<uint8_t> bytes = Bytes(b);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(bytes[y * 12 + x * 3 + 0], 0xAA);
      EXPECT_EQ(bytes[y * 12 + x * 3 + 1], 0xBB);
      EXPECT_EQ(bytes[y * 12 + x * 3 + 2], 0xCC);
    }
    if (y < 3) {
      for (int p = 9; p < 12; ++p) EXPECT_EQ(bytes[y * 12 + p], 0) << "padding of row " << y;
    }
  }
  EXPECT_EQ(bytes.size(), 4u * 12 - 3 + 4);

  CPixelBuffer packed;  // whole image in one doubling run, odd pixel count
  ASSERT_EQ(packed.Create(13, 7, kPixelBGRA, 0), kOk);
  ASSERT_EQ(packed.Fill(0x80402010u), kOk);
  const std::vector<uint8_t> p = Bytes(packed);
  for (size_t i = 0; i < p.size(); i += 4) {
    ASSERT_EQ(p[i], 0x10);
    ASSERT_EQ(p[i + 3], 0x80);
  }

  CPixelBuffer empty;
  EXPECT_EQ(empty.Fill(1), kErrBadArgument);
}

TEST(PixelBufferStorage, MappedBufferLivesInTemporaryStorage) {
  CPixelBuffer mapped(kStorageMapped);
  ASSERT_EQ(mapped.Create(300, 200, kPixelBGRA, 0xFF0000FFu), kOk);
  EXPECT_GT(mapped.storageHandle, 0x10000u);
  EXPECT_EQ(mapped.pixels, nullptr);
  EXPECT_EQ(mapped.lockCount, 0);  // operations release what they lock
  {
    CPixelLock lock(mapped);
    ASSERT_NE(lock.get(), nullptr);
    EXPECT_EQ(mapped.lockCount, 1);
    EXPECT_EQ(lock.get()[0], 0xFF);
    EXPECT_EQ(lock.get()[300 * 200 * 4 - 1], 0xFF);
  }
  EXPECT_EQ(mapped.lockCount, 0);

  CPixelBuffer heap;
  ASSERT_EQ(heap.CopyFrom(mapped), kOk);
  EXPECT_EQ(Bytes(heap), Bytes(mapped));

  mapped.Lock();  // a lock left outstanding is released by Free
  mapped.Free();
  EXPECT_EQ(mapped.storageHandle, 0u);
  EXPECT_EQ(mapped.lockCount, 0);
  EXPECT_EQ(MMFSystem(0).FileCount(), 0u);
}

TEST(PixelBufferStorage, CallerMemoryIsNeverReallocatedOrFreed) {
  std::vector<uint8_t> memory(4 * 4 * 4, 0xEE);
  CPixelBuffer b;
  EXPECT_EQ(b.Attach(memory.data(), 10, 4, 4, kPixelBGRA), kErrBadArgument);  // too small
  ASSERT_EQ(b.Attach(memory.data(), static_cast<int64_t>(memory.size()), 4, 4, kPixelBGRA), kOk);
  EXPECT_EQ(b.storage, kStorageCaller);
  EXPECT_EQ(b.Create(5, 4, kPixelBGRA, 0), kErrBadArgument);
  ASSERT_EQ(b.Create(4, 4, kPixelBGRA, 0), kOk);  // same layout: cleared in place
  EXPECT_EQ(memory[0], 0);
  b.Free();
  EXPECT_EQ(b.pixels, nullptr);
  EXPECT_EQ(b.width, 0);
  memory[0] = 1;  // still ours (the sanitizer build would report a free)
}

TEST(PixelBufferCopy, CopiesRowsAcrossLayoutsAndResolution) {
  CPixelBuffer src;
  ASSERT_EQ(src.Create(5, 3, kPixelBGR, 0), kOk);
  {
    CPixelLock lock(src);
    for (int i = 0; i < 45; ++i) lock.get()[i] = static_cast<uint8_t>(i + 1);
  }
  src.resolutionX = 150;
  src.resolutionY = 72;

  CPixelBuffer dst;
  dst.alignRows = 1;
  ASSERT_EQ(dst.CopyFrom(src), kOk);
  EXPECT_EQ(dst.stride, 16);
  EXPECT_EQ(dst.resolutionX, 150);
  EXPECT_EQ(dst.resolutionY, 72);
  const std::vector<uint8_t> bytes = Bytes(dst);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 15; ++i) ASSERT_EQ(bytes[y * 16 + i], y * 15 + i + 1);

  EXPECT_EQ(dst.CopyFrom(dst), kNothingDone);
  CPixelBuffer empty;
  EXPECT_EQ(dst.CopyFrom(empty), kOk);
  EXPECT_FALSE(dst.HasPixels());
  EXPECT_EQ(dst.width, 0);
}

// ---------------------------------------------------------------------------------------------
// Blending. Expected pixels are worked out by hand from the integer formulas.

TEST(PixelBufferBlit, BgraOntoBgra) {
  CPixelBuffer d, s;
  OneRow(d, kPixelBGRA, {0, 100, 200, 255, 10, 20, 30, 0, 1, 2, 3, 4, 0, 100, 200, 255});
  OneRow(s, kPixelBGRA, {200, 100, 0, 128, 200, 100, 50, 128, 9, 9, 9, 0, 7, 8, 9, 255});
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 4, 1, 255), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{100, 100, 99, 255,   // half over opaque
                                          198, 99, 49, 129,    // half over transparent
                                          1, 2, 3, 4,          // transparent source: unchanged
                                          7, 8, 9, 255}));     // opaque source: copied

  OneRow(d, kPixelBGRA, {0, 200, 100, 255, 0, 0, 0, 0, 5, 5, 5, 5});
  OneRow(s, kPixelBGRA, {200, 0, 100, 255, 200, 0, 100, 255, 9, 9, 9, 0});
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 3, 1, 127), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{100, 100, 100, 255, 198, 0, 99, 128, 5, 5, 5, 5}));
}

TEST(PixelBufferBlit, MixedAndBgrPairs) {
  CPixelBuffer d, s;
  // BGR onto BGRA copies the colour and takes the blit's alpha.
  OneRow(d, kPixelBGRA, {1, 2, 3, 4});
  OneRow(s, kPixelBGR, {50, 60, 70});
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 1, 1, 77), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{50, 60, 70, 77}));

  // BGRA onto BGR; the negative differences use an arithmetic shift (floor).
  const std::vector<uint8_t> base = {0, 100, 200, 0, 100, 200, 0, 100, 200, 0, 100, 200};
  OneRow(d, kPixelBGR, base);
  OneRow(s, kPixelBGRA, {200, 100, 0, 128, 200, 100, 0, 255, 200, 100, 0, 0, 1, 2, 3, 255});
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 4, 1, 255), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{100, 100, 99, 200, 100, 0, 0, 100, 200, 1, 2, 3}));
  OneRow(d, kPixelBGR, base);
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 4, 1, 63), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{25, 100, 175, 50, 100, 150, 0, 100, 200, 0, 75, 150}));

  // BGR onto BGR.
  OneRow(d, kPixelBGR, {0, 100, 255});
  OneRow(s, kPixelBGR, {255, 100, 0});
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 1, 1, 127), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{127, 100, 127}));
  ASSERT_EQ(Blit(d, 0, 0, s, 0, 0, 1, 1, 255), kOk);
  EXPECT_EQ(Row(d), (std::vector<uint8_t>{255, 100, 0}));

  // Other formats do not blend.
  CPixelBuffer sixteen;
  ASSERT_EQ(sixteen.Create(2, 2, kPixel16A, 0), kOk);
  EXPECT_EQ(Blit(d, 0, 0, sixteen, 0, 0, 1, 1, 255), kErrStream);
  EXPECT_EQ(Blit(sixteen, 0, 0, d, 0, 0, 1, 1, 255), kErrStream);
  EXPECT_EQ(Blit(d, 0, 0, s, 0, 0, 1, 1, 256), kErrBadArgument);
}

TEST(PixelBufferBlit, ClipsToBothBuffers) {
  const std::vector<uint8_t> ten = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5,
                                    6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10, 10};
  CPixelBuffer d, s;
  OneRow(s, kPixelBGR, ten);
  auto firstBytes = [&]() {
    std::vector<uint8_t> r = Row(d), out;
    for (size_t i = 0; i < r.size(); i += 3) out.push_back(r[i]);
    return out;
  };

  // Source starting at x -5: both rectangles move right by 5, the width shrinks by 5.
  OneRow(d, kPixelBGR, std::vector<uint8_t>(30, 0));
  ASSERT_EQ(Blit(d, 0, 0, s, -5, 0, 10, 1, 255), kOk);
  EXPECT_EQ(firstBytes(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 2, 3, 4, 5}));

  // Destination starting at x -3 skips the first three source pixels.
  OneRow(d, kPixelBGR, std::vector<uint8_t>(30, 0));
  ASSERT_EQ(Blit(d, -3, 0, s, 0, 0, 10, 1, 255), kOk);
  EXPECT_EQ(firstBytes(), (std::vector<uint8_t>{4, 5, 6, 7, 8, 9, 10, 0, 0, 0}));

  // Past the right edge of the destination.
  OneRow(d, kPixelBGR, std::vector<uint8_t>(30, 0));
  ASSERT_EQ(Blit(d, 8, 0, s, 0, 0, 10, 1, 255), kOk);
  EXPECT_EQ(firstBytes(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 2}));

  // Nothing left after the shift: refused; an empty rectangle: nothing done, success.
  EXPECT_EQ(Blit(d, 0, 0, s, -5, 0, 3, 1, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, 0, 0, s, 0, 0, 0, 1, 255), kOk);
  // Starting points beyond the buffers, and extreme values that must not wrap.
  EXPECT_EQ(Blit(d, 10, 0, s, 0, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, 0, 1, s, 0, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, 0, 0, s, 10, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, INT_MIN, INT_MIN, s, 0, 0, INT_MAX, INT_MAX, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, 0, 0, s, INT_MIN, 0, INT_MAX, 1, 255), kErrBadArgument);

  CPixelBuffer empty;
  EXPECT_EQ(Blit(empty, 0, 0, s, 0, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_EQ(Blit(d, 0, 0, empty, 0, 0, 1, 1, 255), kErrBadArgument);
}

TEST(PixelBufferBlit, OverlappingBlitWithinOneBufferReadsTheOriginal) {
  CPixelBuffer b;
  ASSERT_EQ(b.Create(6, 2, kPixelBGRA, 0), kOk);
  {
    CPixelLock lock(b);
    for (int i = 0; i < 12; ++i) {
      lock.get()[i * 4] = static_cast<uint8_t>(i);
      lock.get()[i * 4 + 3] = 255;
    }
  }
  // Shift both rows one pixel to the right.
  ASSERT_EQ(Blit(b, 1, 0, b, 0, 0, 5, 2, 255), kOk);
  std::vector<uint8_t> blue;
  {
    CPixelLock lock(b);
    for (int i = 0; i < 12; ++i) blue.push_back(lock.get()[i * 4]);
  }
  EXPECT_EQ(blue, (std::vector<uint8_t>{0, 0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10}));
}

}  // namespace
}  // namespace KX
