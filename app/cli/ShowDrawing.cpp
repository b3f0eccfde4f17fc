#include "app/cli/ShowDrawing.h"

#include <cstdio>
#include <string>

#include "app/AppPaths.h"
#include "app/SettingsApplier.h"
#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

std::string U8(const std::u16string& s) { return StrToUtf8(s); }

std::string OnOff(bool b) { return b ? "on" : "off"; }

// A text on one line of the listing: control characters (a memo's further
// lines, a stray CR) are shown as escapes, so that nothing of a text can pass
// for a line of its own or overwrite its label.
std::string OneLine(const std::u16string& s) {
    std::u16string shown;
    for (char16_t c : s) {
        switch (c) {
            case u'\r': shown += u"\\r"; continue;
            case u'\n': shown += u"\\n"; continue;
            case u'\t': shown += u"\\t"; continue;
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            for (const char* h = hex; *h; ++h) shown += static_cast<char16_t>(*h);
            continue;
        }
        shown += c;
    }
    return U8(shown);
}

std::string RgbText(int32_t colour) {
    Rgb c = ColorToRgb(colour);
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// nBitMapFirstDraw units digit: 0 off, 1 on, 2 on with solids before images.
std::string ImagesFirstText(int32_t v) {
    switch (v % 10) {
        case 0: return "off";
        case 1: return "on (「ソリッドを先に描画」オフ)";
        case 2: return "on (「ソリッドを先に描画」オン)";
    }
    return "unknown";
}

// nMojiBG units digit: 1 off, 2 outline, 3 string range.
std::string TextBackgroundText(int32_t v) {
    switch (v % 10) {
        case 0: return "not set";
        case 1: return "off";
        case 2: return "outline";
        case 3: return "string range";
    }
    return "unknown";
}

std::string PaperText(int32_t nZumen) {
    std::u16string caption = PaperSizeCaption(nZumen);
    return std::to_string(nZumen) + (caption.empty() ? "" : " (" + U8(caption) + ")");
}

std::string Number(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

void PrintPenTable(const TJwwData& doc, std::FILE* out) {
    std::fprintf(out, "  pens            screen colour  width  printer colour  width\n");
    static const char* const names[kColorCount] = {"background", "1", "2", "3", "4",
                                                   "5",          "6", "7", "8", "grey"};
    // Pens 1..8, grey, then the background (whose printer colour is not used).
    for (int k : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
        if (static_cast<size_t>(k) >= doc.EntCol.size()) continue;
        const TEntJwwColorNo& c = doc.EntCol[k];
        std::fprintf(out, "    %-12s  %-13s  %5d  %-14s  %5d\n", names[k], RgbText(c.aPenColor).c_str(),
                     c.anPenWidth, RgbText(c.aPrtPenColor).c_str(), c.anPrtPenWidth);
    }
}

void PrintDrawing(const std::u16string& path, const TJwwData& doc, std::FILE* out) {
    const TEntJwwHeader& h = doc.Enthd;
    auto line = [&](const char* label, const std::string& value) {
        std::fprintf(out, "  %-16s%s\n", label, value.c_str());
    };
    std::fprintf(out, "%s\n", StrToNative(path).c_str());  // the name as its bytes on disk
    line("version", std::to_string(h.jwVer));
    line("memo line 1", OneLine(doc.MemoLine1));
    line("memo line 2", OneLine(doc.MemoLine2));
    line("paper size", PaperText(h.nZumen));
    line("line widths", (h.bSenHaba100 ? "1/100 mm" : "dots") + std::string(" (nMaxDrawWid ") +
                            std::to_string(h.nMaxDrawWid) + ")");
    line("point radius", "screen " + OnOff(h.nDrawGamenTen != 0) + ", printer " + OnOff(h.nDrawPrtTen != 0));
    line("images first", ImagesFirstText(h.nBitMapFirstDraw) + " (nBitMapFirstDraw " +
                             std::to_string(h.nBitMapFirstDraw) + ")");
    line("texts last", OnOff((h.nMojiBG / 10) % 10 == 1) + " (nMojiBG " + std::to_string(h.nMojiBG) + ")");
    line("text background", TextBackgroundText(h.nMojiBG) + ", margin " + Number(h.dMojiBG) + " mm");
    line("strings", doc.MojiEncode ? "UTF-16" : "Shift_JIS");
    line("bound images", std::to_string(doc.BindImageN > 0 ? doc.BindImageN : 0));
    PrintPenTable(doc, out);
}

}  // namespace

bool ShowDrawing(const std::u16string& path, std::FILE* out, std::FILE* err) {
    // A private folder in case the reader wants one; with BindImageExp off
    // the image list is read and the image bytes skipped, so it stays empty.
    auto working = WorkingFolder::Create(u"");
    TJwwData doc;
    if (working) doc.BindImageFolder = working->Path();
    doc.BindImageExp = false;
    doc.BindImageExr = true;
    bool ok = false;
    try {
        ok = doc.FileIn(path);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok) {
        std::string reason = doc.LastFailure().Describe();
        std::fprintf(err, "%s: %s\n", StrToNative(path).c_str(), reason.empty() ? "cannot be read" : reason.c_str());
        return false;
    }
    PrintDrawing(path, doc, out);
    return true;
}

}  // namespace morvane
