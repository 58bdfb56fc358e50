// What `recaster report merge` reads: any bytes, split at NUL bytes into up to four reports. Each
// is read as the merge reads a report; when all are reports and list no file twice, they are
// merged, and the merged report must itself be one the merge takes, counting every file once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/batch_report.h"

namespace {

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "report merge: %s\n", why.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace KX::cli;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<GivenReport> reports;
  bool allReports = true;
  for (size_t start = 0; start <= bytes.size() && reports.size() < 4;) {
    const size_t end = std::min(bytes.find('\0', start), bytes.size());
    GivenReport report{"r" + std::to_string(reports.size()) + ".json", {}};
    const std::string problem = ParseReport(bytes.substr(start, end - start), report.json);
    // The problem names what is wrong; it is printed, so it must be a whole sentence.
    if (!problem.empty() && !problem.starts_with("is no batch report: ")) Fail(problem);
    allReports = allReports && problem.empty();
    if (problem.empty()) report.Label();  // names the share, which must be text
    reports.push_back(std::move(report));
    start = end + 1;
  }
  if (!allReports || !Overlaps(reports).empty()) return 0;
  size_t files = 0;
  for (const auto& report : reports) files += report.json["files"].size();
  const std::string merged = MergeGiven(reports).dump(2);
  nlohmann::ordered_json again;
  if (const std::string problem = ParseReport(merged, again); !problem.empty())
    Fail("the merged report " + problem);
  if (again["files"].size() != files) Fail("the merged report lost or added files");
  long counted = 0;
  for (const auto& [outcome, count] : again["summary"].items()) counted += count.get<long>();
  if (counted != static_cast<long>(files)) Fail("the summary does not count every file once");
  return 0;
}
