#include "object/load_jobs.h"

#include <algorithm>
#include <new>
#include <exception>

#include "object/container.h"

namespace KX {

unsigned CLoadJobs::DefaultWorkers() {
  // The loading thread works too once it has read everything; a few workers beside it cover
  // the machines the converter runs on without crowding them.
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

CLoadJobs::CLoadJobs(CPersistContext& context, unsigned workers, StartWorker startWorker)
    : context_(context), workerCount_(workers), startWorker_(startWorker) {}

CLoadJobs::~CLoadJobs() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& worker : workers_) worker.join();
}

Status CLoadJobs::Queue(std::function<Status()> work) {
  const CLoadDiagnostics& d = context_.diagnostics;
  try {
    Job job;
    job.work = std::move(work);
    job.offset = context_.stream ? context_.stream->Tell() : 0;
    job.recordOffset = d.recordOffset;
    job.className = d.className;
    job.message = d.message;
    job.warnings = d.warnings.size();
    job.warningsNotKept = d.warningsNotKept;
    job.roots = context_.roots.size();
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));  // nothing is queued when it throws
    ++pending_;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  // The job is queued from here on: whatever happens now, it runs once, and not by the caller.
  AddWorker();
  wake_.notify_one();
  return kOk;
}

void CLoadJobs::AddWorker() {
  // Workers start with the first jobs: a file without pictures never pays for them.
  if (workers_.size() >= workerCount_) return;
  try {
    workers_.reserve(workerCount_);
    workers_.push_back(startWorker_([this] { Work(); }));
  } catch (const std::exception&) {
    // No thread or no memory to spare (std::system_error, std::bad_alloc): the workers that
    // run take the jobs, and the loading thread does what is left when it waits.
    if (workers_.size() < workerCount_) workerCount_ = static_cast<unsigned>(workers_.size());
  }
}

CLoadJobs::Job* CLoadJobs::Take() {
  if (next_ >= jobs_.size()) return nullptr;
  return &jobs_[next_++];  // a deque keeps its elements in place as it grows
}

void CLoadJobs::Run(Job& job) {
  Status status;
  try {
    status = job.work();
  } catch (const std::bad_alloc&) {
    status = kErrOutOfMemory;
  }
  job.work = nullptr;  // lets go of what the job held (the encoded bytes) as soon as it is done
  std::lock_guard<std::mutex> lock(mutex_);
  job.status = status;
  job.done = true;
  if (--pending_ == 0) finished_.notify_all();
}

void CLoadJobs::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || next_ < jobs_.size(); });
    if (stopping_) return;
    Job* job = Take();
    lock.unlock();
    Run(*job);
    lock.lock();
  }
}

Status CLoadJobs::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (Job* job = Take()) {
    lock.unlock();
    Run(*job);
    lock.lock();
  }
  finished_.wait(lock, [&] { return pending_ == 0; });
  Status status = kOk;
  for (const Job& job : jobs_) {
    if (Succeeded(job.status)) continue;
    CLoadDiagnostics& d = context_.diagnostics;
    d.status = status = job.status;
    d.offset = job.offset;
    d.recordOffset = job.recordOffset;
    d.className = job.className;
    d.message = job.message;
    d.warnings.resize(std::min(d.warnings.size(), job.warnings));
    d.warningsNotKept = std::min(d.warningsNotKept, job.warningsNotKept);
    context_.roots.resize(std::min(context_.roots.size(), job.roots));
    break;
  }
  jobs_.clear();
  next_ = 0;
  return status;
}

}  // namespace KX
