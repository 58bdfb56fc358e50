#pragma once
// `recaster batch`: converts many files, each in a worker process of its own, so that one broken
// file can neither stop nor disturb the others; and `recaster report merge`, which joins the
// reports of batches run side by side (on one machine or many).
#include <string>
#include <vector>

#include "app/texts.h"

namespace KX::cli {

struct BatchOptions {
  std::vector<std::string> paths;
  std::string filesFrom;  // more paths, one a line; "-" for standard input
  std::string outputDir;
  int jobs = 1;
  bool force = false;
  std::string reportPath;
  std::string shard;         // "K/N": only the files of share K (0 to N-1)
  std::string exportFormat;  // "glb" or "gltf": export each file as glTF instead of converting it
  bool converted = false;    // with exportFormat: export what convert would make of each file
  bool nulSeparated = false;  // the paths of filesFrom end with a NUL byte each, not a newline
  // "auto": the line fitted to the terminal on one, else a line per finished file; "always": the
  // fitted line wherever standard error goes; "never": none; "json": a JSON line per file.
  std::string progress = "auto";
  bool dryRun = false;  // print the plan (inputs, props, collisions, shares); write nothing
};

// Answers 0 when no file failed to load or save, 1 otherwise (2 for usage errors). A dry run
// answers as the batch would for what it can tell without converting: 1 for paths that are
// missing or no scene files, collisions and props that would not be replaced. Stopped by
// SIGINT, SIGTERM or SIGHUP, it stops its workers, prints and writes what was done and ends by
// the same signal.
int RunBatch(const CTextTable& texts, const BatchOptions& options);

// Which share of `shards` a file whose prop is `relativeOutput` (below the output folder) belongs
// to: the same on every machine, whatever order the files were listed in.
unsigned ShardOf(const std::string& relativeOutput, unsigned shards);

// Joins batch reports into one written to `output` ("-" for standard output). Answers 0, 5 when
// a report cannot be read, 6 when the result cannot be written, 2 when it exists without `force`.
int MergeReports(const std::vector<std::string>& reports, const std::string& output, bool force);

}  // namespace KX::cli
