#pragma once
// Memory for the large arrays of geometry. A scene of big meshes is mostly a few hundred arrays
// of 100 KB and more, read once from the file and written once to the next. Taken from the heap
// as they are, each costs a page fault for every 4 KB of it before the read can overwrite it.
// Here their pages are asked for in one call as they are made, huge pages while they come
// cheap: one fault and one zeroing for every 2 MB.
//
// Huge pages do not always come cheap. A virtual machine that hands idle memory back to its
// host backs a 2 MiB page taken after a pause of a few seconds again as the kernel zeroes it:
// 5 ms instead of 0.3. Small pages come from memory the guest keeps, and cost the same either
// way. So the arena times the huge pages it takes and goes over to small pages, for good, at the
// first one that came slow.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "core/block_reads.h"
#include "core/small_array.h"

namespace KX {

// Sanitizer builds take every array from the ordinary heap, so that their checks see each one:
// an overflow past an array, an array never freed.
#if defined(__SANITIZE_ADDRESS__) || defined(KX_SANITIZE)
inline constexpr bool kBulkArenaInUse = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
inline constexpr bool kBulkArenaInUse = false;
#else
inline constexpr bool kBulkArenaInUse = true;
#endif
#else
inline constexpr bool kBulkArenaInUse = true;
#endif

// Asks the system for the pages that lie whole inside [block, block + bytes), about to be
// written. Only a wish: what the memory holds stays as it is, and a system that cannot do it
// leaves the pages to come with their first write.
void PrefaultPages(void* block, size_t bytes) noexcept;

// While one lives on a thread, the large blocks that thread takes leave their pages to whoever
// fills them: a read beside the load asks for them just before it reads (core/block_reads.h),
// on its own thread. Blocks that still take huge pages are asked for as they are taken, as
// always: how long their first page takes tells whether huge pages come cheap.
class CPagesLeftToFiller {
 public:
  CPagesLeftToFiller() : was_(leave_) { leave_ = true; }
  ~CPagesLeftToFiller() { leave_ = was_; }
  CPagesLeftToFiller(const CPagesLeftToFiller&) = delete;
  CPagesLeftToFiller& operator=(const CPagesLeftToFiller&) = delete;
  static bool Active() { return leave_; }

 private:
  const bool was_;
  static inline thread_local bool leave_ = false;
};

// Hands out blocks from regions of kRegionBytes, one after the other, with their pages asked
// for. A region is given back to the system with the last of its blocks; a block freed before
// then leaves a hole that is not reused, unless it was the last one handed out. That suits
// arrays that live as long as their scene, which is what this is for; the heap serves everything
// else. Blocks of kOwnMappingBytes and more get a mapping of their own, unmapped when they are
// freed. Thread-safe.
class CBulkArena {
 public:
  static constexpr size_t kHugePageBytes = size_t{2} << 20;
  static constexpr size_t kRegionBytes = size_t{32} << 20;
  static constexpr size_t kOwnMappingBytes = size_t{8} << 20;
  // Smaller arrays stay on the heap: a fault more or less does not matter for them, and a hole
  // they leave in a region would.
  static constexpr size_t kMinimumBytes = size_t{64} << 10;
  static constexpr size_t kAlignment = 64;
  // A huge page that takes longer than this to come is taken as the sign that the next ones
  // will too (cheap ones take a tenth of it, slow ones ten times as long).
  static constexpr int64_t kSlowHugePageNanoseconds = 1'500'000;

  explicit CBulkArena(int64_t slowHugePageNanoseconds = kSlowHugePageNanoseconds)
      : slowHugePage_(slowHugePageNanoseconds) {}
  CBulkArena(const CBulkArena&) = delete;
  CBulkArena& operator=(const CBulkArena&) = delete;
  // Blocks must all be freed before; a region still in use is left to the process exit.
  ~CBulkArena() = default;

  // Null when the system has no memory left (or `bytes` is 0).
  void* Allocate(size_t bytes) noexcept;
  // `bytes` as given to Allocate.
  void Free(void* block, size_t bytes) noexcept;

  // Regions and own mappings held now, and their bytes (address space, not resident memory).
  size_t MappingCount() const;
  size_t MappedBytes() const;
  // False once a huge page came slow: from then on the arena takes small pages.
  bool TakesHugePages() const { return huge_.load(std::memory_order_relaxed); }

  // The arena of the process; never destroyed, since arrays may be freed during static
  // destruction and at exit.
  static CBulkArena& Process();

 private:
  struct Region;
  void* AllocateInRegion(size_t bytes);
  void FreeInRegion(void* block, size_t bytes);
  // Fresh memory of `bytes` starting on a multiple of `alignment`, asking for huge pages while
  // the arena takes them (`huge` tells whether it did); null when the system has none.
  void* Map(size_t bytes, size_t alignment, bool& huge);
  // Asks for the pages of [start, end) of a mapping from Map, whose pages before `start` were
  // asked for already: huge pages one by one, timed, while the mapping asks for them (`huge`)
  // and they come cheap; then small pages, with `huge` cleared. Answers where the pages asked
  // for end now.
  char* Populate(char* start, char* end, char* mappingEnd, bool& huge);

  const int64_t slowHugePage_;
  std::atomic<bool> huge_{true};
  mutable std::mutex mutex_;
  Region* current_ = nullptr;  // where the next blocks come from
  size_t mappings_ = 0;
  size_t mappedBytes_ = 0;
};

// The allocator of bulk arrays: blocks of CBulkArena::kMinimumBytes and more from the process's
// arena, smaller ones from the heap.
template <class T>
class CBulkAllocator {
 public:
  using value_type = T;

  CBulkAllocator() noexcept = default;
  template <class U>
  CBulkAllocator(const CBulkAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const size_t bytes = n * sizeof(T);
    if (bytes < CBulkArena::kMinimumBytes) return static_cast<T*>(::operator new(bytes));
    if constexpr (!kBulkArenaInUse) {
      void* block = ::operator new(bytes);
      if (!CPagesLeftToFiller::Active()) PrefaultPages(block, bytes);
      return static_cast<T*>(block);
    }
    void* block = CBulkArena::Process().Allocate(bytes);
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t n) noexcept {
    const size_t bytes = n * sizeof(T);
    // Only large blocks are read beside the load (CReader::ReadArrayAside).
    if (bytes >= CBulkArena::kMinimumBytes) CBlockRead::Settle(block, bytes);
    if (!kBulkArenaInUse || bytes < CBulkArena::kMinimumBytes)
      ::operator delete(block);
    else
      CBulkArena::Process().Free(block, bytes);
  }

  friend bool operator==(const CBulkAllocator&, const CBulkAllocator&) noexcept { return true; }

 private:
  static_assert(alignof(T) <= CBulkArena::kAlignment);
};

// A bulk array: short ones inside their owner, longer ones on the heap, large ones in the arena.
template <class T>
using CBulkArray = CSmallArray<T, CBulkAllocator<T>>;

// Gives `values` n elements whose contents the caller is about to overwrite whole (a read from
// a file): a small array (and so a bulk array) leaves them uninitialised, a vector
// value-initialises them. Throws std::bad_alloc like resize.
template <class T, class Allocator>
void ResizeForOverwrite(std::vector<T, Allocator>& values, size_t n) {
  values.resize(n);
}

}  // namespace KX
