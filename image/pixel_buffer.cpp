#include "image/pixel_buffer.h"

#include "core/io_buffer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "core/storage/mmf.h"
#include "image/codec.h"
#include "image/encoded_bytes.h"

namespace KX {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Row layout for a size; false when the numbers cannot describe a buffer we can hold (every
// count is int32 wherever buffers are stored, so height * stride must fit one).
bool Layout(int32_t width, int32_t height, int32_t bpp, bool align, int32_t& stride,
            int64_t& allocation) {
  if (width <= 0 || height <= 0 || bpp <= 0) return false;
  int64_t s = static_cast<int64_t>(width) * bpp;
  if (align) s = (s + 3) & ~int64_t{3};
  if (s > kInt32Max) return false;
  const int64_t bytes = static_cast<int64_t>(height) * s;
  if (bytes > kInt32Max) return false;
  stride = static_cast<int32_t>(s);
  allocation = bytes - bpp + 4;
  return true;
}

}  // namespace

int32_t BytesPerPixelOf(int32_t format) {
  switch (format) {
    case kPixelBGRA: return 4;
    case kPixelBGR: return 3;
    case kPixel16A:
    case kPixel16B:
    case kPixel16C: return 2;
    case kPixel8: return 1;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Memory and locks

CPixelBuffer::~CPixelBuffer() { Free(); }

bool CPixelBuffer::HasPixels() const {
  if (deferred_) return true;
  if (storage == kStorageMapped) return IsMappedHandle(storageHandle);
  return pixels != nullptr;
}

Status CPixelBuffer::DecodeDeferred() const {
  // Locking is reading: the decode fills in what the buffer already stood for. Buffers are never
  // defined const, only handed out as such.
  auto& self = const_cast<CPixelBuffer&>(*this);
  std::shared_ptr<const CEncodedBytes> encoded = std::move(deferred_);
  deferred_.reset();
  const int32_t w = width, h = height, fmt = format, rx = resolutionX, ry = resolutionY;
  const Status status = encoded->Read([&](const uint8_t* bytes, size_t length) {
    return DecodeBlob(self, deferredFormat_, bytes, length);
  });
  if (Failed(status)) {
    // Nothing but memory can fail here; the next Lock tries again.
    self.ReleaseMemory();
    self.width = w;
    self.height = h;
    self.format = fmt;
    self.bytesPerPixel = BytesPerPixelOf(fmt);
    self.resolutionX = rx;
    self.resolutionY = ry;
    int64_t unused = 0;
    Layout(w, h, self.bytesPerPixel, alignRows != 0, self.stride, unused);
    deferred_ = std::move(encoded);
  }
  return status;
}

void CPixelBuffer::SetShape(int32_t w, int32_t h, int32_t fmt, int32_t bpp, int32_t rowStride) {
  width = w;
  height = h;
  format = fmt;
  bytesPerPixel = bpp;
  stride = rowStride;
}

Status CPixelBuffer::Defer(int32_t w, int32_t h, int32_t fmt,
                           std::shared_ptr<const CEncodedBytes> encoded,
                           int32_t codecFormat) {
  const int32_t bpp = BytesPerPixelOf(fmt);
  int32_t newStride = 0;
  int64_t newSize = 0;
  if (!encoded || bpp == 0) return kErrBadArgument;
  // What Create would refuse for these dimensions is refused here alike.
  if (storage == kStorageCaller || !Layout(w, h, bpp, alignRows != 0, newStride, newSize))
    return kErrBadArgument;
  ReleaseMemory();
  SetShape(w, h, fmt, bpp, newStride);
  deferred_ = std::move(encoded);
  deferredFormat_ = codecFormat;
  return kOk;
}

uint8_t* CPixelBuffer::Lock() const {
  if (deferred_ && Failed(DecodeDeferred())) return nullptr;
  if (storage == kStorageMapped) {
    if (!IsMappedHandle(storageHandle)) return nullptr;
    auto* bits = static_cast<uint8_t*>(LockBlock(storageHandle));
    if (bits != nullptr) ++lockCount;
    return bits;
  }
  return pixels;
}

void CPixelBuffer::Unlock() const {
  if (storage == kStorageMapped && lockCount > 0) {
    UnlockBlock(storageHandle);
    --lockCount;
  }
}

void CPixelBuffer::ReleaseLocks() const {
  while (lockCount > 0) {
    UnlockBlock(storageHandle);
    --lockCount;
  }
}

void CPixelBuffer::ReleaseMemory() {
  deferred_.reset();
  ReleaseLocks();
  if (IsMappedHandle(storageHandle)) FreeBlock(storageHandle);
  storageHandle = 0;
  if (ownsPixels_) delete[] pixels;
  ownsPixels_ = false;
  pixels = nullptr;
  allocSize = 0;
}

void CPixelBuffer::Free() {
  ReleaseLocks();
  width = height = bytesPerPixel = format = stride = 0;
  ReleaseMemory();  // caller memory is not ours: it is only forgotten
}

Status CPixelBuffer::Attach(uint8_t* memory, int64_t size, int32_t w, int32_t h, int32_t fmt) {
  const int32_t bpp = BytesPerPixelOf(fmt);
  int32_t newStride = 0;
  int64_t need = 0;
  if (memory == nullptr || !Layout(w, h, bpp, alignRows != 0, newStride, need) || size < need)
    return kErrBadArgument;
  ReleaseMemory();
  storage = kStorageCaller;
  SetShape(w, h, fmt, bpp, newStride);
  pixels = memory;
  allocSize = size;
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Create, Fill, CopyFrom

Status CPixelBuffer::Create(int32_t w, int32_t h, int32_t fmt, uint32_t fill) {
  const int32_t bpp = BytesPerPixelOf(fmt);
  if (bpp == 0) return kErrBadArgument;
  ReleaseLocks();
  // Pixels still to be decoded are replaced, never decoded only to be cleared.
  if (deferred_) ReleaseMemory();

  int32_t newStride = 0;
  int64_t newSize = 0;
  const bool valid = Layout(w, h, bpp, alignRows != 0, newStride, newSize);

  // Same size, format and row layout over existing memory: clear it in place.
  if (w == width && h == height && fmt == format && newStride == stride && HasPixels()) {
    if (!valid) return kErrBadArgument;
    {
      CPixelLock lock(*this);
      if (lock.get() == nullptr) return kErrOutOfMemory;
      std::memset(lock.get(), 0, static_cast<size_t>(static_cast<int64_t>(height) * stride));
    }
    return fill != 0 ? Fill(fill) : kOk;
  }

  if (storage == kStorageCaller) return kErrBadArgument;
  if (!valid) return kErrBadArgument;
  SetShape(w, h, fmt, bpp, newStride);
  // From here a failure leaves the new dimensions without pixels.
  ReleaseMemory();

  bool zeroed = false;
  if (storage == kStorageMapped) {
    if (!AllocateBlock(storageHandle, static_cast<uint64_t>(newSize))) {
      storageHandle = 0;
      return kErrOutOfMemory;
    }
    zeroed = true;  // mapped blocks come cleared
  } else {
    pixels = new (std::nothrow) uint8_t[static_cast<size_t>(newSize)];
    if (pixels == nullptr) return kErrOutOfMemory;
    ownsPixels_ = true;
  }
  allocSize = newSize;

  // Row padding and the bytes past the last row are not pixels; Fill leaves them zero.
  if (!zeroed) std::memset(pixels, 0, static_cast<size_t>(newSize));
  return fill != 0 ? Fill(fill) : kOk;
}

Status CPixelBuffer::Fill(uint32_t value) {
  CPixelLock lock(*this);
  uint8_t* bits = lock.get();
  if (bits == nullptr || width <= 0 || height <= 0 || bytesPerPixel <= 0) return kErrBadArgument;
  const int64_t rowBytes = static_cast<int64_t>(width) * bytesPerPixel;
  const bool packed = rowBytes == stride;
  const int64_t span = packed ? rowBytes * height : rowBytes;

  for (int32_t i = 0; i < bytesPerPixel; ++i) bits[i] = static_cast<uint8_t>(value >> (8 * i));
  // Doubling copies: a handful of large memcpy calls instead of a loop over pixels.
  int64_t filled = bytesPerPixel;
  while (filled < span) {
    const int64_t n = std::min(filled, span - filled);
    std::memcpy(bits + filled, bits, static_cast<size_t>(n));
    filled += n;
  }
  if (!packed) {
    for (int64_t y = 1; y < height; ++y)
      std::memcpy(bits + y * stride, bits, static_cast<size_t>(rowBytes));
  }
  return kOk;
}

Status CPixelBuffer::CopyFrom(const CPixelBuffer& other) {
  if (&other == this) return kNothingDone;
  if (!other.HasPixels()) {
    // Copying an empty buffer gives an empty buffer rather than a failure.
    Free();
    resolutionX = other.resolutionX;
    resolutionY = other.resolutionY;
    return kOk;
  }
  KX_RETURN_IF_FAILED(Create(other.width, other.height, other.format, 0));
  CPixelLock to(*this);
  CPixelLock from(other);
  if (to.get() == nullptr || from.get() == nullptr) return kErrOutOfMemory;
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel);
  if (stride == other.stride) {
    std::memcpy(to.get(), from.get(), static_cast<size_t>(static_cast<int64_t>(height) * stride));
  } else {
    for (int64_t y = 0; y < height; ++y)
      std::memcpy(to.get() + y * stride, from.get() + y * other.stride, rowBytes);
  }
  resolutionX = other.resolutionX;
  resolutionY = other.resolutionY;
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Blit

namespace {

// Source BGRA onto destination BGRA.
void Blend32On32(uint8_t* d, const uint8_t* s, int64_t count, int alpha) {
  for (int64_t x = 0; x < count; ++x, d += 4, s += 4) {
    const int sa = s[3];
    if (sa == 0) continue;
    const int da = d[3];
    if (alpha == 255) {
      if (sa == 255) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
        continue;
      }
      const int H = da + 1, I = sa + 1, J = H * I, K = H + I - (J >> 8);
      for (int c = 0; c < 3; ++c) d[c] = Clamp255((H * d[c] + I * s[c] - ((J * d[c]) >> 8)) / K);
      if (K > 256) d[3] = 255;
      else if (K <= 0) d[3] = 0;
      else d[3] = static_cast<uint8_t>(da + sa - (J >> 8) < 255 ? K - 1 : 255);
    } else {
      const int I = ((alpha + 1) * (sa + 1)) >> 8;
      const int H = da + 1, J = H * I, K = da + I - (J >> 8);
      for (int c = 0; c < 3; ++c)
        d[c] = Clamp255((H * d[c] + I * s[c] - ((J * d[c]) >> 8)) / (K + 1));
      d[3] = Clamp255(K);
    }
  }
}

// Source BGR onto destination BGRA.
void Blend24On32(uint8_t* d, const uint8_t* s, int64_t count, int alpha) {
  for (int64_t x = 0; x < count; ++x, d += 4, s += 3) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = static_cast<uint8_t>(alpha);
  }
}

// Source BGRA onto destination BGR.
void Blend32On24(uint8_t* d, const uint8_t* s, int64_t count, int alpha) {
  for (int64_t x = 0; x < count; ++x, d += 3, s += 4) {
    const int sa = s[3];
    if (sa == 0) continue;
    int f;
    if (alpha == 255) {
      if (sa == 255) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        continue;
      }
      f = sa + 1;
    } else {
      f = sa == 255 ? alpha + 1 : ((alpha + 1) * (sa + 1)) >> 8;
    }
    for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(d[c] + ((f * (s[c] - d[c])) >> 8));
  }
}

// Source BGR onto destination BGR.
void Blend24On24(uint8_t* d, const uint8_t* s, int64_t count, int alpha) {
  if (alpha == 255) {
    std::memmove(d, s, static_cast<size_t>(count * 3));
    return;
  }
  const int f = alpha + 1;
  for (int64_t i = 0; i < count * 3; ++i) d[i] = static_cast<uint8_t>(d[i] + ((f * (s[i] - d[i])) >> 8));
}

}  // namespace

Status Blit(CPixelBuffer& destination, int32_t destX, int32_t destY, const CPixelBuffer& source,
            int32_t srcX, int32_t srcY, int32_t w, int32_t h, int32_t alpha) {
  if (!destination.HasPixels() || !source.HasPixels()) return kErrBadArgument;
  if (destX >= destination.width || destY >= destination.height || srcX >= source.width ||
      srcY >= source.height)
    return kErrBadArgument;
  if (alpha < 0 || alpha > 255) return kErrBadArgument;

  // Clip in 64 bits: coordinates near the int32 limits must not wrap.
  const int64_t shiftX = std::max<int64_t>(srcX < 0 ? -int64_t{srcX} : 0,
                                           destX < 0 ? -int64_t{destX} : 0);
  const int64_t shiftY = std::max<int64_t>(srcY < 0 ? -int64_t{srcY} : 0,
                                           destY < 0 ? -int64_t{destY} : 0);
  const int64_t cw = std::min({int64_t{w} - shiftX, destination.width - (destX + shiftX),
                               source.width - (srcX + shiftX)});
  const int64_t ch = std::min({int64_t{h} - shiftY, destination.height - (destY + shiftY),
                               source.height - (srcY + shiftY)});
  if (cw < 0 || ch < 0) return kErrBadArgument;

  void (*blend)(uint8_t*, const uint8_t*, int64_t, int) = nullptr;
  if (source.format == kPixelBGRA && destination.format == kPixelBGRA) blend = Blend32On32;
  else if (source.format == kPixelBGR && destination.format == kPixelBGRA) blend = Blend24On32;
  else if (source.format == kPixelBGRA && destination.format == kPixelBGR) blend = Blend32On24;
  else if (source.format == kPixelBGR && destination.format == kPixelBGR) blend = Blend24On24;
  else return kErrStream;
  if (cw == 0 || ch == 0) return kOk;

  CPixelLock to(destination);
  CPixelLock from(source);
  if (to.get() == nullptr || from.get() == nullptr) return kErrOutOfMemory;
  const int64_t sx = srcX + shiftX, sy = srcY + shiftY, dx = destX + shiftX, dy = destY + shiftY;
  const int64_t sbpp = source.bytesPerPixel, dbpp = destination.bytesPerPixel;
  const uint8_t* srcBase = from.get() + sy * source.stride + sx * sbpp;
  int64_t srcStride = source.stride;

  // Blitting a buffer onto itself: the rectangles may overlap, and blending row by row would
  // read pixels it has already changed. Work from a copy of the source rectangle.
  std::unique_ptr<uint8_t[]> copy;
  if (&destination == &source) {
    const int64_t rowBytes = cw * sbpp;
    copy.reset(new (std::nothrow) uint8_t[static_cast<size_t>(rowBytes * ch)]);
    if (!copy) return kErrOutOfMemory;
    for (int64_t y = 0; y < ch; ++y)
      std::memcpy(copy.get() + y * rowBytes, srcBase + y * srcStride, static_cast<size_t>(rowBytes));
    srcBase = copy.get();
    srcStride = rowBytes;
  }

  uint8_t* dstBase = to.get() + dy * destination.stride + dx * dbpp;
  for (int64_t y = 0; y < ch; ++y)
    blend(dstBase + y * destination.stride, srcBase + y * srcStride, cw, alpha);
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Codec operations

int32_t ResolutionFromCodec(int32_t unit, double value) {
  if (unit == 0) return 300;
  double r = unit == 2 ? value * 2.54 + 0.5 : value;
  // Resolutions come from files: keep absurd ones from overflowing the conversion.
  if (!std::isfinite(r) || r <= 0.0) return 0;
  if (r >= static_cast<double>(kInt32Max)) return static_cast<int32_t>(kInt32Max);
  return static_cast<int32_t>(r);
}

Status DecodeBlob(CPixelBuffer& buffer, int32_t formatCode, const uint8_t* bytes, size_t length) {
  CCodecImage image;
  KX_RETURN_IF_FAILED(CodecDecode(bytes, length, formatCode, image));
  const CodecFrameInfo& frame = image.Frame(0);
  buffer.resolutionX = ResolutionFromCodec(frame.resolutionUnit, frame.resolutionX);
  buffer.resolutionY = ResolutionFromCodec(frame.resolutionUnit, frame.resolutionY);
  const Status status =
      buffer.Create(frame.width, frame.height, frame.hasAlpha ? kPixelBGRA : kPixelBGR, 0);
  if (Failed(status)) return status;
  CPixelLock lock(buffer);
  if (lock.get() == nullptr) return kErrOutOfMemory;
  KX_RETURN_IF_FAILED(image.ExportPixels(0, frame.hasAlpha, lock.get(), buffer.stride));
  return status;
}

namespace {

// DecodeBlobWhenUsed over `data`, the bytes of `kept`.
Status CheckOrDecode(CPixelBuffer& buffer, int32_t formatCode,
                     const std::shared_ptr<const CEncodedBytes>& kept, const uint8_t* data,
                     size_t length) {
  CodecFrameInfo frame;
  if (CodecCheck(data, length, formatCode, frame) != kOk)
    return DecodeBlob(buffer, formatCode, data, length);
  buffer.resolutionX = ResolutionFromCodec(frame.resolutionUnit, frame.resolutionX);
  buffer.resolutionY = ResolutionFromCodec(frame.resolutionUnit, frame.resolutionY);
  return buffer.Defer(frame.width, frame.height, frame.hasAlpha ? kPixelBGRA : kPixelBGR, kept,
                      formatCode);
}

}  // namespace

Status DecodeBlobWhenUsed(CPixelBuffer& buffer, int32_t formatCode,
                          std::shared_ptr<const CEncodedBytes> bytes) {
  if (!bytes) return kErrBadArgument;
  return bytes->Read([&](const uint8_t* data, size_t length) {
    return CheckOrDecode(buffer, formatCode, bytes, data, length);
  });
}

Status DecodeBlobWhenUsed(CPixelBuffer& buffer, int32_t formatCode,
                          std::shared_ptr<const CEncodedBytes> bytes,
                          std::span<const uint8_t> sameBytes) {
  if (!bytes || sameBytes.size() != bytes->size()) return kErrBadArgument;
  return CheckOrDecode(buffer, formatCode, bytes, sameBytes.data(), sameBytes.size());
}

Status DecodeFile(const std::string& path, CPixelBuffer& buffer, int32_t& formatCode) {
  const int32_t code = CodecFormatFromPath(path);
  if (code == kCodecNone) return kErrBadArgument;
  formatCode = code;
  std::vector<uint8_t> bytes;
  KX_RETURN_IF_FAILED(ReadWholeFile(path, bytes));
  return DecodeBlob(buffer, code, bytes.data(), bytes.size());
}

Status EncodeBlob(const CPixelBuffer& buffer, int32_t formatCode, std::vector<uint8_t>& bytes,
                  int32_t quality) {
  bytes.clear();
  if (!buffer.HasPixels()) return kErrBadArgument;
  if (buffer.format != kPixelBGRA && buffer.format != kPixelBGR) return kErrStream;
  CPixelLock lock(buffer);
  if (lock.get() == nullptr) return kErrOutOfMemory;
  CodecEncodeFrame frame;
  frame.pixels = lock.get();
  frame.width = buffer.width;
  frame.height = buffer.height;
  frame.stride = buffer.stride;
  frame.withAlpha = buffer.format == kPixelBGRA;
  frame.resolutionX = buffer.resolutionX;
  frame.resolutionY = buffer.resolutionY;
  return CodecEncode(&frame, 1, formatCode, bytes, quality);
}

}  // namespace KX
