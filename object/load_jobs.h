#pragma once
// Work that a class's Load hands off to run beside the rest of the load: checking or decoding
// embedded pictures, which costs far more than reading everything else. A job's failure fails the load
// exactly as if the Load that queued it had failed with it where it stood: the same status,
// offset, record and class, the same warnings and roots so far; jobs queued later and records
// read after it do not count. The loader waits for every job before it links.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/status.h"

namespace KX {

class CPersistContext;

class CLoadJobs {
 public:
  // Starts a thread running `work`; throws what starting a std::thread throws (std::system_error
  // when the system has no thread to spare, std::bad_alloc). Tests hand in one that fails.
  using StartWorker = std::thread (*)(std::function<void()> work);
  static std::thread StartThread(std::function<void()> work) { return std::thread(std::move(work)); }

  // Workers beside the loading thread; 0 runs every job on the loading thread when it waits.
  explicit CLoadJobs(CPersistContext& context, unsigned workers = DefaultWorkers(),
                     StartWorker startWorker = &StartThread);
  // Waits for the jobs still running; their outcome is dropped.
  ~CLoadJobs();
  CLoadJobs(const CLoadJobs&) = delete;
  CLoadJobs& operator=(const CLoadJobs&) = delete;

  // Queues `job` for the record being read: kOk hands it over, and it runs exactly once, on a
  // worker or on the loading thread in Finish. kErrOutOfMemory leaves nothing queued; the
  // caller then runs the work itself. A worker that cannot be started is no failure: the jobs
  // go to the workers already running, or to the loading thread.
  Status Queue(std::function<Status()> job);
  // Runs what is left on this thread too and waits for everything. Answers kOk, or the failure
  // of the earliest failing job with the context put back as that job's Load would have left it.
  Status Finish();

  static unsigned DefaultWorkers();

 private:
  struct Job {
    std::function<Status()> work;
    Status status = kOk;
    bool done = false;
    // The load as it stood when the job was queued.
    uint64_t offset = 0;
    uint64_t recordOffset = 0;
    std::string className;
    std::string message;
    size_t warnings = 0;
    size_t warningsNotKept = 0;
    size_t roots = 0;
  };
  void Work();
  // Takes the next job to run, or null when none is waiting.
  Job* Take();
  void Run(Job& job);
  // Starts another worker when fewer run than asked for; one that cannot start lowers the count.
  void AddWorker();

  CPersistContext& context_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Job> jobs_;
  size_t next_ = 0;     // first job nobody has taken
  size_t pending_ = 0;  // jobs taken or waiting that are not done
  bool stopping_ = false;
  unsigned workerCount_ = 0;
  StartWorker startWorker_;
  std::vector<std::thread> workers_;
};

}  // namespace KX
