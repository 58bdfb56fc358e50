#pragma once
// The report of a batch as its readers find it: the outcome of each file, the summary that counts
// them, and the joining of the reports of several runs (`recaster report merge`, in batch.h).
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace KX::cli {

// Every outcome a report gives a file, in the order of the summary's keys.
inline constexpr const char* kReportOutcomes[] = {
    "already compatible", "converted",   "failed",       "failed to load",
    "failed to save",     "interrupted", "not replaced", "rejected by kind"};

// The summary of a report: every outcome with its count, 0 for those that did not occur, so that
// every report has the same keys whatever the batch met or was asked to print.
nlohmann::ordered_json ReportSummary(const std::map<std::string, int>& counts);

// A report given to the merge, by the path it was read from.
struct GivenReport {
  std::string path;
  nlohmann::ordered_json json;
  // The path and, for a share or a merged report, which: "r0.json (share 0/3)".
  std::string Label() const;
};

// Reads a report from its text: answers what keeps it from being a batch report ("is no batch
// report: it is not JSON: ...", "is no batch report: files[3].outcome is null, not text"), or an
// empty string when `report` holds one.
std::string ParseReport(std::string_view text, nlohmann::ordered_json& report);

// Which of the reports list the same files (the same input converted to the same output), in a
// sentence, or an empty string when none do: a file is counted once.
std::string Overlaps(const std::vector<GivenReport>& reports);

// The reports joined: their files, each path of their lists once, the shares they come from and
// the summary counted again. Only for reports that ParseReport took and Overlaps found apart.
nlohmann::ordered_json MergeGiven(const std::vector<GivenReport>& reports);

}  // namespace KX::cli
