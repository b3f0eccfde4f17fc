// The settings file: 113 positional lines, one value per line, no keys.
// Written as UTF-8 with a byte-order mark and CR LF line ends; read as UTF-8
// or UTF-16 when a byte-order mark says so, else as Shift_JIS.
#pragma once

#include <string>

#include "app/AppSettings.h"

namespace morvane {

inline constexpr int kSettingsLineCount = 113;
// Larger files are not read at all (a real settings file is a few KB).
inline constexpr uintmax_t kMaxSettingsFileBytes = 4u << 20;

// Gives `settings` the defaults (LabelPreFolder = programFolder), then, when
// a file exists at `path`, applies every line it holds as if each box had been
// clicked in turn. True when a file was read (the caller then refreshes the
// colour swatches); false when there is none or it cannot be read, which
// leaves the defaults. Never reports anything.
bool OpenDatFile(const std::u16string& path, const std::u16string& programFolder,
                 AppSettings& settings);

// Writes all 113 lines. The file is written under a temporary name beside
// `path` and moved into place, so a failed write leaves the previous file
// intact and no partial file. False when the write failed; never reports.
bool SaveDatFile(const std::u16string& path, const AppSettings& settings);

}  // namespace morvane
