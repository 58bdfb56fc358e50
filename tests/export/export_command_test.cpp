// `recaster export` from a terminal: the output rules every command shares, and the files of
// each form.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "gltf_check.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace KX::test {
namespace {

namespace fs = std::filesystem;

ToolRun Recaster(const std::string& arguments) {
  return RunCommand(std::string(KX_RECASTER_PATH) + " " + arguments);
}

TEST(ExportCommand, WritesEitherFormAndKeepsToTheOutputRules) {
  TempDir dir("kx_export");
  const std::string scene = std::string("'") + KX_SAMPLE_SCENE + "'";
  const std::string glb = dir.Path("room.glb");

  ToolRun run = Recaster("export " + scene + " -o " + glb);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(
      run.out.find("written " + glb + " (11 node(s), 3 mesh(es), 2 material(s), 1 picture(s))"),
      std::string::npos)
      << run.out;
  const auto first = ReadFileBytes(glb);
  EXPECT_EQ(ReadGlb(first).json["nodes"].size(), 11u);

  // In the way without --force; replaced with it; the converted prop has no camera rig.
  run = Recaster("export " + scene + " -o " + glb + " --converted");
  EXPECT_EQ(run.exitCode, 2) << run.out;
  EXPECT_EQ(ReadFileBytes(glb), first);
  run = Recaster("export " + scene + " -o " + glb + " --converted --force");
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(ReadGlb(ReadFileBytes(glb)).json["nodes"].size(), 8u);

  // The text form writes its buffer and pictures beside it, under names of its own.
  const std::string gltf = dir.Path("my room.gltf");
  run = Recaster("export " + scene + " -o '" + gltf + "'");
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(fs::is_regular_file(dir.Path("my room.bin")));
  EXPECT_TRUE(fs::is_regular_file(dir.Path("my room_1.png")));
  const auto text = ReadFileBytes(gltf);
  const auto json = nlohmann::json::parse(text.begin(), text.end());
  EXPECT_EQ(json["buffers"][0]["uri"], "my%20room.bin");
  EXPECT_EQ(json["images"][0]["uri"], "my%20room_1.png");

  // A missing folder is made, as convert makes it, for the document and everything beside it.
  run = Recaster("export " + scene + " -o '" + dir.Path("new/room.gltf") + "'");
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(fs::is_regular_file(dir.Path("new/room_1.png")));

  // A picture in the way of the text form is found before anything is written.
  fs::remove(gltf);
  fs::remove(dir.Path("my room.bin"));
  run = Recaster("export " + scene + " -o '" + gltf + "'");
  EXPECT_EQ(run.exitCode, 2) << run.out;
  EXPECT_NE(run.out.find("my room_1.png: exists already"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(gltf));
  EXPECT_FALSE(fs::exists(dir.Path("my room.bin")));

  // Unknown forms, folders, the input itself and files that do not load.
  EXPECT_EQ(Recaster("export " + scene + " -o " + dir.Path("room.obj")).exitCode, 2);
  fs::create_directory(dir.Path("folder.glb"));
  EXPECT_EQ(Recaster("export " + scene + " -o " + dir.Path("folder.glb") + " --force").exitCode, 2);
  fs::copy_file(KX_SAMPLE_SCENE, dir.Path("scene.glb"));
  EXPECT_EQ(
      Recaster("export " + dir.Path("scene.glb") + " -o " + dir.Path("scene.glb") + " --force")
          .exitCode,
      2);
  const std::string garbage = dir.File("garbage.crv", "not a scene at all");
  run = Recaster("export " + garbage + " -o " + dir.Path("garbage.glb"));
  EXPECT_EQ(run.exitCode, 5) << run.out;
  EXPECT_FALSE(fs::exists(dir.Path("garbage.glb")));
}

TEST(ExportCommand, BatchExportsEveryFileItFindsAndNamesTheOnesThatFail) {
  TempDir dir("kx_export_batch");
  fs::create_directories(dir.Path("in/sub"));
  fs::copy_file(KX_SAMPLE_SCENE, dir.Path("in/room.crv"));
  fs::copy_file(KX_SAMPLE_SCENE, dir.Path("in/sub/again.crv"));
  dir.File("in/broken.crv", "not a scene");
  const ToolRun run = Recaster("batch " + dir.Path("in") + " -o " + dir.Path("out") +
                               " --export glb --converted -j 2");
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("2 exported"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(dir.Path("in/broken.crv") + ": cannot be loaded"), std::string::npos)
      << run.out;
  for (const char* name : {"out/room.glb", "out/sub/again.glb"})
    EXPECT_EQ(ReadGlb(ReadFileBytes(dir.Path(name))).json["nodes"].size(), 8u) << name;
  EXPECT_FALSE(fs::exists(dir.Path("out/broken.glb")));
  EXPECT_EQ(
      Recaster("batch " + dir.Path("in") + " -o " + dir.Path("out") + " --export obj").exitCode, 2);
}

}  // namespace
}  // namespace KX::test
