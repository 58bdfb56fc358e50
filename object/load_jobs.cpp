#include "object/load_jobs.h"

#include <algorithm>
#include <new>
#include <thread>

#include "object/container.h"

namespace KX {

unsigned CLoadJobs::DefaultWorkers() {
  // The loading thread works too once it has read everything; a few workers beside it cover
  // the machines the converter runs on without crowding them.
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

CLoadJobs::CLoadJobs(CPersistContext& context, unsigned workers,
                     CExecutor::StartThread startThread)
    : context_(context), workers_(workers, startThread) {}

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
    jobs_.push_back(std::move(job));
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  Job* const job = &jobs_.back();
  if (Succeeded(workers_.Post([job] { Run(*job); }))) return kOk;
  jobs_.pop_back();  // not handed over: the caller runs it
  return kErrOutOfMemory;
}

void CLoadJobs::Run(Job& job) {
  try {
    job.status = job.work();
  } catch (const std::bad_alloc&) {
    job.status = kErrOutOfMemory;
  }
  job.work = nullptr;  // lets go of what the job held (the encoded bytes) as soon as it is done
}

Status CLoadJobs::Finish() {
  workers_.Help();
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
  return status;
}

}  // namespace KX
