// A drawing filled by code, for whole-file tests: every header field and
// table entry holds a value of its own, every entity class stands at the top
// level and inside block definitions nested two deep (plus one definition
// that nothing reaches but that the file holds), texts are Japanese, and two
// texts refer to bound images. Saved with FileOut at any version it gives the fixture file of that
// version.
#pragma once

#include <cstdint>
#include <string>

#include "doc/JwwUnit.h"
#include "tests/DocCompare.h"

namespace morvane::fixture {

// Sizes the nine tables as the header reader does; entries stay zero.
inline void SizeTables(TJwwData& d) { d.SizeTables(); }

// Values that no two fields share and that every double holds exactly.
struct Seed {
    int32_t n = 1;
    int32_t Int() { return n++ * 7; }
    double Real() { return n++ * 0.5 + 0.25; }
};

inline std::u16string Num(int i) { return IntToDecStr(i); }

inline void FillHeader(TJwwData& d, Seed& s) {
    TEntJwwHeader& h = d.Enthd;
#define MV_FILL(f) h.f = s.Int();
    MORVANE_HEADER_INTS(MV_FILL)
#undef MV_FILL
#define MV_FILL(f) h.f = s.Real();
    MORVANE_HEADER_DOUBLES(MV_FILL)
#undef MV_FILL
#define MV_FILL(f, n) \
    for (int i = 0; i < (n); ++i) h.f[i] = static_cast<decltype(+h.f[0])>(s.Real() * 2);
    MORVANE_HEADER_ARRAYS(MV_FILL)
#undef MV_FILL
    h.jwVer = kMaxVersion;  // as if loaded from a version-700 file
    h.strMemo = u"上の行\r\n下の行\r\n三行目";
    h.nMaxDrawWid = -450;  // widths in 1/100 mm
    h.bSenHaba100 = true;
    h.nMaxDrawWidBak = -50;
    h.nPrtDispOnlyNonDraw = 3;
    h.nPrtDpi = 2;
    h.dMojiSizeX = 2.5;
    h.dMojiSizeY = 3.5;
}

inline void FillTables(TJwwData& d, Seed& s) {
    SizeTables(d);
    for (int g = 0; g < kLayerGroupCount; ++g) {
        auto& e = d.EntLgrp[g];
        e.anGLay = s.Int();
        e.anWriteLay = s.Int();
        e.adScale = s.Real();
        e.anGLayProtect = s.Int();
        e.aStrGLayName = g % 5 == 0 ? u"" : u"グループ" + Num(g);
    }
    for (int l = 0; l < kLayerCount; ++l) {
        auto& e = d.EntLay[l];
        e.aanLay = s.Int();
        e.aanLayProtect = s.Int();
        e.aStrLayName = l % 7 == 0 ? u"" : u"壁・柱 " + Num(l);
    }
    for (int i = 0; i < kColorCount; ++i) {
        auto& e = d.EntCol[i];
        e.aPenColor = 0x010203 * (i + 1);
        e.anPenWidth = 1 + i;
        e.aPrtPenColor = i == 0 ? 0xFFFFFF : 0x030201 * (i + 1);
        e.anPrtPenWidth = 1 + i * 40;
        e.adPrtTenHankei = 0.5 + i * 0.75;
    }
    for (auto& e : d.EntLtp1) e = {s.Int(), s.Int(), s.Int(), s.Int()};
    for (auto& e : d.EntLtp2) e = {s.Int(), s.Int(), s.Int(), s.Int(), s.Int()};
    for (auto& e : d.EntLtp3) e = {s.Int(), s.Int(), s.Int(), s.Int()};
    for (int i = 0; i < kColorExCount; ++i) {
        auto& e = d.EntColS[i];
        e.aPenColor = (i * 0x10101) & 0xFFFFFF;
        e.anPenWidth = s.Int();
        e.astrUDColorName = i % 3 == 0 ? u"Color_" + Num(i) : u"色" + Num(i);
        e.aPrtPenColor = i <= 16 ? i * 0x20202 : e.aPenColor;
        e.anPrtPenWidth = s.Int();
        e.adPrtTenHankei = s.Real();
    }
    for (int i = 0; i < kLineTypeExCount; ++i) {
        auto& e = d.EntLtpS[i];
        e.alLType = s.Int();
        e.anTokushuSenUintDot = s.Int();
        e.anTokushuSenPich = s.Int();
        e.anPrtTokushuSenPich = s.Int();
        e.astrUDLTypeName = u"線種" + Num(i);
        e.anUDLTypeSegment = 2 * (1 + i % 4);
        for (double& p : e.aadUDLTypePitch) p = s.Real();
    }
    for (auto& e : d.EntMoj) e = {s.Real(), s.Real(), s.Real(), s.Int()};
}

inline TEntJwwAttr Attr(uint8_t style, uint16_t color, Seed& s) {
    TEntJwwAttr a;
    a.lGroup = static_cast<uint32_t>(s.Int());
    a.nPenStyle = style;
    a.nPenColor = color;
    a.nPenWidth = static_cast<uint16_t>(s.n % 300 + 1);
    a.nLayer = static_cast<uint16_t>(s.n % 16);
    a.nGLayer = static_cast<uint16_t>((s.n + 5) % 16);
    a.sFlg = static_cast<uint16_t>(s.Int());
    return a;
}

inline TEntJwwLine Line(uint8_t style, uint16_t color, Seed& s) {
    TEntJwwLine e;
    e.att = Attr(style, color, s);
    e.start_x = s.Real();
    e.start_y = -s.Real();
    e.end_x = s.Real();
    e.end_y = s.Real();
    return e;
}

// `topLevel`: a point without its optional fields loads with scale 1 at the
// top level and 0 inside definitions and dimensions.
inline TEntJwwTen Point(bool withCode, bool topLevel, Seed& s) {
    TEntJwwTen e;
    e.att = Attr(withCode ? 100 : 1, 2, s);
    e.start_x = s.Real();
    e.start_y = s.Real();
    e.bKariten = withCode ? 0 : 1;
    if (withCode) {
        e.nCode = 7;
        e.radKaitenKaku = 0.5;
        e.dBairitsu = 2.0;
    } else {
        e.dBairitsu = topLevel ? 1.0 : 0.0;
    }
    return e;
}

inline TEntJwwMoji Text(std::u16string str, Seed& s) {
    TEntJwwMoji e;
    e.att = Attr(static_cast<uint8_t>(1 + s.n % 9), 5, s);
    e.start_x = s.Real();
    e.start_y = s.Real();
    e.end_x = s.Real();
    e.end_y = s.Real();
    e.nMojiShu = 3;
    e.dSizeX = 2.5;
    e.dSizeY = 3.0;
    e.dKankaku = 0.25;
    e.degKakudo = 30;
    e.strFontName = u"ＭＳ ゴシック";
    e.str = std::move(str);
    return e;
}

// Appending to the drawing's lists or a definition's, with the order entry.
inline void Order(TJwwData& d, int kind, int32_t index) {
    d.EntNo.push_back({kind, index});
    d.Enthd.n1 = static_cast<int32_t>(d.EntNo.size());
}
inline void Order(TEntJwwBlockDef& b, int kind, int32_t index) { b.mNo.push_back({kind, index}); }

#define MV_ADDER(Name, Rec, kind, docList, docN, defList, defN) \
    inline void Name(TJwwData& d, const Rec& e) {               \
        d.docList.push_back(e);                                 \
        Order(d, kind, d.docN++);                               \
    }                                                           \
    inline void Name(TEntJwwBlockDef& b, const Rec& e) {        \
        b.defList.push_back(e);                                 \
        Order(b, kind, b.defN++);                               \
    }
MV_ADDER(AddLine, TEntJwwLine, kKindLine, EntLine, EntLineN, mLine, mLineN)
MV_ADDER(AddEnko, TEntJwwEnko, kKindEnko, EntEnko, EntEnkoN, mEnko, mEnkoN)
MV_ADDER(AddTen, TEntJwwTen, kKindTen, EntTen, EntTenN, mTen, mTenN)
MV_ADDER(AddMoji, TEntJwwMoji, kKindMoji, EntMoji, EntMojiN, mMoji, mMojiN)
MV_ADDER(AddSunpo, TEntJwwSunpo, kKindSunpo, EntSunpo, EntSunpoN, mSunpo, mSunpoN)
MV_ADDER(AddSolid, TEntJwwSolid, kKindSolid, EntSolid, EntSolidN, mSolid, mSolidN)
MV_ADDER(AddBlock, TEntJwwBlock, kKindBlock, EntBlock, EntBlockN, mBlock, mBlockN)
#undef MV_ADDER

// One entity of every class, into a drawing or a definition.
template <class Target>
void AddEveryClass(Target& t, bool topLevel, const std::u16string& imageRef, Seed& s) {
    AddLine(t, Line(2, 3, s));
    AddLine(t, Line(33, 105, s));  // extended line type and colour
    TEntJwwEnko arc;
    arc.att = Attr(1, 4, s);
    arc.start_x = s.Real();
    arc.start_y = s.Real();
    arc.dHankei = s.Real();
    arc.radKaishiKaku = 0.25;
    arc.radEnkoKaku = 1.5;
    arc.radKatamukiKaku = 0.125;
    arc.dHenpeiRitsu = 0.75;
    AddEnko(t, arc);
    TEntJwwEnko circle = arc;
    circle.radKaishiKaku = 0;
    circle.radEnkoKaku = 6.283185307179586;
    circle.bZenEnFlg = 1;
    AddEnko(t, circle);
    AddTen(t, Point(false, topLevel, s));
    AddTen(t, Point(true, topLevel, s));
    AddMoji(t, Text(u"日本語の文字 ｶﾀｶﾅ", s));
    AddMoji(t, Text(imageRef, s));
    TEntJwwSunpo dim;
    dim.att = Attr(1, 6, s);
    dim.Sen = Line(1, 6, s);
    dim.Moji = Text(u"1,234.5", s);
    dim.bSxfMode = 1;
    dim.Ho1 = Line(1, 7, s);
    dim.Ho2 = Line(1, 8, s);
    dim.Te1 = Point(false, false, s);
    dim.Te2 = Point(false, false, s);
    dim.Kt1 = Point(false, false, s);
    dim.Kt2 = Point(true, false, s);
    AddSunpo(t, dim);
    TEntJwwSolid solid;
    solid.att = Attr(1, 10, s);  // carries its own colour
    solid.start_x = s.Real();
    solid.start_y = s.Real();
    solid.end_x = s.Real();
    solid.end_y = s.Real();
    solid.DPoint2_x = s.Real();
    solid.DPoint2_y = s.Real();
    solid.DPoint3_x = s.Real();
    solid.DPoint3_y = s.Real();
    solid.Color = 0x123456;
    AddSolid(t, solid);
    TEntJwwSolid plain = solid;
    plain.att.nPenColor = 4;
    plain.Color = 0;
    AddSolid(t, plain);
}

inline TEntJwwBlock Insert(uint32_t number, Seed& s) {
    TEntJwwBlock e;
    e.att = Attr(1, 1, s);
    e.DPKijunTen_x = s.Real();
    e.DPKijunTen_y = s.Real();
    e.dBairitsuX = 2;
    e.dBairitsuY = 0.5;
    e.radKaitenKaku = 0.5;
    e.nNumber = number;
    return e;
}

inline TEntJwwBlockDef Definition(uint32_t number, std::u16string name, Seed& s) {
    TEntJwwBlockDef b;
    b.att = Attr(1, 1, s);
    b.nNumber = number;
    b.bRefferd = 1;
    b.dtime = static_cast<uint32_t>(s.Int());
    b.strName = std::move(name);
    return b;
}

inline void AddDefinition(TJwwData& d, TEntJwwBlockDef b) {
    b.N = static_cast<int32_t>(b.mNo.size());
    d.EntBlockDef.push_back(std::move(b));
    d.EntBlockDefN = d.Enthd.n2 = static_cast<int32_t>(d.EntBlockDef.size());
}

// The whole fixture. `unicodeText` adds a text that Shift_JIS cannot hold
// (save it with the UTF-16 option). Images: "photo.jpg.gz" is referenced at
// the top level, "map.png" inside a definition, "unused.png" by nothing; the
// caller puts their files into BindImageFolder.
inline void Build(TJwwData& d, bool unicodeText) {
    d.DataInit();
    Seed s;
    FillHeader(d, s);
    FillTables(d, s);
    AddEveryClass(d, true, u"^@BM%temp%photo.jpg,100,80,0,0,1,0", s);
    if (unicodeText) AddMoji(d, Text(u"한글 ✓ 😀", s));
    AddBlock(d, Insert(20, s));

    // Definitions in file order 10, 30, 20: the drawing inserts 20, which
    // inserts 10; nothing reaches 30.
    TEntJwwBlockDef inner = Definition(10, u"部品B", s);
    AddLine(inner, Line(1, 2, s));
    AddMoji(inner, Text(u"内側", s));
    TEntJwwBlockDef unused = Definition(30, u"未使用", s);
    AddLine(unused, Line(1, 2, s));
    TEntJwwBlockDef outer = Definition(20, u"部品A", s);
    AddEveryClass(outer, false, u"^@BM%temp%map.png,50,50,0,0,1,0", s);
    AddBlock(outer, Insert(10, s));
    AddDefinition(d, std::move(inner));
    AddDefinition(d, std::move(unused));
    AddDefinition(d, std::move(outer));
    d.MakeBlockTree();
    // Saved drawings hold definitions that nothing reaches too: have the
    // writer keep "未使用" by numbering it with the others.
    for (size_t i = 0; i < d.EntBlockDef.size(); ++i) {
        d.EntBlockDef[i].ref_flag = true;
        d.EntBlockDef[i].ref_no = static_cast<int32_t>(i);
    }
    d.EntBlockNum = static_cast<int32_t>(d.EntBlockDef.size());
}

}  // namespace morvane::fixture
