#include "app/SettingsApplier.h"

#include "app/OptionControls.h"
#include "support/Func_2.h"

namespace morvane {

const char16_t* const kPaperSizeItems[kPaperSizeCount] = {
    u"Ａ-０", u"Ａ-１", u"Ａ-２", u"Ａ-３", u"Ａ-４", u"２ Ａ",
    u"３ Ａ", u"４ Ａ", u"５ Ａ", u"１０ｍ", u"５０ｍ", u"１００ｍ"};

// nZumen by list index; the codes 5..7 belong to no item.
constexpr int32_t kPaperSizeCodes[kPaperSizeCount] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14};

int32_t PaperSizeCode(int32_t index) {
    return (index >= 0 && index < kPaperSizeCount) ? kPaperSizeCodes[index] : 0;
}

std::u16string PaperSizeCaption(int32_t nZumen) {
    for (int i = 0; i < kPaperSizeCount; ++i)
        if (kPaperSizeCodes[i] == nZumen) return kPaperSizeItems[i];
    return {};
}

namespace {

// Memo lines are cut to 32 display cells (a full-width character takes two).
constexpr int kMemoLineCells = 32;

void ApplyMemo(BatchSettings& s, TJwwData& doc) {
    if (s.CB01) doc.MemoLine1 = CutByWidth(s.ED01, 0, kMemoLineCells).part;
    if (s.CB02) doc.MemoLine2 = CutByWidth(s.ED02, 0, kMemoLineCells).part;
    if (s.CB01 || s.CB02) doc.Enthd.strMemo = doc.MemoLine1 + u"\r\n" + doc.MemoLine2;
}

// Both boxes of a pair checked: the on box loses (the applier's precedence,
// unlike a click, where the box changed last wins).
void ClearOnBoxIfBoth(BatchSettings& s, const OptionPair& p) {
    if (s.*p.off && s.*p.on) s.*p.on = false;
}

void ApplyLineWidthUnit(BatchSettings& s, TEntJwwHeader& h) {
    ClearOnBoxIfBoth(s, kOptionPairs[0]);
    if (s.CB04) {
        h.nMaxDrawWid = 100;
        h.bSenHaba100 = false;
    }
    if (s.CB05) {
        h.nMaxDrawWid = -101;
        h.bSenHaba100 = true;
    }
}

void ApplyPointRadius(BatchSettings& s, const OptionPair& p, int32_t& field) {
    ClearOnBoxIfBoth(s, p);
    if (s.*p.off) field = 0;
    if (s.*p.on) field = 1;
}

template <typename Member>
void ApplyPenWidths(BatchSettings& s, TJwwData& doc, Member width, int32_t maxWidth,
                    int32_t TEntJwwColorNo::*field) {
    for (int pen = 1; pen <= 8; ++pen) {
        int32_t v = StrToIntOrZero((s.*width)(pen));
        if (v >= 1 && v <= maxWidth) doc.EntCol[pen].*field = v;
    }
}

// nBitMapFirstDraw: the units digit is the setting, the tens digit is kept.
void ApplyImagesFirst(BatchSettings& s, TEntJwwHeader& h) {
    int32_t tens = h.nBitMapFirstDraw / 10;
    ClearOnBoxIfBoth(s, kOptionPairs[3]);
    if (s.CB12) h.nBitMapFirstDraw = tens * 10;
    if (s.CB13) h.nBitMapFirstDraw = tens * 10 + (s.CX02 == 0 ? 1 : 2);
}

// nMojiBG: the tens digit is "texts drawn last", the units digit the text
// background mode (1 off, 2 outline, 3 string range).
void ApplyTextLast(BatchSettings& s, TEntJwwHeader& h) {
    int32_t units = h.nMojiBG % 10;
    ClearOnBoxIfBoth(s, kOptionPairs[4]);
    if (s.CB14) h.nMojiBG = units;
    if (s.CB15) h.nMojiBG = units + 10;
}

void ApplyTextBackground(BatchSettings& s, TEntJwwHeader& h) {
    int32_t tens = h.nMojiBG / 10;
    // CB16 wins over both others, CB17 over CB18.
    for (BatchFlag winner : kTextBackgroundBoxes)
        if (s.*winner)
            for (BatchFlag other : kTextBackgroundBoxes)
                if (other != winner) s.*other = false;
    if (s.CB16) h.nMojiBG = tens * 10 + 1;
    if (s.CB17) h.nMojiBG = tens * 10 + 2;
    if (s.CB18) {
        h.nMojiBG = tens * 10 + 3;
        // The margin is parsed as typed, blanks included: " 2" is 2, "2 " is 0.
        if (!RemoveBlanks(s.ED30).empty()) {
            double v = StrToFloatOrZero(s.ED30);
            if (v >= -1 && v <= 10) h.dMojiBG = v;
        }
    }
}

// Colour n of the edits into the pen table entry `entry`.
void ApplyColour(const BatchSettings& s, int n, int32_t& target) {
    int32_t colour = 0;
    if (ColourOfEdits(s, n, colour)) target = colour;
}

void ApplyScreenColours(const BatchSettings& s, TJwwData& doc) {
    // Colours 1..9 are pens 1..8 and grey (entries 1..9); colour 10 is the
    // background, entry 0.
    for (int n = 1; n <= 10; ++n) ApplyColour(s, n, doc.EntCol[n == 10 ? 0 : n].aPenColor);
}

void ApplyPrinterColours(const BatchSettings& s, TJwwData& doc) {
    // The printer colour of entry 0 (background) is never changed.
    for (int n = 11; n <= 19; ++n) ApplyColour(s, n, doc.EntCol[n - 10].aPrtPenColor);
}

}  // namespace

void RunProc2(BatchSettings& s, TJwwData& doc) {
    TEntJwwHeader& h = doc.Enthd;
    ApplyMemo(s, doc);
    if (s.CB03) h.nZumen = PaperSizeCode(s.CX01);
    ApplyLineWidthUnit(s, h);
    ApplyPointRadius(s, kOptionPairs[1], h.nDrawGamenTen);
    ApplyPointRadius(s, kOptionPairs[2], h.nDrawPrtTen);
    const bool penTable = doc.EntCol.size() >= kColorCount;
    if (s.CB10 && penTable) ApplyPenWidths(s, doc, &BatchSettings::ScreenWidth, 16, &TEntJwwColorNo::anPenWidth);
    if (s.CB11 && penTable)
        ApplyPenWidths(s, doc, &BatchSettings::PrinterWidth, 500, &TEntJwwColorNo::anPrtPenWidth);
    ApplyImagesFirst(s, h);
    ApplyTextLast(s, h);
    ApplyTextBackground(s, h);
    if (s.CB19 && penTable) ApplyScreenColours(s, doc);
    if (s.CB20 && penTable) ApplyPrinterColours(s, doc);
}

}  // namespace morvane
