// Every exit code a command was seen to end with, in any of the command-line tests, is one its
// help lists. The runs are noted by the script RecordedRecaster makes; the check runs once all
// tests are done.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "cli/recorded_tool.h"
#include "support/tool_run.h"

namespace KX::test {
namespace {

// The exit codes listed by the help of `command` ("" for the tool itself).
std::set<int> ListedExitCodes(const std::string& command) {
  const ToolRun help = RunCommand(std::string(KX_RECASTER_PATH) + " help " + command);
  std::set<int> codes;
  const size_t section = help.out.find("Exit codes:\n");
  if (help.exitCode != 0 || section == std::string::npos) return codes;
  std::istringstream lines(help.out.substr(section));
  static const std::regex kLine(R"(^  (\d+)  \S.*)");
  for (std::string line; std::getline(lines, line);)
    if (std::smatch m; std::regex_match(line, m, kLine)) codes.insert(std::stoi(m[1]));
  return codes;
}

class ExitCodesSeen : public ::testing::Environment {
 public:
  void TearDown() override {
    std::map<std::string, std::set<int>> seen;
    std::ifstream log(ExitLogPath());
    for (std::string line; std::getline(log, line);) {
      const size_t space = line.find(' ');
      if (space == std::string::npos) continue;
      const int code = std::stoi(line.substr(0, space));
      // A status past 128 is a signal that ended the run, not an exit code.
      if (code < 128) seen[line.substr(space + 1)].insert(code);
    }
    for (const auto& [command, codes] : seen) {
      std::set<int> listed = ListedExitCodes(command);
      // A word that names no command is answered by the tool, with its own codes.
      if (listed.empty()) listed = ListedExitCodes("");
      for (const int code : codes)
        EXPECT_TRUE(listed.count(code))
            << "recaster " << (command.empty() ? "(no command)" : command) << " ended with "
            << code << ", which its --help does not list";
    }
  }
};

[[maybe_unused]] const auto* const kCheck = ::testing::AddGlobalTestEnvironment(new ExitCodesSeen);

}  // namespace
}  // namespace KX::test
