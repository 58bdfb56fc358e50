#include "app/cli/batch.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "app/cli/cli_ui.h"

namespace fs = std::filesystem;

namespace KX::cli {

namespace {

struct Job {
  Job(std::string in, std::string out) : input(std::move(in)), output(std::move(out)) {}
  std::string input;
  std::string output;
  int exitCode = -1;
  std::string message, detail;
  bool duplicate = false;  // an earlier job writes the same prop
};

struct Worker {
  pid_t pid;
  int pipe;
  size_t job;
  std::string received;
};

bool IsSceneFile(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".crv";
}

std::vector<Job> CollectJobs(const std::vector<std::string>& paths, const fs::path& outputDir,
                             std::vector<std::string>& missing) {
  std::vector<Job> jobs;
  for (const auto& given : paths) {
    std::error_code ec;
    const fs::path path(given);
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> found;
      for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
           it.increment(ec))
        if (it->is_regular_file(ec) && IsSceneFile(it->path())) found.push_back(it->path());
      std::sort(found.begin(), found.end());
      for (const auto& file : found) {
        fs::path relative = fs::relative(file, path, ec);
        jobs.emplace_back(file.string(), (outputDir / relative).replace_extension(".fbprop").string());
      }
    } else if (fs::is_regular_file(path, ec)) {
      jobs.emplace_back(given, (outputDir / path.filename()).replace_extension(".fbprop").string());
    } else {
      missing.push_back(given);
    }
  }
  // Two inputs that map to one prop would overwrite each other while both count as converted;
  // the first one keeps the name.
  std::set<std::string> outputs;
  for (Job& job : jobs)
    if (!outputs.insert(fs::path(job.output).lexically_normal().string()).second) job.duplicate = true;
  return jobs;
}

// In the worker: convert, tell the parent the messages, exit with the command's code.
[[noreturn]] void RunWorker(const CTextTable& texts, const Job& job, bool force, int pipe) {
  std::error_code ec;
  fs::create_directories(fs::path(job.output).parent_path(), ec);
  CCliUi ui(texts, job.input, job.output, force, true);
  const CommandOutcome outcome = OnValidate(ui);
  std::string message = ui.lastMessage();
  std::string detail = ui.lastDetail();
  if (ui.refusedOverwrite()) message = "the prop exists already; pass --force to replace it";
  const std::string line = message + '\n' + detail + '\n';
  [[maybe_unused]] const ssize_t written = ::write(pipe, line.data(), line.size());
  ::close(pipe);
  std::fflush(nullptr);
  ::_exit(ExitCodeOf(outcome, ui.refusedOverwrite()));
}

const char* Category(int exitCode) {
  switch (exitCode) {
    case kExitSaved: return "converted";
    case kExitAlreadyCompatible: return "already compatible";
    case kExitNotAScene: return "rejected by kind";
    case kExitLoadFailed: return "failed to load";
    case kExitSaveFailed: return "failed to save";
    case kExitUsage: return "not replaced";
    default: return "failed";
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
    std::snprintf(text, sizeof text, "%dm%02ds", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
  return text;
}

}  // namespace

int RunBatch(const CTextTable& texts, const std::vector<std::string>& paths,
             const std::string& outputDir, int jobCount, bool force, const std::string& reportPath) {
  std::vector<std::string> missing;
  std::vector<Job> jobs = CollectJobs(paths, outputDir, missing);
  for (const auto& path : missing) std::fprintf(stderr, "%s: no such file or folder\n", path.c_str());
  if (jobs.empty()) {
    std::fprintf(stderr, "batch: no .crv files found\n");
    return missing.empty() ? kExitFailure : kExitUsage;
  }

  const bool terminal = ::isatty(STDERR_FILENO);
  const auto start = std::chrono::steady_clock::now();
  size_t next = 0, done = 0;
  std::vector<Worker> workers;
  auto progress = [&](const Job& finished) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double estimate = done ? elapsed / static_cast<double>(done) * static_cast<double>(jobs.size() - done) : 0;
    if (terminal)
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s elapsed, ~%s left  %s", done, jobs.size(),
                   Duration(elapsed).c_str(), Duration(estimate).c_str(), finished.input.c_str());
    else
      std::fprintf(stderr, "[%zu/%zu] %s: %s\n", done, jobs.size(), finished.input.c_str(),
                   Category(finished.exitCode));
  };

  std::fflush(nullptr);
  while (done < jobs.size()) {
    while (next < jobs.size() && workers.size() < static_cast<size_t>(jobCount)) {
      if (jobs[next].duplicate) {
        Job& job = jobs[next++];
        job.exitCode = kExitFailure;
        job.message = "another input converts to the same prop " + job.output + "; not converted";
        ++done;
        progress(job);
        continue;
      }
      int fds[2];
      if (::pipe(fds) != 0) return kExitFailure;
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(fds[0]);
        RunWorker(texts, jobs[next], force, fds[1]);
      }
      ::close(fds[1]);
      if (pid < 0) {
        ::close(fds[0]);
        jobs[next].exitCode = kExitFailure;
        jobs[next].message = "no worker process could be started";
        ++done;
        ++next;
        continue;
      }
      workers.push_back({pid, fds[0], next++, {}});
    }
    if (workers.empty()) continue;
    // Read what the workers say until one of them ends.
    std::vector<pollfd> fds;
    for (const auto& w : workers) fds.push_back({w.pipe, POLLIN, 0});
    ::poll(fds.data(), fds.size(), -1);
    for (size_t i = 0; i < workers.size();) {
      Worker& w = workers[i];
      char buffer[4096];
      const ssize_t n = (fds[i].revents & (POLLIN | POLLHUP)) ? ::read(w.pipe, buffer, sizeof buffer) : -1;
      if (n > 0) {
        w.received.append(buffer, static_cast<size_t>(n));
        ++i;
        continue;
      }
      if (n < 0) {
        ++i;
        continue;
      }
      // End of the pipe: the worker is done.
      ::close(w.pipe);
      int status = 0;
      ::waitpid(w.pid, &status, 0);
      Job& job = jobs[w.job];
      job.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailure;
      const size_t cut = w.received.find('\n');
      job.message = w.received.substr(0, cut);
      if (cut != std::string::npos) {
        job.detail = w.received.substr(cut + 1);
        if (!job.detail.empty() && job.detail.back() == '\n') job.detail.pop_back();
      }
      if (WIFSIGNALED(status)) job.message = "the conversion crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
      ++done;
      progress(job);
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(i));
      fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  if (terminal) std::fprintf(stderr, "\n");

  std::map<std::string, int> counts;
  bool anyFailed = !missing.empty();
  for (const auto& job : jobs) {
    ++counts[Category(job.exitCode)];
    anyFailed = anyFailed || IsFailure(job.exitCode);
    if (IsFailure(job.exitCode))
      std::fprintf(stderr, "%s: %s%s%s\n", job.input.c_str(), job.message.c_str(),
                   job.detail.empty() ? "" : " - ", job.detail.c_str());
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu file(s) in %s: %d converted, %d already compatible, %d rejected by kind, "
              "%d failed to load, %d failed to save",
              jobs.size(), Duration(elapsed).c_str(), counts["converted"], counts["already compatible"],
              counts["rejected by kind"], counts["failed to load"], counts["failed to save"]);
  if (counts["not replaced"]) std::printf(", %d not replaced", counts["not replaced"]);
  if (counts["failed"]) std::printf(", %d failed otherwise", counts["failed"]);
  std::printf("\n");

  if (!reportPath.empty()) {
    nlohmann::ordered_json report;
    report["files"] = nlohmann::json::array();
    for (const auto& job : jobs)
      report["files"].push_back({{"input", job.input},
                                 {"output", job.output},
                                 {"outcome", Category(job.exitCode)},
                                 {"exitCode", job.exitCode},
                                 {"message", job.message},
                                 {"detail", job.detail}});
    report["missing"] = missing;
    report["summary"] = counts;
    std::ofstream out(reportPath);
    out << report.dump(2) << '\n';
    if (!out.good()) {
      std::fprintf(stderr, "%s: the report cannot be written\n", reportPath.c_str());
      return kExitFailure;
    }
  }
  return anyFailed ? kExitFailure : kExitSaved;
}

}  // namespace KX::cli
