#pragma once
// The image codec: decodes encoded pictures (BMP, JPEG, PNG, TGA, GIF with all its frames, TIFF)
// into 8-bit BGRA or BGR rows and encodes such rows back. This is the only place that talks to the
// codec library; nothing else includes its headers.
//
// Only the six formats above are ever handed to the library. The format of a blob is taken from
// its leading signature when it has one (a file saved as JPEG by an old tool may well hold PNG
// bytes), and from the caller's format code otherwise (TGA has no signature).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/status.h"

namespace KX {

// Codec format codes, as stored in image records.
inline constexpr int32_t kCodecNone = 0;
inline constexpr int32_t kCodecBMP = 1;
inline constexpr int32_t kCodecJPEG = 2;
inline constexpr int32_t kCodecPNG = 3;
inline constexpr int32_t kCodecTGA = 4;
inline constexpr int32_t kCodecGIF = 5;
inline constexpr int32_t kCodecTIFF = 6;

// "BMP", "JPEG", "PNG", "TGA", "GIF", "TIFF"; "" for any other code.
const char* CodecFormatName(int32_t code);
// The code of an extension (without the dot, any case): bmp/dib, jpg/jpeg, png, tga, gif,
// tif/tiff; 0 for anything else, including extensions of 8 or more characters.
int32_t CodecFormatFromExtension(std::string_view extension);
// The code of the text after the last "." of a path; 0 when there is none.
int32_t CodecFormatFromPath(std::string_view path);
// The code a blob's signature names; 0 when it has none we know.
int32_t CodecSniffFormat(const uint8_t* bytes, size_t length);

// What the decoder tells about one frame.
struct CodecFrameInfo {
  int32_t width = 0;
  int32_t height = 0;
  bool hasAlpha = false;
  int32_t resolutionUnit = 0;  // 0 undefined, 1 per inch, 2 per centimetre
  double resolutionX = 0.0;
  double resolutionY = 0.0;
  // Animation values, carried into image records as they are:
  int32_t frameValue1 = 0;  // loop count (0: forever)
  int32_t frameValue2 = 0;  // delay before the next frame, hundredths of a second
  int32_t offsetX = 0;      // placement of the frame in the whole picture
  int32_t offsetY = 0;
  // [0] disposal method (0 unspecified, 1 leave, 2 restore background, 3 restore previous),
  // [1] 1 when the frame carries transparency, [2] 1 when the frame is palette-based.
  uint8_t frameBytes[3] = {0, 0, 0};
};

// A decoded picture: one or more frames, owned until destruction.
class CCodecImage {
 public:
  CCodecImage() = default;
  ~CCodecImage();
  CCodecImage(const CCodecImage&) = delete;
  CCodecImage& operator=(const CCodecImage&) = delete;

  size_t FrameCount() const { return info_.size(); }
  const CodecFrameInfo& Frame(size_t index) const { return info_[index]; }
  // Writes the frame's rows, top first, as 8-bit B, G, R (and A when `withAlpha`) into `dest`,
  // `stride` bytes apart. The destination must hold height rows of at least width * channels.
  Status ExportPixels(size_t index, bool withAlpha, uint8_t* dest, int64_t stride) const;
  void Reset();

 private:
  friend Status CodecDecode(const uint8_t*, size_t, int32_t, CCodecImage&);
  void* list_ = nullptr;
  std::vector<const void*> frames_;
  std::vector<CodecFrameInfo> info_;
};

// Decodes a blob; a blob that is corrupt, truncated, empty or of no supported format answers
// kErrOpen (the decode failure), running out of memory kErrOutOfMemory.
Status CodecDecode(const uint8_t* bytes, size_t length, int32_t formatCode, CCodecImage& out);

// Tells, without decoding the pixels, what CodecDecode would answer for a blob, where that can be
// done at a fraction of the cost (JPEG for now): kOk when the decode is certain to succeed, with
// the first frame's width, height, alpha and resolution in `info` exactly as the decode would
// give them (the other values stay zero). kNothingDone says nothing: only the decode can tell.
Status CodecCheck(const uint8_t* bytes, size_t length, int32_t formatCode, CodecFrameInfo& info);

// One frame to encode.
struct CodecEncodeFrame {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int64_t stride = 0;
  bool withAlpha = false;  // rows are BGRA rather than BGR
  int32_t resolutionX = 0;  // pixels per inch; 0 writes no resolution
  int32_t resolutionY = 0;
  int32_t frameValue1 = 0;  // as in CodecFrameInfo
  int32_t frameValue2 = 0;
  int32_t offsetX = 0;
  int32_t offsetY = 0;
  uint8_t frameBytes[3] = {0, 0, 0};
};

// Encodes the frames (formats that hold one picture take the first) in the named format at
// `quality` (1 to 100; lossy formats only). kErrBadArgument for no frames, bad sizes, an unknown
// format code or a quality outside 1..100; kErrStream when the pixels cannot be wrapped as an
// image; kErrOutOfMemory when no bytes come out.
Status CodecEncode(const CodecEncodeFrame* frames, size_t count, int32_t formatCode,
                   std::vector<uint8_t>& out, int32_t quality = 100);

}  // namespace KX
