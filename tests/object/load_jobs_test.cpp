#include "object/load_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "object/container.h"

namespace KX {
namespace {

// Workers that start until the `startsLeft`-th, then fail the way std::thread may.
std::atomic<int> startsLeft{0};
std::atomic<bool> failWithBadAlloc{false};

std::thread StartUntilExhausted(std::function<void()> work) {
  if (startsLeft.fetch_sub(1) <= 0) {
    if (failWithBadAlloc) throw std::bad_alloc();
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  return std::thread(std::move(work));
}

// However many workers start, a queued job runs exactly once and a refused one not at all: the
// caller, which runs what Queue refused itself, never runs a job a worker or the loading thread
// also runs.
TEST(LoadJobs, AWorkerThatCannotStartLeavesEveryJobRunOnce) {
  struct Case {
    unsigned workers;
    int starts;  // workers that start before the first fails
    bool badAlloc;
  };
  for (const Case c : {Case{3, 0, false}, Case{3, 0, true}, Case{3, 1, true}, Case{4, 2, false},
                       Case{1, 0, true}}) {
    startsLeft = c.starts;
    failWithBadAlloc = c.badAlloc;
    CPersistContext context;
    CLoadJobs jobs(context, c.workers, &StartUntilExhausted);
    constexpr int kJobs = 40;
    std::vector<std::atomic<int>> runs(kJobs);
    for (int i = 0; i < kJobs; ++i) {
      auto job = [&runs, i] {
        runs[i].fetch_add(1);
        return kOk;
      };
      if (Failed(jobs.Queue(job))) job().Ignore();  // what every caller of Queue does
    }
    EXPECT_EQ(jobs.Finish(), kOk);
    for (int i = 0; i < kJobs; ++i)
      EXPECT_EQ(runs[i].load(), 1) << "job " << i << ", " << c.workers << " workers, " << c.starts
                                   << " started" << (c.badAlloc ? ", out of memory" : "");
  }
}

// A failing job's outcome survives the workers it could not have: the loading thread runs it
// and reports it as the load's failure.
TEST(LoadJobs, JobsLeftToTheLoadingThreadStillFailTheLoad) {
  startsLeft = 0;
  failWithBadAlloc = true;
  CPersistContext context;
  CLoadJobs jobs(context, 2, &StartUntilExhausted);
  const std::thread::id loading = std::this_thread::get_id();
  std::thread::id ranOn;
  ASSERT_EQ(jobs.Queue([&] {
    ranOn = std::this_thread::get_id();
    return kErrMalformed;
  }),
            kOk);
  EXPECT_EQ(jobs.Finish(), kErrMalformed);
  EXPECT_EQ(ranOn, loading);
  EXPECT_EQ(context.diagnostics.status, kErrMalformed);
}

}  // namespace
}  // namespace KX
