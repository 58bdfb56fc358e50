#include "core/block_reads.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/bulk_memory.h"
#include "core/pending_memory.h"

namespace KX {

namespace {

// The reads of the process, linked through their own fields: registering one never allocates.
struct Registry {
  std::mutex mutex;
  std::condition_variable done;
  CBlockRead* first = nullptr;
};

Registry& Reads() {
  static Registry* registry = new Registry;  // blocks may be freed during static destruction
  return *registry;
}

}  // namespace

ssize_t CBlockRead::ReadFileAt(int fd, void* dest, size_t bytes, uint64_t offset) noexcept {
#ifdef KX_ADDRESS_SANITIZER
  // The block stays poisoned until the read has landed, and the sanitizer's pread would take
  // the system's write into it for a look at it: the call goes around it.
  return static_cast<ssize_t>(::syscall(SYS_pread64, fd, dest, bytes, static_cast<off_t>(offset)));
#else
  return ::pread(fd, dest, bytes, static_cast<off_t>(offset));
#endif
}

CBlockRead::CBlockRead(int fd, uint64_t offset, void* dest, size_t bytes, ReadAt readAt) noexcept
    : fd_(fd), offset_(offset), dest_(static_cast<char*>(dest)), bytes_(bytes), readAt_(readAt) {
  MarkPending(dest_, bytes_);
  Registry& reads = Reads();
  std::lock_guard lock(reads.mutex);
  next_ = reads.first;
  if (next_) next_->previous_ = this;
  reads.first = this;
  pending_.fetch_add(1, std::memory_order_release);
}

CBlockRead::~CBlockRead() {
  Registry& reads = Reads();
  std::lock_guard lock(reads.mutex);
  if (previous_)
    previous_->next_ = next_;
  else
    reads.first = next_;
  if (next_) next_->previous_ = previous_;
  pending_.fetch_sub(1, std::memory_order_release);
}

Status CBlockRead::Run() noexcept {
  Registry& reads = Reads();
  {
    std::lock_guard lock(reads.mutex);
    if (state_ != State::kWaiting) return kOk;
    state_ = State::kRunning;
  }
  // The block's pages were left to this read (CPagesLeftToFiller): asked for here, on this
  // thread, in one call.
  PrefaultPages(dest_, bytes_);
  Status status = kOk;
  char* out = dest_;
  size_t left = bytes_;
  uint64_t at = offset_;
  while (left > 0) {
    const ssize_t got = readAt_(fd_, out, left, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      status = kErrStream;  // a read that failed, or a file cut short since the load measured it
      break;
    }
    out += got;
    left -= static_cast<size_t>(got);
    at += static_cast<uint64_t>(got);
  }
  MarkFilled(dest_, bytes_);
  if (left > 0) std::memset(out, 0, left);
  {
    std::lock_guard lock(reads.mutex);
    state_ = State::kDone;
  }
  reads.done.notify_all();
  return status;
}

void CBlockRead::SettleSlow(const void* block, size_t bytes) noexcept {
  const auto* start = static_cast<const char*>(block);
  const char* end = start + bytes;
  Registry& reads = Reads();
  std::unique_lock lock(reads.mutex);
  for (;;) {
    bool running = false;
    for (CBlockRead* read = reads.first; read; read = read->next_) {
      if (read->dest_ >= end || read->dest_ + read->bytes_ <= start) continue;
      if (read->state_ == State::kWaiting) read->state_ = State::kDone;
      running = running || read->state_ == State::kRunning;
    }
    if (!running) return;
    // A running read ends on its own: it waits for the file, never for this thread.
    reads.done.wait(lock);
  }
}

}  // namespace KX
