#pragma once
// Memory that another thread is still filling (a block read beside the load, core/block_reads.h).
// Nothing may look at it before its fill has landed, and nothing in the types says so: the
// array is an ordinary array of its owner from the moment it is made. In builds with
// AddressSanitizer it is poisoned from when its fill is handed over until the fill lands, so that
// a look at it before then is the sanitizer's report instead of whatever the memory held. Other
// builds do nothing here.
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define KX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef KX_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace KX {

#ifdef KX_ADDRESS_SANITIZER
inline constexpr bool kPendingMemoryPoisoned = true;
#else
inline constexpr bool kPendingMemoryPoisoned = false;
#endif

// [memory, memory + bytes) is about to be filled by another thread: no one else looks at it.
inline void MarkPending(const void* memory, size_t bytes) noexcept {
#ifdef KX_ADDRESS_SANITIZER
  ASAN_POISON_MEMORY_REGION(memory, bytes);
#else
  (void)memory;
  (void)bytes;
#endif
}

// The fill of [memory, memory + bytes) has landed (or was given up and zeroed right after):
// anyone may look at it once the filler's work is known to be done.
inline void MarkFilled(const void* memory, size_t bytes) noexcept {
#ifdef KX_ADDRESS_SANITIZER
  ASAN_UNPOISON_MEMORY_REGION(memory, bytes);
#else
  (void)memory;
  (void)bytes;
#endif
}

}  // namespace KX
