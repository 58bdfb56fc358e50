#include "image/pixel_scale.h"

#include <algorithm>

namespace KX {

namespace {

// The source span [first, last) that target pixel `i` of `count` covers in `length` source
// pixels; every source pixel lands in exactly one span.
void SpanOf(int32_t i, int32_t count, int32_t length, int32_t& first, int32_t& last) {
  first = static_cast<int32_t>(static_cast<int64_t>(i) * length / count);
  last = static_cast<int32_t>(static_cast<int64_t>(i + 1) * length / count);
}

// One target row: the box average of the source rows [y0, y1), column spans from SpanOf.
void AverageRow(const uint8_t* source, int32_t sourceStride, int32_t sourceWidth, int32_t y0,
                int32_t y1, int32_t bpp, uint8_t* row, int32_t width) {
  const bool alpha = bpp == 4;
  for (int32_t x = 0; x < width; ++x) {
    int32_t x0 = 0, x1 = 0;
    SpanOf(x, width, sourceWidth, x0, x1);
    uint64_t sum[3] = {0, 0, 0};
    uint64_t alphaSum = 0;
    for (int32_t y = y0; y < y1; ++y) {
      const uint8_t* p = source + static_cast<int64_t>(y) * sourceStride + int64_t{x0} * bpp;
      for (int32_t sx = x0; sx < x1; ++sx, p += bpp) {
        const uint32_t weight = alpha ? p[3] : 1;
        for (int c = 0; c < 3; ++c) sum[c] += uint64_t{p[c]} * weight;
        alphaSum += weight;
      }
    }
    const uint64_t pixels = static_cast<uint64_t>(x1 - x0) * static_cast<uint64_t>(y1 - y0);
    uint8_t* out = row + int64_t{x} * bpp;
    for (int c = 0; c < 3; ++c)
      out[c] = alphaSum == 0 ? 0 : static_cast<uint8_t>((sum[c] + alphaSum / 2) / alphaSum);
    if (alpha) out[3] = static_cast<uint8_t>((alphaSum + pixels / 2) / pixels);
  }
}

}  // namespace

Status ScaleDownToFit(const CPixelBuffer& source, int32_t maxSide, CPixelBuffer& target) {
  if (maxSide < 1 || (source.format != kPixelBGRA && source.format != kPixelBGR))
    return kErrBadArgument;
  if (!source.HasPixels()) return kErrBadArgument;
  if (source.width <= maxSide && source.height <= maxSide) return target.CopyFrom(source);
  const int32_t longer = std::max(source.width, source.height);
  // Rounded to the nearest pixel, never below one.
  const auto fit = [&](int32_t side) {
    return std::max<int32_t>(
        1, static_cast<int32_t>((int64_t{side} * maxSide + longer / 2) / longer));
  };
  const int32_t width = fit(source.width), height = fit(source.height);
  if (const Status status = target.Create(width, height, source.format, 0); Failed(status))
    return status;
  target.resolutionX = source.resolutionX;
  target.resolutionY = source.resolutionY;
  CPixelLock from(source), to(target);
  if (from.get() == nullptr || to.get() == nullptr) return kErrOutOfMemory;
  for (int32_t y = 0; y < height; ++y) {
    int32_t y0 = 0, y1 = 0;
    SpanOf(y, height, source.height, y0, y1);
    AverageRow(from.get(), source.stride, source.width, y0, y1, source.bytesPerPixel,
               to.get() + static_cast<int64_t>(y) * target.stride, width);
  }
  return kOk;
}

}  // namespace KX
