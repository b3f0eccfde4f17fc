// Writes the sample drawings of samples/ and the sample settings file with the
// program's own writer:
//   plan-600.jww     version 600, Shift_JIS: Japanese texts, lines, a circle, a
//                    solid and a block inserted twice
//   detail-700.jww   version 700, UTF-16 strings, a bound image shown by a text
//   site-300.jww     version 300: lines, points and dimensions
//   morvane.dat      settings that tick the memo, paper size, line-width unit,
//                    drawing order, text background, widths and colours
// Usage: make_samples OUTPUT_FOLDER
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/OptionControls.h"
#include "app/SettingsFile.h"
#include "doc/JwwUnit.h"
#include "support/Func_2.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

// ---- Document building ------------------------------------------------------

TEntJwwAttr Attr(uint16_t pen, uint8_t style = 1, uint16_t layer = 0) {
    TEntJwwAttr a;
    a.nPenStyle = style;
    a.nPenColor = pen;
    a.nLayer = layer;
    return a;
}

// Tables at their fixed sizes with the values a new drawing has.
void NewDrawing(TJwwData& d, int32_t ver, const std::u16string& memo) {
    d.SizeTables();
    d.Enthd.jwVer = ver;
    d.Enthd.strMemo = memo;
    d.Enthd.nZumen = 3;
    d.Enthd.nMaxDrawWid = 100;
    d.Enthd.nMojiBG = 1;
    d.Enthd.dMojiSizeX = d.Enthd.dMojiSizeY = 3.0;
    for (int g = 0; g < kLayerGroupCount; ++g) {
        d.EntLgrp[g].anGLay = 2;
        d.EntLgrp[g].adScale = 50;
        d.EntLgrp[g].aStrGLayName = u"グループ" + IntToDecStr(g);
    }
    for (int l = 0; l < kLayerCount; ++l) d.EntLay[l].aanLay = 2;
    d.EntLay[0].aStrLayName = u"通り芯";
    d.EntLay[1].aStrLayName = u"壁";
    // Screen colours of the white background, widths 1, printer widths 1.
    const int32_t screen[10] = {RgbToColor(255, 255, 255), RgbToColor(0, 192, 192), RgbToColor(0, 0, 0),
                                RgbToColor(0, 192, 0),     RgbToColor(192, 192, 0), RgbToColor(192, 0, 192),
                                RgbToColor(0, 0, 255),     RgbToColor(0, 128, 128), RgbToColor(255, 0, 128),
                                RgbToColor(192, 192, 192)};
    for (int k = 0; k < kColorCount; ++k) {
        d.EntCol[k].aPenColor = screen[k];
        d.EntCol[k].aPrtPenColor = k == 0 ? RgbToColor(255, 255, 255) : RgbToColor(0, 0, 0);
        d.EntCol[k].anPenWidth = 1;
        d.EntCol[k].anPrtPenWidth = 1;
        d.EntCol[k].adPrtTenHankei = 0.3;
    }
    for (int i = 0; i < kLtp1Count; ++i) d.EntLtp1[i].alLType = 0xFFFFFFFF >> i;
    for (int i = 0; i < kMojiTypeCount; ++i) {
        d.EntMoj[i].adMojiX = d.EntMoj[i].adMojiY = 2.0 + i;
        d.EntMoj[i].anMojiCol = 1 + i % 8;
    }
}

TEntJwwLine Line(double x1, double y1, double x2, double y2, uint16_t pen = 2) {
    TEntJwwLine l;
    l.att = Attr(pen);
    l.start_x = x1, l.start_y = y1, l.end_x = x2, l.end_y = y2;
    return l;
}

TEntJwwMoji Text(double x, double y, const std::u16string& s, double size = 3.5) {
    TEntJwwMoji m;
    m.att = Attr(2);
    m.start_x = x, m.start_y = y;
    m.end_x = x + size * static_cast<double>(s.size()), m.end_y = y;
    m.nMojiShu = 2;
    m.dSizeX = m.dSizeY = size;
    m.strFontName = u"ＭＳ ゴシック";
    m.str = s;
    return m;
}

TEntJwwTen Point(double x, double y) {
    TEntJwwTen t;
    t.att = Attr(3);
    t.start_x = x, t.start_y = y;
    t.dBairitsu = 1.0;
    return t;
}

template <typename T>
void Add(TJwwData& d, std::vector<T>& list, int32_t& count, int type, const T& e) {
    list.push_back(e);
    d.EntNo.push_back({type, count++});
}

void AddLine(TJwwData& d, const TEntJwwLine& e) { Add(d, d.EntLine, d.EntLineN, 1, e); }
void AddText(TJwwData& d, const TEntJwwMoji& e) { Add(d, d.EntMoji, d.EntMojiN, 4, e); }

bool Save(TJwwData& d, const fs::path& path, int32_t ver, int option) {
    d.Enthd.n1 = static_cast<int32_t>(d.EntNo.size());
    d.Enthd.n2 = d.EntBlockDefN;
    d.MakeBlockTree();
    d.SetFileOutOption(option);
    if (d.FileOut(Utf8ToStr(path.string()), ver)) return true;
    std::fprintf(stderr, "%s: %s\n", path.string().c_str(), d.LastFailure().Describe().c_str());
    return false;
}

// ---- The three drawings -------------------------------------------------------

// A block "窓" (a window: frame, sash line, label) inserted twice.
void AddWindowBlock(TJwwData& d) {
    TEntJwwBlockDef def;
    def.att = Attr(2);
    def.nNumber = 1;
    def.strName = u"窓";
    for (const TEntJwwLine& l : {Line(0, 0, 1600, 0), Line(1600, 0, 1600, 100), Line(1600, 100, 0, 100),
                                 Line(0, 100, 0, 0), Line(800, 0, 800, 100, 7)}) {
        def.mLine.push_back(l);
        def.mNo.push_back({1, def.mLineN++});
    }
    def.mMoji.push_back(Text(0, 150, u"引違い窓 W1600", 2.5));
    def.mNo.push_back({4, def.mMojiN++});
    def.N = static_cast<int32_t>(def.mNo.size());
    d.EntBlockDef.push_back(def);
    d.EntBlockDefN = 1;

    for (double x : {1000.0, 5000.0}) {
        TEntJwwBlock b;
        b.att = Attr(2);
        b.DPKijunTen_x = x, b.DPKijunTen_y = 6000;
        b.dBairitsuX = b.dBairitsuY = 1.0;
        b.nNumber = 1;
        Add(d, d.EntBlock, d.EntBlockN, 7, b);
    }
}

bool MakePlan600(const fs::path& out) {
    TJwwData d;
    NewDrawing(d, 600, u"木造平面図\r\nサンプル 1/50");
    const double wall[][4] = {{0, 0, 9100, 0}, {9100, 0, 9100, 6000}, {9100, 6000, 0, 6000}, {0, 6000, 0, 0}};
    for (const auto& w : wall) AddLine(d, Line(w[0], w[1], w[2], w[3]));
    AddLine(d, Line(4550, -500, 4550, 6500, 1));  // axis
    AddText(d, Text(500, 3000, u"居間・食堂　１２畳"));
    AddText(d, Text(5200, 3000, u"和室　６畳"));
    AddText(d, Text(500, -1500, u"ｶﾀｶﾅ と ひらがな と 漢字", 2.5));
    TEntJwwEnko c;
    c.att = Attr(6);
    c.start_x = 2000, c.start_y = 1500, c.dHankei = 450, c.radEnkoKaku = 6.283185307179586;
    c.dHenpeiRitsu = 1, c.bZenEnFlg = 1;
    Add(d, d.EntEnko, d.EntEnkoN, 2, c);
    TEntJwwSolid s;
    s.att = Attr(9);
    s.start_x = 8600, s.start_y = 5500, s.end_x = 9100, s.end_y = 5500;
    s.DPoint2_x = 9100, s.DPoint2_y = 6000, s.DPoint3_x = 8600, s.DPoint3_y = 6000;
    Add(d, d.EntSolid, d.EntSolidN, 6, s);
    AddWindowBlock(d);
    return Save(d, out / "plan-600.jww", 600, 0);
}

// ---- A bound image: an 8 x 8 PNG, gzip-compressed ---------------------------------

void PutBE32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
    PutBE32(png, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    PutBE32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                             static_cast<uInt>(body.size()))));
}

std::string SmallPng() {
    const int size = 8;
    std::string raw;  // filter byte 0, then RGB pixels: a red and white checker
    for (int y = 0; y < size; ++y) {
        raw += '\0';
        for (int x = 0; x < size; ++x) raw += ((x + y) % 2) ? std::string("\xFF\xFF\xFF", 3) : std::string("\xC0\x20\x20", 3);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    std::string ihdr;
    PutBE32(ihdr, size), PutBE32(ihdr, size);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
    std::string png = "\x89PNG\r\n\x1A\n";
    PngChunk(png, "IHDR", ihdr);
    PngChunk(png, "IDAT", packed);
    PngChunk(png, "IEND", "");
    return png;
}

std::string Gzip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool MakeDetail700(const fs::path& out, const fs::path& work) {
    TJwwData d;
    NewDrawing(d, 700, u"詳細図 — Unicode\r\n①②③ 𠮷野家");
    d.BindImageFolder = Utf8ToStr(work.string()) + u"/";
    d.BindImageExp = d.BindImageExr = true;
    const std::string gz = Gzip(SmallPng());
    std::ofstream(work / "checker.png.gz", std::ios::binary).write(gz.data(), static_cast<std::streamsize>(gz.size()));
    d.BindImage.push_back({u"checker.png.gz", static_cast<int32_t>(gz.size()), false});
    d.BindImageN = 1;

    AddLine(d, Line(0, 0, 3000, 0));
    AddLine(d, Line(3000, 0, 3000, 2000));
    AddText(d, Text(100, 2200, u"納まり詳細 ① — ＵＴＦ-16"));
    AddText(d, Text(100, 2600, u"Ø 12 · α β γ · 髙﨑"));
    // A text that shows the bound image: "^@BM%temp%" + file name + placement.
    AddText(d, Text(500, 500, u"^@BM%temp%checker.png,800,800,0,0,1,0"));
    return Save(d, out / "detail-700.jww", 700, kOptUnicode);
}

TEntJwwSunpo Dimension(double x1, double x2, double y, const std::u16string& label) {
    TEntJwwSunpo s;
    s.att = Attr(1);
    s.Sen = Line(x1, y, x2, y, 1);
    s.Moji = Text((x1 + x2) / 2 - 600, y + 100, label, 2.5);
    s.Moji.att = Attr(1);
    return s;
}

bool MakeSite300(const fs::path& out) {
    TJwwData d;
    NewDrawing(d, 300, u"敷地図");
    d.Enthd.nZumen = 2;
    const double lot[][4] = {{0, 0, 20000, 0}, {20000, 0, 18000, 15000}, {18000, 15000, 0, 15000}, {0, 15000, 0, 0}};
    for (const auto& l : lot) AddLine(d, Line(l[0], l[1], l[2], l[3], 5));
    for (const auto& p : {Point(0, 0), Point(20000, 0), Point(18000, 15000), Point(0, 15000)})
        Add(d, d.EntTen, d.EntTenN, 3, p);
    Add(d, d.EntSunpo, d.EntSunpoN, 5, Dimension(0, 20000, -1500, u"20,000"));
    Add(d, d.EntSunpo, d.EntSunpoN, 5, Dimension(0, 18000, 16500, u"18,000"));
    AddText(d, Text(7000, 7000, u"敷地面積 285.00㎡"));
    return Save(d, out / "site-300.jww", 300, 0);
}

// ---- The settings ------------------------------------------------------------------

bool MakeSettings(const fs::path& out) {
    AppSettings a;
    a.LabelPreFolder = u"";
    BatchSettings& b = a.batch;
    b.CB01 = true, b.ED01 = u"Morvane で変換済み";
    b.CB03 = true, b.CX01 = 1;  // Ａ-１
    b.CB05 = true;              // line widths in 1/100 mm
    b.CB07 = true;              // points with their radius on screen
    b.CB10 = true;
    for (int pen = 1; pen <= 8; ++pen) b.ScreenWidth(pen) = IntToDecStr(pen <= 2 ? 1 : 2);
    b.CB13 = true, b.CX02 = 1;  // images and solids first, solids before images
    b.CB15 = true;              // texts last
    b.CB18 = true, b.ED30 = u"1.5";
    b.CB19 = b.CB20 = true;
    FillColourPreset(b, ColourPreset::ScreenBlack);
    FillColourPreset(b, ColourPreset::PrinterWhite);
    return SaveDatFile(Utf8ToStr((out / "morvane.dat").string()), a);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples OUTPUT_FOLDER\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    const fs::path work = fs::temp_directory_path() / ("morvane-samples-" + std::to_string(::getpid()));
    fs::create_directories(work);
    bool ok = MakePlan600(out) && MakeDetail700(out, work) && MakeSite300(out) && MakeSettings(out);
    fs::remove_all(work);
    return ok ? 0 : 1;
}
