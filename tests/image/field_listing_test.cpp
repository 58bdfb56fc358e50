// What the pictures list: the picture block as a record with its pixels as bytes, the encoded
// bytes of an embedded image, and the frames of an animation with their images.
#include <gtest/gtest.h>

#include <string>

#include "object/container.h"
#include "core/io_buffer.h"
#include "image/image.h"
#include "image/picture_block.h"
#include "support/bytes.h"
#include "support/field_trace.h"

namespace KX {
namespace {

using test::Bytes;
using test::CFieldTrace;
using test::Listing;

// What `object` lists from its own class level on; the listing must not change the bytes.
std::string OwnLevel(const CBase& object, CPersistContext& context) {
  CMemoryIo plain, listed;
  CWriter plainOut(plain, 0, &context);
  EXPECT_EQ(object.Save(plainOut), kOk);
  CFieldTrace trace;
  CWriter listedOut(listed, 0, &context, &trace);
  EXPECT_EQ(object.Save(listedOut), kOk);
  EXPECT_EQ(listedOut.UnlistedBytes(), 0u);
  EXPECT_EQ(plain.bytes(), listed.bytes());
  const std::string level = std::string("level ") + object.GetRuntimeClass()->className;
  const size_t at = trace.text.find(level);
  return at == std::string::npos ? trace.text : trace.text.substr(at + level.size() + 1);
}

TEST(FieldListing, PictureBlockIsARecordWithItsPixels) {
  CPixelBuffer picture;
  picture.alignRows = 1;
  ASSERT_EQ(picture.Create(3, 2, kPixelBGR, 0x112233), kOk);
  picture.resolutionX = 72;
  std::vector<uint8_t> stored;
  EXPECT_EQ(Listing([&](CWriter& out) { EXPECT_TRUE(::KX::Succeeded(WritePictureBlock(out, "picture", picture))); }, &stored),
            "picture{ width=3 height=2 format=1 alignRows=1 resolutionX=72 resolutionY=96 "
            "pixels:bytes(24) }");
  EXPECT_EQ(stored.size(), 26u + 24u);  // the fields before the rows, then two rows of 12

  const CPixelBuffer empty;
  EXPECT_EQ(Listing([&](CWriter& out) { EXPECT_TRUE(::KX::Succeeded(WritePictureBlock(out, "picture", empty))); }, &stored),
            "picture{ width=0 height=0 format=0 alignRows=0 resolutionX=96 resolutionY=96 "
            "pixels:absent }");
  EXPECT_EQ(stored, Bytes().I32(0).I32(0).I32(0).I16(0).I32(96).I32(96).I32(0).data);
}

TEST(FieldListing, EmbeddedImageListsItsEncodedBytesOrItsPicture) {
  CRefPtr<CImage> image(new CImage);
  ASSERT_EQ(image->picture.Create(2, 2, kPixelBGRA, 0), kOk);
  CPersistContext context;
  ASSERT_EQ(image->CollectForSave(context), kOk);  // encodes the picture
  ASSERT_TRUE(image->HasBlob());
  const std::string encoded =
      "path= storage=0 storeEncoded=true encodeFormat=" + std::to_string(image->encodeFormat);
  EXPECT_EQ(OwnLevel(*image, context),
            encoded + " blob:bytes(" + std::to_string(image->blobSize) + ")");

  image->FreeBlob();
  image->picture.Free();
  EXPECT_EQ(OwnLevel(*image, context), encoded + " blob:bytes(0)");

  image->storeEncoded = false;
  EXPECT_EQ(OwnLevel(*image, context),
            "path= storage=0 storeEncoded=false picture{ width=0 height=0 format=0 alignRows=0 "
            "resolutionX=96 resolutionY=96 pixels:absent }");
}

TEST(FieldListing, AnimationListsEachFrameWithItsImage) {
  CRefPtr<CAnmImage> anm(new CAnmImage);
  CRefPtr<CImage> image(new CImage);
  CAnmFrame values;
  values.frameValue2 = 40;
  values.offsetY = -2;
  values.frameBytes[2] = 7;
  ASSERT_EQ(anm->AddFrame(values, image.get()), kOk);
  ASSERT_EQ(anm->AddFrame(CAnmFrame{}, image.get()), kOk);
  anm->frames[1].image = nullptr;  // a frame whose image is not saved
  CPersistContext context;
  context.saveIds[anm.get()] = 1;
  context.saveIds[image.get()] = 5;
  EXPECT_EQ(OwnLevel(*anm, context),
            "path= frames[ { frameValue1=0 frameValue2=40 offsetX=0 offsetY=-2 frameBytes[ 0 0 7 ] "
            "reserved=0 image->5 } { frameValue1=0 frameValue2=0 offsetX=0 offsetY=0 "
            "frameBytes[ 0 0 0 ] reserved=0 image->0 } ]");
}

}  // namespace
}  // namespace KX
