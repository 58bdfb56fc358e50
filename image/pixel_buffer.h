#pragma once
// The pixel buffer: 8-bit-per-channel pixels with their size, format, resolution and storage, plus
// filling, copying, alpha-blended blitting and the codec operations that turn encoded pictures
// into buffers and back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/status.h"

namespace KX {

class CEncodedBytes;

// Pixel formats. Decoding produces, and encoding and blitting accept, only BGRA and BGR; the
// others exist for allocation.
inline constexpr int32_t kPixelBGRA = 0;
inline constexpr int32_t kPixelBGR = 1;
inline constexpr int32_t kPixel16A = 2;
inline constexpr int32_t kPixel16B = 3;
inline constexpr int32_t kPixel16C = 4;
inline constexpr int32_t kPixel8 = 5;

// Storage kinds.
inline constexpr int16_t kStorageHeap = 0;
inline constexpr int16_t kStorageMapped = 1;  // a block of the memory-mapped temporary storage
inline constexpr int16_t kStorageCaller = 2;  // memory supplied by the caller, never freed here

// Bytes per pixel of a format; 0 for a code outside 0..5.
int32_t BytesPerPixelOf(int32_t format);

class CPixelBuffer {
 public:
  CPixelBuffer() = default;
  explicit CPixelBuffer(int16_t storageKind) : storage(storageKind) {}
  ~CPixelBuffer();
  // Buffers are copied explicitly with CopyFrom, which can fail.
  CPixelBuffer(const CPixelBuffer&) = delete;
  CPixelBuffer& operator=(const CPixelBuffer&) = delete;

  // Sizes the buffer for width x height pixels of `format` and fills it with `fill` (zero when
  // 0). Identical dimensions, format and row layout reuse the existing memory.
  Status Create(int32_t width, int32_t height, int32_t format, uint32_t fill);
  // Sets every pixel to the first bytesPerPixel bytes of `value`, least significant first.
  Status Fill(uint32_t value);
  // Makes this buffer a copy of `other` (pixels and resolution); 1 when `other` is this buffer.
  Status CopyFrom(const CPixelBuffer& other);
  // Releases the pixels (caller memory is only forgotten) and clears the dimensions.
  void Free();
  // Uses `size` bytes of caller memory as the pixels (storage kind 2). The memory must hold what
  // Create would allocate for these dimensions and stay valid until Free or destruction.
  Status Attach(uint8_t* memory, int64_t size, int32_t width, int32_t height, int32_t format);

  // Takes the dimensions and format of a picture whose pixels come from decoding `encoded` (in
  // the codec format `codecFormat`) when they are first asked for. Until then the buffer has
  // pixels (HasPixels) but holds no memory for them (`pixels` is null); the first Lock decodes.
  // Only for an encoded picture the codec has vouched for: its decode gives these dimensions.
  Status Defer(int32_t width, int32_t height, int32_t format,
               std::shared_ptr<const CEncodedBytes> encoded, int32_t codecFormat);
  // True while the pixels wait for their decode.
  bool IsDeferred() const { return deferred_ != nullptr; }

  // Pixel access. Lock answers the first row (null without pixels); for mapped storage it maps
  // the block and counts the lock. Every Lock that answered non-null needs one Unlock. A buffer
  // whose pixels wait for their decode decodes them first (null when that fails).
  uint8_t* Lock() const;
  void Unlock() const;
  // Drops every lock this buffer still holds on its mapped block.
  void ReleaseLocks() const;
  bool HasPixels() const;

  int32_t width = 0;
  int32_t height = 0;
  int32_t bytesPerPixel = 0;
  int32_t format = 0;
  uint8_t* pixels = nullptr;  // rows, top first, for storage 0 and 2
  int32_t resolutionX = 96;
  int32_t resolutionY = 96;
  int32_t stride = 0;
  int16_t storage = kStorageHeap;
  int16_t alignRows = 0;  // non-zero: stride is a multiple of 4
  uint32_t storageHandle = 0;
  mutable int32_t lockCount = 0;
  // Bytes behind the pixels: height * stride - bytesPerPixel + 4, so that the last pixel can be
  // read as a 32-bit word.
  int64_t allocSize = 0;

 private:
  void SetShape(int32_t width, int32_t height, int32_t format, int32_t bytesPerPixel,
                int32_t stride);
  void ReleaseMemory();
  Status DecodeDeferred() const;
  bool ownsPixels_ = false;
  // The encoded picture the pixels are still to be decoded from, and its codec format.
  mutable std::shared_ptr<const CEncodedBytes> deferred_;
  mutable int32_t deferredFormat_ = 0;
};

// Scoped pixel access.
class CPixelLock {
 public:
  explicit CPixelLock(const CPixelBuffer& buffer) : buffer_(buffer), bits_(buffer.Lock()) {}
  ~CPixelLock() {
    if (bits_ != nullptr) buffer_.Unlock();
  }
  CPixelLock(const CPixelLock&) = delete;
  CPixelLock& operator=(const CPixelLock&) = delete;
  uint8_t* get() const { return bits_; }

 private:
  const CPixelBuffer& buffer_;
  uint8_t* bits_;
};

// Blends the w x h rectangle of `source` at (srcX, srcY) onto `destination` at (destX, destY),
// clipped to both buffers. `alpha` 255 lets the source's own alpha alone decide; below that it
// also scales the source. Only BGRA and BGR buffers blend (other pairs: kErrStream).
Status Blit(CPixelBuffer& destination, int32_t destX, int32_t destY, const CPixelBuffer& source,
            int32_t srcX, int32_t srcY, int32_t w, int32_t h, int32_t alpha);

// Turns a decoder's resolution into ours: per centimetre is converted to per inch (rounded),
// an undefined unit gives 300, per inch is truncated.
int32_t ResolutionFromCodec(int32_t unit, double value);

// Decodes the first frame of an encoded picture into `buffer` (BGRA with alpha, else BGR).
Status DecodeBlob(CPixelBuffer& buffer, int32_t formatCode, const uint8_t* bytes, size_t length);
// The same outcome as DecodeBlob, the same dimensions, format and resolution, and the same pixels
// once they are asked for; a picture the codec can vouch for without decoding it keeps `bytes`
// and is decoded only when its pixels are first locked.
Status DecodeBlobWhenUsed(CPixelBuffer& buffer, int32_t formatCode,
                          std::shared_ptr<const CEncodedBytes> bytes);
// The same, reading `sameBytes` (a copy of `bytes` at hand) rather than `bytes`, which the
// picture keeps.
Status DecodeBlobWhenUsed(CPixelBuffer& buffer, int32_t formatCode,
                          std::shared_ptr<const CEncodedBytes> bytes,
                          std::span<const uint8_t> sameBytes);
// Decodes a picture file; the format code comes from the extension and is answered in
// `formatCode` (an unsupported extension answers kErrBadArgument).
Status DecodeFile(const std::string& path, CPixelBuffer& buffer, int32_t& formatCode);
// Encodes the buffer in the named format at `quality` (as CodecEncode).
Status EncodeBlob(const CPixelBuffer& buffer, int32_t formatCode, std::vector<uint8_t>& bytes,
                  int32_t quality = 100);

}  // namespace KX
