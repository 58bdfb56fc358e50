#include "app/cli/batch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "app/cli/batch_report.h"
#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "app/cli/export.h"
#include "app/cli/json_writer.h"
#include "core/atomic_file.h"

namespace fs = std::filesystem;

namespace KX::cli {

namespace {

constexpr int kInterrupted = -2;  // a job not done because the batch was stopped

struct Job {
  Job(std::string in, std::string out, std::string key)
      : input(std::move(in)), output(std::move(out)), relative(std::move(key)) {}
  std::string input;
  std::string output;
  std::string relative;  // the output below OUTPUT_DIR
  int exitCode = -1;
  std::string message, detail;
  std::vector<std::string> warnings;  // of the load and the conversion or export, a line each
  bool duplicate = false;  // an earlier job writes the same prop
};

struct Worker {
  pid_t pid;
  int pipe;
  size_t job;
  std::string received;
};

// The signal that stopped the batch, and the pipe that wakes its wait for workers.
volatile sig_atomic_t g_stopSignal = 0;
int g_wakeWrite = -1;

extern "C" void NoteStop(int signal) {
  const int saved = errno;
  g_stopSignal = signal;
  if (g_wakeWrite >= 0) [[maybe_unused]]
    const ssize_t n = ::write(g_wakeWrite, "x", 1);
  errno = saved;
}

bool IsSceneFile(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".crv";
}

// A path that is neither a plain file nor a folder, and what it is instead.
struct Skipped {
  std::string path;
  const char* what;
};

struct Collected {
  std::vector<Job> jobs;
  std::vector<std::string> missing;   // paths given that do not exist
  std::vector<std::string> dangling;  // links below folders that point nowhere
  std::vector<Skipped> skipped;       // FIFOs, devices and sockets, given or found as .crv
  size_t existing = 0;                // paths given that exist
};

const char* WhatItIs(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "no plain file";
}

// The scene files found below `folder`, in name order. Each `.crv` there that cannot be converted
// is handed to `note` with what it is (null for a link to nothing).
template <class Note>
std::vector<fs::path> FindScenes(const fs::path& folder, Note&& note) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!IsSceneFile(it->path())) continue;
    struct stat st;
    if (::stat(it->path().c_str(), &st) != 0) {
      std::error_code entryError;
      if (it->is_symlink(entryError)) note(it->path().string(), nullptr);
      continue;
    }
    if (S_ISREG(st.st_mode))
      found.push_back(it->path());
    else if (!S_ISDIR(st.st_mode))
      note(it->path().string(), WhatItIs(st.st_mode));
  }
  std::sort(found.begin(), found.end());
  return found;
}

Collected CollectJobs(const std::vector<std::string>& paths, const fs::path& outputDir,
                      const std::string& extension) {
  Collected c;
  // A file reached twice for the same prop (named twice, or a folder given twice) is converted
  // once; two links to one file in a tree still mirror the tree.
  std::set<std::tuple<dev_t, ino_t, std::string>> seen;
  auto add = [&](const fs::path& input, const fs::path& relative) {
    fs::path output = relative;
    output.replace_extension(extension);
    struct stat st;
    if (::stat(input.c_str(), &st) == 0 &&
        !seen.insert({st.st_dev, st.st_ino, output.string()}).second)
      return;
    c.jobs.emplace_back(input.string(), (outputDir / output).string(), output.string());
  };
  // Every path that cannot be converted is told once, however often it was reached.
  std::set<std::string> told;
  auto firstTime = [&](const std::string& path) {
    return told.insert(fs::path(path).lexically_normal().string()).second;
  };
  // `what` is null for a link to nothing.
  auto note = [&](const std::string& path, const char* what) {
    if (!firstTime(path)) return;
    if (what)
      c.skipped.push_back({path, what});
    else
      c.dangling.push_back(path);
  };
  for (const auto& given : paths) {
    struct stat st;
    if (::stat(given.c_str(), &st) != 0) {
      if (firstTime(given)) c.missing.push_back(given);
      continue;
    }
    ++c.existing;
    const fs::path path(given);
    if (S_ISDIR(st.st_mode)) {
      // The prop is named after where the file was found, never after where a link leads.
      for (const auto& file : FindScenes(path, note)) add(file, file.lexically_relative(path));
    } else if (S_ISREG(st.st_mode)) {
      add(path, path.filename());
    } else {
      note(given, WhatItIs(st.st_mode));
    }
  }
  // Two inputs that map to one prop would overwrite each other while both count as converted;
  // the first one keeps the name.
  std::set<std::string> outputs;
  for (Job& job : c.jobs)
    if (!outputs.insert(fs::path(job.output).lexically_normal().string()).second)
      job.duplicate = true;
  return c;
}

// Whether `folder` (which exists) lies in `root`, links resolved.
bool InsideRoot(const std::string& folder, const std::string& root) {
  char resolvedFolder[PATH_MAX], resolvedRoot[PATH_MAX];
  if (!::realpath(folder.c_str(), resolvedFolder) || !::realpath(root.c_str(), resolvedRoot))
    return false;
  const std::string f = resolvedFolder, r = resolvedRoot;
  return f == r || (f.starts_with(r) && (r == "/" || f[r.size()] == '/'));
}

// In the worker: convert, tell the parent the messages, exit with the command's code.
[[noreturn]] void RunWorker(const CTextTable& texts, const Job& job, const BatchOptions& options,
                            int pipe) {
  const std::string& outputDir = options.outputDir;
  const bool force = options.force;
  // One JSON object: the message, its detail (of several lines, maybe) and the warnings.
  auto finish = [&](const std::string& message, const std::string& detail, int code,
                    const std::vector<std::string>& warnings = {}) {
    nlohmann::ordered_json said{{"message", JsonSafe(message)}, {"detail", JsonSafe(detail)}};
    said["warnings"] = nlohmann::json::array();
    for (const auto& warning : warnings) said["warnings"].push_back(JsonSafe(warning));
    const std::string text = said.dump();
    for (size_t at = 0; at < text.size();) {
      const ssize_t n = ::write(pipe, text.data() + at, text.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::close(pipe);
    ::_exit(code);
  };
  const std::string folder = fs::path(job.output).parent_path().string();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec)
    finish("the folder " + JsonSafe(folder) + " cannot be made: " + ec.message(), "",
           kExitSaveFailed);
  // A link inside OUTPUT_DIR must not carry the prop elsewhere.
  if (!InsideRoot(folder, outputDir))
    finish("the folder " + JsonSafe(folder) +
               " leads outside the output folder through a link; not written",
           "", kExitUsage);
  if (!options.exportFormat.empty()) {
    std::string message, detail;
    std::vector<std::string> warnings;
    const int code =
        ExportFile(texts, {job.input, job.output, options.converted, force}, message, warnings);
    // The batch names the file itself.
    const std::string prefix = Printable(job.input) + ": ";
    const std::string warningPrefix = prefix + "warning: ";
    if (message.starts_with(prefix)) message.erase(0, prefix.size());
    for (std::string& warning : warnings)
      if (warning.starts_with(warningPrefix)) warning.erase(0, warningPrefix.size());
    finish(message, detail, code, warnings);
  }
  CCliUi ui(texts, job.input, job.output, force, true);
  const CommandOutcome outcome = OnValidate(ui);
  finish(ui.lastMessage(), ui.lastDetail(), ExitCodeOf(outcome, ui.refusedOverwrite()),
         ui.warnings());
  __builtin_unreachable();  // finish ends the process
}

// What a worker said through its pipe (see RunWorker), into `job`. A worker that ended before it
// said it all leaves the job's words empty.
void TakeWhatWasSaid(const std::string& received, Job& job) {
  const auto said = nlohmann::json::parse(received, nullptr, false);
  if (!said.is_object()) return;
  auto text = [&](const char* key) {
    const auto it = said.find(key);
    return it != said.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  job.message = text("message");
  job.detail = text("detail");
  if (const auto it = said.find("warnings"); it != said.end() && it->is_array())
    for (const auto& warning : *it)
      if (warning.is_string()) job.warnings.push_back(warning.get<std::string>());
}

const char* Category(int exitCode) {
  switch (exitCode) {
    case kExitSaved:
      return "converted";
    case kExitAlreadyCompatible:
      return "already compatible";
    case kExitNotAScene:
      return "rejected by kind";
    case kExitLoadFailed:
      return "failed to load";
    case kExitSaveFailed:
      return "failed to save";
    case kExitUsage:
      return "not replaced";
    case kInterrupted:
      return "interrupted";
    default:
      return "failed";
  }
}

bool IsFailure(int exitCode) {
  return exitCode != kExitSaved && exitCode != kExitAlreadyCompatible && exitCode != kExitNotAScene;
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 60)
    std::snprintf(text, sizeof text, "%.1fs", seconds);
  else
    std::snprintf(text, sizeof text, "%dm%02ds", static_cast<int>(seconds) / 60,
                  static_cast<int>(seconds) % 60);
  return text;
}

bool ParseShard(const std::string& text, unsigned& k, unsigned& n) {
  if (text.empty()) {
    k = 0;
    n = 1;
    return true;
  }
  char* end = nullptr;
  const unsigned long kk = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '/') return false;
  const char* second = end + 1;
  const unsigned long nn = std::strtoul(second, &end, 10);
  if (end == second || *end != 0 || nn == 0 || nn > 1000000 || kk >= nn) return false;
  k = static_cast<unsigned>(kk);
  n = static_cast<unsigned>(nn);
  return true;
}

// No path is longer than this; a longer line is no path, and a list of such lines is no list.
constexpr size_t kMaxListLine = PATH_MAX;

// Reads the paths of a list, one a line, or each ended by a NUL byte with `nulSeparated` ("-" for
// standard input), a bounded piece at a time. A list of lines that is not text (it holds a NUL
// byte) or has an entry no path could fill is refused with `reason` as soon as that is seen,
// before the rest is read.
bool ReadList(const std::string& source, bool nulSeparated, std::vector<std::string>& paths,
              std::string& reason) {
  const bool standardInput = source == "-";
  const int fd = standardInput ? STDIN_FILENO : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    reason = std::string("cannot be read: ") + std::strerror(errno);
    if (fd >= 0 && !standardInput) ::close(fd);
    return false;
  }
  const auto finish = [&](bool ok) {
    if (!standardInput) ::close(fd);
    return ok;
  };
  if (S_ISDIR(st.st_mode)) {
    reason = "is a folder, not a list of paths";
    return finish(false);
  }
  const char separator = nulSeparated ? '\0' : '\n';
  std::string line;
  size_t lineNumber = 1;
  const auto take = [&] {
    if (!nulSeparated && !line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(std::move(line));
    line.clear();
  };
  const auto refuse = [&](const std::string& why) {
    reason = nulSeparated ? "is not a list of paths separated by NUL bytes: entry "
                          : "is not a list of paths, one a line: line ";
    reason += std::to_string(lineNumber) + " " + why;
    return finish(false);
  };
  char piece[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      reason = std::string("cannot be read: ") + std::strerror(errno);
      return finish(false);
    }
    if (got == 0) {
      take();
      return finish(true);
    }
    for (const char c : std::string_view(piece, static_cast<size_t>(got))) {
      if (c == separator) {
        take();
        ++lineNumber;
      } else if (c == '\0') {
        return refuse("holds a NUL byte");
      } else if (line.size() == kMaxListLine) {
        return refuse("is longer than " + std::to_string(kMaxListLine) + " bytes, which no path is");
      } else {
        line += c;
      }
    }
  }
}

}  // namespace

unsigned ShardOf(const std::string& relativeOutput, unsigned shards) {
  uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : relativeOutput) hash = (hash ^ c) * 1099511628211ull;
  return static_cast<unsigned>(hash % shards);
}

namespace {

// What a batch works on, settled before any worker starts.
struct BatchPlan {
  unsigned shard = 0, shards = 1;
  Collected collected;
  std::vector<Job> jobs;      // those of this share
  bool foundNothing = false;  // no file to convert below the paths given
};

// A report that cannot be written is found before the work, not after it. Answers 0 or the exit
// code.
int CheckReportPlace(const std::string& reportPath) {
  if (reportPath.empty()) return 0;
  const OutputCheck check = CheckOutput(reportPath, true, false, false);
  if (check.exitCode != 0) {
    std::fprintf(stderr, "%s\n", check.message.c_str());
    return kExitUsage;
  }
  const fs::path folder = fs::path(reportPath).parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder.empty() ? fs::path(".") : folder, ec)) {
    std::fprintf(stderr, "%s: the report's folder does not exist\n", Printable(reportPath).c_str());
    return kExitUsage;
  }
  return 0;
}

// Settles the plan: the share, the paths (with --files-from), the report's place, the jobs, the
// output folder and the leftovers of batches that were killed. Answers -1 to go on, else the
// exit code to end with.
int PlanBatch(const BatchOptions& options, BatchPlan& plan) {
  if (!ParseShard(options.shard, plan.shard, plan.shards)) {
    std::fprintf(stderr, "batch: --shard takes K/N with 0 <= K < N, not '%s'\n",
                 Printable(options.shard).c_str());
    return kExitUsage;
  }
  std::vector<std::string> paths = options.paths;
  if (!options.filesFrom.empty()) {
    std::string reason;
    if (!ReadList(options.filesFrom, options.nulSeparated, paths, reason)) {
      const bool standardInput = options.filesFrom == "-";
      std::fprintf(stderr, "%s: %s\n",
                   standardInput ? "standard input" : Printable(options.filesFrom).c_str(),
                   reason.c_str());
      return kExitUsage;
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "batch: no PATH given (name files or folders, or use --files-from)\n");
    return kExitUsage;
  }
  if (const int code = CheckReportPlace(options.reportPath)) return code;

  const std::string extension =
      options.exportFormat.empty() ? std::string(".fbprop") : "." + options.exportFormat;
  plan.collected = CollectJobs(paths, options.outputDir, extension);
  const Collected& collected = plan.collected;
  for (const auto& path : collected.missing)
    std::fprintf(stderr, "%s: no such file or folder\n", Printable(path).c_str());
  for (const auto& path : collected.dangling)
    std::fprintf(stderr, "%s: a link to nothing; skipped\n", Printable(path).c_str());
  for (const auto& [path, what] : collected.skipped)
    std::fprintf(stderr, "%s: is %s, not a scene file; skipped\n", Printable(path).c_str(), what);
  if (collected.jobs.empty()) {
    std::fprintf(stderr, "batch: no .crv files found\n");
    plan.foundNothing = true;
    return collected.existing == 0 && collected.dangling.empty() ? kExitUsage : kExitFailure;
  }
  // A dry run lists every file with its share, and makes and removes nothing.
  if (options.dryRun) {
    plan.jobs = plan.collected.jobs;
    return -1;
  }
  for (auto& job : plan.collected.jobs)
    if (ShardOf(job.relative, plan.shards) == plan.shard) plan.jobs.push_back(std::move(job));

  std::error_code ec;
  fs::create_directories(options.outputDir, ec);
  if (ec || !fs::is_directory(options.outputDir, ec)) {
    std::fprintf(stderr, "%s: the output folder cannot be made: %s\n",
                 Printable(options.outputDir).c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return kExitFailure;
  }
  // Leftovers of batches that were killed are removed once, here, rather than by every worker.
  std::set<std::string> folders;
  for (const auto& job : plan.jobs) folders.insert(fs::path(job.output).parent_path().string());
  for (const auto& folder : folders) SweepStaleTemporaries(folder);
  return -1;
}

// While it lives, SIGINT, SIGTERM and SIGHUP only note the stop and wake the workers' pool; its
// end puts the handlers before it back and closes the pipe that wakes the pool, on every path
// out of the batch.
class CStopSignals {
 public:
  CStopSignals() {
    g_stopSignal = 0;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      wake_[0] = wake_[1] = -1;
      return;
    }
    g_wakeWrite = wake_[1];
    struct sigaction action {};
    action.sa_handler = NoteStop;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
  }
  ~CStopSignals() {
    if (wake_[0] < 0) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    g_wakeWrite = -1;
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  CStopSignals(const CStopSignals&) = delete;
  CStopSignals& operator=(const CStopSignals&) = delete;

  bool ok() const { return wake_[0] >= 0; }
  int wakeRead() const { return wake_[0]; }
  // In a worker: the batch's pipe and handlers are not its own.
  void ForgetInChild() const {
    g_wakeWrite = -1;
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  void Drain() const {
    char drain[64];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
  }

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  int wake_[2] = {-1, -1};
  struct sigaction previous_[3] {};
};

// The worker processes of a batch, one per job in hand. Its end stops and reaps every worker
// still running, so that no path out of the batch leaves one behind.
class CWorkerPool {
 public:
  CWorkerPool(const CTextTable& texts, const BatchOptions& options, const CStopSignals& signals)
      : texts_(texts), options_(options), signals_(signals), parent_(::getpid()) {}
  ~CWorkerPool() {
    for (const Worker& w : workers_) {
      ::kill(w.pid, SIGTERM);
      ::close(w.pipe);
      while (::waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  CWorkerPool(const CWorkerPool&) = delete;
  CWorkerPool& operator=(const CWorkerPool&) = delete;

  size_t size() const { return workers_.size(); }
  void StopAll() const {
    for (const Worker& w : workers_) ::kill(w.pid, SIGTERM);
  }

  // Starts a worker for jobs[index]; false when no process could be started.
  bool Start(std::vector<Job>& jobs, size_t index) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
      // The worker ends with the batch, and removes its partial file when stopped.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent_) ::_exit(kExitFailure);
      signals_.ForgetInChild();
      RemoveTemporariesOnSignals();
      ::close(fds[0]);
      // Everything the worker has to say goes through the pipe.
      if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
      }
      RunWorker(texts_, jobs[index], options_, fds[1]);
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      return false;
    }
    try {
      workers_.push_back({pid, fds[0], index, {}});
    } catch (const std::bad_alloc&) {
      // Not kept, not left running.
      ::kill(pid, SIGTERM);
      ::close(fds[0]);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    return true;
  }

  // Reads what the workers say until one of them ends or the batch is stopped; the job of each
  // worker that ended is completed and handed to `done`. False when waiting failed.
  template <class Done>
  bool Wait(std::vector<Job>& jobs, time_t startTime, Done&& done) {
    std::vector<pollfd> fds;
    for (const auto& w : workers_) fds.push_back({w.pipe, POLLIN, 0});
    fds.push_back({signals_.wakeRead(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return false;
    if (fds.back().revents & POLLIN) signals_.Drain();
    fds.pop_back();
    for (size_t i = 0; i < workers_.size();) {
      Worker& w = workers_[i];
      char buffer[4096];
      const ssize_t n =
          (fds[i].revents & (POLLIN | POLLHUP)) ? ::read(w.pipe, buffer, sizeof buffer) : -1;
      if (n != 0) {
        if (n > 0) w.received.append(buffer, static_cast<size_t>(n));
        ++i;
        continue;
      }
      // End of the pipe: the worker is done.
      ::close(w.pipe);
      int status = 0;
      while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
      }
      Job& job = jobs[w.job];
      Complete(job, status, w.received, startTime);
      workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(i));
      fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
      done(job);
    }
    return true;
  }

 private:
  // The job's outcome from how its worker ended and what it said.
  static void Complete(Job& job, int status, const std::string& received, time_t startTime) {
    job.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
    TakeWhatWasSaid(received, job);
    if (!WIFSIGNALED(status)) return;
    struct stat st;
    if (g_stopSignal && ::lstat(job.output.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_mtime >= startTime) {
      // Stopped between naming the prop and saying so: a file only gets its name complete.
      job.exitCode = kExitSaved;
      job.message = "converted; stopped just after";
    } else if (g_stopSignal) {
      job.exitCode = kInterrupted;
      job.message = "stopped while converting; nothing written";
    } else {
      job.message = "the conversion crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
    }
  }

  const CTextTable& texts_;
  const BatchOptions& options_;
  const CStopSignals& signals_;
  const pid_t parent_;
  std::vector<Worker> workers_;
};

// How many columns the terminal on standard error has (80 when it does not say).
size_t TerminalColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// `text` (printable UTF-8) in at most `columns` columns: a longer one gives its middle up to
// "...", keeping more of its end, where a path names its file. A character of three or four bytes
// counts as two columns, which the widest of them take.
std::string FitColumns(std::string_view text, size_t columns) {
  struct Character {
    size_t at, length, width;
  };
  std::vector<Character> characters;
  size_t total = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = std::max<size_t>(1, Utf8SequenceLength(text.substr(at)));
    const size_t width = length >= 3 ? 2 : 1;
    characters.push_back({at, length, width});
    total += width;
    at += length;
  }
  if (total <= columns) return std::string(text);
  const size_t room = columns > 3 ? columns - 3 : 0;
  const size_t headRoom = room / 3, tailRoom = room - headRoom;
  size_t headEnd = 0, tailStart = text.size(), used = 0;
  for (const Character& c : characters) {
    if (used + c.width > headRoom) break;
    used += c.width;
    headEnd = c.at + c.length;
  }
  used = 0;
  for (auto c = characters.rbegin(); c != characters.rend(); ++c) {
    if (used + c->width > tailRoom) break;
    used += c->width;
    tailStart = c->at;
  }
  if (columns < 3) return std::string(text.substr(0, headEnd));
  return std::string(text.substr(0, headEnd)) + "..." + std::string(text.substr(tailStart));
}

// How the batch shows its progress on standard error (--progress).
enum class ProgressMode { kFittedLine, kLines, kNone, kJson };

ProgressMode ProgressModeOf(const std::string& asked) {
  // JSON lines were asked for by name: -q leaves out only what is for people to read.
  if (asked == "json") return ProgressMode::kJson;
  if (asked == "never" || Verbosity() < 0) return ProgressMode::kNone;
  if (asked == "always") return ProgressMode::kFittedLine;
  return ::isatty(STDERR_FILENO) && Verbosity() == 0 ? ProgressMode::kFittedLine
                                                     : ProgressMode::kLines;
}

// The progress line fitted to the terminal's width, a line per finished file, a JSON line per
// finished file, or nothing. Files the stop kept from their end are not counted as done, and the
// last line of a stopped batch says how many there are.
class CProgress {
 public:
  CProgress(size_t total, ProgressMode mode)
      : total_(total), mode_(mode), start_(std::chrono::steady_clock::now()) {}

  void Show(const Job& finished) {
    if (finished.exitCode != kInterrupted) ++done_;
    shown_ = true;
    switch (mode_) {
      case ProgressMode::kNone:
        return;
      case ProgressMode::kLines:
        std::fprintf(stderr, "[%zu/%zu] %s: %s\n", done_, total_,
                     Printable(finished.input).c_str(), Category(finished.exitCode));
        return;
      case ProgressMode::kJson:
        ShowJson(finished);
        return;
      case ProgressMode::kFittedLine:
        break;
    }
    const double elapsed = Elapsed();
    const double estimate =
        done_ ? elapsed / static_cast<double>(done_) * static_cast<double>(total_ - done_) : 0;
    char head[128];
    std::snprintf(head, sizeof head, "[%zu/%zu] %s elapsed, ~%s left", done_, total_,
                  Duration(elapsed).c_str(), Duration(estimate).c_str());
    // Writing into the last column moves some terminals to the next row.
    const size_t columns = TerminalColumns() - 1;
    std::string line = FitColumns(head, columns);
    constexpr size_t kLeastPath = 8;
    if (line.size() + 2 + kLeastPath <= columns)
      line += "  " + FitColumns(Printable(finished.input), columns - line.size() - 2);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
  }

  // Ends the progress, with `interrupted` files not converted because the batch was stopped.
  void End(size_t interrupted) const {
    if (mode_ == ProgressMode::kNone || mode_ == ProgressMode::kJson) return;
    const bool fitted = mode_ == ProgressMode::kFittedLine;
    if (interrupted == 0) {
      if (fitted && shown_) std::fprintf(stderr, "\n");
      return;
    }
    char line[128];
    std::snprintf(line, sizeof line, "[%zu/%zu] stopped after %s: %zu interrupted", done_, total_,
                  Duration(Elapsed()).c_str(), interrupted);
    if (fitted)
      std::fprintf(stderr, "\r\033[K%s\n", FitColumns(line, TerminalColumns() - 1).c_str());
    else
      std::fprintf(stderr, "%s\n", line);
  }

 private:
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  // One line a program reads as it comes: the counts, the time taken and the file's entry as
  // the report gives it.
  void ShowJson(const Job& finished) const {
    const nlohmann::ordered_json line{{"done", done_},
                                      {"total", total_},
                                      {"elapsed", std::round(Elapsed() * 1000) / 1000},
                                      {"input", JsonSafe(finished.input)},
                                      {"output", JsonSafe(finished.output)},
                                      {"outcome", Category(finished.exitCode)},
                                      {"exitCode", finished.exitCode}};
    std::fprintf(stderr, "%s\n", line.dump().c_str());
    std::fflush(stderr);
  }

  size_t total_;
  ProgressMode mode_;
  std::chrono::steady_clock::time_point start_;
  size_t done_ = 0;
  bool shown_ = false;
};

// Runs the jobs, options.jobs at a time, until all are done or the batch is stopped; every worker
// has ended when it returns.
void RunJobs(const CTextTable& texts, const BatchOptions& options, std::vector<Job>& jobs,
             const CStopSignals& signals) {
  const time_t startTime = ::time(nullptr);
  CProgress progress(jobs.size(), ProgressModeOf(options.progress));
  size_t next = 0, settled = 0;
  const auto finished = [&](const Job& job) {
    ++settled;
    progress.Show(job);
  };
  std::fflush(nullptr);
  CWorkerPool pool(texts, options, signals);
  bool stopping = false;
  while (settled < jobs.size()) {
    if (g_stopSignal && !stopping) {
      stopping = true;
      pool.StopAll();
      for (; next < jobs.size(); ++next, ++settled) {
        jobs[next].exitCode = kInterrupted;
        jobs[next].message = "not converted: the batch was stopped";
      }
      if (pool.size() == 0) break;
    }
    while (!stopping && next < jobs.size() && pool.size() < static_cast<size_t>(options.jobs)) {
      Job& job = jobs[next];
      if (job.duplicate) {
        job.exitCode = kExitFailure;
        job.message = "another input converts to the same prop " + job.output + "; not converted";
      } else if (!pool.Start(jobs, next)) {
        job.exitCode = kExitFailure;
        job.message = "no worker process could be started";
      } else {
        ++next;
        continue;
      }
      ++next;
      finished(job);
    }
    if (pool.size() == 0) continue;
    if (!pool.Wait(jobs, startTime, finished)) break;
  }
  progress.End(static_cast<size_t>(std::count_if(
      jobs.begin(), jobs.end(), [](const Job& job) { return job.exitCode == kInterrupted; })));
}

// Prints each file's warnings, the files that failed and the summary line; answers whether
// anything failed.
bool PrintOutcome(const BatchOptions& options, const BatchPlan& plan,
                  std::map<std::string, int>& counts, double elapsed) {
  const Collected& c = plan.collected;
  bool anyFailed = !c.missing.empty() || !c.dangling.empty() || !c.skipped.empty();
  for (const auto& job : plan.jobs) {
    ++counts[Category(job.exitCode)];
    anyFailed = anyFailed || IsFailure(job.exitCode);
    PrintWarnings(job.input, job.warnings);
    if (IsFailure(job.exitCode) && job.exitCode != kInterrupted)
      std::fprintf(stderr, "%s: %s%s%s\n", Printable(job.input).c_str(),
                   Printable(job.message).c_str(), job.detail.empty() ? "" : " - ",
                   PrintableLines(job.detail).c_str());
  }
  if (Verbosity() >= 0) {
    std::printf(
        "%zu file(s) in %s: %d %s, %d already compatible, %d rejected by kind, "
        "%d failed to load, %d failed to save",
        plan.jobs.size(), Duration(elapsed).c_str(), counts["converted"],
        options.exportFormat.empty() ? "converted" : "exported", counts["already compatible"],
        counts["rejected by kind"], counts["failed to load"], counts["failed to save"]);
    if (counts["not replaced"]) std::printf(", %d not replaced", counts["not replaced"]);
    if (counts["failed"]) std::printf(", %d failed otherwise", counts["failed"]);
    if (counts["interrupted"]) std::printf(", %d interrupted", counts["interrupted"]);
    if (plan.shards > 1) std::printf(" (share %u/%u)", plan.shard, plan.shards);
    std::printf("\n");
  }
  std::fflush(stdout);
  return anyFailed;
}

// Writes the report; false (and said) when it could not be written.
bool WriteReport(const std::string& path, const BatchPlan& plan,
                 const std::map<std::string, int>& counts) {
  nlohmann::ordered_json report;
  report["files"] = nlohmann::json::array();
  for (const auto& job : plan.jobs)
    report["files"].push_back({{"input", JsonSafe(job.input)},
                               {"output", JsonSafe(job.output)},
                               {"outcome", Category(job.exitCode)},
                               {"exitCode", job.exitCode},
                               {"message", JsonSafe(job.message)},
                               {"detail", JsonSafe(job.detail)},
                               {"warnings", job.warnings}});
  report["missing"] = nlohmann::json::array();
  for (const auto& missing : plan.collected.missing) report["missing"].push_back(JsonSafe(missing));
  report["dangling"] = nlohmann::json::array();
  for (const auto& link : plan.collected.dangling) report["dangling"].push_back(JsonSafe(link));
  report["skipped"] = nlohmann::json::array();
  for (const auto& skipped : plan.collected.skipped)
    report["skipped"].push_back(JsonSafe(skipped.path));
  if (plan.shards > 1)
    report["shard"] = std::to_string(plan.shard) + "/" + std::to_string(plan.shards);
  report["summary"] = ReportSummary(counts);
  const std::string text = report.dump(2) + "\n";
  const OutputCheck written =
      WriteOutput(path, std::vector<uint8_t>(text.begin(), text.end()), true);
  if (written.exitCode == 0) return true;
  std::fprintf(stderr, "%s (the report)\n", written.message.c_str());
  return false;
}

// --dry-run: a line per file found, "INPUT -> PROP", with its share when the files are shared
// and what would keep it from being converted, then a line of counts. Answers the exit code the
// batch would end with for what can be told without converting.
int PrintPlan(const BatchOptions& options, const BatchPlan& plan) {
  const Collected& c = plan.collected;
  bool anyFailed = !c.missing.empty() || !c.dangling.empty() || !c.skipped.empty();
  std::map<std::string, const Job*> firstOfProp;
  size_t inShare = 0, collisions = 0, refused = 0;
  for (const Job& job : plan.jobs) {
    const std::string prop = fs::path(job.output).lexically_normal().string();
    const Job* first = firstOfProp.emplace(prop, &job).first->second;
    const unsigned share = ShardOf(job.relative, plan.shards);
    std::string line = Printable(job.input) + " -> " + Printable(job.output);
    if (plan.shards > 1)
      line += " (share " + std::to_string(share) + "/" + std::to_string(plan.shards) + ")";
    const bool ours = share == plan.shard;
    if (job.duplicate) {
      line += ": the same prop as " + Printable(first->input) + "; would not be converted";
      collisions += ours;
    } else if (const OutputCheck check = CheckOutput(job.output, options.force, true, false);
               check.exitCode != 0) {
      const std::string prefix = Printable(job.output) + ": ";
      line += ": " + (check.message.starts_with(prefix) ? check.message.substr(prefix.size())
                                                         : check.message);
      refused += ours;
    } else {
      inShare += ours;
    }
    std::printf("%s\n", line.c_str());
  }
  anyFailed = anyFailed || collisions > 0 || refused > 0;
  std::printf("dry run: %zu file(s) found, %zu would be %s", plan.jobs.size(), inShare,
              options.exportFormat.empty() ? "converted" : "exported");
  if (plan.shards > 1) std::printf(" by share %u/%u", plan.shard, plan.shards);
  std::printf(", %zu would collide, %zu would not be replaced; nothing was written\n", collisions,
              refused);
  return anyFailed ? kExitFailure : kExitSaved;
}

}  // namespace

int RunBatch(const CTextTable& texts, const BatchOptions& options) {
  BatchPlan plan;
  if (const int code = PlanBatch(options, plan); code >= 0) {
    // A batch that found nothing to convert still leaves the report that says what it found.
    if (plan.foundNothing && !options.dryRun && !options.reportPath.empty() &&
        !WriteReport(options.reportPath, plan, {}))
      return code == kExitUsage ? code : kExitFailure;
    return code;
  }
  if (options.dryRun) return PrintPlan(options, plan);
  int code = kExitSaved;
  {
    // Stopping the batch stops its workers; the report and the summary still tell what was done.
    const CStopSignals signals;
    if (!signals.ok()) return kExitFailure;
    const auto start = std::chrono::steady_clock::now();
    RunJobs(texts, options, plan.jobs, signals);
    std::map<std::string, int> counts;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (PrintOutcome(options, plan, counts, elapsed)) code = kExitFailure;
    if (!options.reportPath.empty() && !WriteReport(options.reportPath, plan, counts))
      code = kExitFailure;
  }
  if (g_stopSignal) {
    // Ends the way the signal would have ended it, so that the shell sees the stop.
    std::fflush(nullptr);
    ::signal(g_stopSignal, SIG_DFL);
    ::raise(g_stopSignal);
  }
  return code;
}

}  // namespace KX::cli
