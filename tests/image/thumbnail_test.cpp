#include "image/thumbnail.h"

#include <gtest/gtest.h>

#include "object/container.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

class ThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

// A 3 x 2 BGR picture with padded rows (stride 12), then the four values.
Bytes ThumbnailFields(bool withPixels) {
  Bytes b;
  // An empty picture is written with zero dimensions and format, as our writer leaves it.
  b.I32(withPixels ? 3 : 0).I32(withPixels ? 2 : 0).I32(withPixels ? 1 : 0).I16(1).I32(72).I32(300);
  b.I32(withPixels ? 1 : 0);
  if (withPixels)
    for (int i = 0; i < 24; ++i) b.U8(static_cast<uint8_t>(i * 10));
  return b.I32(5).I32(-6).U8(1).I32(7);
}

std::vector<uint8_t> Pixels(const CPixelBuffer& picture) {
  CPixelLock lock(picture);
  if (!lock.get()) return {};
  return std::vector<uint8_t>(lock.get(), lock.get() + picture.stride * picture.height);
}

// The pixels of every row without the padding.
std::vector<uint8_t> Rows(const CPixelBuffer& picture) {
  CPixelLock lock(picture);
  std::vector<uint8_t> rows;
  if (!lock.get()) return rows;
  for (int32_t y = 0; y < picture.height; ++y)
    rows.insert(rows.end(), lock.get() + y * picture.stride,
                lock.get() + y * picture.stride + picture.width * picture.bytesPerPixel);
  return rows;
}

void ExpectLoadedFields(const CBase* object, bool withPixels) {
  const auto* thumbnail = KindOf<CThumbnail>(object);
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->value1, 5);
  EXPECT_EQ(thumbnail->value2, -6);
  EXPECT_TRUE(thumbnail->flag2);
  EXPECT_EQ(thumbnail->value3, 7);
  EXPECT_EQ(thumbnail->picture.resolutionX, 72);
  EXPECT_EQ(thumbnail->picture.resolutionY, 300);
  if (!withPixels) {
    EXPECT_FALSE(thumbnail->picture.HasPixels());
    return;
  }
  EXPECT_EQ(thumbnail->picture.width, 3);
  EXPECT_EQ(thumbnail->picture.height, 2);
  EXPECT_EQ(thumbnail->picture.stride, 12);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 24; ++i) expected.push_back(static_cast<uint8_t>(i * 10));
  EXPECT_EQ(Pixels(thumbnail->picture), expected);
}

TEST_F(ThumbnailTest, CurrentLayoutIsByteExactBothWays) {
  for (const bool withPixels : {true, false}) {
    SCOPED_TRACE(withPixels ? "with pixels" : "without pixels");
    Bytes record;
    record.Version(2, 0).I32(1).W(u"t");        // CBase
    record.Version(2, 0).I32(0).I32(0).I32(0);  // CCorva
    record.Version(2, 0).Append(ThumbnailFields(withPixels));
    Bytes file = test::NewHeader().A("_Thumbnail").A("CThumbnail");
    file.I32(static_cast<int32_t>(record.size())).Append(record).A("");

    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    ExpectLoadedFields(context.thumbnail.get(), withPixels);
    EXPECT_EQ(context.thumbnail->GetSaveSize(),
              10 + 2 + 24 + 20 + 34 + (withPixels ? 24 : 0) + 13);

    CPersistContext save;
    save.thumbnail = context.thumbnail;
    EXPECT_EQ(test::SaveToBytes(save), file.data);
  }
}

TEST_F(ThumbnailTest, OldLayoutHoldsTheFieldsAloneAndLoadsTheSamePicture) {
  for (const bool withPixels : {true, false}) {
    SCOPED_TRACE(withPixels ? "with pixels" : "without pixels");
    const Bytes file =
        test::OldHeader("1.50").A("_CorvaThumbnail").Append(ThumbnailFields(withPixels));
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
    ExpectLoadedFields(context.thumbnail.get(), withPixels);
    EXPECT_EQ(context.thumbnail->name, u"");
  }
  // Cut short inside the pixels: a stream error, with nothing sized beyond what is there.
  Bytes cut = test::OldHeader("1.50").A("_CorvaThumbnail");
  cut.I32(4096).I32(4096).I32(0).I16(0).I32(96).I32(96).I32(1).I32(0);
  CPersistContext context;
  EXPECT_EQ(test::LoadFromBytes(cut.data, context), kErrStream);
}

TEST_F(ThumbnailTest, CloneHasNoNameAndAPictureOfItsOwn) {
  CRefPtr<CThumbnail> thumbnail(new CThumbnail);
  thumbnail->name = u"scene";
  thumbnail->value1 = 3;
  thumbnail->flag2 = true;
  thumbnail->picture.alignRows = 1;
  ASSERT_EQ(thumbnail->picture.Create(5, 3, kPixelBGR, 0x00ABCDEF), kOk);

  CRefPtr<CBase> out;
  ASSERT_EQ(thumbnail->Clone(out), kOk);
  auto* copy = KindOf<CThumbnail>(out.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->name, u"");
  EXPECT_EQ(copy->value1, 3);
  EXPECT_TRUE(copy->flag2);
  EXPECT_EQ(Pixels(copy->picture), Pixels(thumbnail->picture));
  ASSERT_EQ(copy->picture.Fill(0), kOk);
  EXPECT_NE(Pixels(copy->picture), Pixels(thumbnail->picture));
  EXPECT_EQ(Pixels(thumbnail->picture)[0], 0xEF);

  // AssignTo copies the name as every scene object does, and the picture.
  CRefPtr<CThumbnail> target(new CThumbnail);
  ReleasedList released;
  ASSERT_EQ(thumbnail->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->name, u"scene");
  EXPECT_EQ(Rows(target->picture), Rows(thumbnail->picture));
  CRefPtr<test::CTestObject> other(new test::CTestObject);
  EXPECT_EQ(thumbnail->AssignTo(other.get(), released), kErrMalformed);
}

}  // namespace
}  // namespace KX
