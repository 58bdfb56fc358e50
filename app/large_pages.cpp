// The tool and the dialog allocate through mimalloc in 2 MiB pages. A scene is hundreds of
// thousands of small objects: in 2 MiB pages its memory costs a page fault per 2 MiB instead of
// one per 4 KiB, which was most of the system time of a conversion.
//
// The allocator sets itself up before any constructor of the program runs (it is a library the
// program loads) and takes its first 32 MiB then; asked only in main, it served those in small
// pages. So the option is set from the program's pre-initialisation array, which runs before
// every library's initialisation. Linked into the programs only, never into a library: only a
// program's array is run.
#include <mimalloc.h>

namespace {

void TakeLargePages(int, char**, char**) {
  mi_option_enable(mi_option_large_os_pages);
}

[[gnu::section(".preinit_array"), gnu::used]] void (*const kTakeLargePages)(int, char**,
                                                                           char**) = TakeLargePages;

}  // namespace
