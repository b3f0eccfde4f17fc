// The option boxes that exclude each other, the destination buttons and the
// validity rule of colour components: rules shared by the settings window,
// the settings file reader and the settings applier.
#pragma once

#include <cstdint>

#include "app/AppSettings.h"
#include "app/BatchSettings.h"

namespace morvane {

using BatchFlag = bool BatchSettings::*;

// Pairs of (off box, on box) for one two-state flag of the drawing.
struct OptionPair {
    BatchFlag off;
    BatchFlag on;
};
inline constexpr OptionPair kOptionPairs[] = {
    {&BatchSettings::CB04, &BatchSettings::CB05},  // line widths in 1/100 mm
    {&BatchSettings::CB06, &BatchSettings::CB07},  // point radius on screen
    {&BatchSettings::CB08, &BatchSettings::CB09},  // point radius on the printer
    {&BatchSettings::CB12, &BatchSettings::CB13},  // images and solids first
    {&BatchSettings::CB14, &BatchSettings::CB15},  // texts drawn last
};
// Text background: off, outline, string range.
inline constexpr BatchFlag kTextBackgroundBoxes[] = {&BatchSettings::CB16, &BatchSettings::CB17,
                                                     &BatchSettings::CB18};

// Runs after `box` has been checked or unchecked (by the user or by the
// settings file): the box that changed last wins. A checked box of a pair
// unchecks its partner; a checked box of the triple unchecks the other two.
// Boxes outside the pairs and the triple are left alone.
void OptionBoxClicked(BatchSettings& s, BatchFlag box);

// Destination modes, numbered like the radio buttons RadioButtonFl1..Fl5.
enum class DestinationMode {
    Desktop = 1,       // "デスクトップ"
    Documents = 2,     // "マイドキュメント"
    SourceFolder = 3,  // "元ファイルのフォルダ"
    ChosenFolder = 4,  // "指定フォルダ"
    AskEachRun = 5,    // "毎回指定"
};
// The radio button of a mode.
bool& DestinationButton(AppSettings& a, DestinationMode mode);
// Checks the button of `mode` and unchecks the other four.
void CheckDestination(AppSettings& a, DestinationMode mode);
// The mode a run uses: the first checked button in the order Fl1..Fl4, else
// "毎回指定" (also when none is checked).
DestinationMode CheckedDestination(const AppSettings& a);
// Whether the folder edit and its "参照" button are enabled.
inline bool FolderEditEnabled(const AppSettings& a) { return a.RadioButtonFl4; }

// A colour component text is valid when it is not empty and StrToIntOrZero of
// it lies in 0..255 (so "abc" counts as 0 and is valid).
bool ColourComponentValid(const std::u16string& text);
// Colour number n (1..19) from its three edits: true with the colour
// (r + g*256 + b*65536) when all three components are valid.
bool ColourOfEdits(const BatchSettings& s, int n, int32_t& colour);

// The colour presets of the buttons "背景白", "背景黒", "背景緑" (screen colours
// 1..10) and the printer "背景白" (colours 11..19): they fill the edits only.
enum class ColourPreset { ScreenWhite, ScreenBlack, ScreenGreen, PrinterWhite };
void FillColourPreset(BatchSettings& s, ColourPreset preset);

}  // namespace morvane
