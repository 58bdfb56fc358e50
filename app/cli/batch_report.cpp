#include "app/cli/batch_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/cli/batch.h"
#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"

namespace KX::cli {

nlohmann::ordered_json ReportSummary(const std::map<std::string, int>& counts) {
  nlohmann::ordered_json summary = nlohmann::ordered_json::object();
  for (const char* outcome : kReportOutcomes) {
    const auto it = counts.find(outcome);
    summary[outcome] = it == counts.end() ? 0 : it->second;
  }
  return summary;
}

namespace {

using Json = nlohmann::ordered_json;

// The lists of paths a report keeps beside its files; a merge keeps each path once.
constexpr const char* kPathLists[] = {"missing", "dangling", "skipped"};

// A value as a sentence names it: "the number 5", "null", "a list".
std::string Kind(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case Json::value_t::string: {
      std::string text = value.get<std::string>();
      if (text.size() > 40) text = text.substr(0, 40) + "...";
      return "the text \"" + Printable(text) + "\"";
    }
    case Json::value_t::array:
      return "a list";
    case Json::value_t::object:
      return "an object";
    default:
      return "the number " + value.dump();
  }
}

// Nothing a batch writes nests deeper than four levels; a document nested far deeper would only
// take the stack of every step that walks it.
constexpr int kMaxReportDepth = 64;
struct TooDeep {};

// Parses `text`; answers what went wrong ("is no batch report: it is not JSON: ..."), else an
// empty string.
std::string ParseJson(std::string_view text, Json& report) {
  try {
    report = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxReportDepth) throw TooDeep{};
      return true;
    });
  } catch (const TooDeep&) {
    return "is no batch report: it nests deeper than " + std::to_string(kMaxReportDepth) +
           " levels";
  } catch (const nlohmann::json::parse_error& e) {
    // Where the text stops being JSON, as an editor shows it.
    const size_t at = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const size_t lineStart = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
    const auto line = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    const std::string where =
        "line " + std::to_string(line + 1) + ", column " + std::to_string(at - lineStart + 1);
    if (at >= text.size()) return "is no batch report: it is not JSON: it ends early, at " + where;
    return "is no batch report: it is not JSON: " + where + " breaks its form";
  } catch (const nlohmann::json::out_of_range&) {
    // JSON takes numbers of any length; a reader cannot (1e400).
    return "is no batch report: it holds a number too large to read";
  }
  return {};
}

// Reads the text of the report at `path`; answers what went wrong ("cannot be read: ..."), else
// an empty string.
std::string ReadReportText(const std::string& path, std::string& text) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder, not a report";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device, not a report";
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string("cannot be read: ") + std::strerror(errno);
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return std::string("cannot be read: ") + std::strerror(errno ? errno : EIO);
  return {};
}

// What keeps the file entry `entry`, the report's files[index], from being one a batch writes.
std::string ProblemOfFile(const Json& entry, size_t index) {
  const std::string name = "files[" + std::to_string(index) + "]";
  if (!entry.is_object()) return name + " is " + Kind(entry) + ", not a file's entry";
  for (const char* key : {"input", "output", "outcome"}) {
    const auto it = entry.find(key);
    if (it == entry.end()) return name + " has no \"" + key + "\"";
    if (!it->is_string()) return name + "." + key + " is " + Kind(*it) + ", not text";
  }
  const std::string outcome = entry["outcome"].get<std::string>();
  if (std::find(std::begin(kReportOutcomes), std::end(kReportOutcomes), outcome) ==
      std::end(kReportOutcomes))
    return name + ".outcome is " + Kind(entry["outcome"]) +
           ", not one of the outcomes a batch writes";
  if (const auto it = entry.find("exitCode"); it != entry.end() && !it->is_number_integer())
    return name + ".exitCode is " + Kind(*it) + ", not a whole number";
  for (const char* key : {"message", "detail"})
    if (const auto it = entry.find(key); it != entry.end() && !it->is_string())
      return name + "." + key + " is " + Kind(*it) + ", not text";
  if (const auto it = entry.find("warnings"); it != entry.end()) {
    if (!it->is_array()) return name + ".warnings is " + Kind(*it) + ", not a list";
    for (const auto& warning : *it)
      if (!warning.is_string()) return name + ".warnings holds " + Kind(warning) + ", not text";
  }
  return {};
}

// What keeps `report` from being a batch report, or an empty string.
std::string ProblemOf(const Json& report) {
  if (!report.is_object()) return "it holds " + Kind(report) + ", not an object with \"files\"";
  const auto files = report.find("files");
  if (files == report.end()) return "it has no \"files\"";
  if (!files->is_array()) return "its \"files\" is " + Kind(*files) + ", not a list";
  for (size_t i = 0; i < files->size(); ++i)
    if (std::string problem = ProblemOfFile((*files)[i], i); !problem.empty()) return problem;
  for (const char* key : {"missing", "dangling", "skipped", "shards"}) {
    const auto it = report.find(key);
    if (it == report.end()) continue;
    if (!it->is_array()) return "its \"" + std::string(key) + "\" is " + Kind(*it) + ", not a list";
    for (const auto& entry : *it)
      if (!entry.is_string())
        return "its \"" + std::string(key) + "\" holds " + Kind(entry) + ", not text";
  }
  if (const auto it = report.find("shard"); it != report.end() && !it->is_string())
    return "its \"shard\" is " + Kind(*it) + ", not text such as \"0/4\"";
  return {};
}

}  // namespace

std::string GivenReport::Label() const {
  std::string label = Printable(path);
  if (const auto shard = json.find("shard"); shard != json.end())
    label += " (share " + Printable(shard->get<std::string>()) + ")";
  else if (json.contains("shards"))
    label += " (a merged report)";
  return label;
}

std::string ParseReport(std::string_view text, Json& report) {
  if (std::string problem = ParseJson(text, report); !problem.empty()) return problem;
  if (std::string problem = ProblemOf(report); !problem.empty())
    return "is no batch report: " + problem;
  return {};
}

std::string Overlaps(const std::vector<GivenReport>& reports) {
  std::unordered_map<std::string, size_t> listedBy;
  // For each pair of reports (a report with itself when it lists a file twice): how many files
  // both list, and the first of them.
  std::map<std::pair<size_t, size_t>, std::pair<size_t, std::string>> shared;
  for (size_t r = 0; r < reports.size(); ++r)
    for (const auto& file : reports[r].json["files"]) {
      const std::string input = file["input"].get<std::string>();
      const auto [it, first] = listedBy.emplace(input + '\0' + file["output"].get<std::string>(), r);
      if (first) continue;
      auto& [count, example] = shared[{it->second, r}];
      if (count++ == 0) example = input;
    }
  std::string text;
  for (const auto& [pair, found] : shared) {
    const auto& [count, example] = found;
    if (!text.empty()) text += "; ";
    if (pair.first == pair.second)
      text += reports[pair.first].Label() + " lists " + std::to_string(count) +
              " file(s) twice (the first: " + Printable(example) + ")";
    else
      text += reports[pair.first].Label() + " and " + reports[pair.second].Label() +
              " both list " + std::to_string(count) + " file(s) (the first: " +
              Printable(example) + ")";
  }
  return text;
}

Json MergeGiven(const std::vector<GivenReport>& reports) {
  Json merged;
  merged["files"] = Json::array();
  for (const char* list : kPathLists) merged[list] = Json::array();
  Json shards = Json::array();
  std::map<std::string, int> counts;
  // The paths each list holds already: a long list is not searched again for every path.
  std::set<std::string> kept[std::size(kPathLists)];
  for (const GivenReport& report : reports) {
    const Json& json = report.json;
    for (const auto& file : json["files"]) {
      merged["files"].push_back(file);
      ++counts[file["outcome"].get<std::string>()];
    }
    for (size_t i = 0; i < std::size(kPathLists); ++i) {
      const char* list = kPathLists[i];
      if (!json.contains(list)) continue;
      Json& into = merged[list];
      for (const auto& path : json[list])
        if (kept[i].insert(path.get<std::string>()).second) into.push_back(path);
    }
    if (json.contains("shard")) shards.push_back(json["shard"]);
    if (json.contains("shards"))
      for (const auto& shard : json["shards"]) shards.push_back(shard);
  }
  if (!shards.empty()) merged["shards"] = shards;
  merged["summary"] = ReportSummary(counts);
  return merged;
}

int MergeReports(const std::vector<std::string>& paths, const std::string& output, bool force) {
  std::vector<GivenReport> reports;
  std::set<std::pair<dev_t, ino_t>> read;
  for (const auto& path : paths) {
    GivenReport report{path, {}};
    std::string text, problem = ReadReportText(path, text);
    if (problem.empty()) problem = ParseReport(text, report.json);
    if (!problem.empty()) {
      std::fprintf(stderr, "%s: %s\n", Printable(path).c_str(), problem.c_str());
      return kExitLoadFailed;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !read.insert({st.st_dev, st.st_ino}).second) {
      std::fprintf(stderr, "report merge: %s is given twice; nothing was merged\n",
                   Printable(path).c_str());
      return kExitLoadFailed;
    }
    reports.push_back(std::move(report));
  }
  if (const std::string overlaps = Overlaps(reports); !overlaps.empty()) {
    std::fprintf(stderr, "report merge: %s; a file is counted once, so nothing was merged\n",
                 overlaps.c_str());
    return kExitLoadFailed;
  }
  const std::string text = MergeGiven(reports).dump(2) + "\n";
  if (output != "-") {
    if (const OutputCheck check = CheckOutput(output, force, false, false); check.exitCode != 0) {
      std::fprintf(stderr, "%s\n", check.message.c_str());
      return check.exitCode;
    }
  }
  const OutputCheck written =
      WriteOutput(output, std::vector<uint8_t>(text.begin(), text.end()), force);
  if (written.exitCode != 0) {
    std::fprintf(stderr, "%s\n", written.message.c_str());
    return written.exitCode;
  }
  return kExitSaved;
}

}  // namespace KX::cli
