#include "core/executor.h"

#include <exception>
#include <new>

namespace KX {

CExecutor::CExecutor(unsigned threads, StartThread startThread)
    : startThread_(startThread), wanted_(threads) {}

CExecutor::~CExecutor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

Status CExecutor::Post(std::function<void()> job) {
  try {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(job));  // nothing is queued when it throws
    ++pending_;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  // The job is queued from here on: whatever happens now, it runs once, and not by the caller.
  AddThread();
  wake_.notify_one();
  return kOk;
}

unsigned CExecutor::Start() {
  while (threads_.size() < wanted_) AddThread();
  return Threads();
}

unsigned CExecutor::Threads() const {
  return static_cast<unsigned>(threads_.size());
}

void CExecutor::AddThread() {
  if (threads_.size() >= wanted_) return;
  try {
    threads_.reserve(wanted_);
    threads_.push_back(startThread_([this] { Work(); }));
  } catch (const std::exception&) {
    // No thread or no memory to spare (std::system_error, std::bad_alloc): the threads that run
    // take the jobs, and the owner does what is left when it waits.
    wanted_ = Threads();
  }
}

void CExecutor::Run(std::function<void()>& job) {
  job();
  job = nullptr;  // lets go of what the job held as soon as it is done
  std::lock_guard lock(mutex_);
  if (--pending_ == 0) done_.notify_all();
}

void CExecutor::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    std::function<void()> job = std::move(queued_.front());
    queued_.pop_front();
    lock.unlock();
    Run(job);
    lock.lock();
  }
}

void CExecutor::Help() {
  std::unique_lock lock(mutex_);
  while (!queued_.empty()) {
    std::function<void()> job = std::move(queued_.front());
    queued_.pop_front();
    lock.unlock();
    Run(job);
    lock.lock();
  }
  done_.wait(lock, [&] { return pending_ == 0; });
}

void CExecutor::Wait() {
  // Without a thread nothing runs beside the owner: its jobs wait for it, in order.
  if (threads_.empty()) return Help();
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return pending_ == 0; });
}

}  // namespace KX
