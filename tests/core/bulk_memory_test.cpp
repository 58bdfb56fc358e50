#include "core/bulk_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "object/persist.h"
#include "scene/buffer.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

using Arena = CBulkArena;

// Asking for a block's pages changes nothing in it, wherever the block starts and ends.
TEST(BulkMemory, PrefaultingPagesKeepsWhatTheyHold) {
  std::vector<uint8_t> block(Arena::kMinimumBytes * 3 + 123);
  std::mt19937 random(7);
  for (auto& byte : block) byte = static_cast<uint8_t>(random());
  const std::vector<uint8_t> before = block;
  for (size_t offset : {size_t{0}, size_t{1}, size_t{4095}, size_t{5000}}) {
    PrefaultPages(block.data() + offset, block.size() - offset);
    PrefaultPages(block.data() + offset, 10);  // no whole page inside
  }
  PrefaultPages(block.data(), 0);
  EXPECT_TRUE(block == before);
}

bool Overlap(const std::pair<char*, size_t>& a, const std::pair<char*, size_t>& b) {
  return a.first < b.first + b.second && b.first < a.first + a.second;
}

TEST(BulkArena, BlocksAreAlignedApartAndGoBackWithTheirRegions) {
  Arena arena;
  EXPECT_EQ(arena.Allocate(0), nullptr);
  // Sizes that do not fill a region evenly, so that blocks start new regions part way.
  std::vector<std::pair<char*, size_t>> blocks;
  for (size_t i = 0; i < 60; ++i) {
    const size_t bytes = Arena::kMinimumBytes + i * 37'001;
    auto* block = static_cast<char*>(arena.Allocate(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % Arena::kAlignment, 0u);
    std::memset(block, static_cast<int>(i), bytes);
    blocks.emplace_back(block, bytes);
  }
  EXPECT_GT(arena.MappingCount(), 1u);
  for (size_t i = 0; i < blocks.size(); ++i)
    for (size_t j = i + 1; j < blocks.size(); ++j) ASSERT_FALSE(Overlap(blocks[i], blocks[j]));
  // Every block still holds what was written to it, and freeing them in any order gives every
  // region back with its last block.
  std::shuffle(blocks.begin(), blocks.end(), std::mt19937(7));
  for (auto& [block, bytes] : blocks) {
    const auto fill = static_cast<char>(block[0]);
    EXPECT_TRUE(std::all_of(block, block + bytes, [&](char c) { return c == fill; }));
    arena.Free(block, bytes);
  }
  EXPECT_EQ(arena.MappingCount(), 0u);
  EXPECT_EQ(arena.MappedBytes(), 0u);
}

TEST(BulkArena, TheLastBlockMakesRoomAgainAndLargeBlocksHaveTheirOwnMapping) {
  Arena arena;
  void* first = arena.Allocate(Arena::kMinimumBytes);
  void* last = arena.Allocate(Arena::kMinimumBytes * 3);
  arena.Free(last, Arena::kMinimumBytes * 3);
  EXPECT_EQ(arena.Allocate(Arena::kMinimumBytes * 2), last);
  // A hole before the last block is not taken.
  arena.Free(first, Arena::kMinimumBytes);
  void* next = arena.Allocate(Arena::kMinimumBytes);
  EXPECT_NE(next, first);
  EXPECT_EQ(arena.MappingCount(), 1u);

  const size_t large = Arena::kOwnMappingBytes + 1;
  void* own = arena.Allocate(large);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(own) % Arena::kHugePageBytes, 0u);
  EXPECT_EQ(arena.MappingCount(), 2u);
  EXPECT_EQ(arena.MappedBytes(),
            Arena::kRegionBytes + Arena::kOwnMappingBytes + Arena::kHugePageBytes);
  static_cast<char*>(own)[large - 1] = 1;
  arena.Free(own, large);
  arena.Free(last, Arena::kMinimumBytes * 2);
  arena.Free(next, Arena::kMinimumBytes);
  EXPECT_EQ(arena.MappingCount(), 0u);
}

// The switch to small pages: an arena for which every huge page is slow takes small pages after
// its first one, for good, and its blocks are as sound as ever; one for which none is keeps
// taking huge pages.
TEST(BulkArena, GoesOverToSmallPagesForGoodAtTheFirstSlowHugePage) {
  Arena patient(std::numeric_limits<int64_t>::max());
  Arena hasty(0);
  EXPECT_TRUE(hasty.TakesHugePages());
  for (Arena* arena : {&patient, &hasty}) {
    std::vector<std::pair<char*, size_t>> blocks;
    // Across regions, and one block with a mapping of its own.
    for (size_t bytes : {Arena::kHugePageBytes * 3, Arena::kRegionBytes / 2, Arena::kRegionBytes / 2,
                         Arena::kOwnMappingBytes + 5, Arena::kMinimumBytes}) {
      auto* block = static_cast<char*>(arena->Allocate(bytes));
      ASSERT_NE(block, nullptr);
      std::memset(block, static_cast<int>(blocks.size() + 1), bytes);
      blocks.emplace_back(block, bytes);
    }
    for (auto& [block, bytes] : blocks) {
      const auto fill = static_cast<char>(block[0]);
      EXPECT_TRUE(std::all_of(block, block + bytes, [&](char c) { return c == fill; }));
      arena->Free(block, bytes);
    }
    EXPECT_EQ(arena->MappingCount(), 0u);
  }
  EXPECT_TRUE(patient.TakesHugePages());
  EXPECT_FALSE(hasty.TakesHugePages());
}

// Pages of the blocks taken while one is left to the filler are not asked for, unless the block
// still takes huge pages; they are there once the filler asks for them, and a later block of the
// same region has its pages asked for as before.
TEST(BulkArena, LeavesThePagesOfSmallPageBlocksToTheirFiller) {
  static const auto kPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  // Of the whole pages inside the block.
  auto residentPages = [](char* block, size_t bytes) {
    const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + kPage - 1) / kPage * kPage;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) / kPage * kPage;
    std::vector<unsigned char> pages((end - first) / kPage);
    EXPECT_EQ(::mincore(reinterpret_cast<void*>(first), end - first, pages.data()), 0);
    return static_cast<size_t>(
        std::count_if(pages.begin(), pages.end(), [](unsigned char page) { return page & 1; }));
  };
  Arena hasty(0);
  // The first huge page comes "slow": from then on the arena takes small pages.
  void* first = hasty.Allocate(Arena::kHugePageBytes);
  ASSERT_NE(first, nullptr);
  ASSERT_FALSE(hasty.TakesHugePages());
  const size_t bytes = 64 * kPage;
  char* left = nullptr;
  char* own = nullptr;
  {
    const CPagesLeftToFiller filler;
    left = static_cast<char*>(hasty.Allocate(bytes));
    own = static_cast<char*>(hasty.Allocate(Arena::kOwnMappingBytes));
  }
  auto* asked = static_cast<char*>(hasty.Allocate(bytes));
  ASSERT_TRUE(left && own && asked);
  EXPECT_EQ(residentPages(left, bytes), 0u);
  EXPECT_EQ(residentPages(own, Arena::kOwnMappingBytes), 0u);
  EXPECT_GE(residentPages(asked, bytes), bytes / kPage - 1);
  PrefaultPages(left, bytes);
  EXPECT_GE(residentPages(left, bytes), bytes / kPage - 1);
  for (auto [block, size] : {std::pair{static_cast<char*>(first), Arena::kHugePageBytes},
                             {left, bytes}, {own, Arena::kOwnMappingBytes}, {asked, bytes}})
    hasty.Free(block, size);
  EXPECT_EQ(hasty.MappingCount(), 0u);
}

// Buffers small and large (with their pages asked for) keep the zeros, copies and comparisons the
// geometry relies on, also when a block is reused.
TEST(BulkMemory, BuffersGiveZerosWhereTheyPromiseThem) {
  for (const size_t n : {size_t{10}, Arena::kMinimumBytes / sizeof(uint32_t) * 3}) {
    CIndexBuffer a;
    ASSERT_EQ(a.Resize(static_cast<int64_t>(n)), kOk);
    std::fill(a.begin(), a.end(), 0xdeadbeefu);
    a.Free();
    // Made again in the place the last one had: a resize without a source is all zeros.
    ASSERT_EQ(a.Resize(static_cast<int64_t>(n)), kOk);
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](uint32_t v) { return v == 0; }));
    a.items.resize(n / 2);
    a[0] = 5;
    a.items.resize(n);
    EXPECT_EQ(a[n - 1], 0u);

    std::iota(a.begin(), a.end(), 1u);
    CIndexBuffer copy(a);
    EXPECT_TRUE(copy == a);
    EXPECT_NE(copy.data(), a.data());
    copy[n - 1] = 0;
    EXPECT_FALSE(copy == a);
    ASSERT_EQ(copy.CopyFrom(a), kOk);
    EXPECT_TRUE(copy == a);
  }
}

TEST(BulkMemory, ArraysReadFromAStreamHoldTheStoredElementsOnly) {
  // A large array after a small one, then a count the stream cannot hold.
  const size_t n = Arena::kMinimumBytes / sizeof(CVector3<float>) * 2;
  std::vector<uint8_t> bytes;
  auto put = [&](const auto& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(value));
  };
  put(int32_t{1});
  for (size_t i = 0; i < n; ++i) put(CVector3<float>{float(i), 1.0f, -float(i)});
  CMemoryIo io(bytes);
  CReader in(io, 0, kCurrentStreamVersion);
  CVectorBuffer positions;
  ASSERT_EQ(positions.Resize(3), kOk);
  ReadPresentArray(in, positions, static_cast<int64_t>(n));
  ASSERT_EQ(in.status(), kOk);
  ASSERT_EQ(positions.size(), n);
  EXPECT_EQ(positions[n - 1].x, float(n - 1));
  EXPECT_EQ(positions[n - 1].z, -float(n - 1));

  CMemoryIo rest(std::span<const uint8_t>(bytes.data(), bytes.size() / 2));
  CReader cut(rest, 0, kCurrentStreamVersion);
  ReadPresentArray(cut, positions, static_cast<int64_t>(n));
  EXPECT_EQ(cut.status(), kErrStream);
  EXPECT_TRUE(positions.empty());
}

// A file cut short after it was opened: the read fails part way, and the array it was reading
// into, which was not initialised for it, holds zeros rather than what its memory held before.
TEST(BulkMemory, AnArrayWhoseReadFailsHoldsZeros) {
  test::TempDir dir;
  const size_t n = Arena::kMinimumBytes;  // elements of 4 bytes: read past the stream buffer
  const std::string path = dir.File("cut", std::string(4 * n, '\x7f'));
  {
    // Leaves its bytes in a block the next array of the same size is likely to take.
    CIndexBuffer garbage;
    ASSERT_EQ(garbage.Resize(static_cast<int64_t>(n)), kOk);
    std::fill(garbage.begin(), garbage.end(), 0xdeadbeefu);
  }
  CFileIo io;
  ASSERT_EQ(io.OpenRead(path), kOk);
  ASSERT_EQ(::truncate(path.c_str(), 16), 0);
  CReader in(io, 0, kCurrentStreamVersion);
  CIndexBuffer indices;
  in.ReadArray(indices.items, static_cast<int64_t>(n));
  EXPECT_EQ(in.status(), kErrStream);
  ASSERT_EQ(indices.size(), n);
  EXPECT_TRUE(std::all_of(indices.begin(), indices.end(), [](uint32_t v) { return v == 0; }));
}

}  // namespace
}  // namespace KX
