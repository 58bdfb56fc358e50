#include "core/bulk_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace KX {

namespace {

size_t RoundUp(size_t value, size_t step) {
  return (value + step - 1) / step * step;
}

// `bytes` (a multiple of the page size) of fresh memory starting on a multiple of `alignment`;
// null when the system has none. The mapping is made larger and trimmed, since mmap only
// promises page alignment.
void* MapAligned(size_t bytes, size_t alignment) {
  if (bytes > SIZE_MAX - alignment) return nullptr;
  const size_t span = bytes + alignment;
  void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = RoundUp(start, alignment);
  if (aligned > start) ::munmap(mapped, aligned - start);
  const uintptr_t end = start + span;
  if (end > aligned + bytes)
    ::munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

void PrefaultPages(void* block, size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  static const auto kPage = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(block);
  if (bytes > UINTPTR_MAX - start) return;
  const uintptr_t first = (start + kPage - 1) / kPage * kPage;
  const uintptr_t end = (start + bytes) / kPage * kPage;
  // The pages at either end may hold other blocks too: they are left to their first write.
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

// Lies at the start of its region, which starts on a multiple of kRegionBytes: a block finds its
// region by rounding its address down.
struct CBulkArena::Region {
  static constexpr uint64_t kMark = 0x4b58'4275'6c6b'5267;  // checks that a block is ours
  uint64_t mark = kMark;
  size_t used = 0;   // bytes handed out from the start, this header included
  size_t ready = 0;  // bytes from the start whose pages were asked for
  size_t live = 0;   // blocks not yet freed
  bool huge = false;  // the rest of the region asks for huge pages
};

CBulkArena& CBulkArena::Process() {
  static CBulkArena* const arena = new CBulkArena();
  return *arena;
}

void* CBulkArena::Map(size_t bytes, size_t alignment, bool& huge) {
  void* mapped = MapAligned(bytes, alignment);
  // Only a wish: without huge pages the memory is the same, its pages just smaller.
  huge = mapped && TakesHugePages() && ::madvise(mapped, bytes, MADV_HUGEPAGE) == 0;
  return mapped;
}

char* CBulkArena::Populate(char* start, char* end, char* mappingEnd, bool& huge) {
  // While the mapping asks for huge pages, `start` lies on a huge page's start: mappings start
  // on one.
  while (start < end && huge && TakesHugePages()) {
    char* const next = start + std::min<size_t>(kHugePageBytes, mappingEnd - start);
    const auto began = std::chrono::steady_clock::now();
    PrefaultPages(start, next - start);
    const auto took = std::chrono::steady_clock::now() - began;
    start = next;
    if (std::chrono::duration_cast<std::chrono::nanoseconds>(took).count() > slowHugePage_)
      huge_.store(false, std::memory_order_relaxed);
  }
  // Huge pages given up, here or for another mapping: the rest of this one takes small pages.
  if (huge && !TakesHugePages()) {
    if (start < mappingEnd) ::madvise(start, mappingEnd - start, MADV_NOHUGEPAGE);
    huge = false;
  }
  if (start >= end) return start;
  PrefaultPages(start, end - start);
  return end;
}

void* CBulkArena::Allocate(size_t bytes) noexcept {
  if (bytes == 0) return nullptr;
  if (bytes >= kOwnMappingBytes) {
    const size_t mapped = RoundUp(bytes, kHugePageBytes);
    if (mapped < bytes) return nullptr;
    bool huge = false;
    auto* block = static_cast<char*>(Map(mapped, kHugePageBytes, huge));
    if (!block) return nullptr;
    if (huge || !CPagesLeftToFiller::Active()) Populate(block, block + bytes, block + mapped, huge);
    std::lock_guard lock(mutex_);
    ++mappings_;
    mappedBytes_ += mapped;
    return block;
  }
  std::lock_guard lock(mutex_);
  return AllocateInRegion(RoundUp(bytes, kAlignment));
}

void* CBulkArena::AllocateInRegion(size_t bytes) {
  if (!current_ || kRegionBytes - current_->used < bytes) {
    // The region before keeps its blocks; it goes with the last of them.
    bool huge = false;
    void* mapped = Map(kRegionBytes, kRegionBytes, huge);
    if (!mapped) return nullptr;
    current_ = ::new (mapped) Region();
    current_->huge = huge;
    current_->used = RoundUp(sizeof(Region), kAlignment);
    ++mappings_;
    mappedBytes_ += kRegionBytes;
  }
  char* const base = reinterpret_cast<char*>(current_);
  char* const block = base + current_->used;
  current_->used += bytes;
  ++current_->live;
  if (!current_->huge && CPagesLeftToFiller::Active())
    current_->ready = std::max(current_->ready, current_->used);
  if (current_->ready < current_->used)
    current_->ready =
        Populate(base + current_->ready, block + bytes, base + kRegionBytes, current_->huge) - base;
  return block;
}

void CBulkArena::Free(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (bytes >= kOwnMappingBytes) {
    const size_t mapped = RoundUp(bytes, kHugePageBytes);
    ::munmap(block, mapped);
    std::lock_guard lock(mutex_);
    --mappings_;
    mappedBytes_ -= mapped;
    return;
  }
  std::lock_guard lock(mutex_);
  FreeInRegion(block, RoundUp(bytes, kAlignment));
}

void CBulkArena::FreeInRegion(void* block, size_t bytes) {
  auto* region =
      reinterpret_cast<Region*>(reinterpret_cast<uintptr_t>(block) & ~(kRegionBytes - 1));
  if (region->mark != Region::kMark || region->live == 0) std::abort();  // not a block of ours
  if (--region->live == 0) {
    if (region == current_) current_ = nullptr;
    ::munmap(region, kRegionBytes);
    --mappings_;
    mappedBytes_ -= kRegionBytes;
    return;
  }
  // The block handed out last makes room again: a buffer that is freed and then made again,
  // larger or smaller, takes the same place.
  if (region == current_ &&
      reinterpret_cast<char*>(block) + bytes == reinterpret_cast<char*>(region) + region->used)
    region->used -= bytes;
}

size_t CBulkArena::MappingCount() const {
  std::lock_guard lock(mutex_);
  return mappings_;
}

size_t CBulkArena::MappedBytes() const {
  std::lock_guard lock(mutex_);
  return mappedBytes_;
}

}  // namespace KX
