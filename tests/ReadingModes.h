// The ways a file can be read: through the buffer, or through windows of it
// mapped into memory, here as small as a page so that a test file crosses
// many of them.
#pragma once

#include <cstdint>
#include <string>

#include "doc/ByteReader.h"

namespace morvane {

struct ReadingMode {
    const char* name;
    uint64_t mapFrom;  // files from this size on are mapped
    size_t window;
};

inline constexpr ReadingMode kPageWindows{"mapped a page at a time", 0, 1};
inline constexpr ReadingMode kReadingModes[] = {
    {"through the buffer", UINT64_MAX, 0},
    kPageWindows,
    {"mapped 64 KiB at a time", 0, 64 * 1024},
};

// Files are opened in `mode` for as long as this lives.
struct ReadIn : ByteReader::MappingForTest {
    explicit ReadIn(const ReadingMode& mode) : MappingForTest(mode.mapFrom, mode.window) {}
};

}  // namespace morvane
