#pragma once
// Files that appear complete or not at all: written under a short temporary name in the target's
// folder, flushed to the disk, and only then given their name. Nothing here reads or changes the
// process-wide file-creation mask, so saves may run on any thread.
#include <sys/types.h>

#include <string>

#include "core/io_buffer.h"
#include "core/status.h"

namespace KX {

// What is at a path that is about to be written.
enum class TargetKind {
  kAbsent,          // nothing: the file is new
  kPlainFile,       // a regular file, which may be replaced when the caller allows it
  kNotReplaceable,  // a folder, a symbolic link, a device, a FIFO or a socket: never replaced
  kUnreachable,     // the system cannot tell (no permission on the folder, a file used as folder)
};

struct TargetInfo {
  TargetKind kind = TargetKind::kAbsent;
  mode_t mode = 0;     // permission bits of an existing plain file
  std::string reason;  // for kNotReplaceable and kUnreachable: "is a folder", or the system's words
};

TargetInfo InspectTarget(const std::string& path);

class CAtomicFile {
 public:
  CAtomicFile() = default;
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;
  // A file neither committed nor abandoned is abandoned: its temporary name is removed.
  ~CAtomicFile() { Abandon(); }

  // Checks `target` and creates the temporary file beside it. With `replace`, an existing plain
  // file may be replaced (the new file takes its permissions); without it, or when the target is
  // anything but a plain file, the target is refused (error() is EEXIST for a plain file).
  // Stale temporaries of writers that are gone are removed from the folder first.
  Status Create(const std::string& target, bool replace);
  // The temporary file, open for writing.
  int fd() const { return fd_; }
  const std::string& temporaryPath() const { return tempPath_; }

  // Writes all of `bytes`, retrying short writes; the disk starts on them as they go.
  Status Write(const void* bytes, size_t count);
  // Flushes the file to the disk, gives it the target's name (never over a file that appeared
  // meanwhile unless replacing was allowed) and flushes the folder.
  Status Commit();
  // Closes and removes the temporary file, when there is one.
  void Abandon();

  // The errno of the last failure (0 when none) and what went wrong, in the system's words.
  int error() const { return error_; }
  const std::string& reason() const { return reason_; }

 private:
  Status Fail(int error, std::string reason);

  std::string target_, folder_, name_, tempName_, tempPath_;
  int dirFd_ = -1;
  int fd_ = -1;
  int slot_ = -1;
  uint64_t written_ = 0;  // bytes given to the temporary file
  CWriteBehind writeBehind_;
  bool replace_ = false;
  int error_ = 0;
  std::string reason_;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every temporary file of this
// process not yet committed, then end the process by the same signal as before.
void RemoveTemporariesOnSignals();
// Removes every temporary file of this process not yet committed. Safe in a signal handler.
void RemovePendingTemporaries();

// Removes the temporaries that writers of this host left in `folder` when they are gone (the
// process that wrote them no longer runs). Each folder (by the path given) is looked at once per
// process, a folder that does not exist yet included; answers
// how many were removed.
int SweepStaleTemporaries(const std::string& folder);

}  // namespace KX
