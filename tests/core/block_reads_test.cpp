#include "core/block_reads.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <string>
#include <vector>

#include "core/bulk_memory.h"
#include "scene/buffer.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

class BlockReads : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes(kFileBytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    fd = ::open(dir.File("bytes", bytes).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { ::close(fd); }

  static constexpr size_t kFileBytes = 300000;
  test::TempDir dir;
  int fd = -1;
};

TEST_F(BlockReads, ReadTheFileWhereTheySayAndLeaveZerosWhereItEnds) {
  std::vector<uint8_t> block(1000, 0xAA);
  CBlockRead inside(fd, 1000, block.data(), 600);
  EXPECT_EQ(inside.Run(), kOk);
  for (size_t i = 0; i < 600; ++i) ASSERT_EQ(block[i], (1000 + i) % 251) << i;
  EXPECT_EQ(block[600], 0xAA);
  // Run once: a second call reads nothing.
  std::fill(block.begin(), block.end(), 0xAA);
  EXPECT_EQ(inside.Run(), kOk);
  EXPECT_EQ(block[0], 0xAA);

  CBlockRead pastTheEnd(fd, kFileBytes - 10, block.data(), 30);
  EXPECT_EQ(pastTheEnd.Run(), kErrStream);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(block[i], (kFileBytes - 10 + i) % 251);
  EXPECT_TRUE(std::all_of(block.begin() + 10, block.begin() + 30, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(block[30], 0xAA);
}

// A bulk array freed before the read into it ran (a load that failed, an object dropped) does
// not get it afterwards; the reads into other blocks still run. The reads here would fail if they
// ran: the file ends before them.
TEST_F(BlockReads, FreeingABlockDropsTheReadsIntoItThatHaveNotStarted) {
  const size_t n = CBulkArena::kMinimumBytes;  // elements of 4 bytes
  CIndexBuffer freed, kept;
  ASSERT_EQ(freed.Resize(static_cast<int64_t>(n)), kOk);
  ASSERT_EQ(kept.Resize(static_cast<int64_t>(n)), kOk);
  CBlockRead intoFreedStart(fd, kFileBytes, freed.data(), 16);
  CBlockRead intoFreedMiddle(fd, kFileBytes, freed.data() + n / 2, 4 * (n / 2));
  CBlockRead intoKept(fd, kFileBytes, kept.data(), 16);
  freed.Free();
  EXPECT_EQ(intoFreedStart.Run(), kOk);
  EXPECT_EQ(intoFreedMiddle.Run(), kOk);
  EXPECT_EQ(intoKept.Run(), kErrStream);
}

// A slow disk: the read tells that it has started, and takes its time before it reads.
std::atomic<bool> readStarted{false};
std::atomic<bool> readLanded{false};

ssize_t SlowRead(int fd, void* dest, size_t bytes, uint64_t offset) {
  readStarted = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const ssize_t got = CBlockRead::ReadFileAt(fd, dest, bytes, offset);
  readLanded = true;
  return got;
}

// A block freed while the read into it runs goes only once the read has landed: the read never
// writes into memory that may serve something else by then.
TEST_F(BlockReads, FreeingABlockWaitsForTheReadIntoItThatRuns) {
  const size_t n = CBulkArena::kMinimumBytes;  // elements of 4 bytes
  CIndexBuffer block;
  ASSERT_EQ(block.Resize(static_cast<int64_t>(n)), kOk);
  CBlockRead read(fd, 0, block.data(), 4 * n, &SlowRead);
  std::thread reader([&] { EXPECT_EQ(read.Run(), kOk); });
  while (!readStarted) std::this_thread::yield();
  block.Free();
  EXPECT_TRUE(readLanded);
  reader.join();
}

}  // namespace
}  // namespace KX
