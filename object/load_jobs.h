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
  // Workers beside the loading thread; 0 runs every job on the loading thread when it waits.
  explicit CLoadJobs(CPersistContext& context, unsigned workers = DefaultWorkers());
  // Waits for the jobs still running; their outcome is dropped.
  ~CLoadJobs();
  CLoadJobs(const CLoadJobs&) = delete;
  CLoadJobs& operator=(const CLoadJobs&) = delete;

  // Queues `job` for the record being read. Answers kErrOutOfMemory when it could not be queued;
  // the caller then runs the work itself.
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

  CPersistContext& context_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Job> jobs_;
  size_t next_ = 0;     // first job nobody has taken
  size_t pending_ = 0;  // jobs taken or waiting that are not done
  bool stopping_ = false;
  unsigned workerCount_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace KX
