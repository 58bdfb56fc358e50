#include "core/bulk_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace KX {

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

}  // namespace KX
