// The settings applier: each option's effect on a loaded drawing and the
// clearing of losing boxes, as a table over the cases that matter.
#include <gtest/gtest.h>

#include <functional>

#include "app/OptionControls.h"
#include "app/SettingsApplier.h"
#include "doc/JwwUnit.h"

using namespace morvane;

namespace {

// A document as after a load: ten pen table entries with distinct values, the
// memo "A" CR LF "B" split into its two lines.
void LoadedLike(TJwwData& doc) {
    doc.EntCol.assign(kColorCount, {});
    for (int k = 0; k < kColorCount; ++k) {
        doc.EntCol[k].aPenColor = 1000 + k;
        doc.EntCol[k].aPrtPenColor = 2000 + k;
        doc.EntCol[k].anPenWidth = 3 + k;
        doc.EntCol[k].anPrtPenWidth = 30 + k;
    }
    doc.Enthd.strMemo = u"A\r\nB";
    doc.MemoLine1 = u"A";
    doc.MemoLine2 = u"B";
    doc.Enthd.nZumen = 3;
    doc.Enthd.dMojiBG = 0.5;
}

void Memo(TJwwData& doc, std::u16string line1, std::u16string line2) {
    doc.MemoLine1 = line1;
    doc.MemoLine2 = line2;
    doc.Enthd.strMemo = line2.empty() ? line1 : line1 + u"\r\n" + line2;
}

struct Case {
    const char* name;
    std::function<void(BatchSettings&, TJwwData&)> arrange;
    std::function<void(const BatchSettings&, const TJwwData&)> check;
};

const Case kCases[] = {
    {"only the lower memo line replaced",
     [](BatchSettings& s, TJwwData&) { s.CB02 = true, s.ED02 = u"下段"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.strMemo, u"A\r\n下段"); }},
    {"lower line added to a memo without CR LF",
     [](BatchSettings& s, TJwwData& d) { Memo(d, u"A", u""), s.CB02 = true, s.ED02 = u"x"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.strMemo, u"A\r\nx"); }},
    {"empty upper line keeps the lower",
     [](BatchSettings& s, TJwwData&) { s.CB01 = true; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.strMemo, u"\r\nB"); }},
    {"empty upper line on an empty memo gives exactly CR LF",
     [](BatchSettings& s, TJwwData& d) { Memo(d, u"", u""), s.CB01 = true; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.strMemo, u"\r\n"); }},
    {"20 full-width characters keep 16",
     [](BatchSettings& s, TJwwData&) { s.CB01 = true, s.ED01 = std::u16string(20, u'図'); },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.strMemo, std::u16string(16, u'図') + u"\r\nB");
         EXPECT_EQ(d.MemoLine1, std::u16string(16, u'図'));
     }},
    {"40 half-width characters keep 32",
     [](BatchSettings& s, TJwwData&) { s.CB01 = true, s.ED01 = std::u16string(40, u'a'); },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.strMemo, std::u16string(32, u'a') + u"\r\nB");
     }},
    {"memo untouched unless a memo box is checked",
     [](BatchSettings& s, TJwwData&) { s.ED01 = u"x", s.ED02 = u"y"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.strMemo, u"A\r\nB"); }},
    {"paper size index 5 is code 8",
     [](BatchSettings& s, TJwwData&) { s.CB03 = true, s.CX01 = 5; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nZumen, 8); }},
    {"paper size index 11 is code 14",
     [](BatchSettings& s, TJwwData&) { s.CB03 = true, s.CX01 = 11; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nZumen, 14); }},
    {"paper size without selection is code 0",
     [](BatchSettings& s, TJwwData&) { s.CB03 = true, s.CX01 = -1; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nZumen, 0); }},
    {"paper size box unchecked leaves the code",
     [](BatchSettings& s, TJwwData&) { s.CX01 = 5; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nZumen, 3); }},
    {"line-width unit: both boxes, off wins and on is cleared",
     [](BatchSettings& s, TJwwData& d) { s.CB04 = s.CB05 = true, d.Enthd.nMaxDrawWid = -101; },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMaxDrawWid, 100);
         EXPECT_FALSE(d.Enthd.bSenHaba100);
         EXPECT_TRUE(s.CB04);
         EXPECT_FALSE(s.CB05);
     }},
    {"line-width unit on",
     [](BatchSettings& s, TJwwData&) { s.CB05 = true; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMaxDrawWid, -101);
         EXPECT_TRUE(d.Enthd.bSenHaba100);
     }},
    {"point radii: both pairs doubly checked, off wins",
     [](BatchSettings& s, TJwwData& d) {
         s.CB06 = s.CB07 = s.CB08 = s.CB09 = true;
         d.Enthd.nDrawGamenTen = d.Enthd.nDrawPrtTen = 1;
     },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nDrawGamenTen, 0);
         EXPECT_EQ(d.Enthd.nDrawPrtTen, 0);
         EXPECT_FALSE(s.CB07);
         EXPECT_FALSE(s.CB09);
     }},
    {"point radii on",
     [](BatchSettings& s, TJwwData&) { s.CB07 = s.CB09 = true; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nDrawGamenTen, 1);
         EXPECT_EQ(d.Enthd.nDrawPrtTen, 1);
     }},
    {"screen widths: 0 and 17 skipped, 16 and 1 stored, abc skipped",
     [](BatchSettings& s, TJwwData&) {
         s.CB10 = true, s.ED11 = u"0", s.ED12 = u"17", s.ED13 = u"16", s.ED14 = u"1", s.ED15 = u"abc";
     },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[1].anPenWidth, 4);
         EXPECT_EQ(d.EntCol[2].anPenWidth, 5);
         EXPECT_EQ(d.EntCol[3].anPenWidth, 16);
         EXPECT_EQ(d.EntCol[4].anPenWidth, 1);
         EXPECT_EQ(d.EntCol[5].anPenWidth, 8);
         EXPECT_EQ(d.EntCol[0].anPenWidth, 3);  // the background entry is no pen
     }},
    {"printer widths: 500 stored, 501 skipped",
     [](BatchSettings& s, TJwwData&) { s.CB11 = true, s.ED21 = u"500", s.ED28 = u"501"; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[1].anPrtPenWidth, 500);
         EXPECT_EQ(d.EntCol[8].anPrtPenWidth, 38);
     }},
    {"widths ignored without their box",
     [](BatchSettings& s, TJwwData&) { s.ED11 = u"9", s.ED21 = u"9"; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[1].anPenWidth, 4);
         EXPECT_EQ(d.EntCol[1].anPrtPenWidth, 31);
     }},
    {"images first on, solids not first: 12 becomes 11",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nBitMapFirstDraw = 12, s.CB13 = true, s.CX02 = 0; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nBitMapFirstDraw, 11); }},
    {"images first on, solids first: 10 becomes 12",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nBitMapFirstDraw = 10, s.CB13 = true, s.CX02 = 1; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nBitMapFirstDraw, 12); }},
    {"images first off: 12 becomes 10",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nBitMapFirstDraw = 12, s.CB12 = true; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nBitMapFirstDraw, 10); }},
    {"images first: both boxes, off wins",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nBitMapFirstDraw = 21, s.CB12 = s.CB13 = true; },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nBitMapFirstDraw, 20);
         EXPECT_FALSE(s.CB13);
     }},
    {"texts last on with outline background: 3 becomes 12",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nMojiBG = 3, s.CB15 = s.CB17 = true; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.nMojiBG, 12); }},
    {"texts last off keeps the units digit",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nMojiBG = 13, s.CB14 = s.CB15 = true; },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMojiBG, 3);
         EXPECT_FALSE(s.CB15);
     }},
    {"text background: all three boxes, off wins over both",
     [](BatchSettings& s, TJwwData& d) { d.Enthd.nMojiBG = 13, s.CB16 = s.CB17 = s.CB18 = true; },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMojiBG, 11);
         EXPECT_TRUE(s.CB16);
         EXPECT_FALSE(s.CB17);
         EXPECT_FALSE(s.CB18);
     }},
    {"text background: outline wins over string range",
     [](BatchSettings& s, TJwwData&) { s.CB17 = s.CB18 = true, s.ED30 = u"2"; },
     [](const BatchSettings& s, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMojiBG, 2);
         EXPECT_FALSE(s.CB18);
         EXPECT_EQ(d.Enthd.dMojiBG, 0.5);
     }},
    {"string range with margin 10.5 out of range",
     [](BatchSettings& s, TJwwData&) { s.CB18 = true, s.ED30 = u"10.5"; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.Enthd.nMojiBG % 10, 3);
         EXPECT_EQ(d.Enthd.dMojiBG, 0.5);
     }},
    {"string range with margin -1",
     [](BatchSettings& s, TJwwData&) { s.CB18 = true, s.ED30 = u"-1"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.dMojiBG, -1.0); }},
    {"string range with blank margin keeps it",
     [](BatchSettings& s, TJwwData&) { s.CB18 = true, s.ED30 = u" 　 "; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.dMojiBG, 0.5); }},
    {"string range with letters as margin gives 0",
     [](BatchSettings& s, TJwwData&) { s.CB18 = true, s.ED30 = u"abc"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.Enthd.dMojiBG, 0.0); }},
    {"screen colour with an empty component is left",
     [](BatchSettings& s, TJwwData&) { s.CB19 = true, s.EDR05 = u"255", s.EDB05 = u"0"; },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.EntCol[5].aPenColor, 1005); }},
    {"screen colour 255,0,0 stored; 256 invalid; abc counts as 0",
     [](BatchSettings& s, TJwwData&) {
         s.CB19 = true;
         s.EDR05 = u"255", s.EDG05 = u"0", s.EDB05 = u"0";
         s.EDR06 = u"256", s.EDG06 = u"0", s.EDB06 = u"0";
         s.EDR07 = u"1", s.EDG07 = u"abc", s.EDB07 = u"2";
     },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[5].aPenColor, 255);
         EXPECT_EQ(d.EntCol[6].aPenColor, 1006);
         EXPECT_EQ(d.EntCol[7].aPenColor, 1 + 2 * 65536);
     }},
    {"colour 10 is the background entry 0",
     [](BatchSettings& s, TJwwData&) { s.CB19 = true, s.EDR10 = s.EDG10 = s.EDB10 = u"255"; },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[0].aPenColor, 16777215);
         EXPECT_EQ(d.EntCol.size(), 10u);
     }},
    {"printer colours 11..19 go to entries 1..9, never entry 0",
     [](BatchSettings& s, TJwwData&) {
         s.CB20 = true;
         FillColourPreset(s, ColourPreset::PrinterWhite);
     },
     [](const BatchSettings&, const TJwwData& d) {
         EXPECT_EQ(d.EntCol[1].aPrtPenColor, 255 * 256 + 255 * 65536);
         EXPECT_EQ(d.EntCol[9].aPrtPenColor, 128 + 128 * 256 + 128 * 65536);
         EXPECT_EQ(d.EntCol[0].aPrtPenColor, 2000);
         EXPECT_EQ(d.EntCol[1].aPenColor, 1001);
     }},
    {"colour edits ignored without their box",
     [](BatchSettings& s, TJwwData&) { FillColourPreset(s, ColourPreset::ScreenBlack); },
     [](const BatchSettings&, const TJwwData& d) { EXPECT_EQ(d.EntCol[2].aPenColor, 1002); }},
};

TEST(SettingsApplier, Cases) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TJwwData doc;
        LoadedLike(doc);
        BatchSettings s;
        c.arrange(s, doc);
        RunProc2(s, doc);
        c.check(s, doc);
    }
}

TEST(SettingsApplier, NothingCheckedChangesNothing) {
    TJwwData doc;
    LoadedLike(doc);
    doc.Enthd.nBitMapFirstDraw = 12;
    doc.Enthd.nMojiBG = 13;
    BatchSettings s;
    FillColourPreset(s, ColourPreset::ScreenWhite);
    s.ED01 = u"x", s.ED11 = u"5", s.ED30 = u"3", s.CX01 = 7;
    const BatchSettings before = s;
    RunProc2(s, doc);
    EXPECT_EQ(s, before);
    EXPECT_EQ(doc.Enthd.strMemo, u"A\r\nB");
    EXPECT_EQ(doc.Enthd.nZumen, 3);
    EXPECT_EQ(doc.Enthd.nBitMapFirstDraw, 12);
    EXPECT_EQ(doc.Enthd.nMojiBG, 13);
    for (int k = 0; k < kColorCount; ++k) {
        EXPECT_EQ(doc.EntCol[k].aPenColor, 1000 + k);
        EXPECT_EQ(doc.EntCol[k].anPenWidth, 3 + k);
    }
}

TEST(SettingsApplier, PenStepsSkippedWithoutAPenTable) {
    TJwwData doc;
    doc.EntCol.clear();
    BatchSettings s;
    s.CB10 = s.CB11 = s.CB19 = s.CB20 = true;
    s.ED11 = u"5", s.ED21 = u"5";
    FillColourPreset(s, ColourPreset::ScreenWhite);
    FillColourPreset(s, ColourPreset::PrinterWhite);
    RunProc2(s, doc);  // must not touch memory that is not there
    EXPECT_TRUE(doc.EntCol.empty());
}

TEST(OptionControls, BoxChangedLastWins) {
    BatchSettings s;
    s.CB04 = true;
    OptionBoxClicked(s, &BatchSettings::CB04);
    s.CB05 = true;
    OptionBoxClicked(s, &BatchSettings::CB05);
    EXPECT_FALSE(s.CB04);
    EXPECT_TRUE(s.CB05);
    s.CB04 = true;
    OptionBoxClicked(s, &BatchSettings::CB04);
    EXPECT_TRUE(s.CB04);
    EXPECT_FALSE(s.CB05);

    s.CB16 = true;
    OptionBoxClicked(s, &BatchSettings::CB16);
    s.CB18 = true;
    OptionBoxClicked(s, &BatchSettings::CB18);
    EXPECT_FALSE(s.CB16);
    EXPECT_FALSE(s.CB17);
    EXPECT_TRUE(s.CB18);

    // Unchecking does nothing to the partner; boxes outside the pairs are free.
    s.CB12 = s.CB13 = true;
    s.CB12 = false;
    OptionBoxClicked(s, &BatchSettings::CB12);
    EXPECT_TRUE(s.CB13);
    s.CB01 = s.CB02 = true;
    OptionBoxClicked(s, &BatchSettings::CB02);
    EXPECT_TRUE(s.CB01);
}

TEST(OptionControls, DestinationButtons) {
    AppSettings a;
    EXPECT_EQ(CheckedDestination(a), DestinationMode::Desktop);
    CheckDestination(a, DestinationMode::ChosenFolder);
    EXPECT_FALSE(a.RadioButtonFl1);
    EXPECT_TRUE(FolderEditEnabled(a));
    EXPECT_EQ(CheckedDestination(a), DestinationMode::ChosenFolder);
    a.RadioButtonFl4 = false;  // none checked behaves as "毎回指定"
    EXPECT_EQ(CheckedDestination(a), DestinationMode::AskEachRun);
    EXPECT_FALSE(FolderEditEnabled(a));
}

TEST(OptionControls, ColourPresetsAndComponentValidity) {
    BatchSettings s;
    FillColourPreset(s, ColourPreset::ScreenBlack);
    BatchSettings black = s;
    FillColourPreset(s, ColourPreset::ScreenGreen);
    // "背景緑" after "背景黒": only the background differs.
    for (int n = 1; n <= 9; ++n)
        for (char c : {'R', 'G', 'B'}) EXPECT_EQ(s.Component(c, n), black.Component(c, n)) << n << c;
    int32_t colour = 0;
    ASSERT_TRUE(ColourOfEdits(s, 10, colour));
    EXPECT_EQ(colour, 32 * 256);
    EXPECT_FALSE(ColourOfEdits(s, 11, colour));  // printer edits still empty

    EXPECT_FALSE(ColourComponentValid(u""));
    EXPECT_FALSE(ColourComponentValid(u"300"));
    EXPECT_FALSE(ColourComponentValid(u"-1"));
    EXPECT_TRUE(ColourComponentValid(u"abc"));
    EXPECT_TRUE(ColourComponentValid(u"255"));
}

TEST(BatchSettings, AccessorsNameTheirMembers) {
    BatchSettings s;
    s.Component('R', 1) = u"r1";
    s.Component('B', 19) = u"b19";
    s.ScreenWidth(8) = u"w18";
    s.PrinterWidth(1) = u"w21";
    EXPECT_EQ(s.EDR01, u"r1");
    EXPECT_EQ(s.EDB19, u"b19");
    EXPECT_EQ(s.ED18, u"w18");
    EXPECT_EQ(s.ED21, u"w21");
    EXPECT_THROW(s.Component('R', 20), std::out_of_range);
    EXPECT_THROW(s.Component('X', 1), std::out_of_range);
    EXPECT_THROW(s.ScreenWidth(0), std::out_of_range);
}

}  // namespace
