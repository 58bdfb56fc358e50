#include "app/cli/resave.h"

#include <cstdio>

#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "core/alloc.h"

namespace KX::cli {

Status PrepareResaveDocument(const CPersistContext& source, CPersistContext& target) {
  for (const auto& root : source.roots) KX_RETURN_IF_FAILED(AddRoot(target, root.get()));
  target.thumbnail = source.thumbnail;
  return TryAssign(target.extInfo, source.extInfo);
}

int RunResave(const CTextTable& texts, const std::string& input, const std::string& output,
              bool force) {
  if (OutputReplacesInput(input, output)) return kExitUsage;
  // The output is answered as convert's save dialog is, before anything is read: an output in
  // the way is refused without --force.
  CCliUi ui(texts, input, output, force, false);
  std::string path;
  if (!ui.ChooseFile(FileDialog::kSave, path)) return kExitUsage;

  CPersistContext source;
  if (Failed(ui.LoadDocument(source, input))) {
    std::fprintf(stderr, "%s: cannot be loaded: %s\n", Printable(input).c_str(),
                 DescribeLoadFailure(source).c_str());
    return kExitLoadFailed;
  }
  CPersistContext target;
  Status status = PrepareResaveDocument(source, target);
  if (Succeeded(status)) status = ui.SaveDocument(target, path);
  if (Failed(status)) {
    // Another writer that made the file meanwhile is a refusal, as for convert.
    if (ui.refusedOverwrite()) {
      std::fprintf(stderr, "%s: exists already; use --force to replace it\n",
                   Printable(path).c_str());
      return kExitUsage;
    }
    const std::string& reason = ui.saveFailure().reason;
    std::fprintf(stderr, "%s: cannot be written: %s\n", Printable(path).c_str(),
                 reason.empty() ? StatusText(status) : reason.c_str());
    return kExitSaveFailed;
  }
  if (path != "-" && Verbosity() >= 0)
    std::printf("%s: written %s (read as stream version %d.%02d, %zu root(s))\n",
                Printable(input).c_str(), Printable(path).c_str(), source.version / 100,
                source.version % 100, target.roots.size());
  return kExitSaved;
}

}  // namespace KX::cli
