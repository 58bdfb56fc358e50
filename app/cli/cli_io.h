#pragma once
// What every command of the tool does with its files: reading the input (a path, or `-` for
// standard input), the rules for outputs (never over a folder, link, device or FIFO, never over a
// file without --force, `-` for standard output), checked writes, and text made safe to print.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "object/container.h"

namespace KX::cli {

// `bytes` for a terminal: UTF-8 text as it is; bytes that are not UTF-8 and control characters
// as \xNN (C1 controls as \u{NN}), so that names from files cannot move the cursor or recolour it.
std::string Printable(std::string_view bytes);
// `bytes` for a JSON string: UTF-8 text as it is (the JSON writer escapes control characters),
// bytes that are not UTF-8 as the four characters \xNN.
std::string JsonSafe(std::string_view bytes);

// `text` line by line, each made Printable, joined by a newline and `indent`: a detail of several
// lines stays several lines on a terminal.
std::string PrintableLines(std::string_view text, std::string_view indent = "  ");

// Loads `path` (standard input for "-"). A path that is missing, unreadable, a folder or any
// other than a plain file is refused before reading, with the system's words in the diagnostics.
// Under --strict (SetStrict) a file that loads with warnings fails: its diagnostics name the
// first warning's record and list them all.
Status LoadInput(const std::string& path, CPersistContext& document);

// What went wrong in a failed load, in one line: the system's words for a file that could not be
// read at all, what is damaged when a picture cannot be decoded, else the status and where the
// load stopped (offset and class).
std::string DescribeFailure(const CLoadDiagnostics& diagnostics);
// The same for a terminal, followed by a line per warning.
std::string DescribeLoadFailure(const CPersistContext& document);

// The warnings of a load that succeeded, one line each as they are printed: "a CImageLayer
// record at offset 120 refers to ...".
std::vector<std::string> LoadWarnings(const CPersistContext& document);
// Prints each warning on standard error as "INPUT: warning: ...", unless --quiet.
void PrintWarnings(const std::string& input, const std::vector<std::string>& warnings);

// --strict: warnings make a file fail (see LoadInput and the conversion).
void SetStrict(bool strict);
bool Strict();

// Outcome of checking or writing an output.
struct OutputCheck {
  int exitCode = 0;     // 0 when the output may be written, else the exit code to answer
  std::string message;  // why not (path first), for standard error
};

// Checks before any work is done that `path` may be written: "-" is standard output (refused
// when it is a terminal and `binary`), an existing plain file needs `force`, anything else that
// exists is never replaced. With `makeFolders` a missing folder of `path` is made.
OutputCheck CheckOutput(const std::string& path, bool force, bool binary, bool makeFolders);

// Writes `bytes` to `path` atomically (standard output for "-") under the rules above.
OutputCheck WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool force);

// Writes a document to `path` (standard output for "-"). `failure` tells why it failed.
Status SaveOutput(CPersistContext& document, const std::string& path, bool force,
                  CSaveFailure& failure);

// -1 with --quiet (errors only), 0 by default, 1 with --verbose.
void SetVerbosity(int level);
int Verbosity();

// Flushes standard output; answers false (and says so on standard error) when what was printed
// could not all be written.
bool FinishStandardOutput();

// --json on a command that writes files from INPUT: what it says is kept as it goes, and told at
// its end as one JSON document on standard output (FinishCommandJson). Only errors are printed
// meanwhile, on standard error, as with --quiet.
void StartCommandJson(const std::string& input);
bool CommandJson();
// A line that tells of success, on standard output unless --quiet or --json; kept as the
// command's message (without the "INPUT: " it starts with).
void SayDone(const std::string& line);
// An error on standard error: its first line is kept as the command's message, the lines after
// it as the message's detail.
void SayError(const std::string& text);
// Keeps `message` and `detail` as what the command said last.
void NoteMessage(const std::string& message, const std::string& detail);
// Keeps `path` as a file the command wrote (WriteOutput and SaveOutput keep theirs).
void NoteOutput(const std::string& path);
// Keeps the warnings of the command's input (PrintWarnings keeps those it prints), a line each.
void NoteWarnings(const std::vector<std::string>& warnings);
// Prints the document: input, outputs, outcome (from `exitCode`; `done` when 0), exitCode,
// message, detail and warnings.
void FinishCommandJson(int exitCode, const char* done);

}  // namespace KX::cli
