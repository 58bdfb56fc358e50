#include "app/cli/cli_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/cli/cli_ui.h"
#include "app/cli/json_writer.h"
#include "core/atomic_file.h"
#include "core/io_buffer.h"

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

bool WriteAll(std::FILE* out, const std::vector<uint8_t>& bytes, std::string& reason) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fflush(out) != 0) {
    reason = std::strerror(errno ? errno : EIO);
    return false;
  }
  return true;
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

Status LoadInputLeniently(const std::string& path, CPersistContext& document) {
  if (path == "-") {
    if (::isatty(STDIN_FILENO))
      return RefuseInput(document, path, "standard input is a terminal; pipe a file into it");
    std::vector<uint8_t> bytes;
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return RefuseInput(document, "standard input", std::strerror(errno));
      if (n == 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    CMemoryIo stream{std::span<const uint8_t>(bytes)};
    const Status status = LoadFromStream(document, stream, 0);
    document.stream = nullptr;
    return status;
  }
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

std::string DescribeLoadFailure(const CPersistContext& document) {
  const auto& d = document.diagnostics;
  if (d.status == kErrOpen && d.className.empty() && d.offset == 0 && !d.message.empty())
    return Printable(d.message);
  return PrintableLines(d.Describe());
}

std::vector<std::string> LoadWarnings(const CPersistContext& document) {
  return document.diagnostics.WarningLines();
}

void PrintWarnings(const std::string& input, const std::vector<std::string>& warnings) {
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
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (makeFolders && !folder.empty() && !fs::exists(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec)
      return {kExitSaveFailed,
              Printable(folder.string()) + ": the folder cannot be made: " + ec.message()};
  }
  return {};
}

OutputCheck WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool force) {
  std::string reason;
  if (path == "-") {
    if (!WriteAll(stdout, bytes, reason))
      return {kExitSaveFailed, "standard output: write failed: " + reason};
    return {};
  }
  CAtomicFile file;
  Status status = file.Create(path, force);
  if (Succeeded(status)) status = file.Write(bytes.data(), bytes.size());
  if (Succeeded(status)) status = file.Commit();
  if (Succeeded(status)) return {};
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
    return SaveFile(0, document, path, force, &failure);
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
  std::fprintf(stderr, "standard output: write failed: %s\n", std::strerror(errno ? errno : EIO));
  return false;
}

}  // namespace KX::cli
