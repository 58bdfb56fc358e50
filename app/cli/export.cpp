#include "app/cli/export.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "app/command_flow.h"
#include "app/export/gltf_builder.h"
#include "app/export/gltf_writer.h"
#include "core/text.h"
#include "scene/node.h"

namespace KX::cli {

namespace {

// The conversion of --converted, told nothing on the terminal: only a refusal is said, by the
// export itself.
class CQuietUi final : public IConverterUi {
 public:
  explicit CQuietUi(const CTextTable& texts) : texts_(texts) {}
  bool ChooseFile(FileDialog, std::string&) override { return false; }
  void ShowMessage(const std::string&, MessageType, const std::string& detail) override {
    detail_ = detail;
  }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::string Text(unsigned id) override { return texts_.Text(id); }
  // Kept for the export to tell with its own; under --strict they end the command.
  bool AcceptWarnings(const std::vector<std::string>& warnings) override {
    warnings_.insert(warnings_.end(), warnings.begin(), warnings.end());
    return !Strict();
  }
  const std::string& detail() const { return detail_; }
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  const CTextTable& texts_;
  std::string detail_;
  std::vector<std::string> warnings_;
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The files of a .gltf document other than itself, before the pictures are known.
std::string BufferPathOf(const std::string& gltfPath) {
  std::filesystem::path path(gltfPath);
  return (path.parent_path() / (path.stem().string() + ".bin")).string();
}

// An output that must not be written: the input itself, or one in the way (see CheckOutput).
int RefuseOutput(const std::string& input, const std::string& target, bool force,
                 std::string& message) {
  std::error_code ec;
  if (input != "-" && std::filesystem::equivalent(input, target, ec)) {
    message = Printable(input) +
              ": the output would replace the file it comes from; choose "
              "another output";
    return kExitUsage;
  }
  const OutputCheck check = CheckOutput(target, force, true, true);
  message = check.message;
  return check.exitCode;
}

// The trees that go across, one glTF scene each: `first` (the scene, or the prop made of it),
// then every other root that is a spatial object, unless `prop` (a prop holds one tree). What
// stays behind is told in `notCarried`.
std::vector<CSpatial*> SceneRoots(const CPersistContext& document, CSpatial& first, bool prop,
                                  std::vector<std::string>& notCarried) {
  std::vector<CSpatial*> roots{&first};
  for (size_t i = 1; i < document.roots.size(); ++i) {
    CBase& other = *document.roots[i];
    auto* spatial = KindOf<CSpatial>(&other);
    if (spatial && !prop) {
      roots.push_back(spatial);
      continue;
    }
    notCarried.push_back("root " + std::to_string(i + 1) + " (" +
                         other.GetRuntimeClass()->className +
                         (other.name.empty() ? "" : " '" + ToUtf8(other.name) + "'") + ") " +
                         (spatial ? "is not part of the prop; not exported"
                                  : "holds no scene tree; not exported"));
  }
  return roots;
}

}  // namespace

bool GltfOutputKind(const std::string& path, bool& binary) {
  const std::string extension = Lower(std::filesystem::path(path).extension().string());
  binary = extension == ".glb";
  return binary || extension == ".gltf";
}

int ExportFile(const CTextTable& texts, const ExportOptions& options, std::string& message,
               std::vector<std::string>& warnings) {
  message.clear();
  warnings.clear();
  const std::string& input = options.input;
  const std::string& output = options.output;
  bool binary = false;
  if (output == "-" || !GltfOutputKind(output, binary)) {
    message = Printable(output) + ": name an output file ending in .glb or .gltf";
    return kExitUsage;
  }
  // Every file the document will surely be made of is settled before any work is done.
  std::vector<std::string> targets{output};
  if (!binary) targets.push_back(BufferPathOf(output));
  for (const std::string& target : targets) {
    if (const int refused = RefuseOutput(input, target, options.force, message)) return refused;
  }

  CPersistContext document;
  if (Failed(LoadInput(input, document))) {
    message = Printable(input) + ": cannot be loaded: " + DescribeLoadFailure(document);
    return kExitLoadFailed;
  }
  const auto tell = [&](const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
      warnings.push_back(Printable(input) + ": warning: " + PrintableLines(line));
  };
  tell(LoadWarnings(document));
  CRefPtr<CSpatial> root(document.roots.empty() ? nullptr
                                                : KindOf<CSpatial>(document.roots.front().get()));
  bool prop = false;  // the tree is the prop a conversion made
  if (options.converted) {
    CQuietUi ui(texts);
    CRefPtr<CNode> converted;
    const Status status = CheckCompatibility(document, converted, ui);
    tell(ui.warnings());
    // A prop is what a conversion would make of it already: it goes across as it is.
    if (status != kOk && status != kNothingDone) {
      message = Printable(input) +
                ": not a convertible scene, nothing written: " + Printable(ui.detail());
      return kExitNotAScene;
    }
    if (status == kOk) {
      root = converted.get();
      prop = true;
    }
  }
  if (!root) {
    message = Printable(input) + ": holds no scene tree, nothing written";
    return kExitNotAScene;
  }
  std::vector<std::string> notCarried;
  const std::vector<CSpatial*> roots =
      SceneRoots(document, *root, prop, notCarried);
  tell(notCarried);

  GltfScene scene;
  Status status = BuildGltfScene(roots, scene);
  std::vector<GltfFile> files;
  if (Succeeded(status)) {
    if (binary) {
      files.push_back({output, {}});
      status = EncodeGlb(scene, files.back().bytes);
    } else {
      status = LayOutGltf(scene, output, files);
    }
  }
  if (Failed(status)) {
    message =
        Printable(input) + ": the glTF document could not be made (" + StatusText(status) + ")";
    return kExitSaveFailed;
  }
  tell(scene.warnings);
  // The pictures are known now; they follow the same rules as the rest.
  for (size_t i = 0; i + 1 < files.size(); ++i) {
    const std::string& target = files[i].path;
    if (std::find(targets.begin(), targets.end(), target) != targets.end()) continue;
    if (const int refused = RefuseOutput(input, target, options.force, message)) return refused;
  }
  size_t bytes = 0;
  for (const GltfFile& file : files) {
    if (const OutputCheck written = WriteOutput(file.path, file.bytes, options.force);
        written.exitCode != 0) {
      message = written.message;
      return written.exitCode;
    }
    bytes += file.bytes.size();
  }
  const auto count = [&](const char* key) {
    return scene.json.contains(key) ? scene.json[key].size() : 0;
  };
  char summary[200];
  std::snprintf(summary, sizeof summary,
                " (%zu node(s), %zu mesh(es), %zu material(s), %zu picture(s)", count("nodes"),
                count("meshes"), count("materials"), scene.pictures.size());
  message = Printable(input) + ": written " + Printable(output) + summary;
  if (files.size() > 1) message += ", " + std::to_string(files.size() - 1) + " file(s) beside it";
  if (Verbosity() > 0) message += ", " + std::to_string(bytes) + " bytes";
  message += ")";
  return kExitSaved;
}

int RunExport(const CTextTable& texts, const ExportOptions& options) {
  std::string message;
  std::vector<std::string> warnings;
  const int code = ExportFile(texts, options, message, warnings);
  if (Verbosity() >= 0)
    for (const std::string& warning : warnings) std::fprintf(stderr, "%s\n", warning.c_str());
  if (CommandJson()) {
    // Kept as the load's are, without the words that start each line.
    const std::string prefix = Printable(options.input) + ": warning: ";
    for (std::string& warning : warnings)
      if (warning.starts_with(prefix)) warning.erase(0, prefix.size());
    NoteWarnings(warnings);
  }
  if (code != kExitSaved)
    SayError(message);
  else
    SayDone(message);
  return code;
}

}  // namespace KX::cli
