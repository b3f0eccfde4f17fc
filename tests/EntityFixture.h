// Builds the bytes of entity and block-definition sections for any version,
// field by field from the records (independently of the readers' one-piece
// copies), numbering class tags as the format does: a new-class tag at the
// first object of a class, a class reference after, and one map index per
// class and per object.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "doc/JwwUnit.h"

namespace morvane::fixture {

inline TEntJwwAttr Attr(uint8_t style = 1, uint16_t color = 1, uint16_t width = 0, uint16_t layer = 0,
                        uint16_t glayer = 0, uint32_t group = 0, uint16_t flg = 0) {
    TEntJwwAttr a;
    a.lGroup = group;
    a.nPenStyle = style;
    a.nPenColor = color;
    a.nPenWidth = width;
    a.nLayer = layer;
    a.nGLayer = glayer;
    a.sFlg = flg;
    return a;
}

inline TEntJwwLine Line(double x1, double y1, double x2, double y2, TEntJwwAttr a = Attr()) {
    TEntJwwLine e;
    e.att = a;
    e.start_x = x1;
    e.start_y = y1;
    e.end_x = x2;
    e.end_y = y2;
    return e;
}

inline TEntJwwEnko Enko(double x, double y, double r, TEntJwwAttr a = Attr()) {
    TEntJwwEnko e;
    e.att = a;
    e.start_x = x;
    e.start_y = y;
    e.dHankei = r;
    e.radKaishiKaku = 0.25;
    e.radEnkoKaku = 1.5;
    e.radKatamukiKaku = 0.125;
    e.dHenpeiRitsu = 0.75;
    e.bZenEnFlg = 1;
    return e;
}

// A point with pen style 100 carries code, rotation and scale.
inline TEntJwwTen Ten(double x, double y, TEntJwwAttr a = Attr(), uint32_t kariten = 0) {
    TEntJwwTen e;
    e.att = a;
    e.start_x = x;
    e.start_y = y;
    e.bKariten = kariten;
    if (a.nPenStyle == 100) {
        e.nCode = 7;
        e.radKaitenKaku = 0.5;
        e.dBairitsu = 2.0;
    }
    return e;
}

inline TEntJwwMoji Moji(std::u16string text, std::u16string font = u"MS Gothic", TEntJwwAttr a = Attr()) {
    TEntJwwMoji e;
    e.att = a;
    e.start_x = 1;
    e.start_y = 2;
    e.end_x = 30;
    e.end_y = 2;
    e.nMojiShu = 3;
    e.dSizeX = 2.5;
    e.dSizeY = 3.5;
    e.dKankaku = 0.5;
    e.degKakudo = 45;
    e.strFontName = std::move(font);
    e.str = std::move(text);
    return e;
}

// A dimension whose SXF parts (kept only from version 420) are filled in.
inline TEntJwwSunpo Sunpo(uint16_t sxfMode, TEntJwwAttr a = Attr()) {
    TEntJwwSunpo s;
    s.att = a;
    s.Sen = Line(0, 0, 100, 0);
    s.Moji = Moji(u"100");
    s.bSxfMode = sxfMode;
    s.Ho1 = Line(0, -5, 0, 0);
    s.Ho2 = Line(100, -5, 100, 0);
    s.Te1 = Ten(0, 0);
    s.Te2 = Ten(100, 0, Attr(100));
    s.Kt1 = Ten(0, -5);
    s.Kt2 = Ten(100, -5);
    return s;
}

inline TEntJwwSolid Solid(uint16_t color, uint32_t rgb = 0) {
    TEntJwwSolid e;
    e.att = Attr(1, color);
    e.start_x = 0;
    e.start_y = 0;
    e.end_x = 10;
    e.end_y = 0;
    e.DPoint2_x = 10;
    e.DPoint2_y = 10;
    e.DPoint3_x = 0;
    e.DPoint3_y = 10;
    e.Color = rgb;
    return e;
}

inline TEntJwwBlock Block(uint32_t number, double x = 0, double y = 0, double sx = 1, double sy = 1,
                          double rot = 0, TEntJwwAttr a = Attr()) {
    TEntJwwBlock e;
    e.att = a;
    e.DPKijunTen_x = x;
    e.DPKijunTen_y = y;
    e.dBairitsuX = sx;
    e.dBairitsuY = sy;
    e.radKaitenKaku = rot;
    e.nNumber = number;
    return e;
}

class Section {
public:
    explicit Section(int32_t ver) : ver(ver) {}

    // ---- Raw bytes ---------------------------------------------------------------
    Section& U8(uint8_t v) { return Put(&v, 1); }
    Section& U16(uint16_t v) { return Put(&v, 2); }
    Section& U32(uint32_t v) { return Put(&v, 4); }
    Section& F64(double v) { return Put(&v, 8); }
    Section& Raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Section& Ascii(std::string_view s) { return Put(s.data(), s.size()); }
    // Shift_JIS form of a string; the fixtures use ASCII text only.
    Section& Str(std::u16string_view s) {
        if (s.size() < 255) {
            U8(static_cast<uint8_t>(s.size()));
        } else {
            U8(0xFF);
            U16(static_cast<uint16_t>(s.size()));
        }
        for (char16_t c : s) U8(static_cast<uint8_t>(c));
        return *this;
    }
    Section& Count(uint32_t n) {
        if (n < 0xFFFF) return U16(static_cast<uint16_t>(n));
        return U16(0xFFFF).U32(n);
    }

    // ---- Class tags ----------------------------------------------------------------
    Section& NewClass(std::string_view name) {
        return U16(0xFFFF).U16(static_cast<uint16_t>(ver)).U16(static_cast<uint16_t>(name.size())).Ascii(name);
    }
    Section& Tag(int kind) {
        if (classIndex[kind] == 0) {
            classIndex[kind] = index++;
            return NewClass(kClassNames[kind]);
        }
        if (classIndex[kind] < 0x7FFF) return U16(static_cast<uint16_t>(0x8000 + classIndex[kind]));
        return U16(0x7FFF).U32(0x80000000u + static_cast<uint32_t>(classIndex[kind]));
    }
    Section& Next() {
        ++index;
        return *this;
    }

    // ---- Bodies ----------------------------------------------------------------------
    Section& AttrBody(const TEntJwwAttr& a) {
        U32(a.lGroup).U8(a.nPenStyle).U16(a.nPenColor);
        if (ver >= kVerAttrWidth) U16(a.nPenWidth);
        return U16(a.nLayer).U16(a.nGLayer).U16(a.sFlg);
    }
    Section& LineBody(const TEntJwwLine& e) {
        return AttrBody(e.att).F64(e.start_x).F64(e.start_y).F64(e.end_x).F64(e.end_y);
    }
    Section& EnkoBody(const TEntJwwEnko& e) {
        AttrBody(e.att).F64(e.start_x).F64(e.start_y).F64(e.dHankei).F64(e.radKaishiKaku);
        return F64(e.radEnkoKaku).F64(e.radKatamukiKaku).F64(e.dHenpeiRitsu).U32(e.bZenEnFlg);
    }
    Section& TenBody(const TEntJwwTen& e) {
        AttrBody(e.att).F64(e.start_x).F64(e.start_y).U32(e.bKariten);
        if (e.att.nPenStyle == 100) U32(e.nCode).F64(e.radKaitenKaku).F64(e.dBairitsu);
        return *this;
    }
    Section& MojiBody(const TEntJwwMoji& e) {
        AttrBody(e.att).F64(e.start_x).F64(e.start_y).F64(e.end_x).F64(e.end_y).U32(e.nMojiShu);
        F64(e.dSizeX).F64(e.dSizeY).F64(e.dKankaku).F64(e.degKakudo);
        return Str(e.strFontName).Str(e.str);
    }
    Section& SunpoBody(const TEntJwwSunpo& s) {
        AttrBody(s.att).LineBody(s.Sen).MojiBody(s.Moji);
        if (ver < kVerSxf) return *this;
        U16(s.bSxfMode).LineBody(s.Ho1).LineBody(s.Ho2);
        return TenBody(s.Te1).TenBody(s.Te2).TenBody(s.Kt1).TenBody(s.Kt2);
    }
    Section& SolidBody(const TEntJwwSolid& e) {
        AttrBody(e.att).F64(e.start_x).F64(e.start_y).F64(e.end_x).F64(e.end_y);
        F64(e.DPoint2_x).F64(e.DPoint2_y).F64(e.DPoint3_x).F64(e.DPoint3_y);
        if (e.att.nPenColor == 10) U32(e.Color);
        return *this;
    }
    Section& BlockBody(const TEntJwwBlock& e) {
        AttrBody(e.att).F64(e.DPKijunTen_x).F64(e.DPKijunTen_y).F64(e.dBairitsuX).F64(e.dBairitsuY);
        return F64(e.radKaitenKaku).U32(e.nNumber);
    }

    // ---- Whole objects: tag, body, map index ------------------------------------
    Section& Add(const TEntJwwLine& e) { return Tag(kKindLine).LineBody(e).Next(); }
    Section& Add(const TEntJwwEnko& e) { return Tag(kKindEnko).EnkoBody(e).Next(); }
    Section& Add(const TEntJwwTen& e) { return Tag(kKindTen).TenBody(e).Next(); }
    Section& Add(const TEntJwwMoji& e) { return Tag(kKindMoji).MojiBody(e).Next(); }
    Section& Add(const TEntJwwSunpo& e) { return Tag(kKindSunpo).SunpoBody(e).Next(); }
    Section& Add(const TEntJwwSolid& e) { return Tag(kKindSolid).SolidBody(e).Next(); }
    Section& Add(const TEntJwwBlock& e) { return Tag(kKindBlock).BlockBody(e).Next(); }

    // A definition's head: tag, fixed part (with the 8 extra bytes when dtime
    // has its top bit set), name and nested count. The nested objects follow.
    Section& Def(uint32_t number, uint32_t nested, std::u16string name = u"B",
                 TEntJwwAttr a = Attr(1, 1, 0, 0, 0, 0, 0), uint32_t dtime = 0, uint32_t refferd = 0) {
        Tag(kKindBlockDef).AttrBody(a).U32(number).U32(refferd).U32(dtime);
        if (dtime >= 0x80000000u) U32(0xDEADBEEF).U32(0xFEEDFACE);
        return Str(name).Count(nested).Next();
    }

    Section& Put(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        return *this;
    }

    const int32_t ver;
    std::vector<uint8_t> bytes;
    int64_t index = 1;
    int64_t classIndex[9] = {};
};

// Reads an entity section and, when `blocks`, a block definition section of
// version `ver`, then builds the block tree.
inline void LoadSections(TJwwData& doc, int32_t ver, const std::vector<uint8_t>& bytes, bool blocks = true) {
    doc.DataInit();
    doc.Enthd.jwVer = ver;
    ByteReader r(bytes);
    JwwClassMap map;
    doc.ReadEntitySection(r, map);
    if (blocks) doc.ReadBlockDefSection(r, map);
    doc.MakeBlockTree();
}

// Writes both sections in output version `ver`.
inline std::vector<uint8_t> SaveSections(const TJwwData& doc, int32_t ver, bool blocks = true) {
    ByteWriter w;
    JwwClassMap map;
    doc.WriteEntitySection(w, ver, map);
    if (blocks) doc.WriteBlockDefSection(w, ver, map);
    return w.bytes();
}

}  // namespace morvane::fixture
