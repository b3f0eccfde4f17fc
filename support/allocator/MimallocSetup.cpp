// Settings of the allocator for the programs linked with mimalloc (see
// morvane_use_allocator in CMakeLists.txt).
#include <mimalloc.h>

namespace {

// mimalloc takes memory from the system in segments of tens of MiB and hands
// out a drawing's strings and smaller arrays from them. Marked for 2 MiB pages
// (transparent huge pages, where the system offers them) a segment is faulted
// in a few times instead of once per 4 KiB page: a large drawing took about
// 14,000 page faults on its load thread, each costing more than clearing its
// page. Segments are then kept committed instead of being given back page by
// page.
void EnableLargePages() { mi_option_enable(mi_option_large_os_pages); }

// Set before anything is allocated: the functions of .preinit_array run ahead
// of every library's initialisation, while the first segment of the main
// thread (where the load runs) is made at the first allocation and keeps the
// page size it was made with.
[[gnu::section(".preinit_array"), gnu::used]] void (*const kEnableLargePages)() = EnableLargePages;

}  // namespace
