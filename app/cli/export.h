#pragma once
// `recaster export`: writes the scene tree of a scene or prop file as glTF 2.0.
#include <string>
#include <vector>

#include "app/texts.h"

namespace KX::cli {

struct ExportOptions {
  std::string input;
  std::string output;      // ends in .glb (one file) or .gltf (with .bin and pictures beside it)
  bool converted = false;  // first convert the scene into a prop, as `convert` does
  bool force = false;
};

// Answers 0 written, 2 usage (an unknown output kind, an output in the way without --force or
// one that is never replaced, the input itself), 4 not convertible (with --converted) or no
// scene tree at all, 5 load failed, 6 a file could not be written.
int RunExport(const CTextTable& texts, const ExportOptions& options);
// The same without printing: `message` says what was written or why not (path first), and
// `warnings` what was left out, a line each.
int ExportFile(const CTextTable& texts, const ExportOptions& options, std::string& message,
               std::vector<std::string>& warnings);

// True when `path` names a form of glTF this tool writes; `binary` tells which.
bool GltfOutputKind(const std::string& path, bool& binary);

}  // namespace KX::cli
