#include "object/id_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <map>

#include "object/container.h"
#include "object/load_jobs.h"
#include "object/persist.h"

namespace KX {
namespace {

// Dense ids, ids out of order, and the ids hostile files carry: zero, negative, far beyond the
// records. The table answers what an ordered map would, with the first record of an id kept.
TEST(IdTable, AnswersWhatAnOrderedMapWould) {
  // An id far ahead of the records read, which the array reaches later, and then comes again.
  std::vector<int32_t> overtaken = {5000};
  for (int32_t id = 1; id <= 6000; ++id) overtaken.push_back(id);
  const std::vector<std::vector<int32_t>> sequences = {
      {1, 2, 3, 4, 5},
      {5, 3, 1, 4, 2, 3, 5},
      {0, -1, INT32_MIN, INT32_MAX, 7, 2000000000, 1, 0},
      {3000, 2, 1, 70000, 4096, 2},
      overtaken,
  };
  for (const auto& ids : sequences) {
    std::deque<CLoadRecord> records(ids.size());
    CIdTable table;
    std::map<int32_t, CLoadRecord*> expected;
    for (size_t i = 0; i < ids.size(); ++i) {
      const bool fresh = expected.emplace(ids[i], &records[i]).second;
      EXPECT_EQ(table.Insert(ids[i], &records[i]), fresh) << ids[i];
    }
    EXPECT_EQ(table.size(), expected.size());
    for (const auto& [id, record] : expected) EXPECT_EQ(table.Find(id), record) << id;
    EXPECT_EQ(table.Find(6), expected.contains(6) ? expected[6] : nullptr);
    std::vector<std::pair<int32_t, CLoadRecord*>> ordered(expected.begin(), expected.end());
    EXPECT_EQ(table.InOrder(), ordered);
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.Find(ids[0]), nullptr);
  }
}

// Jobs run on workers or, without any, on the loading thread when it waits; the earliest
// failure in queue order wins and puts the load back as it stood when that job was queued.
TEST(LoadJobs, TheEarliestFailureWinsWithTheLoadAsItStood) {
  for (unsigned workers : {0u, 1u, 3u}) {
    CPersistContext context;
    CLoadJobs jobs(context, workers);
    auto queue = [&](Status status, const char* className, uint64_t recordOffset) {
      context.diagnostics.className = className;
      context.diagnostics.recordOffset = recordOffset;
      context.Warn(className, recordOffset, "noticed something");
      ASSERT_EQ(jobs.Queue([status] { return status; }), kOk);
    };
    queue(kOk, "A", 10);
    queue(kErrOpen, "B", 20);
    queue(kErrOutOfMemory, "C", 30);
    queue(kOk, "D", 40);
    EXPECT_EQ(jobs.Finish(), kErrOpen) << workers;
    const CLoadDiagnostics& d = context.diagnostics;
    EXPECT_EQ(d.status, kErrOpen);
    EXPECT_EQ(d.className, "B");
    EXPECT_EQ(d.recordOffset, 20u);
    EXPECT_EQ(d.warnings, (std::vector<CLoadWarning>{{"A", 10, "noticed something"},
                                                     {"B", 20, "noticed something"}}));

    // Finished, the queue starts empty again.
    queue(kOk, "E", 50);
    EXPECT_EQ(jobs.Finish(), kOk) << workers;
  }
}

}  // namespace
}  // namespace KX
