#pragma once
// Work that a class's Load hands off to run beside the rest of the load: checking or decoding
// embedded pictures, which costs far more than reading everything else, and reading the blocks
// of large arrays (core/block_reads.h). A job's failure fails the load exactly as if the Load
// that queued it had failed with it where it stood: the same status, offset, record and class,
// the same warnings and roots so far; jobs queued later and records read after it do not count.
// The loader waits for every job before it links.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "core/executor.h"
#include "core/status.h"

namespace KX {

class CPersistContext;

class CLoadJobs {
 public:
  // Workers beside the loading thread; 0 runs every job on the loading thread when it waits.
  // Tests start the workers through `startThread`.
  explicit CLoadJobs(CPersistContext& context, unsigned workers = DefaultWorkers(),
                     CExecutor::StartThread startThread = &CExecutor::StartStdThread);
  // Waits for the jobs still running; their outcome is dropped, and jobs not started are too.
  ~CLoadJobs() = default;
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
    Status status = kOk;  // set by whoever runs the job; read once every job has run
    // The load as it stood when the job was queued.
    uint64_t offset = 0;
    uint64_t recordOffset = 0;
    std::string className;
    std::string message;
    size_t warnings = 0;
    size_t warningsNotKept = 0;
    size_t roots = 0;
  };
  static void Run(Job& job);

  CPersistContext& context_;
  // The loading thread's; a job's runner reaches its own through the pointer it was handed (a
  // deque keeps its elements in place as it grows).
  std::deque<Job> jobs_;
  // Declared after the jobs, so that it ends, waiting for the jobs that run, before they go.
  CExecutor workers_;
};

}  // namespace KX
