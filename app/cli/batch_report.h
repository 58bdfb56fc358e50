#pragma once
// The report of a batch as its readers find it: the outcome of each file, the summary that counts
// them, and the joining of the reports of several runs (`recaster report merge`, in batch.h).
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace KX::cli {

// Every outcome a report gives a file, in the order of the summary's keys.
inline constexpr const char* kReportOutcomes[] = {
    "already compatible", "converted",   "failed",       "failed to load",
    "failed to save",     "interrupted", "not replaced", "rejected by kind"};

// The summary of a report: every outcome with its count, 0 for those that did not occur, so that
// every report has the same keys whatever the batch met or was asked to print.
nlohmann::ordered_json ReportSummary(const std::map<std::string, int>& counts);

}  // namespace KX::cli
