#pragma once
// Reads of a file's bytes into the blocks of large arrays, run beside the load on another thread.
// A scene of big meshes is mostly their arrays; while one thread copies them out of the file,
// the loading thread goes on with the records after them, and the load waits for every read
// before anything looks at the arrays (object/load_jobs.h).
//
// Until its read has run, a block does not hold the file's bytes yet. A block freed before then
// (a load that failed, an object dropped while it was read) must not have the read land in it
// afterwards, when the memory may serve something else: freeing a block settles the reads into
// it first. One that has not started is dropped, one that is running is waited for. The
// allocator of bulk arrays does that for every block it frees (core/bulk_memory.h).
//
// Nor may anything look at a block before its read has run. The block is marked pending
// (core/pending_memory.h) from when its read is made until the read lands, on the thread that
// runs it: in builds with AddressSanitizer a look before then is a report.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/status.h"

namespace KX {

class CBlockRead {
 public:
  // Reads `bytes` of `fd` at `offset` into `dest` as pread does. Tests stand in a slow disk.
  using ReadAt = ssize_t (*)(int fd, void* dest, size_t bytes, uint64_t offset);
  static ssize_t ReadFileAt(int fd, void* dest, size_t bytes, uint64_t offset) noexcept;

  // The `bytes` of the file open as `fd` at `offset`, to land at `dest`, which is marked
  // pending until then. The file must stay open until the read has run or is dropped.
  CBlockRead(int fd, uint64_t offset, void* dest, size_t bytes,
             ReadAt readAt = &ReadFileAt) noexcept;
  ~CBlockRead();
  CBlockRead(const CBlockRead&) = delete;
  CBlockRead& operator=(const CBlockRead&) = delete;

  // Reads the bytes, unless their block was freed first (then kOk and nothing is touched). A
  // file that ends before them, or a read that fails, leaves zeros for the rest and answers
  // kErrStream. Runs once; later calls do nothing.
  Status Run() noexcept;

  // Called before [block, block + bytes) is freed: drops the reads into it that have not
  // started, waits for those that have.
  static void Settle(const void* block, size_t bytes) noexcept {
    if (pending_.load(std::memory_order_acquire) != 0) SettleSlow(block, bytes);
  }

 private:
  enum class State : uint8_t { kWaiting, kRunning, kDone };
  static void SettleSlow(const void* block, size_t bytes) noexcept;

  const int fd_;
  const uint64_t offset_;
  char* const dest_;
  const size_t bytes_;
  const ReadAt readAt_;
  // Under the registry's lock:
  State state_ = State::kWaiting;
  CBlockRead* previous_ = nullptr;
  CBlockRead* next_ = nullptr;

  // Reads registered and not yet destroyed, in every load of the process.
  static inline std::atomic<size_t> pending_{0};
};

}  // namespace KX
