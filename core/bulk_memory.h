#pragma once
// Memory for the large arrays of geometry. A scene of big meshes is mostly a few hundred arrays
// of 100 KB and more, read once from the file and written once to the next. Left to themselves,
// the pages of a fresh array come one page fault at a time as the read first writes to them; a
// bulk array asks for all of them in one call when it is made.
//
// Huge pages were tried for these arrays, and for every object of a scene, and taken out again:
// on a virtual machine that hands idle memory back to its host, a 2 MiB page taken after a pause
// of a few seconds is backed again page by page while the kernel zeroes it, and a conversion run
// on its own (the usual case) took twice as long as with small pages.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "core/small_array.h"

namespace KX {

// Arrays from this size on have their pages asked for when they are made; for smaller ones a
// fault more or less does not matter.
inline constexpr size_t kPrefaultFromBytes = size_t{64} << 10;

// Asks the system for the pages that lie whole inside [block, block + bytes), about to be
// written. Only a wish: what the memory holds stays as it is, and a system that cannot do it
// leaves the pages to come with their first write.
void PrefaultPages(void* block, size_t bytes) noexcept;

// The allocator of bulk arrays: the heap's blocks, whose pages come in one call from
// kPrefaultFromBytes on.
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
    void* block = ::operator new(bytes);
    if (bytes >= kPrefaultFromBytes) PrefaultPages(block, bytes);
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t) noexcept { ::operator delete(block); }

  friend bool operator==(const CBulkAllocator&, const CBulkAllocator&) noexcept { return true; }
};

// A bulk array: short ones inside their owner, longer ones on the heap.
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
