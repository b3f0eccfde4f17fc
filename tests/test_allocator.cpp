// The programs are linked with mimalloc where it is installed: it must serve
// the malloc and new of the whole process, not only calls made to it by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#ifdef MORVANE_MIMALLOC
#include <mimalloc.h>
#endif

TEST(Allocator, ServesMallocAndNew) {
#ifndef MORVANE_MIMALLOC
    GTEST_SKIP() << "built with the C library's allocator";
#else
    void* p = std::malloc(24);
    auto owned = std::make_unique<std::u16string>(40, u'x');  // a string too long for its own storage
    EXPECT_TRUE(mi_is_in_heap_region(p));
    EXPECT_TRUE(mi_is_in_heap_region(owned.get()));
    EXPECT_TRUE(mi_is_in_heap_region(owned->data()));
    std::free(p);
    // Its segments are marked for 2 MiB pages (set before main).
    EXPECT_TRUE(mi_option_is_enabled(mi_option_large_os_pages));
#endif
}
