#include "app/cli/cli_ui.h"

#include <sys/stat.h>

#include <filesystem>

namespace KX::cli {

bool CCliUi::ChooseFile(FileDialog mode, std::string& path) {
  if (mode == FileDialog::kOpen) {
    path = input_;
    return true;
  }
  struct stat st;
  if (!force_ && ::stat(output_.c_str(), &st) == 0) {
    // The dialog would ask before overwriting; a script has to say so.
    refusedOverwrite_ = true;
    std::fprintf(stderr, "%s: exists already; pass --force to replace it\n", output_.c_str());
    return false;
  }
  path = output_;
  return true;
}

void CCliUi::ShowMessage(const std::string& text, MessageType type, const std::string& detail) {
  lastMessage_ = text;
  lastDetail_ = detail;
  if (quiet_) return;
  std::FILE* stream = type == kMessageError ? stderr : stdout;
  std::fprintf(stream, "%s: %s\n", input_.c_str(), text.c_str());
  if (!detail.empty()) std::fprintf(stream, "  %s\n", detail.c_str());
}

int ExitCodeOf(CommandOutcome outcome, bool refusedOverwrite) {
  switch (outcome) {
    case CommandOutcome::kSaved: return kExitSaved;
    case CommandOutcome::kAlreadyCompatible: return kExitAlreadyCompatible;
    case CommandOutcome::kNotAScene: return kExitNotAScene;
    case CommandOutcome::kLoadFailed: return kExitLoadFailed;
    case CommandOutcome::kSaveFailed: return kExitSaveFailed;
    case CommandOutcome::kSaveCancelled: return refusedOverwrite ? kExitUsage : kExitFailure;
    case CommandOutcome::kCancelled: return kExitUsage;
  }
  return kExitFailure;
}

bool OutputReplacesInput(const std::string& input, const std::string& output) {
  std::error_code ec;
  if (!std::filesystem::equivalent(input, output, ec)) return false;
  std::fprintf(stderr,
               "%s: the output would replace the file it comes from; choose another output\n",
               input.c_str());
  return true;
}

std::string DefaultOutputPath(const std::string& input) {
  const size_t slash = input.find_last_of('/');
  const size_t dot = input.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? input.substr(0, dot) : input) + ".fbprop";
}

}  // namespace KX::cli
