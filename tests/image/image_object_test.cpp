#include "image/image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "object/container.h"
#include "image/codec.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace fs = std::filesystem;

namespace KX {
namespace {

using test::Bytes;

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Pattern(CPixelBuffer& picture, int32_t w, int32_t h, int32_t format, int seed) {
  ASSERT_EQ(picture.Create(w, h, format, 0), kOk);
  CPixelLock lock(picture);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t i = 0; i < w * picture.bytesPerPixel; ++i)
      lock.get()[y * picture.stride + i] = static_cast<uint8_t>(seed + 31 * y + 7 * i);
}

std::vector<uint8_t> Pixels(const CPixelBuffer& picture) {
  CPixelLock lock(picture);
  if (!lock.get()) return {};
  return std::vector<uint8_t>(lock.get(), lock.get() + picture.stride * picture.height);
}

std::vector<uint8_t> Png(int32_t w, int32_t h, int seed) {
  CPixelBuffer picture;
  Pattern(picture, w, h, kPixelBGRA, seed);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeBlob(picture, kCodecPNG, bytes), kOk);
  return bytes;
}

// A record of the current layout: class name, size, then the class blocks.
Bytes Record(const std::string& className, const Bytes& body) {
  return Bytes().A(className).I32(static_cast<int32_t>(body.size())).Append(body);
}

// CBase block plus the start of a CImage block up to the storage kind.
Bytes ImageHead(int32_t id, const std::u16string& path) {
  return Bytes().Version(2, 0).I32(id).W(u"").Version(2, 1).W(path).I16(0);
}

// Every test works in a folder of its own, with the scene file and its pictures side by side.
class ImageObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    std::string pattern = (fs::temp_directory_path() / "kx_image_objects_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // Writes `bytes` as the scene file and loads it from disk.
  Status LoadScene(const Bytes& bytes, CPersistContext& context) {
    WriteFile(dir / "scene.crv", bytes.data);
    return LoadFile(0, context, (dir / "scene.crv").string());
  }

  // Loads one record body into `object` with a reader over the scene file, as the container
  // would, and answers Load's own status (the container keeps only failures).
  Status LoadBody(CBase* object, const Bytes& body, CPersistContext& context, CFileIo& file,
                  CLoadRecord& record) {
    WriteFile(dir / "scene.crv", body.data);
    EXPECT_EQ(file.OpenRead((dir / "scene.crv").string()), kOk);
    context.stream = &file;
    record.object = object;
    CReader in(file, 0, kCurrentStreamVersion, &context, &record);
    return object->Load(in);
  }

  std::u16string InDir(const std::string& name) const { return Wide((dir / name).string()); }

  fs::path dir;
};

TEST_F(ImageObjectTest, StoredPathsResolveAgainstTheSceneFolder) {
  WriteFile(dir / "scene.crv", {0});
  fs::create_directories(dir / "elsewhere");
  WriteFile(dir / "elsewhere" / "kept.png", {0});
  CFileIo scene;
  ASSERT_EQ(scene.OpenRead((dir / "scene.crv").string()), kOk);

  const std::string kept = (dir / "elsewhere" / "kept.png").string();
  const struct {
    std::u16string stored;
    std::u16string expected;
  } cases[] = {
      {u"wood.jpg", InDir("wood.jpg")},
      {u".\\wood.jpg", InDir("wood.jpg")},
      {u"./wood.jpg", InDir("wood.jpg")},
      {u".\\maps\\wood.jpg", InDir("maps/wood.jpg")},
      // Absolute paths of the old tools name files that are not here: the name is looked for
      // beside the scene.
      {u"C:\\Props\\wood.jpg", InDir("wood.jpg")},
      {u"\\\\server\\share\\wood.jpg", InDir("wood.jpg")},
      {u"/no/such/folder/wood.jpg", InDir("wood.jpg")},
      // A path that still exists is used as it is.
      {Wide(kept), Wide(kept)},
  };
  for (const auto& c : cases) {
    for (const bool askStream : {true, false}) {
      std::u16string resolved;
      EXPECT_EQ(ResolveStoredImagePath(c.stored, scene, askStream, resolved), kOk);
      EXPECT_EQ(resolved, c.expected) << std::string(c.stored.begin(), c.stored.end());
    }
  }
  // An absolute path that is gone and has no separator leaves no name to look for.
  std::u16string resolved;
  EXPECT_EQ(ResolveStoredImagePath(u"C:wood.jpg", scene, true, resolved), kErrMalformed);
}

TEST_F(ImageObjectTest, ImagesOfOneExternalFileAreSharedUntilDestroyed) {
  WriteFile(dir / "wood.png", Png(4, 3, 5));
  const std::u16string resolved = InDir("wood.png");
  {
    CRefPtr<CImage> first(new CImage);
    CPersistContext context;
    CFileIo file;
    CLoadRecord record;
    ASSERT_EQ(LoadBody(first.get(), ImageHead(7, u".\\wood.png"), context, file, record), kOk);
    EXPECT_EQ(first->path, resolved);
    EXPECT_EQ(first->picture.width, 4);
    EXPECT_EQ(first->encodeFormat, kCodecPNG);
    EXPECT_EQ(FindCachedImage(resolved), first.get());

    // A second record naming the same file answers 1, and its id now stands for the first image.
    CRefPtr<CImage> second(new CImage);
    CPersistContext context2;
    CFileIo file2;
    CLoadRecord record2;
    EXPECT_EQ(LoadBody(second.get(), ImageHead(8, u"wood.png"), context2, file2, record2),
              kNothingDone);
    EXPECT_EQ(record2.object.get(), first.get());
    EXPECT_EQ(context2.ObjectForId(8), first.get());

    // Across a whole scene: two frame records naming the same picture link to one image, the one
    // loaded above.
    Bytes anm = Bytes().Version(2, 0).I32(1).W(u"").Version(2, 0).W(u"").I32(2);
    anm.I32(0).I32(0).I32(0).I32(0).I32(0).I32(2);
    anm.I32(0).I32(0).I32(0).I32(0).I32(0).I32(3);
    Bytes scene = test::NewHeader().A("").A("").A("_Root").Append(Record("CAnmImage", anm));
    scene.Append(Record("CImage", ImageHead(2, u"C:\\Textures\\wood.png")));
    scene.Append(Record("CImage", ImageHead(3, u".\\wood.png")));
    CPersistContext loaded;
    ASSERT_EQ(LoadScene(scene, loaded), kOk) << loaded.diagnostics.Describe();
    auto* root = KindOf<CAnmImage>(loaded.roots.at(0).get());
    ASSERT_TRUE(root);
    ASSERT_EQ(root->frames.size(), 2u);
    EXPECT_EQ(root->frames[0].image.get(), first.get());
    EXPECT_EQ(root->frames[1].image.get(), first.get());
  }
  // The cache never keeps an image alive, nor a pointer to one that is gone.
  EXPECT_EQ(FindCachedImage(resolved), nullptr);
}

TEST_F(ImageObjectTest, MissingOrUnsupportedExternalFilesFailTheLoad) {
  WriteFile(dir / "notes.txt", {1, 2, 3});
  const struct {
    std::u16string path;
    Status status;
  } cases[] = {
      {u".\\missing.png", kErrFileSize},
      {u".\\notes.txt", kErrBadArgument},
      {u"C:missing.png", kErrMalformed},
  };
  for (const auto& c : cases) {
    CPersistContext context;
    const Bytes scene = test::NewHeader().A("").A("").A("_Root").Append(
        Record("CImage", ImageHead(1, c.path)));
    EXPECT_EQ(LoadScene(scene, context), c.status);
    EXPECT_EQ(FindCachedImage(InDir("missing.png")), nullptr);
  }
}

TEST_F(ImageObjectTest, EmbeddedBytesAreSavedAsReadUntilThePixelsChange) {
  // PNG bytes under the JPEG code, as old tools sometimes stored them: re-encoding would give
  // other bytes, so only keeping the originals passes.
  const std::vector<uint8_t> png = Png(6, 4, 3);
  Bytes body = ImageHead(1, u"");
  body.U8(1).I32(kCodecJPEG).I32(static_cast<int32_t>(png.size())).Raw(png.data(), png.size());
  const Bytes file = test::NewHeader().A("").A("").A("_Root").Append(Record("CImage", body));

  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  auto* image = KindOf<CImage>(context.roots.at(0).get());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->picture.width, 6);
  EXPECT_EQ(image->picture.format, kPixelBGRA);
  EXPECT_EQ(test::SaveRootToBytes(image), file.data);

  // A blit changes the pixels: the next save encodes them afresh, in the stored format.
  CRefPtr<CImage> stamp(new CImage);
  Pattern(stamp->picture, 2, 2, kPixelBGR, 200);
  ASSERT_EQ(image->BlitFrom(1, 1, stamp.get(), 0, 0, 2, 2, 255), kOk);
  EXPECT_FALSE(image->HasBlob());
  EXPECT_EQ(image->modified, 1);
  const auto saved = test::SaveRootToBytes(image);
  std::vector<uint8_t> blob;
  ASSERT_EQ(image->GetBlob(blob), kOk);
  ASSERT_GE(blob.size(), 3u);
  EXPECT_EQ(blob[0], 0xFF);  // a JPEG now
  EXPECT_EQ(blob[1], 0xD8);
  EXPECT_TRUE(std::search(saved.begin(), saved.end(), blob.begin(), blob.end()) != saved.end());

  // A failed blit changes nothing, so it keeps the bytes.
  EXPECT_EQ(image->BlitFrom(0, 0, nullptr, 0, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_EQ(image->BlitFrom(99, 0, stamp.get(), 0, 0, 1, 1, 255), kErrBadArgument);
  EXPECT_TRUE(image->HasBlob());
}

// Pixels without kept bytes reach the file also when another object brings the image into the
// save (here a frame of an animation).
TEST_F(ImageObjectTest, PixelsWithoutBytesAreSavedWhereverTheImageIsReached) {
  CRefPtr<CImage> image(new CImage);
  image->encodeFormat = kCodecPNG;
  Pattern(image->picture, 5, 3, kPixelBGRA, 9);
  CRefPtr<CAnmImage> anm(new CAnmImage);
  ASSERT_EQ(anm->AddFrame(CAnmFrame{}, image.get()), kOk);

  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(test::SaveRootToBytes(anm.get()), context), kOk)
      << context.diagnostics.Describe();
  auto* loaded = KindOf<CAnmImage>(context.roots.at(0).get());
  ASSERT_TRUE(loaded && loaded->frames.size() == 1 && loaded->frames[0].image);
  EXPECT_EQ(Pixels(loaded->frames[0].image->picture), Pixels(image->picture));
}

TEST_F(ImageObjectTest, EmbeddedImageWithoutPictureSavesAsItLoaded) {
  // An empty blob means no picture; saving must not try to encode nothing.
  Bytes body = ImageHead(1, u"");
  body.U8(1).I32(kCodecPNG).I32(0);
  const Bytes file = test::NewHeader().A("").A("").A("_Root").Append(Record("CImage", body));
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk);
  auto* image = KindOf<CImage>(context.roots.at(0).get());
  EXPECT_FALSE(image->picture.HasPixels());
  EXPECT_EQ(test::SaveRootToBytes(image), file.data);
}

TEST_F(ImageObjectTest, OldVersionsCarryUnusedWordsBeforeThePath) {
  const std::vector<uint8_t> png = Png(3, 2, 11);
  for (const std::string version : {"1.00", "1.01"}) {
    SCOPED_TRACE(version);
    Bytes file = test::OldHeader(version).A("_CorvaThumbnail");
    file.I32(0).I32(0).I32(0).I16(0).I32(96).I32(96).I32(0).I32(1).I32(0).U8(0).I32(0);
    file.A("_CorvaRoot").A("CImage").I32(1).A("old");
    file.I32(-1);
    if (version == "1.01") file.I32(-2).I32(-3);
    // No format code before 2.00: the blob is decoded by its signature, the code stays JPEG.
    file.A("").I16(0).U8(1).I32(static_cast<int32_t>(png.size())).Raw(png.data(), png.size());
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
    auto* image = KindOf<CImage>(context.roots.at(0).get());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->name, u"old");
    EXPECT_EQ(image->picture.width, 3);
    EXPECT_EQ(image->encodeFormat, kCodecJPEG);
    std::vector<uint8_t> blob;
    ASSERT_EQ(image->GetBlob(blob), kOk);
    EXPECT_EQ(blob, png);
    test::ExpectRoundTrip(image);
  }
}

TEST_F(ImageObjectTest, HostileSizesAreRefusedBeforeAllocation) {
  auto raw = [](int32_t w, int32_t h, int32_t format) {
    Bytes body = ImageHead(1, u"");
    return body.U8(0).I32(w).I32(h).I32(format).I16(1).I32(96).I32(96).I32(1).I32(0).I32(0);
  };
  const struct {
    const char* what;
    Bytes body;
    Status status;
  } cases[] = {
      {"largest sides", raw(INT32_MAX, INT32_MAX, kPixelBGRA), kErrStream},
      {"sides whose product wraps", raw(0x10000, 0x10000, kPixelBGRA), kErrStream},
      {"stride over the int32 range", raw(INT32_MAX, 1, kPixelBGRA), kErrStream},
      {"more rows than bytes", raw(2, 1000, kPixel8), kErrStream},
      {"negative width", raw(-4, 2, kPixelBGR), kErrBadArgument},
      {"unknown format", raw(2, 2, 9), kErrBadArgument},
      {"blob past the end", ImageHead(1, u"").U8(1).I32(kCodecPNG).I32(INT32_MAX).I32(0),
       kErrStream},
      {"negative blob", ImageHead(1, u"").U8(1).I32(kCodecPNG).I32(-8).I32(0), kErrStream},
      {"frame count past the end",
       Bytes().Version(2, 0).I32(1).W(u"").Version(2, 0).W(u"").I32(INT32_MAX).I32(0), kErrStream},
  };
  for (const auto& c : cases) {
    const bool anm = std::string(c.what).starts_with("frame");
    const Bytes file = test::NewHeader().A("").A("").A("_Root").Append(
        Record(anm ? "CAnmImage" : "CImage", c.body));
    CPersistContext context;
    EXPECT_EQ(test::LoadFromBytes(file.data, context), c.status) << c.what;
  }
}

TEST_F(ImageObjectTest, BrokenEmbeddedPicturesAnswerTheDecodeStatusQuietly) {
  const std::vector<uint8_t> png = Png(16, 16, 7);
  std::vector<uint8_t> garbage(png.begin(), png.begin() + 8);  // a PNG signature, then noise
  for (int i = 0; i < 200; ++i) garbage.push_back(static_cast<uint8_t>(i * 37));
  const std::vector<uint8_t> truncated(png.begin(), png.begin() + png.size() / 2);
  const std::vector<uint8_t> unknown = {'h', 'e', 'l', 'l', 'o'};
  const struct {
    const char* what;
    std::vector<uint8_t> blob;
    int32_t format;
  } cases[] = {
      {"corrupt", garbage, kCodecPNG},
      {"truncated", truncated, kCodecPNG},
      {"no format the codec reads", unknown, 77},
  };
  for (const auto& c : cases) {
    Bytes body = ImageHead(1, u"");
    body.U8(1).I32(c.format).I32(static_cast<int32_t>(c.blob.size())).Raw(c.blob.data(), c.blob.size());
    const Bytes file = test::NewHeader().A("").A("").A("_Root").Append(Record("CImage", body));
    CPersistContext context;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const Status status = test::LoadFromBytes(file.data, context);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kErrOpen) << c.what;
    EXPECT_EQ(context.diagnostics.className, "CImage") << c.what;
    EXPECT_EQ(out + err, "") << c.what;
  }
}

// Pictures decode while the records after them are read; whatever those records hold, a picture
// that does not decode fails the load at its own record, as if nothing had been read after it.
TEST_F(ImageObjectTest, APictureThatFailsFailsTheLoadWhereItStands) {
  const std::vector<uint8_t> good = Png(16, 16, 7);
  const std::vector<uint8_t> bad(good.begin(), good.begin() + good.size() / 2);
  auto image = [](int32_t id, const std::vector<uint8_t>& blob) {
    Bytes body = ImageHead(id, u"");
    body.U8(1).I32(kCodecPNG).I32(static_cast<int32_t>(blob.size())).Raw(blob.data(), blob.size());
    return Record("CImage", body);
  };
  // A record whose size word disagrees with its bytes: a warning, not a failure.
  Bytes mismatched = image(9, good);
  mismatched.data[4 + 6] += 1;  // after the length of the class name, "CImage"
  const Bytes unknownClass = Record("CNoSuchClass", Bytes().I32(0));

  const struct {
    const char* what;
    std::vector<Bytes> before, after;
  } cases[] = {
      {"alone", {}, {}},
      {"after good pictures", {image(1, good), image(2, good)}, {}},
      {"before good pictures and roots", {image(1, good)}, {image(3, good), image(4, good)}},
      {"before a record that warns", {}, {mismatched}},
      {"before a record that fails", {image(1, good)}, {image(3, good), unknownClass}},
      {"before another broken picture", {}, {image(3, bad), image(4, good)}},
  };
  for (const auto& c : cases) {
    Bytes file = test::NewHeader().A("").A("");
    for (const Bytes& record : c.before) file.A("_Root").Append(record);
    const uint64_t recordStart = file.size() + 4 + 5 + 4 + 6;  // "_Root", then "CImage"
    file.A("_Root").Append(image(2, bad));
    const uint64_t recordEnd = file.size();
    for (const Bytes& record : c.after) file.A("_Root").Append(record);

    CPersistContext context;
    EXPECT_EQ(LoadScene(file, context), kErrOpen) << c.what;
    const CLoadDiagnostics& d = context.diagnostics;
    EXPECT_EQ(d.status, kErrOpen) << c.what;
    EXPECT_EQ(d.className, "CImage") << c.what;
    EXPECT_EQ(d.recordOffset, recordStart) << c.what;  // where its size word is
    EXPECT_EQ(d.offset, recordEnd) << c.what;
    EXPECT_EQ(d.message, "") << c.what;
    EXPECT_TRUE(d.warnings.empty()) << c.what;
    EXPECT_EQ(context.roots.size(), c.before.size()) << c.what;
  }

  // Every good picture is there once the load is over.
  Bytes file = test::NewHeader().A("").A("");
  for (int32_t id = 1; id <= 6; ++id) file.A("_Root").Append(image(id, good));
  CPersistContext context;
  ASSERT_EQ(LoadScene(file, context), kOk);
  ASSERT_EQ(context.roots.size(), 6u);
  for (const auto& root : context.roots) {
    const auto* loaded = KindOf<CImage>(root.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->picture.width, 16);
    EXPECT_TRUE(loaded->picture.HasPixels());
    std::vector<uint8_t> blob;
    ASSERT_EQ(loaded->GetBlob(blob), kOk);
    EXPECT_EQ(blob, good);
  }
}

TEST_F(ImageObjectTest, ClonesOwnTheirPixelsAndBytes) {
  CRefPtr<CImage> image(new CImage);
  image->path = u"/somewhere/wood.png";
  Pattern(image->picture, 4, 2, kPixelBGRA, 3);
  const std::vector<uint8_t> png = Png(4, 2, 3);
  ASSERT_EQ(image->KeepBlob(png), kOk);

  CRefPtr<CBase> copy;
  ASSERT_EQ(image->Clone(copy), kOk);
  auto* clone = KindOf<CImage>(copy.get());
  EXPECT_EQ(clone->path, u"");  // a copy holds its picture itself
  std::vector<uint8_t> blob;
  ASSERT_EQ(clone->GetBlob(blob), kOk);
  EXPECT_EQ(blob, png);
  const auto before = Pixels(image->picture);
  ASSERT_EQ(clone->picture.Fill(0x11223344), kOk);
  EXPECT_EQ(Pixels(image->picture), before);

  ReleasedList released;
  CRefPtr<CAnmImage> other(new CAnmImage);
  EXPECT_EQ(image->AssignTo(other.get(), released), kErrMalformed);
}

// ---------------------------------------------------------------------------------------------
// Animated images

TEST_F(ImageObjectTest, ThreeEmbeddedFramesSaveA76ByteSectionAndThreeRecords) {
  CRefPtr<CAnmImage> anm(new CAnmImage);
  for (int k = 0; k < 3; ++k) {
    CRefPtr<CImage> image(new CImage);
    image->storeEncoded = false;
    Pattern(image->picture, 2, 1, kPixelBGR, k);
    CAnmFrame values;
    values.frameValue1 = k;
    values.frameValue2 = 10 * k;
    values.offsetX = -k;
    values.offsetY = 100 + k;
    values.frameBytes[0] = static_cast<uint8_t>(k);
    values.frameBytes[2] = 1;
    values.reserved = 9;  // not kept: the fourth byte is always 0
    ASSERT_EQ(anm->AddFrame(values, image.get()), kOk);
  }
  EXPECT_EQ(anm->AddFrame(CAnmFrame{}, nullptr), kErrBadArgument);
  EXPECT_EQ(anm->GetSaveSize(), 9 + 36 + 76);

  // Ids follow the write order: the animation 1, its frames 2 to 4.
  Bytes body = Bytes().Version(2, 0).I32(1).W(u"").Version(2, 0).W(u"").I32(3);
  for (int k = 0; k < 3; ++k)
    body.I32(k).I32(10 * k).I32(-k).I32(100 + k).U8(static_cast<uint8_t>(k)).U8(0).U8(1).U8(0)
        .I32(2 + k);
  const Bytes expected = test::NewHeader().A("").A("").A("_Root").Append(Record("CAnmImage", body));
  const auto saved = test::SaveRootToBytes(anm.get());
  ASSERT_GT(saved.size(), expected.size());
  EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + expected.size()), expected.data);
  const Bytes imageName = Bytes().A("CImage");
  size_t records = 0;
  for (auto it = saved.begin();
       (it = std::search(it, saved.end(), imageName.data.begin(), imageName.data.end())) != saved.end();
       ++it)
    ++records;
  EXPECT_EQ(records, 3u);

  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(saved, context), kOk);
  auto* loaded = KindOf<CAnmImage>(context.roots.at(0).get());
  ASSERT_TRUE(loaded);
  CAnmFrame frame;
  ASSERT_EQ(loaded->GetFrame(2, frame), kOk);
  ASSERT_TRUE(frame.image);
  EXPECT_EQ(Pixels(frame.image->picture), Pixels(anm->frames[2].image->picture));
  EXPECT_EQ(loaded->GetFrame(3, frame), kErrBadArgument);
}

TEST_F(ImageObjectTest, AnimatedFileDecodesEveryFrameAndIsShared) {
  std::vector<uint8_t> pixels[3];
  CodecEncodeFrame frames[3];
  for (int k = 0; k < 3; ++k) {
    pixels[k].assign(4 * 3 * 3, 0);
    for (size_t i = 0; i < pixels[k].size(); i += 3) pixels[k][i] = static_cast<uint8_t>(80 * k);
    frames[k].pixels = pixels[k].data();
    frames[k].width = 4;
    frames[k].height = 3;
    frames[k].stride = 12;
    frames[k].frameValue2 = 5 + k;
  }
  std::vector<uint8_t> gif;
  ASSERT_EQ(CodecEncode(frames, 3, kCodecGIF, gif), kOk);
  WriteFile(dir / "flame.gif", gif);

  // Stored by an old tool under a drive that is not here: found beside the scene.
  const Bytes body = Bytes().Version(2, 0).I32(1).W(u"").Version(2, 0).W(u"D:\\fx\\flame.gif");
  const Bytes scene = test::NewHeader().A("").A("").A("_Root").Append(Record("CAnmImage", body));
  CPersistContext context;
  ASSERT_EQ(LoadScene(scene, context), kOk) << context.diagnostics.Describe();
  auto* anm = KindOf<CAnmImage>(context.roots.at(0).get());
  ASSERT_TRUE(anm);
  EXPECT_EQ(anm->path, InDir("flame.gif"));
  // Linking the record must not wipe the frames the file gave.
  ASSERT_EQ(anm->frames.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(anm->frames[k].image);
    EXPECT_EQ(anm->frames[k].frameValue2, 5 + k);
    EXPECT_EQ(anm->frames[k].image->encodeFormat, kCodecGIF);
    EXPECT_EQ(anm->frames[k].image->picture.width, 4);
  }
  EXPECT_EQ(FindCachedAnmImage(InDir("flame.gif")), anm);

  // The next record naming the file stands for the same object.
  CRefPtr<CAnmImage> second(new CAnmImage);
  CPersistContext context2;
  CFileIo file2;
  CLoadRecord record2;
  EXPECT_EQ(LoadBody(second.get(), body, context2, file2, record2), kOk);
  EXPECT_EQ(record2.object.get(), anm);
  EXPECT_TRUE(second->frames.empty());

  // Saved, it names the file only.
  EXPECT_EQ(anm->GetSaveSize(), 9 + 36 + 2 * static_cast<int64_t>(anm->path.size()));
  EXPECT_EQ(anm->LoadFromFile(u"flame.xyz"), kErrBadArgument);
  EXPECT_EQ(anm->frames.size(), 3u);
}

TEST_F(ImageObjectTest, DuplicatedAnimationKeepsSharedFramesShared) {
  CRefPtr<CAnmImage> anm(new CAnmImage);
  CRefPtr<CImage> image(new CImage);
  ASSERT_EQ(anm->AddFrame(CAnmFrame{}, image.get()), kOk);
  ASSERT_EQ(anm->AddFrame(CAnmFrame{}, image.get()), kOk);
  DuplicateMap map;
  CRefPtr<CBase> dup;
  ASSERT_EQ(anm->Duplicate(dup, map), kOk);
  auto* copy = KindOf<CAnmImage>(dup.get());
  ASSERT_TRUE(copy->frames[0].image);
  EXPECT_NE(copy->frames[0].image.get(), image.get());
  EXPECT_EQ(copy->frames[0].image.get(), copy->frames[1].image.get());

  // Assigning hands the frames the target held to the caller.
  CRefPtr<CAnmImage> target(new CAnmImage);
  CRefPtr<CImage> old(new CImage);
  ASSERT_EQ(target->AddFrame(CAnmFrame{}, old.get()), kOk);
  ReleasedList released;
  ASSERT_EQ(anm->AssignTo(target.get(), released), kOk);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), old.get());
  EXPECT_EQ(target->frames[1].image.get(), image.get());
}

}  // namespace
}  // namespace KX

namespace KX {
namespace {

// A stored path naming a folder resolves to no file at all; such an image must never be cached,
// or a later load would be handed the destroyed object.
TEST(ImageCache, APathThatResolvesToNothingIsNeverCached) {
  test::RegisterForTests();
  test::Bytes body;
  body.Version(2, 0).I32(1).W(u"").Version(2, 0).W(u"pictures\\");
  const test::Bytes file = test::NewHeader().I32(0).I32(0).A("_Root").A("CAnmImage")
                               .I32(static_cast<int32_t>(body.size())).Append(body);
  for (int round = 0; round < 2; ++round) {
    CPersistContext context;
    EXPECT_TRUE(Failed(test::LoadFromBytes(file.data, context)));
  }
  EXPECT_EQ(FindCachedAnmImage(u""), nullptr);
}

}  // namespace
}  // namespace KX
