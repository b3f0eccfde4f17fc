#include "app/OptionControls.h"

#include "support/Func_2.h"

namespace morvane {

void OptionBoxClicked(BatchSettings& s, BatchFlag box) {
    if (!(s.*box)) return;  // an unchecked box has nothing to resolve
    for (const OptionPair& p : kOptionPairs) {
        if (box == p.off) s.*p.on = false;
        if (box == p.on) s.*p.off = false;
    }
    bool inTriple = false;
    for (BatchFlag b : kTextBackgroundBoxes) inTriple |= (b == box);
    if (inTriple)
        for (BatchFlag b : kTextBackgroundBoxes)
            if (b != box) s.*b = false;
}

bool& DestinationButton(AppSettings& a, DestinationMode mode) {
    switch (mode) {
        case DestinationMode::Desktop: return a.RadioButtonFl1;
        case DestinationMode::Documents: return a.RadioButtonFl2;
        case DestinationMode::SourceFolder: return a.RadioButtonFl3;
        case DestinationMode::ChosenFolder: return a.RadioButtonFl4;
        case DestinationMode::AskEachRun: break;
    }
    return a.RadioButtonFl5;
}

void CheckDestination(AppSettings& a, DestinationMode mode) {
    for (int m = 1; m <= 5; ++m) DestinationButton(a, static_cast<DestinationMode>(m)) = false;
    DestinationButton(a, mode) = true;
}

DestinationMode CheckedDestination(const AppSettings& a) {
    if (a.RadioButtonFl1) return DestinationMode::Desktop;
    if (a.RadioButtonFl2) return DestinationMode::Documents;
    if (a.RadioButtonFl3) return DestinationMode::SourceFolder;
    if (a.RadioButtonFl4) return DestinationMode::ChosenFolder;
    return DestinationMode::AskEachRun;
}

bool ColourComponentValid(const std::u16string& text) {
    if (text.empty()) return false;
    int32_t v = StrToIntOrZero(text);
    return v >= 0 && v <= 255;
}

bool ColourOfEdits(const BatchSettings& s, int n, int32_t& colour) {
    const std::u16string& r = s.Component('R', n);
    const std::u16string& g = s.Component('G', n);
    const std::u16string& b = s.Component('B', n);
    if (!ColourComponentValid(r) || !ColourComponentValid(g) || !ColourComponentValid(b)) return false;
    colour = RgbToColor(StrToIntOrZero(r), StrToIntOrZero(g), StrToIntOrZero(b));
    return true;
}

namespace {

struct Rgb8 {
    int r, g, b;
};

// Screen colours 1..10: pens 1..8, grey, background.
constexpr Rgb8 kScreenWhite[10] = {{0, 192, 192}, {0, 0, 0},     {0, 192, 0},   {192, 192, 0},
                                   {192, 0, 192}, {0, 0, 255},   {0, 128, 128}, {255, 0, 128},
                                   {192, 192, 192}, {255, 255, 255}};
constexpr Rgb8 kScreenBlack[10] = {{0, 255, 255}, {255, 255, 255}, {0, 255, 0},   {255, 255, 0},
                                   {192, 0, 192}, {32, 32, 255},   {0, 128, 128}, {160, 0, 0},
                                   {128, 128, 128}, {0, 0, 0}};
constexpr Rgb8 kScreenGreen[10] = {{0, 255, 255}, {255, 255, 255}, {0, 255, 0},   {255, 255, 0},
                                   {192, 0, 192}, {32, 32, 255},   {0, 128, 128}, {160, 0, 0},
                                   {128, 128, 128}, {0, 32, 0}};
// Printer colours 11..19: pens 1..8, grey.
constexpr Rgb8 kPrinterWhite[9] = {{0, 255, 255}, {0, 0, 0},   {0, 255, 0},   {255, 255, 0}, {255, 0, 255},
                                   {0, 0, 255},   {0, 128, 128}, {255, 0, 0}, {128, 128, 128}};

template <size_t N>
void Fill(BatchSettings& s, const Rgb8 (&table)[N], int firstColour) {
    for (size_t i = 0; i < N; ++i) {
        int n = firstColour + static_cast<int>(i);
        s.Component('R', n) = IntToDecStr(table[i].r);
        s.Component('G', n) = IntToDecStr(table[i].g);
        s.Component('B', n) = IntToDecStr(table[i].b);
    }
}

}  // namespace

void FillColourPreset(BatchSettings& s, ColourPreset preset) {
    switch (preset) {
        case ColourPreset::ScreenWhite: Fill(s, kScreenWhite, 1); break;
        case ColourPreset::ScreenBlack: Fill(s, kScreenBlack, 1); break;
        case ColourPreset::ScreenGreen: Fill(s, kScreenGreen, 1); break;
        case ColourPreset::PrinterWhite: Fill(s, kPrinterWhite, 11); break;
    }
}

}  // namespace morvane
