#include "object/load_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/pending_memory.h"
#include "object/container.h"
#include "object/persist.h"
#include "support/temp_dir.h"

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

// A file of a count and that many floats 0, 1, 2, ...: more than the file stream's buffer takes
// in at once, so that a large array read from it during a load is partly left to its jobs.
class ReadsAside : public ::testing::Test {
 protected:
  static constexpr int32_t kCount = 600'000;

  void SetUp() override {
    std::vector<float> values(kCount);
    for (int32_t i = 0; i < kCount; ++i) values[i] = static_cast<float>(i);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&kCount), sizeof kCount);
    out.write(reinterpret_cast<const char*>(values.data()), kCount * sizeof(float));
  }

  // Loads the array as a class's Load would, with jobs that run only when the load waits for
  // them, and looks at its last element in the Load when `look`: with the reader kept on reads
  // in place when `guarded`. Answers the last element as the load ends.
  float Load(bool guarded, bool look) {
    CFileIo file;
    EXPECT_EQ(file.OpenRead(path), kOk);
    CPersistContext context;
    context.stream = &file;
    CLoadJobs jobs(context, 0);
    context.jobs = &jobs;
    CReader in(file, 0, kCurrentStreamVersion, &context);
    {
      std::optional<CReadInPlace> inPlace;
      if (guarded) inPlace.emplace(in);
      in.ReadArrayAside(values, in.Get<int32_t>());
      if (look) seenInLoad = values[kCount - 1];
      // Still on its way unless read in place, and reported by the sanitizer if looked at.
      if (kPendingMemoryPoisoned) {
        EXPECT_EQ(Poisoned(&values[kCount - 1]), !guarded);
      }
    }
    EXPECT_EQ(in.status(), kOk);
    EXPECT_EQ(jobs.Finish(), kOk);
    context.jobs = nullptr;
    if (kPendingMemoryPoisoned) {
      EXPECT_FALSE(Poisoned(&values[kCount - 1]));
    }
    return values[kCount - 1];
  }

  static bool Poisoned(const float* value) {
#ifdef KX_ADDRESS_SANITIZER
    return __asan_address_is_poisoned(value) != 0;
#else
    (void)value;
    return false;
#endif
  }

  test::TempDir dir;
  std::string path = dir.Path("floats");
  CBulkArray<float> values;
  float seenInLoad = -1;
};

TEST_F(ReadsAside, ArraysArriveWhenTheLoadWaitsOrAtOnceWhenReadInPlace) {
  EXPECT_EQ(Load(false, false), kCount - 1);
  for (int32_t i = 0; i < kCount; i += 9973) ASSERT_EQ(values[i], i);
  EXPECT_EQ(Load(true, true), kCount - 1);
  EXPECT_EQ(seenInLoad, kCount - 1);
}

#ifdef KX_ADDRESS_SANITIZER
// A Load that looks at an array read aside without keeping its reader on reads in place would
// see memory that is not the file's yet: the sanitizer says so instead.
TEST_F(ReadsAside, ALoadThatLooksBeforeTheReadLandsIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(Load(false, true), "use-after-poison");
}
#endif

}  // namespace
}  // namespace KX
