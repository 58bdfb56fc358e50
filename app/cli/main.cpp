// recaster: converts old 3D scenes into props, checks and inspects scene files from a terminal.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/classify.h"
#include "app/class_registration.h"
#include "app/cli/batch.h"
#include "app/cli/cli_ui.h"
#include "app/cli/describe.h"
#include "app/cli/extract.h"
#include "app/command_flow.h"
#include "app/texts.h"
#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "image/thumbnail.h"

namespace KX::cli {
namespace {

int Convert(const CTextTable& texts, const std::string& input, std::string output, bool force) {
  if (output.empty()) output = DefaultOutputPath(input);
  // An old scene named like a prop would otherwise be replaced by its own conversion.
  std::error_code ec;
  if (std::filesystem::equivalent(input, output, ec)) {
    std::fprintf(stderr, "%s: the prop would replace the scene it comes from; choose another output\n",
                 input.c_str());
    return kExitUsage;
  }
  CCliUi ui(texts, input, output, force, false);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(KX_SANITIZE)
  // One scene and the process ends: the system takes the whole graph back at once. Debug and
  // sanitizer builds free it object by object, so that their leak checks still see everything.
  KeepScenesUntilExit();
#endif
  const CommandOutcome outcome = OnValidate(ui);
  if (outcome == CommandOutcome::kSaved) std::printf("%s: written %s\n", input.c_str(), output.c_str());
  return ExitCodeOf(outcome, ui.refusedOverwrite());
}

int Check(const std::vector<std::string>& files) {
  int exit = kExitSaved;
  for (const auto& file : files) {
    CPersistContext document;
    if (Failed(LoadFile(0, document, file))) {
      std::printf("%s: cannot be loaded: %s\n", file.c_str(), document.diagnostics.Describe().c_str());
      exit = kExitLoadFailed;
      continue;
    }
    std::printf("%s: stream version %d.%02d, ", file.c_str(), document.version / 100, document.version % 100);
    if (document.version >= kFirstNewLayoutVersion) {
      std::printf("already compatible, nothing to do\n");
      continue;
    }
    if (document.roots.empty() || !KindOf<CNode>(document.roots.front().get())) {
      std::printf("no scene node at the root, would be rejected\n");
      continue;
    }
    const int32_t kind = ClassifyContent(document);
    const bool convertible = kind == kKindScene || kind == kKindSingleObjectScene;
    std::printf("kind %d (%s), would be %s\n", kind, ContentKindName(kind),
                convertible ? "converted" : "rejected");
  }
  return exit;
}

int Info(const std::string& file, bool tree, bool json) {
  CPersistContext document;
  if (Failed(LoadFile(0, document, file))) {
    std::fprintf(stderr, "%s: cannot be loaded: %s\n", file.c_str(), document.diagnostics.Describe().c_str());
    return kExitLoadFailed;
  }
  if (json) {
    WriteDocumentJson(stdout, file, document);
    return kExitSaved;
  }
  PrintSummary(stdout, file, document);
  if (!document.diagnostics.warnings.empty())
    std::printf("  warnings:\n    %s\n", document.diagnostics.Describe().c_str());
  if (tree) {
    std::printf("  tree:\n");
    PrintTree(stdout, document);
  }
  return kExitSaved;
}

int Thumbnail(const std::string& file, const std::string& picture) {
  CPersistContext document;
  if (Failed(LoadFile(0, document, file))) {
    std::fprintf(stderr, "%s: cannot be loaded: %s\n", file.c_str(), document.diagnostics.Describe().c_str());
    return kExitLoadFailed;
  }
  const auto* thumbnail = KindOf<CThumbnail>(document.thumbnail.get());
  if (!thumbnail || !thumbnail->picture.HasPixels()) {
    std::fprintf(stderr, "%s: has no thumbnail picture\n", file.c_str());
    return kExitFailure;
  }
  const int32_t format = CodecFormatFromPath(picture);
  if (format == kCodecNone) {
    std::fprintf(stderr, "%s: unknown picture format (use .png, .jpg, .bmp, .tga, .gif or .tif)\n",
                 picture.c_str());
    return kExitUsage;
  }
  std::vector<uint8_t> bytes;
  if (const Status status = EncodeBlob(thumbnail->picture, format, bytes); Failed(status)) {
    std::fprintf(stderr, "%s: the thumbnail could not be encoded (%s)\n", file.c_str(), StatusText(status));
    return kExitSaveFailed;
  }
  std::ofstream out(picture, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.good()) {
    std::fprintf(stderr, "%s: cannot be written\n", picture.c_str());
    return kExitSaveFailed;
  }
  std::printf("%s: thumbnail %d x %d written to %s\n", file.c_str(), thumbnail->picture.width,
              thumbnail->picture.height, picture.c_str());
  return kExitSaved;
}

}  // namespace
}  // namespace KX::cli

int main(int argc, char** argv) {
  using namespace KX::cli;
  KX::RegisterAllClasses();
  const KX::CTextTable texts(KX::ExecutableFolder());

  CLI::App app{"recaster: upgrades old 3D Scene files (.crv) into static 3D Props (.fbprop)"};
  app.require_subcommand(1);

  std::string input, output, picture, report;
  std::vector<std::string> files, paths;
  bool force = false, tree = false, json = false;
  int jobs = 1;

  auto* convert = app.add_subcommand("convert", "Convert one scene into a prop");
  convert->add_option("INPUT", input, "Scene file (.crv)")->required();
  convert->add_option("-o,--output", output, "Prop file to write (default: INPUT with .fbprop)");
  convert->add_flag("--force", force, "Replace OUTPUT when it exists");

  auto* check = app.add_subcommand("check", "Tell whether files load and would be converted");
  check->add_option("FILE", files, "Scene files")->required();

  auto* info = app.add_subcommand("info", "Describe what a file holds");
  info->add_option("FILE", input, "Scene or prop file")->required();
  info->add_flag("--tree", tree, "Print the node hierarchy with controllers and materials");
  info->add_flag("--json", json, "Print every object as JSON");

  auto* thumbnail = app.add_subcommand("thumbnail", "Write a file's thumbnail as a picture");
  thumbnail->add_option("FILE", input, "Scene or prop file")->required();
  thumbnail->add_option("-o,--output", picture, "Picture to write; its extension names the format")
      ->required();

  auto* extract = app.add_subcommand("extract", "Write the pictures and sounds a file embeds into a folder");
  extract->add_option("FILE", input, "Scene or prop file")->required();
  extract->add_option("-o,--output-dir", output, "Folder for the files (made when missing)")->required();
  extract->add_flag("--force", force, "Replace files that exist");

  auto* batch = app.add_subcommand("batch", "Convert every .crv file given or found below folders");
  batch->add_option("PATH", paths, "Scene files and folders")->required();
  batch->add_option("-o,--output-dir", output, "Folder for the props")->required();
  batch->add_option("-j,--jobs", jobs, "Files converted at a time")->check(CLI::Range(1, 64));
  batch->add_flag("--force", force, "Replace props that exist");
  batch->add_option("--report", report, "Write a JSON report of every file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  if (*convert) return Convert(texts, input, output, force);
  if (*check) return Check(files);
  if (*info) return Info(input, tree, json);
  if (*thumbnail) return Thumbnail(input, picture);
  if (*extract) return RunExtract(input, output, force);
  if (*batch) return RunBatch(texts, paths, output, jobs, force, report);
  return kExitUsage;
}
