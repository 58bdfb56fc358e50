#include "app/cli/cli_ui.h"

#include <algorithm>
#include <cerrno>

#include "app/cli/cli_io.h"

#include <filesystem>

namespace KX::cli {

bool CCliUi::ChooseFile(FileDialog mode, std::string& path) {
  if (mode == FileDialog::kOpen) {
    path = input_;
    return true;
  }
  // The dialog would ask before overwriting; a script has to say so.
  const OutputCheck check = CheckOutput(output_, force_, true, false);
  if (check.exitCode != 0) {
    refusedOverwrite_ = true;
    if (!quiet_) SayError(check.message);
    lastMessage_ = check.message;
    return false;
  }
  path = output_;
  return true;
}

Status CCliUi::LoadDocument(CPersistContext& document, const std::string& path) {
  const Status status = LoadInput(path, document);
  if (Failed(status)) {
    // The command shows the full diagnostics; a file that could not be read at all is told
    // by the system's words alone, a picture that cannot be decoded as what is damaged.
    const auto& d = document.diagnostics;
    loadDiagnostics_ = d.Describe();
    loadProblem_ = DescribeFailure(d);
    for (const auto& line : d.WarningLines()) loadProblem_ += "\nwarning: " + line;
  } else {
    Tell(LoadWarnings(document));
  }
  return status;
}

void CCliUi::Tell(const std::vector<std::string>& warnings) {
  if (!quiet_) PrintWarnings(input_, warnings);
  warnings_.insert(warnings_.end(), warnings.begin(), warnings.end());
}

bool CCliUi::AcceptWarnings(const std::vector<std::string>& warnings) {
  Tell(warnings);
  return !Strict();
}

Status CCliUi::SaveDocument(CPersistContext& document, const std::string& path) {
  saveFailure_ = {};
  const Status status = SaveOutput(document, path, force_, saveFailure_);
  // Another writer may have made the file meanwhile: that is a refusal, not a failed write.
  if (Failed(status) && saveFailure_.error == EEXIST) refusedOverwrite_ = true;
  return status;
}

bool CCliUi::SaveFailed(const std::string& text, const std::string& detail) {
  // The system's words say more than the status code.
  ShowMessage(
      text, kMessageError,
      saveFailure_.reason.empty() ? detail : "writing " + output_ + ": " + saveFailure_.reason);
  return false;
}

void CCliUi::ShowMessage(const std::string& text, MessageType type, const std::string& detail) {
  const std::string& shown =
      !loadProblem_.empty() && detail == loadDiagnostics_ ? loadProblem_ : detail;
  lastMessage_ = text;
  lastDetail_ = shown;
  if (quiet_) return;
  NoteMessage(text, shown);
  // With the prop on standard output, every message goes to standard error.
  std::FILE* stream = type == kMessageError || output_ == "-" ? stderr : stdout;
  if (type != kMessageError && Verbosity() < 0) return;
  std::fprintf(stream, "%s: %s\n", Printable(input_).c_str(), text.c_str());
  for (size_t start = 0; start < shown.size();) {
    const size_t end = std::min(shown.find('\n', start), shown.size());
    std::fprintf(stream, "  %s\n",
                 Printable(std::string_view(shown).substr(start, end - start)).c_str());
    start = end + 1;
  }
}

int ExitCodeOf(CommandOutcome outcome, bool refusedOverwrite) {
  switch (outcome) {
    case CommandOutcome::kSaved:
      return kExitSaved;
    case CommandOutcome::kAlreadyCompatible:
      return kExitAlreadyCompatible;
    case CommandOutcome::kNotAScene:
      return kExitNotAScene;
    case CommandOutcome::kLoadFailed:
      return kExitLoadFailed;
    case CommandOutcome::kSaveFailed:
      return refusedOverwrite ? kExitUsage : kExitSaveFailed;
    case CommandOutcome::kSaveCancelled:
      return refusedOverwrite ? kExitUsage : kExitFailure;
    case CommandOutcome::kCancelled:
      return kExitUsage;
  }
  return kExitFailure;
}

bool OutputReplacesInput(const std::string& input, const std::string& output) {
  std::error_code ec;
  if (input == "-" || output == "-" || !std::filesystem::equivalent(input, output, ec))
    return false;
  SayError(Printable(input) +
           ": the output would replace the file it comes from; choose another output");
  return true;
}

std::string DefaultOutputPath(const std::string& input) {
  const size_t slash = input.find_last_of('/');
  const size_t dot = input.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? input.substr(0, dot) : input) + ".fbprop";
}

}  // namespace KX::cli
