// `recaster extract` as its users run it: the files it writes, the names it gives them, and what
// it refuses to do.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>

#include "app/cli/extract.h"
#include "object/container.h"
#include "image/codec.h"
#include "image/image.h"
#include "image/pixel_buffer.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/audio.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"
#include "cli/recorded_tool.h"
#include "support/test_classes.h"

namespace KX {
namespace {

namespace fs = std::filesystem;

using test::ToolRun;

// `prefix` runs in the shell before the tool (limits, traps).
ToolRun Recaster(const std::string& arguments, const std::string& prefix = "") {
  return test::RunCommand(prefix + test::RecordedRecaster() + " " + arguments);
}

std::vector<uint8_t> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A standard PCM wave file: RIFF header, 16-byte format chunk, data chunk of the samples and a
// pad byte for an odd count. Its header is what a standard reader checks.
void ExpectWave(const std::string& path, uint16_t channels, uint32_t rate, uint16_t bits,
                const std::vector<uint8_t>& samples) {
  const auto align = static_cast<uint16_t>(channels * bits / 8);
  const auto size = static_cast<uint32_t>(samples.size());
  test::Bytes expected = test::Bytes().Text("RIFF").U32(36 + size + size % 2).Text("WAVEfmt ").U32(16);
  expected.I16(1).I16(channels).U32(rate).U32(rate * align).I16(align).I16(bits).Text("data").U32(size);
  expected.Raw(samples.data(), samples.size());
  if (size % 2) expected.U8(0);
  EXPECT_EQ(Read(path), expected.data) << path;
}

CRefPtr<CAudioData> Sound(const char16_t* name, uint16_t channels, uint32_t rate, uint16_t bits,
                          std::vector<uint8_t> samples) {
  CRefPtr<CAudioData> sound(new CAudioData);
  sound->name = name;
  const auto align = static_cast<uint16_t>(channels * bits / 8);
  sound->format = {kWaveFormatPcm, channels, rate, rate * align, align, bits};
  sound->samples = std::move(samples);
  return sound;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    CPixelBuffer pixels;
    ASSERT_EQ(pixels.Create(8, 4, kPixelBGR, 0x00204080), kOk);
    ASSERT_EQ(EncodeBlob(pixels, kCodecJPEG, jpeg), kOk);
  }

  // A scene with an embedded JPEG, a raw picture (whose name tries to leave the folder), an
  // image without a picture, an 8-bit and a 16-bit sound whose names differ in case only.
  std::string Scene(size_t voiceBytes = 8) {
    CRefPtr<CImage> wood(new CImage);
    wood->name = u"wood";
    EXPECT_EQ(wood->KeepBlob(jpeg), kOk);
    EXPECT_EQ(DecodeBlob(wood->picture, kCodecJPEG, jpeg.data(), jpeg.size()), kOk);
    CRefPtr<CImage> raw(new CImage);
    raw->name = u"../../etc/passwd";
    raw->storeEncoded = false;
    EXPECT_EQ(raw->picture.Create(3, 2, kPixelBGRA, 0xFF102030u), kOk);
    CRefPtr<CImage> empty(new CImage);
    CRefPtr<CStandardMaterial> material(new CStandardMaterial);
    for (size_t k = 0; k < 3; ++k) {
      CRefPtr<CTextureMap> map(new CTextureMap);
      map->image = k == 0 ? wood.get() : k == 1 ? raw.get() : empty.get();
      material->channelTexture[k] = map;
    }
    CRefPtr<CNode> root(new CNode);
    root->name = u"Scene Root";
    CRefPtr<CTriMesh> mesh(new CTriMesh);
    mesh->material = material;
    EXPECT_EQ(root->AddChild(mesh.get()), kOk);
    for (const auto& sound : {Sound(u"bell", 1, 8000, 8, {0x80, 0xFF, 0x00}),
                              Sound(u"Bell", 2, 22050, 16, std::vector<uint8_t>(voiceBytes, 7))}) {
      CRefPtr<CAudioInstance> emitter(new CAudioInstance);
      emitter->SetAudio(sound.get());
      EXPECT_EQ(root->AddChild(emitter.get()), kOk);
    }
    CPersistContext context;
    EXPECT_EQ(AddRoot(context, root.get()), kOk);
    const std::string path = dir.Path("scene.fbprop");
    EXPECT_EQ(SaveFile(0, context, path), kOk);
    return path;
  }

  std::vector<std::string> Listing(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir{"kx_extract"};
  std::vector<uint8_t> jpeg;
};

TEST_F(ExtractTest, WritesEveryEmbeddedPictureAndSoundUnderSafeNames) {
  const std::string scene = Scene();
  const std::string out = dir.Path("out");
  const ToolRun run = Recaster("extract " + scene + " -o " + out);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("2 picture(s) and 2 sound(s) written"), std::string::npos) << run.out;
  // The image without a picture is counted, not written.
  EXPECT_NE(run.out.find("1 image(s) without a picture"), std::string::npos) << run.out;
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"Bell-2.wav", "_.._etc_passwd.png", "bell.wav", "wood.jpg"}));
  EXPECT_EQ(Listing(dir.path), (std::vector<std::string>{"out", "scene.fbprop"}));

  EXPECT_EQ(Read(out + "/wood.jpg"), jpeg);  // the stored bytes, not a new encoding
  CPixelBuffer raw;
  int32_t format = 0;
  ASSERT_EQ(DecodeFile(out + "/_.._etc_passwd.png", raw, format), kOk);
  EXPECT_EQ(format, kCodecPNG);
  EXPECT_EQ(raw.width, 3);
  EXPECT_EQ(raw.height, 2);
  ExpectWave(out + "/bell.wav", 1, 8000, 8, {0x80, 0xFF, 0x00});
  ExpectWave(out + "/Bell-2.wav", 2, 22050, 16, std::vector<uint8_t>(8, 7));
}

TEST_F(ExtractTest, ExistingFilesAreReplacedOnlyWhenAskedAndOnlyPlainFiles) {
  const std::string scene = Scene();
  const std::string out = dir.Path("out");
  ASSERT_EQ(Recaster("extract " + scene + " -o " + out).exitCode, 0);
  std::ofstream(out + "/bell.wav") << "mine";
  fs::remove(out + "/wood.jpg");

  // Without --force nothing at all is written.
  ToolRun run = Recaster("extract " + scene + " -o " + out);
  EXPECT_EQ(run.exitCode, 2) << run.out;
  EXPECT_NE(run.out.find("bell.wav: exists; pass --force to replace it"), std::string::npos) << run.out;
  EXPECT_EQ(Read(out + "/bell.wav"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
  EXPECT_FALSE(fs::exists(out + "/wood.jpg"));

  run = Recaster("extract " + scene + " -o " + out + " --force");
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(Read(out + "/bell.wav").size(), 48u);
  EXPECT_TRUE(fs::exists(out + "/wood.jpg"));

  // A folder in the way is never replaced, not even with --force.
  fs::remove(out + "/wood.jpg");
  fs::create_directory(out + "/wood.jpg");
  run = Recaster("extract " + scene + " -o " + out + " --force");
  EXPECT_EQ(run.exitCode, 2) << run.out;
  EXPECT_NE(run.out.find("no plain file"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::is_directory(out + "/wood.jpg"));
}

TEST_F(ExtractTest, FailedWritesLeaveNoFileBehind) {
  // Files may grow to one block only: the large sound cannot be written.
  const std::string scene = Scene(20000);
  const std::string out = dir.Path("small");
  const ToolRun run = Recaster("extract " + scene + " -o " + out, "trap '' XFSZ; ulimit -f 4; ");
  EXPECT_EQ(run.exitCode, 6) << run.out;
  EXPECT_NE(run.out.find("Bell-2.wav: cannot be written"), std::string::npos) << run.out;
  // The others are complete; of the failed one nothing is left, temporary files included.
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"_.._etc_passwd.png", "bell.wav", "wood.jpg"}));
}

TEST_F(ExtractTest, OutcomesOtherThanWritten) {
  EXPECT_EQ(Recaster("extract " + dir.File("junk.crv", "junk") + " -o " + dir.Path("o")).exitCode, 5);
  EXPECT_EQ(Recaster("extract " + Scene() + " -o " + dir.File("plain", "x")).exitCode, 2);

  CPersistContext context;
  CRefPtr<CNode> root(new CNode);
  ASSERT_EQ(AddRoot(context, root.get()), kOk);
  ASSERT_EQ(SaveFile(0, context, dir.Path("bare.crv")), kOk);
  const ToolRun bare = Recaster("extract " + dir.Path("bare.crv") + " -o " + dir.Path("o"));
  EXPECT_EQ(bare.exitCode, 1) << bare.out;
  EXPECT_FALSE(fs::exists(dir.Path("o")));
}

TEST(ExtractNames, NamesAreCutBetweenCharacters) {
  EXPECT_EQ(cli::SafeFileStem(u" .hidden\t. ", "x"), "hidden_");
  EXPECT_EQ(cli::SafeFileStem(u"..", "sound"), "sound");
  // 33 three-byte characters fit in 100 bytes.
  std::string euros;
  for (int i = 0; i < 33; ++i) euros += "\xe2\x82\xac";
  EXPECT_EQ(cli::SafeFileStem(std::u16string(40, u'\u20ac'), "x"), euros);
}

}  // namespace
}  // namespace KX
