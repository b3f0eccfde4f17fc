// Memory routines for the large arrays of a drawing.
#pragma once

#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace morvane {

// Arrays of at least this many bytes are worth a hint.
inline constexpr size_t kHugePageHintBytes = size_t{4} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [p, p + n) with huge
// pages when they are first touched. A hint only: nothing changes where the
// system does not offer them. Filling a few hundred megabytes in 4 KiB pages
// costs one fault per page, which is most of the time a large drawing takes.
void AdviseHugePages(void* p, size_t n);

// Gives `v` room for `capacity` elements, advising huge pages for a large
// new buffer before anything is copied into it (reserve would copy first).
template <class T>
void ReserveLarge(std::vector<T>& v, size_t capacity) {
    if (capacity <= v.capacity()) return;
    if (capacity * sizeof(T) < kHugePageHintBytes) {
        v.reserve(capacity);
        return;
    }
    std::vector<T> bigger;
    bigger.reserve(capacity);
    AdviseHugePages(bigger.data(), capacity * sizeof(T));
    bigger.insert(bigger.end(), std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
    v.swap(bigger);
}

}  // namespace morvane
