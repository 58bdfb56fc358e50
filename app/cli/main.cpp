// recaster: converts old 3D scenes into props, checks and inspects scene files from a terminal.
#include <sched.h>
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/class_registration.h"
#include "app/classify.h"
#include "app/cli/batch.h"
#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "app/cli/describe.h"
#include "app/cli/export.h"
#include "app/cli/extract.h"
#include "app/cli/resave.h"
#include "app/command_flow.h"
#include "app/texts.h"
#include "core/atomic_file.h"
#include "object/persist.h"
#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "image/pixel_scale.h"
#include "image/thumbnail.h"


namespace KX::cli {
namespace {

constexpr const char* kCommands[] = {"convert", "check",  "info",  "thumbnail", "extract",
                                     "resave",  "export", "batch", "report",    "help"};

const char kExitCodes[] = R"(Exit codes:
  0  done (converted, written, listed)
  1  nothing to do for a reason of the file (no thumbnail, nothing embedded) or, in batch,
     some file failed
  2  usage error, or an output that exists and needs --force, or one that is never replaced
     (a folder, link, device or FIFO)
  3  already compatible, nothing written (convert)
  4  not a convertible scene, nothing written (convert, export --converted; with --strict
     also a scene whose conversion warns)
  5  a file could not be loaded (the reason says where; with --strict also a file that
     loads with warnings)
  6  a file or standard output could not be written
)";

// The exit codes each command can end with. Every command may also end with 2 for a command
// line it cannot take and with 6 when what it prints cannot be written.
const char kConvertExits[] = R"(Exit codes:
  0  converted and saved
  2  usage error; OUTPUT exists without --force, is no plain file, or is INPUT itself
  3  already compatible, nothing written
  4  not a convertible scene (with --strict, also one whose conversion warns)
  5  the file could not be loaded (with --strict, also one that loads with warnings)
  6  the prop or standard output could not be written
)";
const char kCheckExits[] = R"(Exit codes:
  0  every file was loaded, whatever it holds
  2  usage error
  5  some file could not be loaded (with --strict, also one that loads with warnings)
  6  standard output could not be written
)";
const char kInfoExits[] = R"(Exit codes:
  0  described
  2  usage error
  5  the file could not be loaded
  6  standard output could not be written
)";
const char kThumbnailExits[] = R"(Exit codes:
  0  written
  1  the file has no thumbnail picture
  2  usage error, unknown format; PICTURE exists without --force, is no plain file, or is FILE
  5  the file could not be loaded
  6  the picture could not be scaled, encoded or written, or standard output could not be
     written
)";
const char kExtractExits[] = R"(Exit codes:
  0  every embedded picture and sound was written
  1  the file embeds no picture and no sound
  2  usage error; files in the way (nothing written), or the folder is a file
  5  the file could not be loaded
  6  some file could not be written, the folder could not be made, or standard output could
     not be written
)";
const char kResaveExits[] = R"(Exit codes:
  0  written
  2  usage error; OUTPUT exists without --force, is no plain file, or is INPUT itself
  5  the file could not be loaded (with --strict, also one that loads with warnings)
  6  OUTPUT or standard output could not be written
)";
const char kExportExits[] = R"(Exit codes:
  0  written (warnings may have been printed)
  2  usage error; an output exists without --force, is no plain file, or is INPUT itself
  4  with --converted, a file convert would refuse; or a first root that is no spatial object
  5  the file could not be loaded (with --strict, also one that loads with warnings)
  6  a file or standard output could not be written
)";
const char kBatchExits[] = R"(Exit codes:
  0  every file converted, already compatible or rejected by kind (also an empty share)
  1  some file failed or was not replaced, a path is missing, a link to nothing or no scene
     file, no .crv file was found, OUTPUT_DIR cannot be made or the report not written; with
     --dry-run, a path, collision or prop that would make the batch end with 1
  2  usage error, a list that cannot be read, a report that cannot be written where asked, or
     none of the paths exists
  6  standard output could not be written
Stopped by SIGINT, SIGTERM or SIGHUP, it ends by the same signal.
)";
const char kMergeExits[] = R"(Exit codes:
  0  merged
  2  usage error; the merged report exists without --force or is no plain file
  5  a report cannot be read, is no batch report, or lists files another report lists too
  6  the merged report or standard output could not be written
)";
const char kHelpExits[] = R"(Exit codes:
  0  printed
  2  no such command
  6  standard output could not be written
)";
const char kReportExits[] = R"(Exit codes:
  2  no command of report given
  6  standard output could not be written
)";

constexpr const char* kCommandJsonHelp =
    "Print what was done as one JSON document: input, outputs, outcome, exit code, message, "
    "warnings";

constexpr const char* kStrictHelp =
    "Count a file that loads or converts with warnings as failed (load warnings: exit 5, "
    "conversion warnings: exit 4)";

int Convert(const CTextTable& texts, const std::string& input, std::string output, bool force) {
  if (input == "-" && output.empty()) {
    SayError("convert: a scene read from standard input needs -o OUTPUT");
    return kExitUsage;
  }
  if (output.empty()) output = DefaultOutputPath(input);
  std::error_code ec;
  if (input != "-" && output != "-" && std::filesystem::equivalent(input, output, ec)) {
    // A file named like a prop: when it is one already, that is the answer; an old scene named
    // like a prop would be replaced by its own conversion.
    CPersistContext document;
    if (Succeeded(LoadInput(input, document)) && document.version >= kFirstNewLayoutVersion) {
      CCliUi ui(texts, input, output, force, false);
      ui.ShowMessage(texts.Text(kTextAlreadyCompatible), kMessageWarning, "");
      return kExitAlreadyCompatible;
    }
    SayError(Printable(input) +
             ": the prop would replace the scene it comes from; choose another output");
    return kExitUsage;
  }
  // Where the prop goes is settled before any work is done.
  if (const OutputCheck check = CheckOutput(output, force, true, false); check.exitCode != 0) {
    SayError(check.message);
    return check.exitCode;
  }
  const auto start = std::chrono::steady_clock::now();
  CCliUi ui(texts, input, output, force, false);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(KX_SANITIZE)
  // One scene and the process ends: the system takes the whole graph back at once. Debug and
  // sanitizer builds free it object by object, so that their leak checks still see everything.
  KeepScenesUntilExit();
#endif
  const CommandOutcome outcome = OnValidate(ui);
  if (outcome == CommandOutcome::kSaved && output != "-" && Verbosity() >= 0) {
    std::printf("%s: written %s", Printable(input).c_str(), Printable(output).c_str());
    std::error_code sizeError;
    if (const auto size = std::filesystem::file_size(output, sizeError);
        Verbosity() > 0 && !sizeError)
      std::printf(" (%ju bytes in %.2fs)", static_cast<uintmax_t>(size),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::printf("\n");
  }
  return ExitCodeOf(outcome, ui.refusedOverwrite());
}

struct CheckResult {
  std::string verdict;  // "would be converted", "would be rejected", "already compatible", "cannot
                        // be loaded"
  int version = 0;
  int kind = -1;
  std::string detail;
  std::vector<std::string> warnings;  // of a load that succeeded
};

CheckResult CheckOne(const std::string& file) {
  CheckResult result;
  CPersistContext document;
  if (Failed(LoadInput(file, document))) {
    result.verdict = "cannot be loaded";
    // A file that could not be read at all is told by the system's words alone.
    result.detail = DescribeFailure(document.diagnostics);
    result.warnings = LoadWarnings(document);
    return result;
  }
  result.version = document.version;
  result.warnings = LoadWarnings(document);
  if (document.version >= kFirstNewLayoutVersion) {
    result.verdict = "already compatible";
  } else if (document.roots.empty() || !KindOf<CNode>(document.roots.front().get())) {
    result.verdict = "would be rejected";
    result.detail = "no scene node at the root";
  } else {
    result.kind = ClassifyContent(document);
    const bool convertible = result.kind == kKindScene || result.kind == kKindSingleObjectScene;
    result.verdict = convertible ? "would be converted" : "would be rejected";
  }
  return result;
}

int Check(const std::vector<std::string>& files, bool json) {
  int exit = kExitSaved;
  nlohmann::ordered_json list = nlohmann::json::array();
  for (const auto& file : files) {
    const CheckResult r = CheckOne(file);
    if (r.verdict == "cannot be loaded") exit = kExitLoadFailed;
    if (json) {
      nlohmann::ordered_json entry{{"file", JsonSafe(file)}, {"outcome", r.verdict}};
      if (r.version) entry["streamVersion"] = r.version;
      if (r.kind >= 0) {
        entry["kind"] = r.kind;
        entry["kindName"] = ContentKindName(r.kind);
      }
      if (!r.detail.empty()) entry["detail"] = JsonSafe(r.detail);
      entry["warnings"] = nlohmann::json::array();
      for (const auto& warning : r.warnings) entry["warnings"].push_back(JsonSafe(warning));
      list.push_back(std::move(entry));
      continue;
    }
    const std::string name = Printable(file);
    if (r.verdict == "cannot be loaded") {
      std::printf("%s: cannot be loaded: %s\n", name.c_str(), Printable(r.detail).c_str());
      for (const auto& warning : r.warnings)
        std::printf("  warning: %s\n", PrintableLines(warning, "    ").c_str());
      continue;
    }
    PrintWarnings(file, r.warnings);
    std::printf("%s: stream version %d.%02d, ", name.c_str(), r.version / 100, r.version % 100);
    if (r.verdict == "already compatible")
      std::printf("already compatible, nothing to do\n");
    else if (r.kind < 0)
      std::printf("no scene node at the root, would be rejected\n");
    else
      std::printf("kind %d (%s), %s\n", r.kind, ContentKindName(r.kind), r.verdict.c_str());
  }
  if (json) std::printf("%s\n", nlohmann::ordered_json{{"files", list}}.dump(2).c_str());
  return exit;
}

int Info(const std::string& file, bool tree, bool json) {
  CPersistContext document;
  if (Failed(LoadInput(file, document))) {
    std::fprintf(stderr, "%s: cannot be loaded: %s\n", Printable(file).c_str(),
                 DescribeLoadFailure(document).c_str());
    return kExitLoadFailed;
  }
  if (json) {
    WriteDocumentJson(stdout, JsonSafe(file), document);
    return kExitSaved;
  }
  PrintSummary(stdout, Printable(file), document);
  if (const auto warnings = LoadWarnings(document); !warnings.empty()) {
    std::printf("  warnings:\n");
    for (const auto& warning : warnings)
      std::printf("    %s\n", PrintableLines(warning, "      ").c_str());
  }
  if (tree) {
    std::printf("  tree:\n");
    PrintTree(stdout, document);
  }
  return kExitSaved;
}

int Thumbnail(const std::string& file, const std::string& picture, std::string formatName,
              int size, bool force) {
  if (formatName.empty())
    formatName = picture == "-" ? "png" : std::filesystem::path(picture).extension().string();
  const int32_t format =
      CodecFormatFromPath("x." + (formatName.starts_with(".") ? formatName.substr(1) : formatName));
  if (format == kCodecNone) {
    SayError(Printable(picture) +
             ": unknown picture format (use .png, .jpg, .bmp, .tga, .gif or .tif)");
    return kExitUsage;
  }
  if (OutputReplacesInput(file, picture)) return kExitUsage;
  if (const OutputCheck check = CheckOutput(picture, force, true, false); check.exitCode != 0) {
    SayError(check.message);
    return check.exitCode;
  }
  CPersistContext document;
  if (Failed(LoadInput(file, document))) {
    SayError(Printable(file) + ": cannot be loaded: " + DescribeLoadFailure(document));
    return kExitLoadFailed;
  }
  PrintWarnings(file, LoadWarnings(document));
  const auto* thumbnail = KindOf<CThumbnail>(document.thumbnail.get());
  if (!thumbnail || !thumbnail->picture.HasPixels()) {
    SayError(Printable(file) + ": has no thumbnail picture");
    return kExitFailure;
  }
  // A size asked for (file managers ask for theirs) scales the picture down to fit it.
  const CPixelBuffer* shown = &thumbnail->picture;
  CPixelBuffer scaled;
  if (size > 0) {
    if (const Status status = ScaleDownToFit(thumbnail->picture, size, scaled); Failed(status)) {
      SayError(Printable(file) + ": the thumbnail could not be scaled (" + StatusText(status) +
               ")");
      return kExitSaveFailed;
    }
    shown = &scaled;
  }
  std::vector<uint8_t> bytes;
  if (const Status status = EncodeBlob(*shown, format, bytes); Failed(status)) {
    SayError(Printable(file) + ": the thumbnail could not be encoded (" + StatusText(status) + ")");
    return kExitSaveFailed;
  }
  if (const OutputCheck written = WriteOutput(picture, bytes, force); written.exitCode != 0) {
    SayError(written.message);
    return written.exitCode;
  }
  if (picture != "-")
    SayDone(Printable(file) + ": thumbnail " + std::to_string(shown->width) + " x " +
            std::to_string(shown->height) + " written to " + Printable(picture));
  return kExitSaved;
}

int CoreCount() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// The first word that is not an option names the command.
bool UnknownCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word.starts_with("-")) continue;
    for (const char* command : kCommands)
      if (word == command) return false;
    std::fprintf(stderr,
                 "recaster: unknown command '%s'; the commands are:", Printable(word).c_str());
    for (const char* command : kCommands) std::fprintf(stderr, " %s", command);
    std::fprintf(stderr, " (recaster --help tells more)\n");
    return true;
  }
  return false;
}

// `recaster help [COMMAND...]`: what `--help` prints, of the tool or of the command named
// ("report merge" names a command of a command).
int Help(const CLI::App& app, const std::vector<std::string>& words) {
  const CLI::App* command = &app;
  std::string name = app.get_name();
  for (const std::string& word : words) {
    const auto found =
        command->get_subcommands([&](const CLI::App* c) { return c->check_name(word); });
    if (found.empty()) {
      std::fprintf(stderr, "recaster: no command '%s'%s%s (recaster help lists them)\n",
                   Printable(word).c_str(), command == &app ? "" : " of ",
                   command == &app ? "" : command->get_name().c_str());
      return kExitUsage;
    }
    command = found.front();
    name += " " + command->get_name();
  }
  std::printf("%s", command->get_formatter()->make_help(command, name, CLI::AppFormatMode::Normal)
                        .c_str());
  return kExitSaved;
}

// An option given an empty value (`-o ''`) names nothing; taken as absent, it would send the
// output where the option was meant to keep it from going. Answers the option's name, or empty.
std::string EmptyValueGiven(const CLI::App& app) {
  for (const CLI::App* command : app.get_subcommands()) {
    for (const CLI::Option* option : command->get_options()) {
      if (!option->nonpositional() || option->get_type_size_max() == 0) continue;
      const auto& given = option->results();
      if (std::any_of(given.begin(), given.end(), [](const std::string& v) { return v.empty(); }))
        return option->get_name();
    }
    if (std::string inner = EmptyValueGiven(*command); !inner.empty()) return inner;
  }
  return {};
}

}  // namespace
}  // namespace KX::cli

int main(int argc, char** argv) {
  using namespace KX::cli;
  // An interrupted save leaves no partial file behind.
  KX::RemoveTemporariesOnSignals();
  if (UnknownCommand(argc, argv)) return kExitUsage;
  KX::RegisterAllClasses();
  const KX::CTextTable texts(KX::ExecutableFolder());

  CLI::App app{"recaster: upgrades old 3D Scene files (.crv) into static 3D Props (.fbprop)"};
  app.require_subcommand(1);
  app.fallthrough();  // -q and -v also after the command's name
  app.set_version_flag("--version", std::string("recaster ") + KX_RECASTER_VERSION);
  app.footer(kExitCodes);
  bool quiet = false, verbose = false;
  app.add_flag("-q,--quiet", quiet, "Print only errors");
  app.add_flag("-v,--verbose", verbose, "Print more about each file");

  std::string input, output, picture, report, filesFrom, shard, format;
  std::vector<std::string> files, paths;
  bool force = false, tree = false, json = false, strict = false;
  int jobs = CoreCount();

  auto* convert = app.add_subcommand("convert", "Convert one scene into a prop");
  convert->footer(kConvertExits);
  convert->add_option("INPUT", input, "Scene file (.crv), or - for standard input")->required();
  convert->add_option("-o,--output", output,
                      "Prop file to write (default: INPUT with .fbprop), or - for standard output");
  convert->add_flag("--force", force, "Replace OUTPUT when it exists");
  convert->add_flag("--strict", strict, kStrictHelp);
  convert->add_flag("--json", json, kCommandJsonHelp);

  auto* check = app.add_subcommand("check", "Tell whether files load and would be converted");
  check->footer(kCheckExits);
  check->add_option("FILE", files, "Scene files (- for standard input)")->required();
  check->add_flag("--json", json, "Print the answers as JSON");
  check->add_flag("--strict", strict, kStrictHelp);

  auto* info = app.add_subcommand("info", "Describe what a file holds");
  info->footer(kInfoExits);
  info->add_option("FILE", input, "Scene or prop file, or - for standard input")->required();
  auto* treeFlag =
      info->add_flag("--tree", tree, "Print the node hierarchy with controllers and materials");
  info->add_flag("--json", json, "Print every object as JSON")->excludes(treeFlag);

  auto* thumbnail = app.add_subcommand("thumbnail", "Write a file's thumbnail as a picture");
  thumbnail->footer(kThumbnailExits);
  thumbnail->add_option("FILE", input, "Scene or prop file, or - for standard input")->required();
  thumbnail
      ->add_option("-o,--output", picture,
                   "Picture to write (its extension names the format), or -")
      ->required();
  thumbnail->add_option("--format", format,
                        "Picture format when -o does not tell: png, jpg, bmp, tga, gif, tif");
  int thumbnailSize = 0;
  thumbnail
      ->add_option("--size", thumbnailSize,
                   "Scale the picture down to fit PIXELS x PIXELS, keeping its proportions")
      ->option_text("PIXELS")
      ->check(CLI::Range(1, 4096));
  thumbnail->add_flag("--force", force, "Replace PICTURE when it exists");
  thumbnail->add_flag("--json", json, kCommandJsonHelp);

  auto* extract =
      app.add_subcommand("extract", "Write the pictures and sounds a file embeds into a folder");
  extract->footer(kExtractExits);
  extract->add_option("FILE", input, "Scene or prop file, or - for standard input")->required();
  extract->add_option("-o,--output-dir", output, "Folder for the files (made when missing)")
      ->required();
  extract->add_flag("--force", force, "Replace files that exist");
  extract->add_flag("--json", json, kCommandJsonHelp);

  auto* resave =
      app.add_subcommand("resave", "Write any scene file again in the current layout, unchanged");
  resave->footer(kResaveExits);
  resave->add_option("INPUT", input, "Scene, prop or other container file")->required();
  resave->add_option("-o,--output", output, "File to write")->required();
  resave->add_flag("--force", force, "Replace OUTPUT when it exists");
  resave->add_flag("--strict", strict, kStrictHelp);
  resave->add_flag("--json", json, kCommandJsonHelp);

  bool converted = false;
  auto* exportCommand =
      app.add_subcommand("export", "Write a file's scene tree as glTF 2.0 (.glb or .gltf)");
  exportCommand->footer(kExportExits);
  exportCommand->add_option("INPUT", input, "Scene or prop file, or - for standard input")
      ->required();
  exportCommand
      ->add_option("-o,--output", output,
                   "File to write: .glb (one file) or .gltf (with .bin and pictures beside it)")
      ->required();
  exportCommand->add_flag("--converted", converted,
                          "Export the static prop that convert would make of the scene");
  exportCommand->add_flag("--force", force,
                          "Replace OUTPUT and the files beside it when they exist");
  exportCommand->add_flag("--strict", strict, kStrictHelp);
  exportCommand->add_flag("--json", json, kCommandJsonHelp);

  auto* batch = app.add_subcommand("batch", "Convert every .crv file given or found below folders");
  batch->footer(kBatchExits);
  batch->add_option("PATH", paths, "Scene files and folders");
  batch->add_option("-o,--output-dir", output, "Folder for the props")->required();
  batch->add_option("-j,--jobs", jobs, "Files converted at a time (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  batch->add_flag("--force", force, "Replace props that exist");
  batch->add_flag("--strict", strict, kStrictHelp);
  batch->add_option("--report", report, "Write a JSON report of every file");
  batch->add_option("--files-from", filesFrom,
                    "Read more paths from FILE, one a line (- for standard input)");
  batch->add_option("--shard", shard, "Convert only share K of N (K from 0 to N-1) of the files");
  bool nulSeparated = false;
  batch
      ->add_flag("-0,--null", nulSeparated,
                 "The paths of --files-from end with a NUL byte each (as find -print0 writes them)")
      ->needs("--files-from");
  std::string progress = "auto";
  batch
      ->add_option("--progress", progress,
                   "auto: a line fitted to the terminal, a line per file when standard error is "
                   "no terminal; always: the fitted line anyway; never; json: a JSON line per file")
      ->option_text("WHEN")
      ->check(CLI::IsMember({"auto", "always", "never", "json"}));
  bool dryRun = false;
  batch->add_flag("--dry-run", dryRun,
                  "Print which prop each file would become, collisions and shares; write nothing, "
                  "not even the report");
  std::string exportFormat;
  auto* exportOption = batch->add_option(
      "--export", exportFormat,
      "Export each file as glTF (glb or gltf) into OUTPUT_DIR instead of converting it");
  exportOption->check(CLI::IsMember({"glb", "gltf"}));
  batch
      ->add_flag("--converted", converted,
                 "With --export: export what convert would make of each file")
      ->needs(exportOption);

  auto* reportCommand = app.add_subcommand("report", "Work with batch reports");
  reportCommand->footer(kReportExits);
  reportCommand->require_subcommand(1);
  auto* merge =
      reportCommand->add_subcommand("merge", "Merge the reports of several batch runs into one");
  merge->footer(kMergeExits);
  merge->add_option("REPORT", files, "Reports written by batch --report")->required();
  merge->add_option("-o,--output", output, "Merged report to write (default: standard output)");
  merge->add_flag("--force", force, "Replace the merged report when it exists");

  std::vector<std::string> helpWords;
  auto* helpCommand = app.add_subcommand("help", "Print the options of the tool or of a command");
  helpCommand->footer(kHelpExits);
  helpCommand->add_option("COMMAND", helpWords, "A command, such as convert or report merge");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    if (code != 0) return kExitUsage;
    // The help and the version are what was asked for: they must have arrived.
    return FinishStandardOutput() ? 0 : kExitSaveFailed;
  }
  if (const std::string option = EmptyValueGiven(app); !option.empty()) {
    std::fprintf(stderr, "recaster: %s was given an empty name\n", option.c_str());
    return kExitUsage;
  }
  SetVerbosity(quiet ? -1 : verbose ? 1 : 0);
  SetStrict(strict);
  const bool writesFiles = *convert || *resave || *exportCommand || *extract || *thumbnail;
  if (json && writesFiles) {
    if (((*convert || *resave) && output == "-") || (*thumbnail && picture == "-")) {
      std::fprintf(stderr, "recaster: --json takes standard output; name a file with -o\n");
      return kExitUsage;
    }
    StartCommandJson(input);
  }

  int code = kExitUsage;
  if (*convert)
    code = Convert(texts, input, output, force);
  else if (*check)
    code = Check(files, json);
  else if (*info)
    code = Info(input, tree, json);
  else if (*thumbnail)
    code = Thumbnail(input, picture, format, thumbnailSize, force);
  else if (*extract)
    code = RunExtract(input, output, force);
  else if (*resave)
    code = RunResave(texts, input, output, force);
  else if (*exportCommand)
    code = RunExport(texts, {input, output, converted, force});
  else if (*batch)
    code = RunBatch(texts, {paths, filesFrom, output, jobs, force, report, shard, exportFormat,
                            converted, nulSeparated, progress, dryRun});
  else if (*merge)
    code = MergeReports(files, output.empty() ? "-" : output, force);
  else if (*helpCommand)
    code = Help(app, helpWords);
  FinishCommandJson(code, *convert ? "converted" : "written");
  // What was printed must have arrived.
  if (!FinishStandardOutput()) code = kExitSaveFailed;
  return code;
}
