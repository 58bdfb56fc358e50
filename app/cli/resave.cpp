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
    SayError(Printable(input) + ": cannot be loaded: " + DescribeLoadFailure(source));
    return kExitLoadFailed;
  }
  CPersistContext target;
  Status status = PrepareResaveDocument(source, target);
  if (Succeeded(status)) status = ui.SaveDocument(target, path);
  if (Failed(status)) {
    // Another writer that made the file meanwhile is a refusal, as for convert.
    if (ui.refusedOverwrite()) {
      SayError(Printable(path) + ": exists already; use --force to replace it");
      return kExitUsage;
    }
    const std::string& reason = ui.saveFailure().reason;
    SayError(Printable(path) + ": cannot be written: " + (reason.empty() ? StatusText(status) : reason));
    return kExitSaveFailed;
  }
  if (path != "-") {
    char read[96];
    std::snprintf(read, sizeof read, " (read as stream version %d.%02d, %zu root(s))",
                  source.version / 100, source.version % 100, target.roots.size());
    SayDone(Printable(input) + ": written " + Printable(path) + read);
  }
  return kExitSaved;
}

}  // namespace KX::cli
