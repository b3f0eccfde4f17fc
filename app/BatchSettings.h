// The option values of the settings page: one member per option control, named
// after the control. Texts hold what was typed (or what the settings file held)
// and are parsed only when the settings are applied.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

// Check boxes CB01..CB21.
#define MORVANE_BATCH_FLAGS(X)                                                                     \
    X(CB01) X(CB02) X(CB03) X(CB04) X(CB05) X(CB06) X(CB07) X(CB08) X(CB09) X(CB10) X(CB11)        \
    X(CB12) X(CB13) X(CB14) X(CB15) X(CB16) X(CB17) X(CB18) X(CB19) X(CB20) X(CB21)

// Edits: memo lines, screen and printer pen widths, background margin.
#define MORVANE_BATCH_TEXTS(X)                                                                     \
    X(ED01) X(ED02) X(ED11) X(ED12) X(ED13) X(ED14) X(ED15) X(ED16) X(ED17) X(ED18)                \
    X(ED21) X(ED22) X(ED23) X(ED24) X(ED25) X(ED26) X(ED27) X(ED28) X(ED30)

// Colour component edits of colour numbers 01..19 (01..10 screen, 11..19 printer).
#define MORVANE_BATCH_COLOURS(X)                                                                   \
    X(01) X(02) X(03) X(04) X(05) X(06) X(07) X(08) X(09) X(10)                                    \
    X(11) X(12) X(13) X(14) X(15) X(16) X(17) X(18) X(19)

struct BatchSettings {
#define MORVANE_FLAG_MEMBER(name) bool name = false;
#define MORVANE_TEXT_MEMBER(name) std::u16string name;
#define MORVANE_COLOUR_MEMBERS(nn) std::u16string EDR##nn, EDG##nn, EDB##nn;
    MORVANE_BATCH_FLAGS(MORVANE_FLAG_MEMBER)
    MORVANE_BATCH_TEXTS(MORVANE_TEXT_MEMBER)
    MORVANE_BATCH_COLOURS(MORVANE_COLOUR_MEMBERS)
#undef MORVANE_FLAG_MEMBER
#undef MORVANE_TEXT_MEMBER
#undef MORVANE_COLOUR_MEMBERS
    int32_t CX01 = 0;  // paper size list index (-1 = none selected)
    int32_t CX02 = 0;  // "solid first" variant list index

    // The component texts of colour number n (1..19): 'R', 'G' or 'B'.
    std::u16string& Component(char rgb, int n);
    const std::u16string& Component(char rgb, int n) const;
    // Pen width edits: screen ED11..ED18 (pen 1..8), printer ED21..ED28.
    std::u16string& ScreenWidth(int pen);
    std::u16string& PrinterWidth(int pen);

    bool operator==(const BatchSettings&) const = default;
};

}  // namespace morvane
