#include "image/pixel_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace KX {
namespace {

// A picture whose pixels all hold `value` (B, G, R and, for BGRA, A, least significant first).
void Plain(CPixelBuffer& b, int32_t w, int32_t h, int32_t format, uint32_t value) {
  ASSERT_EQ(b.Create(w, h, format, 0), kOk);
  ASSERT_EQ(b.Fill(value), kOk);
}

const uint8_t* PixelAt(const CPixelBuffer& b, const CPixelLock& lock, int32_t x, int32_t y) {
  return lock.get() + static_cast<int64_t>(y) * b.stride + int64_t{x} * b.bytesPerPixel;
}

TEST(ScaleDownToFit, KeepsProportionsAndNeverEnlarges) {
  const struct {
    int32_t width, height, maxSide, wantWidth, wantHeight;
  } cases[] = {
      {64, 32, 16, 16, 8},   {32, 64, 16, 8, 16},   {100, 1, 10, 10, 1},
      {3, 1000, 10, 1, 10},  // a side that would round to nothing keeps one pixel
      {256, 171, 128, 128, 86}, {30, 30, 64, 30, 30}, {128, 128, 128, 128, 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " to " << c.maxSide);
    CPixelBuffer source, target;
    Plain(source, c.width, c.height, kPixelBGR, 0x00102030);
    ASSERT_EQ(ScaleDownToFit(source, c.maxSide, target), kOk);
    EXPECT_EQ(target.width, c.wantWidth);
    EXPECT_EQ(target.height, c.wantHeight);
    EXPECT_EQ(target.format, kPixelBGR);
    CPixelLock lock(target);
    const uint8_t* corner = PixelAt(target, lock, target.width - 1, target.height - 1);
    EXPECT_EQ(corner[0], 0x30);
    EXPECT_EQ(corner[2], 0x10);
  }
}

TEST(ScaleDownToFit, AveragesWhatEachPixelCoversWeightedByAlpha) {
  // Black and white columns become grey.
  CPixelBuffer stripes, grey;
  Plain(stripes, 4, 2, kPixelBGR, 0);
  {
    CPixelLock lock(stripes);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 1; x < 4; x += 2)
        std::fill_n(lock.get() + y * stripes.stride + x * 3, 3, uint8_t{255});
  }
  ASSERT_EQ(ScaleDownToFit(stripes, 2, grey), kOk);
  ASSERT_EQ(grey.width, 2);
  {
    CPixelLock lock(grey);
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(PixelAt(grey, lock, x, 0)[1], 128) << x;
  }

  // An opaque red pixel beside a transparent green one: red at half coverage, no green.
  CPixelBuffer pair, one;
  Plain(pair, 2, 1, kPixelBGRA, 0);
  {
    CPixelLock lock(pair);
    const uint8_t pixels[] = {0, 0, 255, 255, 0, 255, 0, 0};
    std::copy(std::begin(pixels), std::end(pixels), lock.get());
  }
  ASSERT_EQ(ScaleDownToFit(pair, 1, one), kOk);
  CPixelLock lock(one);
  const uint8_t* p = lock.get();
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 255);
  EXPECT_EQ(p[3], 128);
}

TEST(ScaleDownToFit, RefusesWhatItCannotScale) {
  CPixelBuffer source, target, empty;
  Plain(source, 8, 8, kPixelBGRA, 0xFFFFFFFF);
  EXPECT_EQ(ScaleDownToFit(source, 0, target), kErrBadArgument);
  EXPECT_EQ(ScaleDownToFit(empty, 4, target), kErrBadArgument);
  CPixelBuffer gray;
  ASSERT_EQ(gray.Create(8, 8, kPixel8, 0), kOk);
  EXPECT_EQ(ScaleDownToFit(gray, 4, target), kErrBadArgument);
}

}  // namespace
}  // namespace KX
