// The recaster tool as its users run it: a separate process, its output and its exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "object/container.h"
#include "object/custom_data.h"
#include "image/pixel_buffer.h"
#include "image/thumbnail.h"
#include "scene/node.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"
#include "support/tool_run.h"
#include "cli/recorded_tool.h"

namespace KX {
namespace {

using test::ToolRun;

ToolRun Recaster(const std::string& arguments) {
  return test::RunCommand(test::RecordedRecaster() + " " + arguments);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // A file in the current layout: a node tree with a thumbnail.
  std::string CurrentFile(const std::string& name, bool withThumbnail = true) {
    CPersistContext context;
    CRefPtr<CNode> root(new CNode);
    root->name = u"Scene Root";
    CRefPtr<CNode> child(new CNode);
    child->name = u"Box";
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(child.get())));
    EXPECT_TRUE(::KX::Succeeded(AddRoot(context, root.get())));
    if (withThumbnail) {
      CRefPtr<CThumbnail> thumbnail(new CThumbnail);
      EXPECT_TRUE(::KX::Succeeded(thumbnail->picture.Create(4, 3, kPixelBGR, 0x00336699)));
      context.thumbnail = thumbnail;
    }
    const std::string path = dir.Path(name);
    EXPECT_EQ(SaveFile(0, context, path), kOk);
    return path;
  }

  test::TempDir dir{"kx_cli"};
};

TEST_F(CliTest, HelpAndUsageErrors) {
  EXPECT_EQ(Recaster("--help").exitCode, 0);
  EXPECT_EQ(Recaster("").exitCode, 2);
  EXPECT_EQ(Recaster("frobnicate").exitCode, 2);
  EXPECT_EQ(Recaster("convert").exitCode, 2);
  const ToolRun help = Recaster("batch --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--jobs"), std::string::npos);
}

TEST_F(CliTest, ConvertReportsEveryOutcomeWithTheProgramsTexts) {
  const ToolRun compatible = Recaster("convert " + CurrentFile("new.crv"));
  EXPECT_EQ(compatible.exitCode, 3);
  EXPECT_NE(compatible.out.find("This file is already compatible with Fabler3. There is no need to process it."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("new.fbprop")));

  const ToolRun garbage = Recaster("convert " + dir.File("garbage.crv", "not a scene at all"));
  EXPECT_EQ(garbage.exitCode, 5);
  EXPECT_NE(garbage.out.find("Error when loading file."), std::string::npos);
  EXPECT_NE(garbage.out.find("offset"), std::string::npos) << garbage.out;

  EXPECT_EQ(Recaster("convert " + dir.Path("missing.crv")).exitCode, 5);
}

TEST_F(CliTest, CheckTellsWhatEachFileIs) {
  const ToolRun run = Recaster("check " + CurrentFile("a.crv") + " " + dir.File("b.crv", "junk"));
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_NE(run.out.find("a.crv: stream version 2.01, already compatible"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("b.crv: cannot be loaded"), std::string::npos) << run.out;
  EXPECT_EQ(Recaster("check " + CurrentFile("c.crv")).exitCode, 0);
}

TEST_F(CliTest, InfoSummaryTreeAndJson) {
  const std::string file = CurrentFile("scene.crv");
  const ToolRun summary = Recaster("info " + file);
  EXPECT_EQ(summary.exitCode, 0);
  EXPECT_NE(summary.out.find("_KXBrix, stream version 2.01"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("thumbnail: 4 x 3 pixels"), std::string::npos);
  EXPECT_NE(summary.out.find("CNode \"Scene Root\""), std::string::npos);

  const ToolRun tree = Recaster("info --tree " + file);
  EXPECT_NE(tree.out.find("CNode \"Scene Root\"\n  CNode \"Box\""), std::string::npos) << tree.out;

  const ToolRun json = Recaster("info --json " + file);
  ASSERT_EQ(json.exitCode, 0);
  const auto parsed = nlohmann::json::parse(json.out);
  EXPECT_EQ(parsed["streamVersion"], 201);
  ASSERT_EQ(parsed["roots"].size(), 1u);
  const int rootId = parsed["roots"][0];
  bool foundRoot = false;
  for (const auto& object : parsed["objects"])
    if (object["id"] == rootId) {
      foundRoot = true;
      EXPECT_EQ(object["class"], "CNode");
      EXPECT_EQ(object["name"], "Scene Root");
      EXPECT_EQ(object["owns"].size(), 1u);  // the child
    }
  EXPECT_TRUE(foundRoot);
  EXPECT_EQ(Recaster("info " + dir.Path("missing.crv")).exitCode, 5);
}

// The fields of --json come from what each class saves, under the library's field names, with
// references as listing ids, floats as their shortest decimal and opaque bytes in base64.
TEST_F(CliTest, InfoJsonListsEveryPersistedField) {
  CPersistContext context;
  CRefPtr<CNode> root(new CNode);
  root->name = u"Szene \u00e4";
  root->position = {0.1f, -2.5f, 1e-3f};
  CRefPtr<CNode> child(new CNode);
  child->name = u"Box";
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(child.get())));
  CRefPtr<CRawData> payload(new CRawData);
  payload->key = u"blob";
  const uint8_t bytes[] = {'a', 'b', 'c', 'd'};
  ASSERT_EQ(payload->SetPayload(bytes), kOk);
  ASSERT_EQ(child->AttachCustomData(payload.get()), kOk);
  EXPECT_TRUE(::KX::Succeeded(AddRoot(context, root.get())));
  CRefPtr<CThumbnail> thumbnail(new CThumbnail);
  EXPECT_TRUE(::KX::Succeeded(thumbnail->picture.Create(2, 1, kPixelBGR, 0x00010203)));
  context.thumbnail = thumbnail;
  const std::string path = dir.Path("fields.crv");
  ASSERT_EQ(SaveFile(0, context, path), kOk);

  const ToolRun run = Recaster("info --json " + path);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  const auto parsed = nlohmann::json::parse(run.out);
  std::map<int, nlohmann::json> byId;
  for (const auto& object : parsed["objects"]) byId[object["id"].get<int>()] = object;
  ASSERT_EQ(byId.size(), 4u);  // thumbnail, two nodes, the payload

  const auto& rootJson = byId.at(parsed["roots"][0].get<int>());
  EXPECT_EQ(rootJson["fields"]["CBase"]["name"], "Szene \u00e4");
  EXPECT_EQ(rootJson["fields"]["CSpatial"]["position"], nlohmann::json::parse("[0.1, -2.5, 0.001]"));
  EXPECT_EQ(rootJson["fields"]["CSpatial"]["scale"], nlohmann::json::parse("[1, 1, 1]"));
  EXPECT_EQ(rootJson["fields"]["CNode"]["children"], rootJson["owns"]);
  EXPECT_EQ(rootJson["versions"]["CNode"], CNode::classRecord.Version());

  const auto& childJson = byId.at(rootJson["owns"][0].get<int>());
  const auto& rawJson = byId.at(childJson["fields"]["CCorva"]["customData"].get<int>());
  EXPECT_EQ(rawJson["class"], "CRawData");
  EXPECT_EQ(rawJson["fields"]["CCustomData"]["key"], "blob");
  EXPECT_EQ(rawJson["fields"]["CRawData"]["size"], 4);
  EXPECT_EQ(rawJson["fields"]["CRawData"]["data"], "YWJjZA==");

  const auto& picture = byId.at(parsed["thumbnail"].get<int>())["fields"]["CThumbnail"]["picture"];
  EXPECT_EQ(picture["width"], 2);
  EXPECT_EQ(picture["height"], 1);
  EXPECT_TRUE(picture["pixels"].is_string());
}

TEST_F(CliTest, ThumbnailIsWrittenInTheFormatOfItsExtension) {
  const std::string file = CurrentFile("thumb.crv");
  const ToolRun run = Recaster("thumbnail " + file + " -o " + dir.Path("t.png"));
  ASSERT_EQ(run.exitCode, 0) << run.out;
  CPixelBuffer picture;
  int32_t format = 0;
  ASSERT_EQ(DecodeFile(dir.Path("t.png"), picture, format), kOk);
  EXPECT_EQ(picture.width, 4);
  EXPECT_EQ(picture.height, 3);
  EXPECT_EQ(Recaster("thumbnail " + file + " -o " + dir.Path("t.xyz")).exitCode, 2);
  EXPECT_EQ(Recaster("thumbnail " + CurrentFile("none.crv", false) + " -o " + dir.Path("n.png")).exitCode, 1);
}

TEST_F(CliTest, BatchGoesOnAfterFailuresAndReports) {
  std::filesystem::create_directories(dir.Path("in/sub"));
  CurrentFile("in/current.crv");
  CurrentFile("in/sub/nested.CRV");
  dir.File("in/sub/broken.crv", "broken");
  dir.File("in/notes.txt", "not a scene");
  const ToolRun run = Recaster("batch " + dir.Path("in") + " -o " + dir.Path("out") + " -j 2 --report " +
                           dir.Path("report.json"));
  EXPECT_EQ(run.exitCode, 1) << run.out;  // one file failed to load
  EXPECT_NE(run.out.find("3 file(s)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("2 already compatible"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1 failed to load"), std::string::npos) << run.out;
  std::ifstream reportFile(dir.Path("report.json"));
  const auto report = nlohmann::json::parse(reportFile);
  ASSERT_EQ(report["files"].size(), 3u);
  EXPECT_EQ(report["summary"]["failed to load"], 1);
  for (const auto& file : report["files"])
    if (file["input"].get<std::string>().find("broken") != std::string::npos) {
      EXPECT_EQ(file["outcome"], "failed to load");
      EXPECT_EQ(file["message"], "Error when loading file.");
      EXPECT_EQ(file["output"], dir.Path("out/sub/broken.fbprop"));
    }
  EXPECT_EQ(Recaster("batch " + dir.Path("nothing-here") + " -o " + dir.Path("out")).exitCode, 2);
}

}  // namespace
}  // namespace KX
