#include "app/cli/cli_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>

#include "app/cli/cli_ui.h"
#include "app/cli/json_writer.h"
#include "core/atomic_file.h"
#include "core/io_buffer.h"
#include "image/image.h"
#include "image/thumbnail.h"

namespace fs = std::filesystem;

namespace KX::cli {

namespace {

void AppendHex(std::string& text, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  text += "\\x";
  text += kHex[byte >> 4];
  text += kHex[byte & 15];
}

Status RefuseInput(CPersistContext& document, const std::string& path, const std::string& why) {
  document.diagnostics = {};
  document.diagnostics.status = kErrOpen;
  document.diagnostics.message = Printable(path) + ": " + why;
  return kErrOpen;
}

// A failed write to standard output that was told already: the end of the command does not tell
// it again (with a reason the stream no longer knows).
bool g_standardOutputFailed = false;

// What a command with --json said (see StartCommandJson).
struct CommandRecord {
  bool active = false;
  std::string input;
  std::vector<std::string> outputs;
  std::string message, detail;
  std::vector<std::string> warnings;
};
CommandRecord g_record;


bool WriteAll(std::FILE* out, const std::vector<uint8_t>& bytes, std::string& reason) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fflush(out) != 0) {
    reason = std::strerror(errno ? errno : EIO);
    if (out == stdout) g_standardOutputFailed = true;
    return false;
  }
  return true;
}

// Makes the missing folders of `path`; answers what went wrong, or an empty string.
std::string MakeFoldersOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (folder.empty() || fs::exists(folder, ec)) return {};
  fs::create_directories(folder, ec);
  if (!ec) return {};
  return Printable(folder.string()) + ": the folder cannot be made: " + ec.message();
}

// A name that ends in a slash, or in "." or "..", names a folder, whatever exists there.
bool NamesAFolder(const std::string& path) {
  if (path.empty()) return false;
  if (path.back() == '/') return true;
  const std::string last = fs::path(path).filename().string();
  return last == "." || last == "..";
}

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const auto c = static_cast<unsigned char>(bytes[0]);
    const size_t length = Utf8SequenceLength(bytes);
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
      AppendHex(text, c);
      bytes.remove_prefix(1);
      continue;
    }
    // U+0080 to U+009F are controls too (C2 80 to C2 9F).
    if (length == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto code = static_cast<unsigned char>(bytes[1]);
      text += "\\u{";
      text += kHex[code >> 4];
      text += kHex[code & 15];
      text += '}';
    } else {
      text.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  return text;
}

std::string JsonSafe(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const size_t length = Utf8SequenceLength(bytes);
    if (length == 0) {
      AppendHex(text, static_cast<unsigned char>(bytes[0]));
      bytes.remove_prefix(1);
    } else {
      text.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  return text;
}

namespace {

bool g_strict = false;

// Under --strict a load with warnings is a failed load, told as one: where the first warning's
// record starts, then every warning.
Status StrictLoad(CPersistContext& document, Status loaded) {
  CLoadDiagnostics& d = document.diagnostics;
  if (!g_strict || Failed(loaded) || (d.warnings.empty() && d.warningsNotKept == 0)) return loaded;
  d.status = kErrMalformed;
  if (!d.warnings.empty()) {
    d.className = d.warnings.front().className;
    d.offset = d.recordOffset = d.warnings.front().offset;
  }
  d.message = "the file loads with warnings, which --strict does not accept";
  return d.status;
}

// The headers a scene file starts with: the current layout's and the old one's.
constexpr std::string_view kSceneHeaders[] = {"_KXBrix", "KXCorva"};
constexpr size_t kHeaderBytes = 7;
// What standard input is copied by: a bounded piece at a time, as a file is read.
constexpr size_t kCopyBytes = size_t{1} << 20;

// Reads from `fd` until `count` bytes are in or the input ends; answers how many, or -1 (errno).
ssize_t ReadUpTo(int fd, uint8_t* into, size_t count) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, into + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool WriteFully(int fd, const uint8_t* from, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, from, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    from += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// A file without a name in the temporary folder ($TMPDIR, else /tmp), gone once closed; -1
// (errno) when none can be made.
int OpenUnnamedTemporary() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp && *tmp ? tmp : "/tmp";
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without unnamed files: a name, taken away at once.
  std::string name = folder + "/.recaster-input-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

// Copies what is left of standard input to `copy`: from a pipe straight through the system, else
// through `piece` (kCopyBytes). False (errno) when reading or writing failed.
bool CopyTheRest(int copy, uint8_t* piece) {
  for (;;) {
    const ssize_t moved = ::splice(STDIN_FILENO, nullptr, copy, nullptr, kCopyBytes, SPLICE_F_MOVE);
    if (moved > 0) continue;
    if (moved == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EINVAL) return false;
    break;  // not a pipe: read and written here
  }
  for (;;) {
    const ssize_t got = ReadUpTo(STDIN_FILENO, piece, kCopyBytes);
    if (got < 0 || !WriteFully(copy, piece, static_cast<size_t>(got))) return false;
    if (static_cast<size_t>(got) < kCopyBytes) return true;
  }
}

// Loads the plain file open as `fd` as a file named is loaded.
Status LoadOpenFile(CPersistContext& document, int fd) {
  CFileIo file;
  errno = 0;
  if (const Status opened = file.OpenRead(fd); Failed(opened))
    return RefuseInput(document, "standard input", std::strerror(errno ? errno : EIO));
  const Status status = LoadFromStream(document, file, 0);
  file.Close().Ignore();  // read-only: everything needed has been read
  document.stream = nullptr;
  return status;
}

// Standard input that is no plain file (a pipe, a device) has no length the load could check
// the counts it reads against. Its bytes are copied, a bounded piece at a time, into a file
// without a name, which is then loaded like any file. Input that does not start like a scene is
// refused from its first bytes, before anything else is read.
Status LoadStandardInput(CPersistContext& document) {
  if (::isatty(STDIN_FILENO))
    return RefuseInput(document, "-", "standard input is a terminal; pipe a file into it");
  struct stat st;
  if (::fstat(STDIN_FILENO, &st) != 0)
    return RefuseInput(document, "standard input", std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return RefuseInput(document, "standard input", "is a folder");
  if (S_ISREG(st.st_mode)) return LoadOpenFile(document, STDIN_FILENO);

  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kCopyBytes]);
  if (!piece) return RefuseInput(document, "standard input", std::strerror(ENOMEM));
  ssize_t got = ReadUpTo(STDIN_FILENO, piece.get(), kCopyBytes);
  if (got < 0) return RefuseInput(document, "standard input", std::strerror(errno));
  const std::string_view first(reinterpret_cast<const char*>(piece.get()),
                               static_cast<size_t>(got));
  const bool scene = first.size() >= kHeaderBytes &&
                     std::any_of(std::begin(kSceneHeaders), std::end(kSceneHeaders),
                                 [&](std::string_view header) { return first.starts_with(header); });
  if (!scene) {
    // Told from these bytes exactly as a file holding them would be.
    CMemoryIo stream{std::span<const uint8_t>(piece.get(), static_cast<size_t>(got))};
    const Status status = LoadFromStream(document, stream, 0);
    document.stream = nullptr;
    return status;
  }
  const int copy = OpenUnnamedTemporary();
  if (copy < 0)
    return RefuseInput(document, "standard input",
                       std::string("no temporary file to read it from: ") + std::strerror(errno));
  bool wrote = WriteFully(copy, piece.get(), static_cast<size_t>(got));
  const bool ended = static_cast<size_t>(got) < kCopyBytes;
  if (wrote && !ended) wrote = CopyTheRest(copy, piece.get());
  if (!wrote) {
    const int error = errno;
    ::close(copy);
    return RefuseInput(document, "standard input", std::strerror(error));
  }
  piece.reset();
  const Status status = LoadOpenFile(document, copy);
  ::close(copy);
  return status;
}

Status LoadInputLeniently(const std::string& path, CPersistContext& document) {
  if (path == "-") return LoadStandardInput(document);
  // Asked before reading, so that the system says what is wrong, and so that a FIFO or a device
  // is never read from.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return RefuseInput(document, path, std::strerror(errno));
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  const int error = errno;
  ::close(fd);
  if (!known) return RefuseInput(document, path, std::strerror(error));
  if (S_ISDIR(st.st_mode)) return RefuseInput(document, path, "is a folder");
  if (!S_ISREG(st.st_mode))
    return RefuseInput(document, path, "is not a plain file (a device, FIFO or socket)");
  return LoadFile(0, document, path);
}

}  // namespace

std::string PrintableLines(std::string_view text, std::string_view indent) {
  std::string lines;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (start > 0) lines.append("\n").append(indent);
    lines += Printable(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

Status LoadInput(const std::string& path, CPersistContext& document) {
  return StrictLoad(document, LoadInputLeniently(path, document));
}

namespace {

// Whether records of `className` hold a picture, whose decoding may fail the load.
bool HoldsPicture(const std::string& className) {
  CRefPtr<CBase> object;
  if (Failed(CreateObject(className, object)) || !object) return false;
  return KindOf<CImage>(object.get()) || KindOf<CAnmImage>(object.get()) ||
         KindOf<CThumbnail>(object.get());
}

}  // namespace

std::string DescribeFailure(const CLoadDiagnostics& d) {
  if (d.status == kErrOpen && d.className.empty() && d.offset == 0 && !d.message.empty())
    return d.message;
  // A picture that cannot be decoded fails with the status of a file that cannot be opened,
  // whose words would mislead: what is damaged comes first.
  if (d.status != kErrOpen || d.className.empty() || !HoldsPicture(d.className))
    return d.DescribeFailure();
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(d.status));
  std::string text = "the picture of the " + d.className + " record starting at offset " +
                     std::to_string(d.recordOffset) +
                     " is damaged or of a kind that cannot be read: it cannot be decoded "
                     "(status " + code + " at offset " + std::to_string(d.offset) + ")";
  if (!d.message.empty()) text += ": " + d.message;
  return text;
}

std::string DescribeLoadFailure(const CPersistContext& document) {
  const auto& d = document.diagnostics;
  std::string text = DescribeFailure(d);
  for (const auto& line : d.WarningLines()) text += "\nwarning: " + line;
  return PrintableLines(text);
}

std::vector<std::string> LoadWarnings(const CPersistContext& document) {
  return document.diagnostics.WarningLines();
}

void PrintWarnings(const std::string& input, const std::vector<std::string>& warnings) {
  NoteWarnings(warnings);
  if (Verbosity() < 0) return;
  for (const auto& warning : warnings)
    std::fprintf(stderr, "%s: warning: %s\n", Printable(input).c_str(),
                 PrintableLines(warning).c_str());
}

void SetStrict(bool strict) {
  g_strict = strict;
}
bool Strict() {
  return g_strict;
}

OutputCheck CheckOutput(const std::string& path, bool force, bool binary, bool makeFolders) {
  if (path == "-") {
    if (binary && ::isatty(STDOUT_FILENO))
      return {kExitUsage, "standard output is a terminal; redirect it, or name a file with -o"};
    return {};
  }
  // Refused before a folder of it is made.
  if (NamesAFolder(path))
    return {kExitUsage, Printable(path) + ": names a folder; name the file to write"};
  const TargetInfo target = InspectTarget(path);
  switch (target.kind) {
    case TargetKind::kNotReplaceable:
      return {kExitUsage, Printable(path) + ": " + target.reason + "; not replaced"};
    case TargetKind::kUnreachable:
      return {kExitSaveFailed, Printable(path) + ": " + target.reason};
    case TargetKind::kPlainFile:
      if (!force)
        return {kExitUsage, Printable(path) + ": exists already; pass --force to replace it"};
      return {};
    case TargetKind::kAbsent:
      break;
  }
  if (makeFolders)
    if (std::string failure = MakeFoldersOf(path); !failure.empty())
      return {kExitSaveFailed, std::move(failure)};
  return {};
}

OutputCheck WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool force) {
  std::string reason;
  if (path == "-") {
    if (!WriteAll(stdout, bytes, reason))
      return {kExitSaveFailed, "standard output: write failed: " + reason};
    return {};
  }
  // Its folders are made as a prop's are.
  if (std::string failure = MakeFoldersOf(path); !failure.empty())
    return {kExitSaveFailed, std::move(failure)};
  CAtomicFile file;
  Status status = file.Create(path, force);
  if (Succeeded(status)) status = file.Write(bytes.data(), bytes.size());
  if (Succeeded(status)) status = file.Commit();
  if (Succeeded(status)) {
    NoteOutput(path);
    return {};
  }
  const bool refused = file.error() == EEXIST || file.error() == EISDIR;
  return {refused ? kExitUsage : kExitSaveFailed, Printable(path) + ": " + file.reason()};
}

Status SaveOutput(CPersistContext& document, const std::string& path, bool force,
                  CSaveFailure& failure) {
  if (path != "-") {
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) {
      fs::create_directories(folder, ec);
      if (ec) {
        failure.error = ec.value();
        failure.reason =
            "the folder " + Printable(folder.string()) + " cannot be made: " + ec.message();
        return kErrOpen;
      }
    }
    const Status saved = SaveFile(0, document, path, force, &failure);
    if (Succeeded(saved)) NoteOutput(path);
    return saved;
  }
  CMemoryIo stream;
  const Status status = SaveToStream(document, stream, 0);
  document.stream = nullptr;
  if (Failed(status)) return status;
  if (!WriteAll(stdout, stream.bytes(), failure.reason)) {
    failure.error = EIO;
    failure.reason = "standard output: write failed: " + failure.reason;
    return kErrStream;
  }
  return kOk;
}

namespace {
int g_verbosity = 0;
}  // namespace

void SetVerbosity(int level) {
  g_verbosity = level;
}
int Verbosity() {
  return g_verbosity;
}

bool FinishStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  int error = errno;
  if (g_standardOutputFailed) return false;  // told where it failed
  g_standardOutputFailed = true;
  // A write that failed earlier, inside the stream, left no reason behind; a closed output
  // still tells its own.
  if (error == 0) error = ::fcntl(STDOUT_FILENO, F_GETFD) < 0 ? errno : EIO;
  std::fprintf(stderr, "standard output: write failed: %s\n", std::strerror(error));
  return false;
}

}  // namespace KX::cli

namespace KX::cli {

namespace {

// What the command's lines start with, and its message does not.
std::string WithoutInput(std::string line) {
  const std::string prefix = Printable(g_record.input) + ": ";
  if (line.starts_with(prefix)) line.erase(0, prefix.size());
  return line;
}

const char* OutcomeOf(int exitCode, const char* done) {
  switch (exitCode) {
    case kExitSaved:
      return done;
    case kExitFailure:
      return "nothing written";
    case kExitAlreadyCompatible:
      return "already compatible";
    case kExitNotAScene:
      return "rejected by kind";
    case kExitLoadFailed:
      return "failed to load";
    case kExitSaveFailed:
      return "failed to save";
    default:
      return "not written";
  }
}

}  // namespace

void StartCommandJson(const std::string& input) {
  g_record = {};
  g_record.active = true;
  g_record.input = input;
  SetVerbosity(-1);
}

bool CommandJson() {
  return g_record.active;
}

void SayDone(const std::string& line) {
  if (Verbosity() >= 0) std::printf("%s\n", line.c_str());
  NoteMessage(WithoutInput(line), "");
}

void SayError(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  const size_t end = text.find('\n');
  std::string detail;
  if (end != std::string::npos) {
    // The lines after the first, without their indentation.
    for (size_t start = end + 1; start < text.size();) {
      const size_t stop = std::min(text.find('\n', start), text.size());
      const size_t first = std::min(text.find_first_not_of(' ', start), stop);
      if (!detail.empty()) detail += '\n';
      detail.append(text, first, stop - first);
      start = stop + 1;
    }
  }
  NoteMessage(WithoutInput(text.substr(0, end)), detail);
}

void NoteMessage(const std::string& message, const std::string& detail) {
  g_record.message = message;
  g_record.detail = detail;
}

void NoteWarnings(const std::vector<std::string>& warnings) {
  if (g_record.active)
    g_record.warnings.insert(g_record.warnings.end(), warnings.begin(), warnings.end());
}

void NoteOutput(const std::string& path) {
  if (g_record.active && path != "-") g_record.outputs.push_back(path);
}

void FinishCommandJson(int exitCode, const char* done) {
  if (!g_record.active) return;
  nlohmann::ordered_json document{{"input", JsonSafe(g_record.input)}};
  document["outputs"] = nlohmann::json::array();
  for (const auto& path : g_record.outputs) document["outputs"].push_back(JsonSafe(path));
  document["outcome"] = OutcomeOf(exitCode, done);
  document["exitCode"] = exitCode;
  document["message"] = JsonSafe(g_record.message);
  document["detail"] = JsonSafe(g_record.detail);
  document["warnings"] = nlohmann::json::array();
  for (const auto& warning : g_record.warnings) document["warnings"].push_back(JsonSafe(warning));
  std::printf("%s\n", document.dump(2).c_str());
}

}  // namespace KX::cli
