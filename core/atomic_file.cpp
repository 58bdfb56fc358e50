#include "core/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace KX {

namespace {

// Temporaries are named ".recaster-HOST-PID-NNNNNN.tmp": short, so that a target name of any
// legal length still fits, and telling which process of which host wrote them.
constexpr char kTempPrefix[] = ".recaster-";
constexpr char kTempSuffix[] = ".tmp";

// The temporaries not yet committed, kept in plain memory so that a signal handler may read them.
constexpr int kSlots = 64;
constexpr size_t kSlotPath = 4096;
struct PendingSlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
  char path[kSlotPath];
};
PendingSlot g_slots[kSlots];

int ReserveSlot(const std::string& path) {
  if (path.size() >= kSlotPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(2);
    return i;
  }
  return -1;
}

void ReleaseSlot(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0);
}

uint32_t HostTag() {
  static const uint32_t tag = [] {
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = 0;
    uint32_t hash = 2166136261u;
    for (const char* c = host; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    return hash;
  }();
  return tag;
}

std::string TempName(unsigned attempt) {
  static std::atomic<uint32_t> counter{0};
  const auto now =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint32_t unique =
      (counter.fetch_add(1) * 2654435761u) ^ static_cast<uint32_t>(now >> 7) ^ attempt;
  char name[96];
  std::snprintf(name, sizeof name, "%s%08x-%ld-%06x%s", kTempPrefix, HostTag(),
                static_cast<long>(::getpid()), unique & 0xFFFFFF, kTempSuffix);
  return name;
}

// The writer's process id when `name` is a temporary of this host, else 0.
pid_t WriterOf(const char* name) {
  const size_t prefix = sizeof kTempPrefix - 1;
  if (std::strncmp(name, kTempPrefix, prefix) != 0) return 0;
  const size_t length = std::strlen(name);
  if (length < prefix + sizeof kTempSuffix ||
      std::strcmp(name + length - (sizeof kTempSuffix - 1), kTempSuffix) != 0)
    return 0;
  unsigned host = 0;
  long pid = 0;
  unsigned random = 0;
  int consumed = 0;
  if (std::sscanf(name + prefix, "%8x-%ld-%6x%n", &host, &pid, &random, &consumed) != 3) return 0;
  if (host != HostTag() || pid <= 0 || prefix + static_cast<size_t>(consumed) + 4 != length)
    return 0;
  return static_cast<pid_t>(pid);
}

// True the first time this process asks about `folder`.
bool FirstLook(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  std::lock_guard<std::mutex> lock(mutex);
  return swept.insert(folder).second;
}

int SweepFolder(int dirFd, const std::string& folder) {
  if (!FirstLook(folder)) return 0;
  const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return 0;
  DIR* dir = ::fdopendir(listFd);
  if (!dir) {
    ::close(listFd);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t writer = WriterOf(entry->d_name);
    if (writer == 0 || writer == ::getpid()) continue;
    if (::kill(writer, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to tell
    if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

std::string SystemSays(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

extern "C" void RemoveAndStop(int signal) {
  const int saved = errno;
  RemovePendingTemporaries();
  errno = saved;
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

TargetInfo InspectTarget(const std::string& path) {
  TargetInfo info;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return info;
    info.kind = TargetKind::kUnreachable;
    info.reason = std::strerror(errno);
    return info;
  }
  if (S_ISREG(st.st_mode)) {
    info.kind = TargetKind::kPlainFile;
    info.mode = st.st_mode & 07777;
    return info;
  }
  info.kind = TargetKind::kNotReplaceable;
  if (S_ISDIR(st.st_mode))
    info.reason = "is a folder";
  else if (S_ISLNK(st.st_mode))
    info.reason = "is a symbolic link (name the file it points to instead)";
  else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    info.reason = "is a device";
  else if (S_ISFIFO(st.st_mode))
    info.reason = "is a FIFO";
  else
    info.reason = "is a socket or another special file";
  return info;
}

Status CAtomicFile::Fail(int error, std::string reason) {
  error_ = error;
  reason_ = std::move(reason);
  Abandon();
  return error == EEXIST ? kErrBadArgument : kErrOpen;
}

Status CAtomicFile::Create(const std::string& target, bool replace) {
  Abandon();
  error_ = 0;
  reason_.clear();
  target_ = target;
  replace_ = replace;
  if (target.empty()) return Fail(EINVAL, "no file name given");
  const size_t slash = target.find_last_of('/');
  folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  name_ = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..") return Fail(EISDIR, "is a folder");

  const TargetInfo info = InspectTarget(target);
  if (info.kind == TargetKind::kNotReplaceable) return Fail(EISDIR, info.reason + "; not replaced");
  if (info.kind == TargetKind::kPlainFile && !replace)
    return Fail(EEXIST, "exists already; pass --force to replace it");

  dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0)
    return Fail(errno, SystemSays("the folder " + folder_ + " cannot be opened", errno));
  if (info.kind == TargetKind::kUnreachable) return Fail(EACCES, info.reason);
  SweepFolder(dirFd_, folder_);

  for (unsigned attempt = 0; attempt < 64; ++attempt) {
    tempName_ = TempName(attempt);
    tempPath_ = (folder_ == "/" ? "" : folder_) + "/" + tempName_;
    slot_ = ReserveSlot(tempPath_);
    // The mode asked for passes through the file-creation mask as a new file's would.
    fd_ = ::openat(dirFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    const int error = errno;
    ReleaseSlot(slot_);
    slot_ = -1;
    if (error != EEXIST) {
      tempName_.clear();
      return Fail(error, SystemSays("cannot create a file in " + folder_, error));
    }
  }
  if (fd_ < 0) {
    tempName_.clear();
    return Fail(EEXIST, "cannot find a free temporary name in " + folder_);
  }
  written_ = 0;
  writeBehind_.Start(fd_);
  if (info.kind == TargetKind::kPlainFile && ::fchmod(fd_, info.mode) != 0)
    return Fail(errno, SystemSays("cannot set the permissions", errno));
  return kOk;
}

Status CAtomicFile::Write(const void* bytes, size_t count) {
  if (fd_ < 0) return kErrStream;
  const auto* data = static_cast<const char*>(bytes);
  for (size_t done = 0; done < count;) {
    // In steps of the write-back, so that the disk starts on the first while the next is copied.
    const size_t step = static_cast<size_t>(std::min<uint64_t>(count - done, CWriteBehind::kStep));
    const ssize_t n = ::write(fd_, data + done, step);
    if (n < 0 && errno == EINTR) continue;
    int error = n < 0 ? errno : n == 0 ? EIO : 0;
    if (error == 0) {
      done += static_cast<size_t>(n);
      written_ += static_cast<uint64_t>(n);
      error = writeBehind_.Wrote(written_);
    }
    if (error != 0) {
      Fail(error, SystemSays("write failed", error)).Ignore();
      return kErrStream;
    }
  }
  return kOk;
}

Status CAtomicFile::Commit() {
  if (fd_ < 0) return kErrBadArgument;
  if (const int error = writeBehind_.Finish()) {
    Fail(error, SystemSays("write failed", error)).Ignore();
    return kErrStream;
  }
  if (::fsync(fd_) != 0) {
    Fail(errno, SystemSays("write failed", errno)).Ignore();
    return kErrStream;
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    Fail(errno, SystemSays("write failed", errno)).Ignore();
    return kErrStream;
  }
  if (replace_) {
    // Something other than a plain file may have taken the name while writing.
    const TargetInfo info = InspectTarget(target_);
    if (info.kind == TargetKind::kNotReplaceable)
      return Fail(EISDIR, info.reason + "; not replaced");
    if (::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0)
      return Fail(errno, SystemSays("cannot be named", errno));
  } else if (::renameat2(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EINVAL || errno == ENOSYS) {
      // A file system without the no-replace rename: a hard link cannot replace either.
      if (::linkat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), 0) != 0)
        return Fail(errno,
                    errno == EEXIST
                        ? "exists already (it appeared while writing); pass --force to replace it"
                        : SystemSays("cannot be named", errno));
      ::unlinkat(dirFd_, tempName_.c_str(), 0);
    } else {
      return Fail(errno,
                  errno == EEXIST
                      ? "exists already (it appeared while writing); pass --force to replace it"
                      : SystemSays("cannot be named", errno));
    }
  }
  tempName_.clear();
  ReleaseSlot(std::exchange(slot_, -1));
  // The new name lasts only once the folder is on the disk too; some file systems cannot tell.
  if (::fsync(dirFd_) != 0 && errno != EINVAL && errno != EROFS) {
    const int error = errno;
    ::close(std::exchange(dirFd_, -1));
    error_ = error;
    reason_ = SystemSays("the folder could not be flushed", error);
    return kErrStream;
  }
  ::close(std::exchange(dirFd_, -1));
  return kOk;
}

void CAtomicFile::Abandon() {
  writeBehind_.Finish();  // its error is the failure that led here, or no longer matters
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!tempName_.empty() && dirFd_ >= 0) ::unlinkat(dirFd_, tempName_.c_str(), 0);
  tempName_.clear();
  ReleaseSlot(std::exchange(slot_, -1));
  if (dirFd_ >= 0) ::close(std::exchange(dirFd_, -1));
}

void RemovePendingTemporaries() {
  for (auto& slot : g_slots)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

void RemoveTemporariesOnSignals() {
  struct sigaction action {};
  action.sa_handler = RemoveAndStop;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int SweepStaleTemporaries(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A folder that is not there yet holds nothing stale; it need not be looked at later either.
    FirstLook(folder);
    return 0;
  }
  const int removed = SweepFolder(fd, folder);
  ::close(fd);
  return removed;
}

}  // namespace KX
