// Every report the command-line tests made a batch or a merge write satisfies the report's
// schema in docs/, checked with Ajv once all tests are done; and the schema is no formality: it
// refuses what a batch never writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/recorded_tool.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace KX::test {
namespace {

// Runs the schema check on `files` (paths quoted for the shell) with Ajv, which
// scripts/bootstrap.sh installs into build-tools/node of the checkout.
ToolRun Validate(const std::string& files) {
  const std::filesystem::path root =
      std::filesystem::path(KX_SAMPLE_SCENE).parent_path().parent_path();
  const std::string quoted = "'" + root.string() + "/";
  return RunCommand("node " + quoted + "tests/cli/validate_json.mjs' " + quoted +
                    "build-tools/node' " + quoted + "docs/batch-report.schema.json' " + files);
}

class EveryReportKept : public ::testing::Environment {
 public:
  void TearDown() override {
    std::string files;
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KeptReportsFolder())) {
      files += " '" + entry.path().string() + "'";
      ++count;
    }
    if (count == 0) return;  // only tests that write no report ran
    const ToolRun run = Validate(files);
    EXPECT_EQ(run.exitCode, 0) << run.out;
  }
};

[[maybe_unused]] const auto* const kCheck = ::testing::AddGlobalTestEnvironment(new EveryReportKept);

TEST(ReportSchema, RefusesWhatABatchNeverWrites) {
  TempDir dir("kx_schema");
  const std::string summary =
      R"("summary": {"already compatible": 0, "converted": 1, "failed": 0, "failed to load": 0,
          "failed to save": 0, "interrupted": 0, "not replaced": 0, "rejected by kind": 0})";
  const std::string file =
      R"({"input": "a.crv", "output": "out/a.fbprop", "outcome": "converted", "exitCode": 0,
          "message": "", "detail": "", "warnings": []})";
  const std::string lists = R"("missing": [], "dangling": [], "skipped": [])";
  const struct {
    const char* what;
    std::string json;
    bool valid;
  } cases[] = {
      {"a report", "{\"files\": [" + file + "], " + lists + ", " + summary + "}", true},
      {"a share's report", "{\"files\": [], " + lists + ", \"shard\": \"1/4\", " + summary + "}",
       true},
      {"no summary", "{\"files\": [], " + lists + "}", false},
      {"a summary without an outcome",
       "{\"files\": [], " + lists + ", \"summary\": {\"converted\": 1}}", false},
      {"an outcome no batch gives",
       "{\"files\": [{\"input\": \"a\", \"output\": \"b\", \"outcome\": \"won\", \"exitCode\": 0, "
       "\"message\": \"\", \"detail\": \"\", \"warnings\": []}], " +
           lists + ", " + summary + "}",
       false},
      {"a key no batch writes", "{\"files\": [], " + lists + ", \"extra\": 1, " + summary + "}",
       false},
      {"a share that is no share",
       "{\"files\": [], " + lists + ", \"shard\": \"one\", " + summary + "}", false},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("r.json", c.json);
    const ToolRun run = Validate("'" + path + "'");
    EXPECT_EQ(run.exitCode, c.valid ? 0 : 1) << c.what << "\n" << run.out;
  }
}

}  // namespace
}  // namespace KX::test
