#include "core/executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace KX {
namespace {

std::thread NoThreadToSpare(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// Every job handed over runs once: on the threads, on the owner's in Help, or, with no thread
// at all, on the owner's when it waits. One thread alone, or the owner alone, runs them in the
// order given.
TEST(Executor, EveryJobRunsOnceAndOneThreadKeepsTheOrder) {
  struct Case {
    unsigned threads;
    bool threadsStart;
    bool help;  // Help, else Wait
  };
  for (const Case c : {Case{3, true, true}, Case{1, true, false}, Case{1, true, true},
                       Case{2, false, false}, Case{0, true, true}}) {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> ranOn;
    {
      CExecutor executor(c.threads, c.threadsStart ? &CExecutor::StartStdThread : &NoThreadToSpare);
      for (int i = 0; i < 50; ++i)
        ASSERT_EQ(executor.Post([&, i] {
          std::lock_guard lock(mutex);
          order.push_back(i);
          ranOn.push_back(std::this_thread::get_id());
        }),
                  kOk);
      EXPECT_EQ(executor.Threads(), c.threadsStart ? c.threads : 0u);
      c.help ? executor.Help() : executor.Wait();
      std::lock_guard lock(mutex);
      ASSERT_EQ(order.size(), 50u) << c.threads;
      std::vector<int> sorted = order;
      std::sort(sorted.begin(), sorted.end());
      for (int i = 0; i < 50; ++i) EXPECT_EQ(sorted[i], i);
      // In order when one runs them all: the one thread (the owner helps none), or the owner.
      if ((c.threads == 1 && !c.help) || executor.Threads() == 0) {
        EXPECT_EQ(order, sorted) << c.threads;
      }
      // Waiting runs nothing on the owner's thread while a thread of the executor runs.
      if (!c.help && executor.Threads() > 0) {
        for (std::thread::id id : ranOn) EXPECT_NE(id, std::this_thread::get_id());
      }
    }
  }
}

// Ending the executor waits for the job that runs (what it holds goes with the owner); those not
// started are the owner's to wait for beforehand.
TEST(Executor, EndingWaitsForTheJobThatRuns) {
  std::atomic<bool> started{false}, finished{false};
  std::atomic<int> laterRuns{0};
  {
    CExecutor executor(1);
    ASSERT_EQ(executor.Post([&] {
      started = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      finished = true;
    }),
              kOk);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(executor.Post([&] { ++laterRuns; }), kOk);
    while (!started) std::this_thread::yield();
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace KX
