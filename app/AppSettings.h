// Everything that persists between runs in the settings file: the window's
// place and size, the destination, the open dialog's folder and filter, the
// options of the settings page and the theme.
#pragma once

#include <string>

#include "app/BatchSettings.h"

namespace morvane {

struct AppSettings {
    // Window left, top, width, height (pixels).
    int32_t Fm1x = 50, Fm1y = 50, Fm1w = 560, Fm1h = 520;
    // Destination mode: at most one is checked; none behaves as "毎回指定".
    bool RadioButtonFl1 = true;   // "デスクトップ"
    bool RadioButtonFl2 = false;  // "マイドキュメント"
    bool RadioButtonFl3 = false;  // "元ファイルのフォルダ"
    bool RadioButtonFl4 = false;  // "指定フォルダ"
    bool RadioButtonFl5 = false;  // "毎回指定"
    std::u16string EditFl1;         // folder of "指定フォルダ"
    std::u16string Label1;          // folder of the file opened last
    int32_t Fidx = 1;               // open dialog filter index
    std::u16string LabelPreFolder;  // folder picked last in "毎回指定" (trailing separator)
    std::u16string gstyle = u"Windows";
    BatchSettings batch;

    bool operator==(const AppSettings&) const = default;
};

}  // namespace morvane
