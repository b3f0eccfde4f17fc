#include "app/BatchSettings.h"

#include <stdexcept>

namespace morvane {

namespace {

using Text = std::u16string BatchSettings::*;

struct ColourEdits {
    Text r, g, b;
};
#define MORVANE_COLOUR_ROW(nn) {&BatchSettings::EDR##nn, &BatchSettings::EDG##nn, &BatchSettings::EDB##nn},
constexpr ColourEdits kColourEdits[19] = {MORVANE_BATCH_COLOURS(MORVANE_COLOUR_ROW)};
#undef MORVANE_COLOUR_ROW

constexpr Text kScreenWidths[8] = {&BatchSettings::ED11, &BatchSettings::ED12, &BatchSettings::ED13,
                                   &BatchSettings::ED14, &BatchSettings::ED15, &BatchSettings::ED16,
                                   &BatchSettings::ED17, &BatchSettings::ED18};
constexpr Text kPrinterWidths[8] = {&BatchSettings::ED21, &BatchSettings::ED22, &BatchSettings::ED23,
                                    &BatchSettings::ED24, &BatchSettings::ED25, &BatchSettings::ED26,
                                    &BatchSettings::ED27, &BatchSettings::ED28};

Text ComponentMember(char rgb, int n) {
    if (n < 1 || n > 19) throw std::out_of_range("colour number outside 1..19");
    const ColourEdits& e = kColourEdits[n - 1];
    switch (rgb) {
        case 'R': return e.r;
        case 'G': return e.g;
        case 'B': return e.b;
    }
    throw std::out_of_range("colour component other than R, G, B");
}

Text PenMember(const Text (&table)[8], int pen) {
    if (pen < 1 || pen > 8) throw std::out_of_range("pen number outside 1..8");
    return table[pen - 1];
}

}  // namespace

std::u16string& BatchSettings::Component(char rgb, int n) { return this->*ComponentMember(rgb, n); }

const std::u16string& BatchSettings::Component(char rgb, int n) const {
    return this->*ComponentMember(rgb, n);
}

std::u16string& BatchSettings::ScreenWidth(int pen) { return this->*PenMember(kScreenWidths, pen); }

std::u16string& BatchSettings::PrinterWidth(int pen) { return this->*PenMember(kPrinterWidths, pen); }

}  // namespace morvane
