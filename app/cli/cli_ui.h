#pragma once
// The conversion command run from a terminal: the two file dialogs are answered by the command
// line, messages go to the standard streams.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_flow.h"
#include "app/texts.h"
#include "object/container.h"

namespace KX::cli {

class CCliUi final : public IConverterUi {
 public:
  CCliUi(const CTextTable& texts, std::string input, std::string output, bool force, bool quiet)
      : texts_(texts),
        input_(std::move(input)),
        output_(std::move(output)),
        force_(force),
        quiet_(quiet) {}

  bool ChooseFile(FileDialog mode, std::string& path) override;
  void ShowMessage(const std::string& text, MessageType type, const std::string& detail) override;
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::string Text(unsigned id) override { return texts_.Text(id); }
  // The input may be standard input ("-"); outputs follow the tool's rules (see cli_io.h), and
  // a failed save names the system's reason.
  Status LoadDocument(CPersistContext& document, const std::string& path) override;
  Status SaveDocument(CPersistContext& document, const std::string& path) override;
  bool SaveFailed(const std::string& text, const std::string& detail) override;
  // Prints the conversion's warnings as the load's are printed; under --strict they end the
  // command.
  bool AcceptWarnings(const std::vector<std::string>& warnings) override;

  // True when the save was declined because the output exists and --force was not given.
  bool refusedOverwrite() const { return refusedOverwrite_; }
  const CSaveFailure& saveFailure() const { return saveFailure_; }
  // The last message and its detail, for reports.
  const std::string& lastMessage() const { return lastMessage_; }
  const std::string& lastDetail() const { return lastDetail_; }
  // Every warning of the load and the conversion, a line each, for reports.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  const CTextTable& texts_;
  std::string input_, output_;
  bool force_, quiet_;
  bool refusedOverwrite_ = false;
  CSaveFailure saveFailure_;
  std::string loadDiagnostics_, loadProblem_;
  std::string lastMessage_, lastDetail_;
  std::vector<std::string> warnings_;
  // Says each warning on standard error unless quiet, and keeps it.
  void Tell(const std::vector<std::string>& warnings);
};

// Exit codes of the tool's commands.
enum ExitCode : int {
  kExitSaved = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitAlreadyCompatible = 3,
  kExitNotAScene = 4,
  kExitLoadFailed = 5,
  kExitSaveFailed = 6,
};

int ExitCodeOf(CommandOutcome outcome, bool refusedOverwrite);

// True when OUTPUT is INPUT itself, under any name or link; says so on standard error. A command
// that writes a file made from INPUT refuses such an output before anything is read.
bool OutputReplacesInput(const std::string& input, const std::string& output);

// INPUT with its extension replaced by ".fbprop".
std::string DefaultOutputPath(const std::string& input);

}  // namespace KX::cli
