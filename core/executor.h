#pragma once
// Threads that run work beside their owner. Everything the library runs beside the caller runs on
// one of these: the load's jobs (pictures checked or decoded, the blocks of large arrays read
// aside, object/load_jobs.h) and a file's write queue and its write-back (core/io_buffer.h).
//
// An executor belongs to one owner, which hands it jobs, waits for them and ends it. A job handed
// over runs exactly once; one that cannot be handed over is not queued at all, and the owner does
// the work itself. Jobs start in the order they are handed over: with one thread they also end in
// that order.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/status.h"

namespace KX {

class CExecutor {
 public:
  // Starts a thread running `work`; throws what starting a std::thread throws (std::system_error
  // when the system has no thread to spare, std::bad_alloc). Tests hand in one that fails.
  using StartThread = std::thread (*)(std::function<void()> work);
  static std::thread StartStdThread(std::function<void()> work) {
    return std::thread(std::move(work));
  }

  // At most `threads` threads, started as the first jobs come (or by Start): an owner that never
  // hands over a job never pays for one.
  explicit CExecutor(unsigned threads, StartThread startThread = &StartStdThread);
  // Drops the jobs no thread has started, waits for those that run and ends the threads. An owner
  // that needs its jobs done waits for them first.
  ~CExecutor();
  CExecutor(const CExecutor&) = delete;
  CExecutor& operator=(const CExecutor&) = delete;

  // kOk: `job` is handed over and runs exactly once, on a thread of the executor, or on the
  // owner's in Help; it must not throw. kErrOutOfMemory: nothing is queued. A thread that cannot be started is no
  // failure: the threads that run take the job, and without any it waits for Help.
  Status Post(std::function<void()> job);
  // Starts every thread now; answers how many run (0: none could be started).
  unsigned Start();
  // Threads running now.
  unsigned Threads() const;

  // Runs the jobs no thread has taken on the calling thread, then waits for those that run.
  void Help();
  // Waits until every job handed over has run, running none here: what the owner's thread must
  // not run, or not out of order.
  void Wait();

 private:
  void AddThread();
  void Work();
  // Runs `job`, then counts it done.
  void Run(std::function<void()>& job);

  const StartThread startThread_;
  unsigned wanted_;  // the owner's
  std::vector<std::thread> threads_;  // the owner's
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  // Under mutex_:
  std::deque<std::function<void()>> queued_;
  size_t pending_ = 0;  // jobs queued or running
  bool stopping_ = false;
};

}  // namespace KX
