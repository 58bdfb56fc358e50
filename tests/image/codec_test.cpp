#include "image/codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "image/pixel_buffer.h"

namespace fs = std::filesystem;

namespace KX {
namespace {

// A picture with distinct values in every channel; alpha varies so that encoders keep it.
void MakePattern(CPixelBuffer& b, int32_t w, int32_t h, int32_t format) {
  b.alignRows = 1;  // odd widths then give padded rows, which the codec must skip
  ASSERT_EQ(b.Create(w, h, format, 0), kOk);
  CPixelLock lock(b);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = lock.get() + static_cast<int64_t>(y) * b.stride;
    for (int32_t x = 0; x < w; ++x, p += b.bytesPerPixel) {
      p[0] = static_cast<uint8_t>(x * 9 + y);
      p[1] = static_cast<uint8_t>(y * 13 + 7);
      p[2] = static_cast<uint8_t>(255 - x * 5);
      if (format == kPixelBGRA) p[3] = static_cast<uint8_t>((x + y) * 17 % 256);
    }
  }
}

// Largest channel difference between two buffers of the same size and format.
int MaxDifference(const CPixelBuffer& a, const CPixelBuffer& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.format, b.format);
  if (a.width != b.width || a.height != b.height || a.format != b.format) return 256;
  CPixelLock la(a), lb(b);
  int worst = 0;
  for (int32_t y = 0; y < a.height; ++y)
    for (int32_t i = 0; i < a.width * a.bytesPerPixel; ++i)
      worst = std::max(worst, std::abs(la.get()[y * a.stride + i] - lb.get()[y * b.stride + i]));
  return worst;
}

TEST(CodecFormats, ExtensionsAreCaseBlindAndBounded) {
  EXPECT_EQ(CodecFormatFromPath("C:/pics/Stone.JPG"), kCodecJPEG);
  EXPECT_EQ(CodecFormatFromPath("x.dib"), kCodecBMP);
  EXPECT_EQ(CodecFormatFromPath("x.TIFF"), kCodecTIFF);
  EXPECT_EQ(CodecFormatFromPath("frames.v2.gif"), kCodecGIF);
  EXPECT_EQ(CodecFormatFromPath("noextension"), kCodecNone);
  EXPECT_EQ(CodecFormatFromPath("x."), kCodecNone);
  EXPECT_EQ(CodecFormatFromExtension("pngpngpn"), kCodecNone);  // 8 characters
}

TEST(CodecRoundTrip, LosslessFormatsGiveBackExactPixels) {
  for (int32_t code : {kCodecBMP, kCodecPNG, kCodecTGA, kCodecTIFF}) {
    for (int32_t format : {kPixelBGRA, kPixelBGR}) {
      SCOPED_TRACE(std::string(CodecFormatName(code)) + (format == kPixelBGRA ? " BGRA" : " BGR"));
      CPixelBuffer original;
      MakePattern(original, 13, 7, format);
      std::vector<uint8_t> bytes;
      ASSERT_EQ(EncodeBlob(original, code, bytes), kOk);
      ASSERT_FALSE(bytes.empty());
      CPixelBuffer decoded;
      ASSERT_EQ(DecodeBlob(decoded, code, bytes.data(), bytes.size()), kOk);
      EXPECT_EQ(decoded.format, format);  // alpha is reported exactly when it was written
      EXPECT_EQ(MaxDifference(original, decoded), 0);
    }
  }
}

TEST(CodecRoundTrip, JpegIsClose) {
  CPixelBuffer original;
  ASSERT_EQ(original.Create(32, 24, kPixelBGR, 0), kOk);
  {
    CPixelLock lock(original);
    for (int32_t y = 0; y < 24; ++y)
      for (int32_t x = 0; x < 32; ++x) {
        uint8_t* p = lock.get() + y * original.stride + x * 3;
        p[0] = static_cast<uint8_t>(x * 8);
        p[1] = static_cast<uint8_t>(y * 10);
        p[2] = 128;
      }
  }
  std::vector<uint8_t> bytes;
  ASSERT_EQ(EncodeBlob(original, kCodecJPEG, bytes), kOk);
  CPixelBuffer decoded;
  ASSERT_EQ(DecodeBlob(decoded, kCodecJPEG, bytes.data(), bytes.size()), kOk);
  EXPECT_LE(MaxDifference(original, decoded), 6);

  // A lower quality gives fewer bytes that still decode to the same size.
  std::vector<uint8_t> smaller;
  ASSERT_EQ(EncodeBlob(original, kCodecJPEG, smaller, 50), kOk);
  EXPECT_LT(smaller.size(), bytes.size());
  ASSERT_EQ(DecodeBlob(decoded, kCodecJPEG, smaller.data(), smaller.size()), kOk);
  EXPECT_EQ(decoded.width, 32);
}

TEST(CodecRoundTrip, ResolutionTravelsOrDefaultsTo300) {
  CPixelBuffer original;
  MakePattern(original, 4, 4, kPixelBGR);
  original.resolutionX = 150;
  original.resolutionY = 75;
  std::vector<uint8_t> bytes;
  CPixelBuffer decoded;
  // PNG keeps pixels per metre: 150 dpi comes back through the per-centimetre rounding.
  ASSERT_EQ(EncodeBlob(original, kCodecPNG, bytes), kOk);
  ASSERT_EQ(DecodeBlob(decoded, kCodecPNG, bytes.data(), bytes.size()), kOk);
  EXPECT_EQ(decoded.resolutionX, 150);
  EXPECT_EQ(decoded.resolutionY, 75);
  // TGA has no resolution: an undefined unit gives 300 by 300.
  ASSERT_EQ(EncodeBlob(original, kCodecTGA, bytes), kOk);
  ASSERT_EQ(DecodeBlob(decoded, kCodecTGA, bytes.data(), bytes.size()), kOk);
  EXPECT_EQ(decoded.resolutionX, 300);
  EXPECT_EQ(decoded.resolutionY, 300);

  // Values from files must not overflow the conversion.
  EXPECT_EQ(ResolutionFromCodec(1, 1e300), 0x7FFFFFFF);
  EXPECT_EQ(ResolutionFromCodec(2, -4.0), 0);
}

TEST(CodecRoundTrip, SignatureWinsOverTheFormatCode) {
  CPixelBuffer original, decoded;
  MakePattern(original, 5, 5, kPixelBGRA);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(EncodeBlob(original, kCodecPNG, bytes), kOk);
  ASSERT_EQ(DecodeBlob(decoded, kCodecJPEG, bytes.data(), bytes.size()), kOk);
  EXPECT_EQ(MaxDifference(original, decoded), 0);
  ASSERT_EQ(DecodeBlob(decoded, kCodecNone, bytes.data(), bytes.size()), kOk);
}

TEST(CodecFrames, GifKeepsEveryFrameWithItsValues) {
  // Three frames of one flat colour each, so the palette holds them exactly.
  std::vector<uint8_t> pixels[3];
  CodecEncodeFrame frames[3];
  for (int k = 0; k < 3; ++k) {
    pixels[k].resize(6 * 4 * 4);
    for (size_t i = 0; i < pixels[k].size(); i += 4) {
      pixels[k][i] = static_cast<uint8_t>(k * 100);
      pixels[k][i + 1] = 50;
      pixels[k][i + 2] = static_cast<uint8_t>(250 - k * 100);
      pixels[k][i + 3] = 255;
    }
    CodecEncodeFrame& f = frames[k];
    f.pixels = pixels[k].data();
    f.width = 6;
    f.height = 4;
    f.stride = 24;
    f.withAlpha = true;
    f.frameValue1 = 5;            // loop count
    f.frameValue2 = 10 * (k + 1); // delay
    f.offsetX = k;
    f.offsetY = 2 * k;
    f.frameBytes[0] = k == 1 ? 2 : 1;  // disposal
  }
  std::vector<uint8_t> gif;
  ASSERT_EQ(CodecEncode(frames, 3, kCodecGIF, gif), kOk);

  CCodecImage image;
  ASSERT_EQ(CodecDecode(gif.data(), gif.size(), kCodecGIF, image), kOk);
  ASSERT_EQ(image.FrameCount(), 3u);
  EXPECT_EQ(image.Frame(0).frameValue1, 5);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const CodecFrameInfo& info = image.Frame(k);
    EXPECT_EQ(info.width, 6);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.frameValue2, 10 * (k + 1));
    EXPECT_EQ(info.offsetX, k);
    EXPECT_EQ(info.offsetY, 2 * k);
    EXPECT_EQ(info.frameBytes[0], k == 1 ? 2 : 1);
    EXPECT_EQ(info.resolutionUnit, 0);
    std::vector<uint8_t> bgr(6 * 4 * 3 + 5);  // padded rows of 19 bytes
    ASSERT_EQ(image.ExportPixels(k, false, bgr.data(), 19), kOk);
    EXPECT_EQ(bgr[3 * 19 + 15], k * 100);
    EXPECT_EQ(bgr[3 * 19 + 16], 50);
    EXPECT_EQ(bgr[3 * 19 + 17], 250 - k * 100);
  }
  EXPECT_EQ(image.ExportPixels(3, false, nullptr, 0), kErrBadArgument);

  // The pixel buffer takes the first frame.
  CPixelBuffer first;
  ASSERT_EQ(DecodeBlob(first, kCodecGIF, gif.data(), gif.size()), kOk);
  EXPECT_EQ(first.width, 6);

  // TIFF keeps pages as frames too.
  std::vector<uint8_t> tiff;
  ASSERT_EQ(CodecEncode(frames, 3, kCodecTIFF, tiff), kOk);
  ASSERT_EQ(CodecDecode(tiff.data(), tiff.size(), kCodecTIFF, image), kOk);
  EXPECT_EQ(image.FrameCount(), 3u);
}

TEST(CodecFailures, CorruptTruncatedAndHostileBlobsAnswerTheDecodeStatus) {
  CPixelBuffer original;
  MakePattern(original, 40, 30, kPixelBGR);
  CPixelBuffer target;
  ASSERT_EQ(target.Create(2, 2, kPixelBGR, 0x010203), kOk);

  for (int32_t code : {kCodecBMP, kCodecJPEG, kCodecPNG, kCodecTGA, kCodecGIF, kCodecTIFF}) {
    SCOPED_TRACE(CodecFormatName(code));
    std::vector<uint8_t> bytes;
    ASSERT_EQ(EncodeBlob(original, code, bytes), kOk);
    EXPECT_EQ(DecodeBlob(target, code, bytes.data(), bytes.size() / 2), kErrOpen);
    EXPECT_EQ(DecodeBlob(target, code, bytes.data(), 3), kErrOpen);
    EXPECT_EQ(DecodeBlob(target, code, bytes.data(), 0), kErrOpen);
    EXPECT_EQ(DecodeBlob(target, code, nullptr, 100), kErrOpen);
  }
  const std::vector<uint8_t> noise(500, 0xA5);
  for (int32_t code = 0; code <= 7; ++code)
    EXPECT_EQ(DecodeBlob(target, code, noise.data(), noise.size()), kErrOpen);
  // Formats outside our six are never decoded, whatever the content.
  const std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>";
  EXPECT_EQ(DecodeBlob(target, kCodecNone, reinterpret_cast<const uint8_t*>(svg.data()),
                       svg.size()),
            kErrOpen);

  // A BMP header that claims 2^30 x 2^30 pixels is refused without allocating for it.
  std::vector<uint8_t> bmp;
  ASSERT_EQ(EncodeBlob(original, kCodecBMP, bmp), kOk);
  for (int i = 0; i < 4; ++i) {
    bmp[18 + i] = i == 3 ? 0x40 : 0;
    bmp[22 + i] = i == 3 ? 0x40 : 0;
  }
  EXPECT_EQ(DecodeBlob(target, kCodecBMP, bmp.data(), bmp.size()), kErrOpen);

  // A failed decode leaves the buffer as it was.
  EXPECT_EQ(target.width, 2);
  CPixelLock lock(target);
  EXPECT_EQ(lock.get()[0], 0x03);
}

TEST(CodecFailures, EncodeRefusesWhatItCannotWrite) {
  std::vector<uint8_t> bytes;
  CPixelBuffer empty;
  EXPECT_EQ(EncodeBlob(empty, kCodecPNG, bytes), kErrBadArgument);
  CPixelBuffer sixteen;
  ASSERT_EQ(sixteen.Create(4, 4, kPixel16B, 0), kOk);
  EXPECT_EQ(EncodeBlob(sixteen, kCodecPNG, bytes), kErrStream);
  CPixelBuffer ok;
  MakePattern(ok, 4, 4, kPixelBGR);
  EXPECT_EQ(EncodeBlob(ok, kCodecNone, bytes), kErrBadArgument);
  EXPECT_EQ(EncodeBlob(ok, 9, bytes), kErrBadArgument);
  EXPECT_EQ(EncodeBlob(ok, kCodecJPEG, bytes, 0), kErrBadArgument);
  EXPECT_EQ(EncodeBlob(ok, kCodecJPEG, bytes, 101), kErrBadArgument);
  EXPECT_TRUE(bytes.empty());
}

TEST(CodecFiles, DecodeFileByExtension) {
  const fs::path dir = fs::temp_directory_path() / ("kx_codec_files_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  CPixelBuffer original;
  MakePattern(original, 9, 9, kPixelBGR);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(EncodeBlob(original, kCodecJPEG, bytes), kOk);
  const fs::path upper = dir / "STONE.JPG";
  std::ofstream(upper, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));

  CPixelBuffer decoded;
  int32_t code = -1;
  ASSERT_EQ(DecodeFile(upper.string(), decoded, code), kOk);
  EXPECT_EQ(code, kCodecJPEG);
  EXPECT_EQ(decoded.width, 9);

  code = -1;
  EXPECT_EQ(DecodeFile((dir / "stone.xyz").string(), decoded, code), kErrBadArgument);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(DecodeFile((dir / "missing.png").string(), decoded, code), kErrFileSize);
  EXPECT_EQ(code, kCodecPNG);
  fs::create_directories(dir / "folder.png");
  EXPECT_EQ(DecodeFile((dir / "folder.png").string(), decoded, code), kErrOpen);
  std::ofstream(dir / "empty.bmp").close();
  EXPECT_EQ(DecodeFile((dir / "empty.bmp").string(), decoded, code), kErrOpen);
  fs::remove_all(dir);
}

TEST(CodecFiles, DecodeIntoMappedStorage) {
  CPixelBuffer original;
  MakePattern(original, 33, 17, kPixelBGRA);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(EncodeBlob(original, kCodecPNG, bytes), kOk);
  CPixelBuffer mapped(kStorageMapped);
  mapped.alignRows = 1;
  ASSERT_EQ(DecodeBlob(mapped, kCodecPNG, bytes.data(), bytes.size()), kOk);
  EXPECT_GT(mapped.storageHandle, 0x10000u);
  EXPECT_EQ(mapped.lockCount, 0);
  EXPECT_EQ(MaxDifference(original, mapped), 0);
}

}  // namespace
}  // namespace KX
