// Round-trip samples of the image objects and the thumbnail.
#include "image/codec.h"
#include "image/image.h"
#include "image/thumbnail.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

void Pattern(CPixelBuffer& picture, int32_t w, int32_t h, int32_t format, int seed) {
  EXPECT_TRUE(::KX::Succeeded(picture.Create(w, h, format, 0)));
  CPixelLock lock(picture);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t i = 0; i < w * picture.bytesPerPixel; ++i)
      lock.get()[y * picture.stride + i] = static_cast<uint8_t>(seed + 31 * y + 7 * i);
}

// An embedded encoded image is kept as the bytes it was given: a file stored by another encoder
// (here deliberately with format code JPEG over PNG bytes) must come back byte for byte.
CRefPtr<CImage> EncodedImage() {
  CRefPtr<CImage> image(new CImage);
  image->name = u"encoded";
  CPixelBuffer source;
  Pattern(source, 5, 3, kPixelBGRA, 1);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(::KX::Succeeded(EncodeBlob(source, kCodecPNG, bytes)));
  EXPECT_TRUE(::KX::Succeeded(image->picture.CopyFrom(source)));
  EXPECT_TRUE(::KX::Succeeded(image->KeepBlob(bytes)));
  return image;
}

CRefPtr<CBase> ImageSample() { return EncodedImage(); }

CRefPtr<CBase> AnmImageSample() {
  CRefPtr<CAnmImage> anm(new CAnmImage);
  anm->name = u"anim";
  CAnmFrame values;
  values.frameValue2 = 10;
  values.frameBytes[0] = 2;
  EXPECT_TRUE(::KX::Succeeded(anm->AddFrame(values, EncodedImage().get())));
  // A raw-pixel frame with padded rows.
  CRefPtr<CImage> raw(new CImage);
  raw->storeEncoded = false;
  raw->picture.alignRows = 1;
  raw->picture.resolutionX = 72;
  Pattern(raw->picture, 3, 2, kPixelBGR, 9);
  values.offsetX = 4;
  values.offsetY = -1;
  EXPECT_TRUE(::KX::Succeeded(anm->AddFrame(values, raw.get())));
  return anm;
}

CRefPtr<CBase> ThumbnailSample() {
  CRefPtr<CThumbnail> thumbnail(new CThumbnail);
  thumbnail->name = u"thumb";
  thumbnail->picture.alignRows = 1;
  Pattern(thumbnail->picture, 3, 3, kPixelBGR, 40);
  thumbnail->value1 = 7;
  thumbnail->value2 = -2;
  thumbnail->flag2 = true;
  thumbnail->value3 = 99;
  return thumbnail;
}

const RoundTripRegistrar image("CImage", ImageSample);
const RoundTripRegistrar anmImage("CAnmImage", AnmImageSample);
const RoundTripRegistrar thumbnail("CThumbnail", ThumbnailSample);

}  // namespace
}  // namespace KX::test
