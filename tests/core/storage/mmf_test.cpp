#include "core/storage/mmf.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const KX::test::PrivateTmpDir gTmp("kx_storage_test");
const std::string& gPrivateTmp = gTmp.path;

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = gPrivateTmp + "/" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
  }
  void TearDown() override { fs::remove_all(folder_); }

  size_t TempFileCount() const {
    if (!fs::exists(folder_)) return 0;
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder_))
      if (e.path().extension() == ".tmp") ++n;
    return n;
  }
  static uint32_t Slot(uint32_t handle) { return (handle & 0xFFFF) - 1; }
  static uint32_t FileIndex(uint32_t handle) { return ((handle >> 16) & 0x3FFF) - 1; }

  std::string folder_;
};

TEST_F(StorageTest, SharedFileTakesWholeSlotsPerRequest) {
  EXPECT_EQ(CKXMMFShare::SlotsFor(1), 1);
  EXPECT_EQ(CKXMMFShare::SlotsFor(65536), 1);
  EXPECT_EQ(CKXMMFShare::SlotsFor(65537), 2);
  EXPECT_EQ(CKXMMFShare::SlotsFor(131072), 2);
  EXPECT_EQ(CKXMMFShare::SlotsFor(131073), 3);
  EXPECT_EQ(CKXMMFShare::SlotsFor(0x4000000), 1024);

  CKXMMFSys sys(folder_, "KX_");
  uint32_t a = 0, b = 0, c = 0, d = 0;
  ASSERT_TRUE(sys.Allocate(65536, a));
  ASSERT_TRUE(sys.Allocate(65537, b));
  ASSERT_TRUE(sys.Allocate(131072, c));
  ASSERT_TRUE(sys.Allocate(131073, d));
  // All in the first file, packed one after the other.
  EXPECT_EQ(a, 0x10001u);
  EXPECT_EQ(Slot(b), 1u);
  EXPECT_EQ(Slot(c), 3u);
  EXPECT_EQ(Slot(d), 5u);
  EXPECT_EQ(sys.GetBlockSize(a), 65536);
  EXPECT_EQ(sys.GetBlockSize(b), 131072);
  EXPECT_EQ(sys.GetBlockSize(c), 131072);
  EXPECT_EQ(sys.GetBlockSize(d), 196608);
  EXPECT_EQ(sys.FileCount(), 1u);
  EXPECT_EQ(sys.total, 0x4000000);
  EXPECT_EQ(TempFileCount(), 1u);
  // The 64 MB file is sparse: only the reserved slots may occupy disk.
  struct stat st {};
  for (const auto& e : fs::directory_iterator(folder_)) ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0x4000000);
  EXPECT_LE(st.st_blocks * 512, 16 * 65536);
}

TEST_F(StorageTest, FreedSlotsAreReusedFirstFit) {
  CKXMMFSys sys(folder_, "KX_");
  uint32_t a = 0, b = 0, c = 0;
  ASSERT_TRUE(sys.Allocate(1000, a));        // slot 0
  ASSERT_TRUE(sys.Allocate(3 * 65536, b));   // slots 1..3
  ASSERT_TRUE(sys.Allocate(1000, c));        // slot 4
  sys.Free(b);

  uint32_t two = 0, twoMore = 0, one = 0;
  ASSERT_TRUE(sys.Allocate(2 * 65536, two));
  EXPECT_EQ(Slot(two), 1u);  // the hole left by b
  ASSERT_TRUE(sys.Allocate(2 * 65536, twoMore));
  EXPECT_EQ(Slot(twoMore), 5u);  // one slot left in the hole is too small
  ASSERT_TRUE(sys.Allocate(10, one));
  EXPECT_EQ(Slot(one), 3u);  // but it fits a single slot

  // Freeing a handle twice, or a slot that starts no block, changes nothing.
  sys.Free(two);
  sys.Free(two);
  sys.Free(0x10000u | 3u);  // slot 2 is inside a freed range, not a block start
  EXPECT_NE(sys.Lock(c), nullptr);
  sys.Unlock(c);
  EXPECT_EQ(sys.FileCount(), 1u);

  // A full file sends the next request to a new file.
  uint32_t big = 0, next = 0;
  ASSERT_TRUE(sys.Allocate(0x4000000 - 4 * 65536, big));
  EXPECT_EQ(FileIndex(big), 1u);
  ASSERT_TRUE(sys.Allocate(6 * 65536, next));
  EXPECT_EQ(FileIndex(next), 0u);  // a run of free slots still exists in the first file
}

// A block whose disk the file system refuses is not handed out: writing through its mapping
// later would kill the process. A file-size limit stands in for a full disk, in a child process
// so that the limit and the ignored signal stay there.
TEST_F(StorageTest, BlockTheFileSystemRefusesIsNotHandedOut) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CKXMMFSys sys(folder_, "KX_");
    uint32_t first = 0, large = 0, small = 0;
    if (!sys.Allocate(100, first)) ::_exit(10);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(11);
    if (sys.Allocate(4 << 20, large)) ::_exit(12);  // reaches past the limit
    if (large != 0) ::_exit(13);
    const std::vector<uint8_t> content(4 << 20, 1);  // the same, written with given bytes
    if (sys.Allocate(4 << 20, large, content) || large != 0) ::_exit(16);
    if (!sys.Allocate(100, small)) ::_exit(14);  // still fits below it
    auto* bytes = static_cast<uint8_t*>(sys.Lock(small));
    if (!bytes) ::_exit(15);
    std::memset(bytes, 0x5A, 100);
    sys.Unlock(small);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(StorageTest, LastFreeDeletesFileAndFolder) {
  CKXMMFSys sys(folder_, "KX_");
  uint32_t a = 0, b = 0;
  ASSERT_TRUE(sys.Allocate(100, a));
  ASSERT_TRUE(sys.Allocate(100, b));
  EXPECT_EQ(TempFileCount(), 1u);
  sys.Free(a);
  EXPECT_EQ(TempFileCount(), 1u);
  sys.Free(b);
  EXPECT_EQ(sys.FileCount(), 0u);
  EXPECT_EQ(sys.total, 0);
  EXPECT_FALSE(fs::exists(folder_));

  // Destroying a system deletes the files it still holds.
  {
    CKXMMFSys other(folder_, "KX_");
    uint32_t h = 0;
    ASSERT_TRUE(other.Allocate(100, h));
    EXPECT_EQ(TempFileCount(), 1u);
  }
  EXPECT_EQ(TempFileCount(), 0u);
}

TEST_F(StorageTest, LargeRequestGetsDedicatedFileOfExactSize) {
  CKXMMFSys sys(folder_, "KX_");
  const uint64_t size = 0x4000001;
  uint32_t h = 0;
  ASSERT_TRUE(sys.Allocate(size, h));
  // Block 0 of a dedicated file still makes a handle above 0x10000.
  EXPECT_EQ(h, 0x10001u);
  EXPECT_TRUE(IsMappedHandle(h));
  EXPECT_EQ(sys.GetBlockSize(h), static_cast<int64_t>(size));
  EXPECT_EQ(sys.total, static_cast<int64_t>(size));
  ASSERT_EQ(TempFileCount(), 1u);
  for (const auto& e : fs::directory_iterator(folder_)) EXPECT_EQ(fs::file_size(e.path()), size);

  auto* p = static_cast<uint8_t*>(sys.Lock(h));
  ASSERT_NE(p, nullptr);
  p[size - 1] = 0x5A;
  sys.Unlock(h);
  p = static_cast<uint8_t*>(sys.Lock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[size - 1], 0x5A);
  sys.Unlock(h);

  // Small requests never go into a dedicated file.
  uint32_t small = 0;
  ASSERT_TRUE(sys.Allocate(10, small));
  EXPECT_EQ(FileIndex(small), 1u);

  sys.Free(h);
  EXPECT_EQ(TempFileCount(), 1u);
  // The freed entry is reused by the next new file.
  uint32_t again = 0;
  ASSERT_TRUE(sys.Allocate(size + 5, again));
  EXPECT_EQ(FileIndex(again), 0u);
}

TEST_F(StorageTest, LockCountingMapsOnceAndKeepsData) {
  CKXMMFSys sys(folder_, "KX_");
  uint32_t h = 0;
  ASSERT_TRUE(sys.Allocate(70000, h));
  auto* share = static_cast<CKXMMFShare*>(sys.files[0].get());
  const int32_t first = static_cast<int32_t>(Slot(h));

  void* v1 = sys.Lock(h);
  void* v2 = sys.Lock(h);
  ASSERT_NE(v1, nullptr);
  EXPECT_EQ(v1, v2);
  EXPECT_EQ(share->blocks[first].lockCount, 2);
  std::memset(v1, 0xAB, 70000);
  sys.Unlock(h);
  EXPECT_EQ(share->blocks[first].view, v1);  // still mapped for the other lock
  EXPECT_EQ(static_cast<uint8_t*>(v1)[69999], 0xAB);
  sys.Unlock(h);
  EXPECT_EQ(share->blocks[first].view, nullptr);
  sys.Unlock(h);  // an extra unlock is ignored
  EXPECT_EQ(share->blocks[first].lockCount, 0);

  auto* again = static_cast<uint8_t*>(sys.Lock(h));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again[0], 0xAB);
  EXPECT_EQ(again[69999], 0xAB);
  sys.Unlock(h);
}

TEST_F(StorageTest, InvalidHandlesNameNothing) {
  EXPECT_EQ(LockBlock(0), nullptr);
  EXPECT_EQ(LockBlock(0x10000), nullptr);
  EXPECT_EQ(GetBlockSizeOf(0x10000), 0);
  UnlockBlock(0x10000);
  uint32_t h = 0x10000;
  FreeBlock(h);
  EXPECT_EQ(h, 0u);
  EXPECT_FALSE(AllocateBlock(h, 0));
  EXPECT_EQ(h, 0u);

  CKXMMFSys sys(folder_, "KX_");
  uint32_t a = 0;
  ASSERT_TRUE(sys.Allocate(10, a));
  EXPECT_EQ(sys.Lock(a + 0x10000), nullptr);      // file index out of range
  EXPECT_EQ(sys.Lock(a & 0xFFFF0000u), nullptr);  // block field 0 in a shared file
  EXPECT_EQ(sys.Lock(a + 1), nullptr);            // slot that starts no block
  sys.Free(a + 0x10000);
  EXPECT_EQ(sys.FileCount(), 1u);
}

TEST_F(StorageTest, ProcessWideBlocksAreZeroedEvenWhenSlotsAreReused) {
  uint32_t h = 0;
  ASSERT_TRUE(AllocateBlock(h, 200000));
  EXPECT_EQ(h >> 30, 0u);  // the first system takes it
  EXPECT_EQ(GetBlockSizeOf(h), 4 * 65536);
  auto* p = static_cast<uint8_t*>(LockBlock(h));
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xFF, 200000);
  UnlockBlock(h);
  uint32_t keep = 0;  // keeps the file alive so the next block lands in the same slots
  ASSERT_TRUE(AllocateBlock(keep, 10));
  const uint32_t old = h;
  FreeBlock(h);
  EXPECT_EQ(h, 0u);
  ASSERT_TRUE(AllocateBlock(h, 200000));
  EXPECT_EQ(h, old);
  p = static_cast<uint8_t*>(LockBlock(h));
  ASSERT_NE(p, nullptr);
  size_t nonZero = 0;
  for (size_t i = 0; i < 200000; ++i) nonZero += p[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  UnlockBlock(h);
  FreeBlock(h);

  // A block made for given bytes holds them, and zeros after them to the end of its slots.
  std::vector<uint8_t> bytes(150000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(AllocateBlockWith(h, bytes));
  EXPECT_EQ(h, old);
  p = static_cast<uint8_t*>(LockBlock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, bytes.data(), bytes.size()), 0);
  nonZero = 0;
  const auto blockSize = static_cast<size_t>(GetBlockSizeOf(h));
  EXPECT_EQ(blockSize, 3u * 65536);
  for (size_t i = bytes.size(); i < blockSize; ++i) nonZero += p[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  UnlockBlock(h);
  FreeBlock(h);
  EXPECT_FALSE(AllocateBlockWith(h, {}));
  EXPECT_EQ(h, 0u);
  FreeBlock(keep);
  EXPECT_EQ(MMFSystem(0).FileCount(), 0u);
}

TEST_F(StorageTest, StaleFilesOfDeadProcessesAreRemoved) {
  fs::create_directories(folder_);
  // A pid that is certainly gone: a child that has exited and been reaped.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);

  CKXMMFSys live(folder_, "KX_");
  uint32_t h = 0;
  ASSERT_TRUE(live.Allocate(10, h));  // a file of ours that is in use

  auto touch = [&](const std::string& name) {
    std::ofstream(folder_ + name) << "x";
    return folder_ + name;
  };
  const std::string dead = touch("KX_" + std::to_string(child) + "_abcdef.tmp");
  const std::string reusedPid = touch("KX_" + std::to_string(::getpid()) + "_zzzzzz.tmp");
  const std::string liveParent = touch("KX_" + std::to_string(::getppid()) + "_qqqqqq.tmp");
  const std::string foreign = touch("notours.tmp");
  const std::string otherPrefix = touch("KY_" + std::to_string(child) + "_abcdef.tmp");

  ASSERT_EQ(TempFileCount(), 6u);

  CKXMMFSys later(folder_, "KX_");  // a new system sweeps on construction
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(reusedPid));
  EXPECT_TRUE(fs::exists(liveParent));
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_TRUE(fs::exists(otherPrefix));
  EXPECT_EQ(TempFileCount(), 4u);  // the live file survived
  EXPECT_NE(live.Lock(h), nullptr);
  live.Unlock(h);
}

}  // namespace
