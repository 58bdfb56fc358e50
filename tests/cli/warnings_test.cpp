// What a file loses on the way is told by every command that reads it: each warning once, on
// standard error, in JSON and in batch reports; -q hides them and --strict fails the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "support/legacy_scene.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"
#include "cli/recorded_tool.h"

namespace KX {
namespace {

using test::ToolRun;

ToolRun Recaster(const std::string& arguments) {
  return test::RunCommand(test::RecordedRecaster() + " " + arguments);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Warnings : public ::testing::Test {
 protected:
  // A plain scene one of whose nodes lists a material among its children: the load drops it
  // with a warning. `nanAt` moves its mesh to a position that is not finite.
  std::string Scene(const std::string& name, bool secondRoot = false, bool nanMesh = false) {
    test::LegacyScene scene("1.50");
    const auto root = scene.Root(u"Props");
    const float x = nanMesh ? std::numeric_limits<float>::quiet_NaN() : 0.0f;
    const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle(), test::Translation({x, 0, 0}));
    scene.SetMaterial(mesh, scene.Material({}));
    scene.AddChild(root, mesh);
    if (!nanMesh) scene.AddChild(root, scene.Material({}, u"Stray"));
    if (secondRoot) scene.MarkRoot(scene.Node(u"Other"));
    const std::string path = dir.Path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(scene.Bytes().data()),
               static_cast<std::streamsize>(scene.Bytes().size()));
    return path;
  }

  test::TempDir dir{"kx_warnings"};
  const std::string dropped = "refers to a CStandardMaterial where a CSpatial belongs; the "
                              "reference was dropped";
};

TEST_F(Warnings, EveryCommandThatLoadsTellsThem) {
  const std::string file = Scene("warned.crv");
  const std::string line = "warned.crv: warning: a CNode record at offset ";
  struct Case {
    std::string arguments;
    int exitCode;
  } cases[] = {
      {"check " + file, 0},
      {"convert " + file + " -o " + dir.Path("a.fbprop"), 0},
      {"resave " + file + " -o " + dir.Path("b.crv"), 0},
      {"export " + file + " -o " + dir.Path("c.glb"), 0},
      {"export --converted " + file + " -o " + dir.Path("d.glb"), 0},
      {"thumbnail " + file + " -o " + dir.Path("e.png"), 1},  // the scene has no thumbnail
  };
  for (const Case& c : cases) {
    const ToolRun run = Recaster(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.out;
    EXPECT_EQ(Count(run.out, line), 1u) << c.arguments << "\n" << run.out;
    EXPECT_NE(run.out.find(dropped), std::string::npos) << run.out;
    const ToolRun quiet = Recaster("-q " + c.arguments + " --force");
    EXPECT_EQ(quiet.out.find(": warning:"), std::string::npos) << c.arguments << "\n" << quiet.out;
  }

  const ToolRun info = Recaster("info " + file);
  EXPECT_NE(info.out.find("  warnings:\n    a CNode record at offset "), std::string::npos);
  for (const char* command : {"check --json ", "info --json "}) {
    const ToolRun json = Recaster(command + file);
    ASSERT_EQ(json.exitCode, 0) << json.out;
    const auto parsed = nlohmann::json::parse(json.out);
    const auto& warnings = parsed.contains("files") ? parsed["files"][0]["warnings"]
                                                    : parsed["warnings"];
    ASSERT_EQ(warnings.size(), 1u) << json.out;
    EXPECT_NE(warnings[0].get<std::string>().find(dropped), std::string::npos);
  }
}

// --strict: a load warning is a load failure (5) and a conversion warning a scene that cannot
// be converted (4); nothing is written, and the warnings are told as lines of the reason.
TEST_F(Warnings, StrictFailsTheFile) {
  const std::string file = Scene("warned.crv");
  for (const std::string command : {"check", "convert", "resave", "export"}) {
    const std::string output = dir.Path("out-" + command + (command == "export" ? ".glb" : ".x"));
    const ToolRun run =
        Recaster(command + " --strict " + file + (command == "check" ? "" : " -o " + output));
    EXPECT_EQ(run.exitCode, 5) << command << "\n" << run.out;
    EXPECT_NE(run.out.find(dropped), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\\x0A"), std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(output)) << command;
  }

  const std::string lost = Scene("lost.crv", false, true);
  const ToolRun plain = Recaster("convert " + lost + " -o " + dir.Path("lost.fbprop"));
  EXPECT_EQ(plain.exitCode, 0) << plain.out;
  EXPECT_NE(plain.out.find("lost.crv: warning: CTriMesh 'Tri': 3 of 3 positions are not finite "
                           "after the bake"),
            std::string::npos)
      << plain.out;
  const ToolRun strict =
      Recaster("convert --strict " + lost + " -o " + dir.Path("strict.fbprop"));
  EXPECT_EQ(strict.exitCode, 4) << strict.out;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("strict.fbprop")));
  const ToolRun exported =
      Recaster("export --converted --strict " + lost + " -o " + dir.Path("strict.glb"));
  EXPECT_EQ(exported.exitCode, 4) << exported.out;
}

TEST_F(Warnings, BatchReportsThemPerFile) {
  std::filesystem::create_directories(dir.Path("in"));
  Scene("in/warned.crv", true);
  Scene("in/lost.crv", false, true);
  const ToolRun run = Recaster("batch " + dir.Path("in") + " -o " + dir.Path("out") +
                               " --report " + dir.Path("report.json"));
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(Count(run.out, ": warning: "), 2u) << run.out;
  std::ifstream reportFile(dir.Path("report.json"));
  const auto report = nlohmann::json::parse(reportFile);
  ASSERT_EQ(report["files"].size(), 2u);
  for (const auto& entry : report["files"]) {
    ASSERT_EQ(entry["warnings"].size(), 1u) << entry.dump();
    const bool warned = entry["input"].get<std::string>().ends_with("warned.crv");
    EXPECT_NE(entry["warnings"][0].get<std::string>().find(warned ? dropped : "not finite"),
              std::string::npos);
  }

  const ToolRun strict = Recaster("batch --strict " + dir.Path("in") + " -o " +
                                  dir.Path("strict") + " --report " + dir.Path("strict.json"));
  EXPECT_EQ(strict.exitCode, 1) << strict.out;
  std::ifstream strictFile(dir.Path("strict.json"));
  const auto strictReport = nlohmann::json::parse(strictFile);
  EXPECT_EQ(strictReport["summary"]["failed to load"], 1);
  EXPECT_EQ(strictReport["summary"]["rejected by kind"], 1);

  // An export of what convert would make names the root the prop leaves out.
  const ToolRun exported = Recaster("batch --export glb --converted " + dir.Path("in") + " -o " +
                                    dir.Path("glb") + " --report " + dir.Path("glb.json"));
  EXPECT_NE(exported.out.find("root 2 (CNode 'Other') is not part of the prop; not exported"),
            std::string::npos)
      << exported.out;
}

}  // namespace
}  // namespace KX
