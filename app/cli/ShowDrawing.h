// The --show listing: what the tool can change in one drawing.
#pragma once

#include <cstdio>
#include <string>

namespace morvane {

// Loads `path` (bound images listed, not unpacked: nothing is written) and
// prints its settings on `out`; a load failure goes to `err` as
// "<path>: <reason>". True when the drawing was read.
bool ShowDrawing(const std::u16string& path, std::FILE* out, std::FILE* err);

}  // namespace morvane
