#include "app/cli/export.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "app/command_flow.h"
#include "app/export/gltf_builder.h"
#include "app/export/gltf_writer.h"
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
  const std::string& detail() const { return detail_; }

 private:
  const CTextTable& texts_;
  std::string detail_;
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

}  // namespace

bool GltfOutputKind(const std::string& path, bool& binary) {
  const std::string extension = Lower(std::filesystem::path(path).extension().string());
  binary = extension == ".glb";
  return binary || extension == ".gltf";
}

int RunExport(const CTextTable& texts, const ExportOptions& options) {
  const std::string& input = options.input;
  const std::string& output = options.output;
  bool binary = false;
  if (output == "-" || !GltfOutputKind(output, binary)) {
    std::fprintf(stderr, "%s: name an output file ending in .glb or .gltf\n",
                 Printable(output).c_str());
    return kExitUsage;
  }
  // Every file the document will surely be made of is settled before any work is done.
  std::vector<std::string> targets{output};
  if (!binary) targets.push_back(BufferPathOf(output));
  for (const std::string& target : targets) {
    if (OutputReplacesInput(input, target)) return kExitUsage;
    if (const OutputCheck check = CheckOutput(target, options.force, true, false);
        check.exitCode != 0) {
      std::fprintf(stderr, "%s\n", check.message.c_str());
      return check.exitCode;
    }
  }

  CPersistContext document;
  if (Failed(LoadInput(input, document))) {
    std::fprintf(stderr, "%s: cannot be loaded: %s\n", Printable(input).c_str(),
                 DescribeLoadFailure(document).c_str());
    return kExitLoadFailed;
  }
  CRefPtr<CSpatial> root(document.roots.empty() ? nullptr
                                                : KindOf<CSpatial>(document.roots.front().get()));
  if (options.converted) {
    CQuietUi ui(texts);
    CRefPtr<CNode> converted;
    const Status status = CheckCompatibility(document, converted, ui);
    // A prop is what a conversion would make of it already: it goes across as it is.
    if (status != kOk && status != kNothingDone) {
      std::fprintf(stderr, "%s: not a convertible scene, nothing written: %s\n",
                   Printable(input).c_str(), Printable(ui.detail()).c_str());
      return kExitNotAScene;
    }
    if (status == kOk) root = converted.get();
  }
  if (!root) {
    std::fprintf(stderr, "%s: holds no scene tree, nothing written\n", Printable(input).c_str());
    return kExitNotAScene;
  }

  GltfScene scene;
  Status status = BuildGltfScene(*root, scene);
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
    std::fprintf(stderr, "%s: the glTF document could not be made (%s)\n", Printable(input).c_str(),
                 StatusText(status));
    return kExitSaveFailed;
  }
  if (Verbosity() >= 0)
    for (const std::string& warning : scene.warnings)
      std::fprintf(stderr, "%s: warning: %s\n", Printable(input).c_str(),
                   Printable(warning).c_str());
  // The pictures are known now; they follow the same rules as the rest.
  for (size_t i = 0; i + 1 < files.size(); ++i) {
    const std::string& target = files[i].path;
    if (std::find(targets.begin(), targets.end(), target) != targets.end()) continue;
    if (OutputReplacesInput(input, target)) return kExitUsage;
    if (const OutputCheck check = CheckOutput(target, options.force, true, false);
        check.exitCode != 0) {
      std::fprintf(stderr, "%s\n", check.message.c_str());
      return check.exitCode;
    }
  }
  size_t bytes = 0;
  for (const GltfFile& file : files) {
    if (const OutputCheck written = WriteOutput(file.path, file.bytes, options.force);
        written.exitCode != 0) {
      std::fprintf(stderr, "%s\n", written.message.c_str());
      return written.exitCode;
    }
    bytes += file.bytes.size();
  }
  if (Verbosity() >= 0) {
    const auto count = [&](const char* key) {
      return scene.json.contains(key) ? scene.json[key].size() : 0;
    };
    std::printf("%s: written %s (%zu node(s), %zu mesh(es), %zu material(s), %zu picture(s)",
                Printable(input).c_str(), Printable(output).c_str(), count("nodes"),
                count("meshes"), count("materials"), scene.pictures.size());
    if (files.size() > 1) std::printf(", %zu file(s) beside it", files.size() - 1);
    if (Verbosity() > 0) std::printf(", %zu bytes", bytes);
    std::printf(")\n");
  }
  return kExitSaved;
}

}  // namespace KX::cli
