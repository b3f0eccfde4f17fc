// Field-by-field comparison of two drawings, for load-save-load round trips.
//
// KeptFieldsEqual(before, after): `before` is a drawing as loaded from some
// file, `after` the same drawing loaded again from a version-700 save of it.
// Every field that the format carries and the program keeps must come back
// equal: header, tables, entities in drawing order, and the block definitions
// that the drawing reaches (renumbered on saving). A field that the writer
// normalises (pen ranges, text sizes, attribute numbers, names) must come back
// equal whenever its value was already normal, as in every drawing the CAD
// program writes. Parts that the source version did not carry (the SXF parts
// of dimensions and the extended tables before version 420) are not compared.
//
// AllFieldsEqual(a, b): every field equal, normalised ones included; for two
// loads of files that this program wrote.
//
// Both give a gtest AssertionResult listing the differences by field path,
// e.g. "EntLay[17].aStrLayName: \"壁\" != \"\"".
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane::doccompare {

// Header fields held as they are read, by type. The special ones (signature,
// version, the print option pair, the text size, the counts) are handled apart.
#define MORVANE_HEADER_INTS(X)                                                                            \
    X(nZumen) X(nWriteGLay) X(lnSunpou1) X(lnSunpou2) X(lnSunpou3) X(lnSunpou4) X(lnSunpou5) X(nMaxDrawWid) \
    X(nMaxDrawWidBak) X(nPrtSet) X(nMemoriMode) X(nKage9_15JiFlg) X(nMMTani3D) X(lnDm1) X(nMojiBG)          \
    X(nDrawGamenTen) X(nDrawPrtTen) X(nBitMapFirstDraw) X(nGyakuDraw) X(nGyakuSearch) X(nColorPrint)        \
    X(nLayJunPrint) X(nColJunPrint) X(nPrtRenzoku) X(nPrtKyoutsuuGray) X(nPrtDispOnlyNonDraw) X(lnDrawTime) \
    X(nEyeInit) X(dEye_H_Ichi_1) X(dEye_H_Ichi_2) X(dEye_H_Ichi_3) X(nSolidNinniColor) X(SolidColor)        \
    X(nMojiColor) X(nMojiShu) X(nMojiKijunZureOn)

#define MORVANE_HEADER_DOUBLES(X)                                                                           \
    X(DPPrtGenten_x) X(DPPrtGenten_y) X(dPrtBairitsu) X(dMemoriHyoujiMin) X(dMemoriX) X(dMemoriY)            \
    X(DpMemoriKjTen_x) X(DpMemoriKjTen_y) X(dKageLevel) X(dKageIdo) X(dKabeKageLevel) X(dTenkuuZuLevel)      \
    X(dTenkuuZuEnkoR) X(dBairitsu) X(DPGenten_x) X(DPGenten_y) X(dHanniBairitsu) X(DPHanniGenten_x)          \
    X(DPHanniGenten_y) X(dDm11) X(dDm12) X(dDm13) X(dDm21) X(dDm22) X(dMojiBG) X(dRyougawaFukusenTomeDe)     \
    X(dEye_Z_Ichi_1) X(dEye_Y_Ichi_1) X(dEye_Z_Ichi_2) X(dEye_Y_Ichi_2) X(dEye_V_Ichi_3) X(dSenNagasaSnpou)  \
    X(dBoxSunpouX) X(dBoxSunpouY) X(dEnHankeiSnpou) X(dMojiKankaku) X(dMojiSeiriGyouKan) X(dMojiSeiriSuu)    \
    X(adMojiKijunZureX0) X(adMojiKijunZureX1) X(adMojiKijunZureX2) X(adMojiKijunZureY0) X(adMojiKijunZureY1) \
    X(adMojiKijunZureY2)

#define MORVANE_HEADER_ARRAYS(X)                                                                      \
    X(dZoomJumpBairitsu, 8) X(DPZoomJumpGenten_x, 8) X(DPZoomJumpGenten_y, 8) X(nZoomJumpGLay, 8) \
    X(adFukusenSuuchi, 10)

enum class Mode { Kept, All };

inline std::string Show(const std::u16string& s) { return "\"" + StrToUtf8(s) + "\""; }
inline std::string Show(double v) {
    std::ostringstream o;
    o.precision(17);
    o << v;
    return o.str();
}
template <class T>
std::string Show(T v) {
    return std::to_string(v);
}

// Collects the differences; shows the first ones in full.
class Diff {
public:
    explicit Diff(Mode mode) : mode_(mode) {}
    Mode mode() const { return mode_; }
    bool all() const { return mode_ == Mode::All; }

    // Doubles compare by their bits, however the call names the type: a NaN
    // read must come back as that NaN, and -0.0 must not come back as 0.0.
    template <class T>
    void Same(const std::string& where, T a, T b) {
        if constexpr (std::is_same_v<T, double>) {
            if (std::bit_cast<uint64_t>(a) != std::bit_cast<uint64_t>(b)) Report(where, Show(a), Show(b));
        } else {
            if (!(a == b)) Report(where, Show(a), Show(b));
        }
    }
    void Same(const std::string& where, const std::u16string& a, const std::u16string& b) {
        if (a != b) Report(where, Show(a), Show(b));
    }
    // A field the writer normalises: compared when its value was normal (or
    // always, in Mode::All).
    template <class T>
    void SameIfNormal(bool normal, const std::string& where, T a, T b) {
        if (normal || all()) Same(where, a, b);
    }
    void Count(const std::string& where, size_t a, size_t b) { Same<uint64_t>(where, a, b); }

    ::testing::AssertionResult Result() const {
        if (count_ == 0) return ::testing::AssertionSuccess();
        auto r = ::testing::AssertionFailure();
        r << count_ << " field(s) differ (before != after):";
        for (const auto& l : lines_) r << "\n  " << l;
        if (count_ > lines_.size()) r << "\n  ...";
        return r;
    }

private:
    void Report(const std::string& where, const std::string& a, const std::string& b) {
        if (lines_.size() < 60) lines_.push_back(where + ": " + a + " != " + b);
        ++count_;
    }
    Mode mode_;
    std::vector<std::string> lines_;
    size_t count_ = 0;
};

inline std::string At(const std::string& base, size_t i) { return base + "[" + std::to_string(i) + "]"; }

// ---- What the writer leaves unchanged -----------------------------------------------

inline bool TextSizeNormal(double v) { return v >= 1e-10 && v <= 1e10; }
inline bool NameNormal(const std::u16string& s) { return CleanStoredText(s) == s; }
inline bool GeneratedNameNormal(const std::u16string& s) { return NameNormal(s) && !RemoveBlanks(s).empty(); }
inline bool ColorValueNormal(int32_t c) { return c >= 0 && c <= 0xFFFFFF; }

inline bool StyleNormal(int kind, uint8_t s) {
    switch (kind) {
        case kKindLine:
        case kKindEnko: return (s >= 1 && s <= 9) || (s >= 11 && s <= 19) || (s >= 31 && s <= 62);
        case kKindTen: return s == 1 || s == 100;
        case kKindMoji: return s >= 1 && s <= 9;
        default: return true;
    }
}

inline bool PenColorNormal(int kind, uint16_t c) {
    if (kind >= kKindBlock) return true;
    int top = kind == kKindSolid ? 10 : 9;
    return (c >= 1 && c <= top) || (c >= 101 && c <= 356);
}

// ---- Header and tables -------------------------------------------------------------------

inline void CompareHeader(Diff& d, const TJwwData& before, const TJwwData& after) {
    const TEntJwwHeader& a = before.Enthd;
    const TEntJwwHeader& b = after.Enthd;
#define MV_SAME(f) d.Same("Enthd." #f, a.f, b.f);
    MORVANE_HEADER_INTS(MV_SAME)
    MORVANE_HEADER_DOUBLES(MV_SAME)
    MV_SAME(strMemo)
#undef MV_SAME
#define MV_ARRAY(f, n) \
    for (size_t i = 0; i < (n); ++i) d.Same(At("Enthd." #f, i), a.f[i], b.f[i]);
    MORVANE_HEADER_ARRAYS(MV_ARRAY)
#undef MV_ARRAY
    d.Same("Enthd.bSenHaba100", a.bSenHaba100, b.bSenHaba100);
    d.SameIfNormal(a.nPrtDpi >= 1, "Enthd.nPrtDpi", a.nPrtDpi, b.nPrtDpi);
    d.SameIfNormal(TextSizeNormal(a.dMojiSizeX), "Enthd.dMojiSizeX", a.dMojiSizeX, b.dMojiSizeX);
    d.SameIfNormal(TextSizeNormal(a.dMojiSizeY), "Enthd.dMojiSizeY", a.dMojiSizeY, b.dMojiSizeY);
    if (d.all()) {
        d.Same("Enthd.jwID", a.jwID, b.jwID);
        d.Same("Enthd.jwVer", a.jwVer, b.jwVer);
        d.Same("Enthd.n1", a.n1, b.n1);
        d.Same("Enthd.n2", a.n2, b.n2);
    }
}

inline void CompareTables(Diff& d, const TJwwData& a, const TJwwData& b) {
    d.Count("EntLgrp.size", a.EntLgrp.size(), b.EntLgrp.size());
    for (size_t i = 0; i < std::min(a.EntLgrp.size(), b.EntLgrp.size()); ++i) {
        const auto &x = a.EntLgrp[i], &y = b.EntLgrp[i];
        const std::string w = At("EntLgrp", i);
        d.Same(w + ".anGLay", x.anGLay, y.anGLay);
        d.Same(w + ".anWriteLay", x.anWriteLay, y.anWriteLay);
        d.Same(w + ".adScale", x.adScale, y.adScale);
        d.Same(w + ".anGLayProtect", x.anGLayProtect, y.anGLayProtect);
        d.SameIfNormal(NameNormal(x.aStrGLayName), w + ".aStrGLayName", x.aStrGLayName, y.aStrGLayName);
    }
    d.Count("EntLay.size", a.EntLay.size(), b.EntLay.size());
    for (size_t i = 0; i < std::min(a.EntLay.size(), b.EntLay.size()); ++i) {
        const auto &x = a.EntLay[i], &y = b.EntLay[i];
        const std::string w = At("EntLay", i);
        d.Same(w + ".aanLay", x.aanLay, y.aanLay);
        d.Same(w + ".aanLayProtect", x.aanLayProtect, y.aanLayProtect);
        d.SameIfNormal(NameNormal(x.aStrLayName), w + ".aStrLayName", x.aStrLayName, y.aStrLayName);
    }
    d.Count("EntCol.size", a.EntCol.size(), b.EntCol.size());
    for (size_t i = 0; i < std::min(a.EntCol.size(), b.EntCol.size()); ++i) {
        const auto &x = a.EntCol[i], &y = b.EntCol[i];
        const std::string w = At("EntCol", i);
        d.SameIfNormal(ColorValueNormal(x.aPenColor), w + ".aPenColor", x.aPenColor, y.aPenColor);
        d.SameIfNormal(x.anPenWidth >= 1 && x.anPenWidth <= 16, w + ".anPenWidth", x.anPenWidth, y.anPenWidth);
        // The background's printer colour is always written white.
        d.SameIfNormal(ColorValueNormal(x.aPrtPenColor) && (i != 0 || x.aPrtPenColor == 0xFFFFFF),
                       w + ".aPrtPenColor", x.aPrtPenColor, y.aPrtPenColor);
        d.SameIfNormal(x.anPrtPenWidth >= 1 && x.anPrtPenWidth <= 500, w + ".anPrtPenWidth", x.anPrtPenWidth,
                       y.anPrtPenWidth);
        d.SameIfNormal(x.adPrtTenHankei >= 0.1 && x.adPrtTenHankei <= 10, w + ".adPrtTenHankei", x.adPrtTenHankei,
                       y.adPrtTenHankei);
    }
    auto lineTypes = [&d](const char* name, const auto& xs, const auto& ys) {
        d.Count(std::string(name) + ".size", xs.size(), ys.size());
        for (size_t i = 0; i < std::min(xs.size(), ys.size()); ++i) {
            const std::string w = At(name, i);
            d.Same(w + ".alLType", xs[i].alLType, ys[i].alLType);
            d.Same(w + ".anTokushuSenPich", xs[i].anTokushuSenPich, ys[i].anTokushuSenPich);
            if constexpr (std::is_same_v<std::decay_t<decltype(xs[i])>, TEntJwwRandomLineNo>) {
                d.Same(w + ".anRandSenWide", xs[i].anRandSenWide, ys[i].anRandSenWide);
                d.Same(w + ".anPrtRandSenWide", xs[i].anPrtRandSenWide, ys[i].anPrtRandSenWide);
            } else {
                d.Same(w + ".anTokushuSenUintDot", xs[i].anTokushuSenUintDot, ys[i].anTokushuSenUintDot);
            }
            d.Same(w + ".anPrtTokushuSenPich", xs[i].anPrtTokushuSenPich, ys[i].anPrtTokushuSenPich);
        }
    };
    lineTypes("EntLtp1", a.EntLtp1, b.EntLtp1);
    lineTypes("EntLtp2", a.EntLtp2, b.EntLtp2);
    lineTypes("EntLtp3", a.EntLtp3, b.EntLtp3);
    d.Count("EntMoj.size", a.EntMoj.size(), b.EntMoj.size());
    for (size_t i = 0; i < std::min(a.EntMoj.size(), b.EntMoj.size()); ++i) {
        const auto &x = a.EntMoj[i], &y = b.EntMoj[i];
        const std::string w = At("EntMoj", i);
        d.SameIfNormal(TextSizeNormal(x.adMojiX), w + ".adMojiX", x.adMojiX, y.adMojiX);
        d.SameIfNormal(TextSizeNormal(x.adMojiY), w + ".adMojiY", x.adMojiY, y.adMojiY);
        d.Same(w + ".adMojiD", x.adMojiD, y.adMojiD);
        d.Same(w + ".anMojiCol", x.anMojiCol, y.anMojiCol);
    }
}

// The extended (SXF) tables, carried from version 420.
inline void CompareExtendedTables(Diff& d, const TJwwData& a, const TJwwData& b) {
    d.Count("EntColS.size", a.EntColS.size(), b.EntColS.size());
    for (size_t i = 0; i < std::min(a.EntColS.size(), b.EntColS.size()); ++i) {
        const auto &x = a.EntColS[i], &y = b.EntColS[i];
        const std::string w = At("EntColS", i);
        d.Same(w + ".aPenColor", x.aPenColor, y.aPenColor);
        d.Same(w + ".anPenWidth", x.anPenWidth, y.anPenWidth);
        d.SameIfNormal(GeneratedNameNormal(x.astrUDColorName), w + ".astrUDColorName", x.astrUDColorName,
                       y.astrUDColorName);
        // From entry 17 the printer colour is written as the screen colour.
        d.SameIfNormal(i <= 16 || x.aPrtPenColor == x.aPenColor, w + ".aPrtPenColor", x.aPrtPenColor, y.aPrtPenColor);
        d.Same(w + ".anPrtPenWidth", x.anPrtPenWidth, y.anPrtPenWidth);
        d.Same(w + ".adPrtTenHankei", x.adPrtTenHankei, y.adPrtTenHankei);
    }
    d.Count("EntLtpS.size", a.EntLtpS.size(), b.EntLtpS.size());
    for (size_t i = 0; i < std::min(a.EntLtpS.size(), b.EntLtpS.size()); ++i) {
        const auto &x = a.EntLtpS[i], &y = b.EntLtpS[i];
        const std::string w = At("EntLtpS", i);
        const int seg = x.anUDLTypeSegment;
        // From entry 17 a pattern of other than 2, 4, 6 or 8 segments is
        // replaced by a fixed one.
        const bool valid = i < 17 || seg == 2 || seg == 4 || seg == 6 || seg == 8;
        d.SameIfNormal(valid && x.alLType != 0, w + ".alLType", x.alLType, y.alLType);
        d.SameIfNormal(valid, w + ".anTokushuSenUintDot", x.anTokushuSenUintDot, y.anTokushuSenUintDot);
        d.SameIfNormal(valid, w + ".anTokushuSenPich", x.anTokushuSenPich, y.anTokushuSenPich);
        d.SameIfNormal(valid, w + ".anPrtTokushuSenPich", x.anPrtTokushuSenPich, y.anPrtTokushuSenPich);
        d.SameIfNormal(valid && GeneratedNameNormal(x.astrUDLTypeName), w + ".astrUDLTypeName", x.astrUDLTypeName,
                       y.astrUDLTypeName);
        d.SameIfNormal(valid, w + ".anUDLTypeSegment", x.anUDLTypeSegment, y.anUDLTypeSegment);
        for (size_t k = 0; k < 10; ++k)
            d.SameIfNormal(valid, At(w + ".aadUDLTypePitch", k), x.aadUDLTypePitch[k], y.aadUDLTypePitch[k]);
    }
}

// ---- Entities -----------------------------------------------------------------------------

// One entity list: the drawing's or a block definition's.
struct EntityList {
    const std::vector<TEntJwwNo>& order;
    int32_t orderN;
    const std::vector<TEntJwwLine>& line;
    int32_t lineN;
    const std::vector<TEntJwwEnko>& enko;
    int32_t enkoN;
    const std::vector<TEntJwwTen>& ten;
    int32_t tenN;
    const std::vector<TEntJwwMoji>& moji;
    int32_t mojiN;
    const std::vector<TEntJwwSunpo>& sunpo;
    int32_t sunpoN;
    const std::vector<TEntJwwSolid>& solid;
    int32_t solidN;
    const std::vector<TEntJwwBlock>& block;
    int32_t blockN;

    static EntityList Of(const TJwwData& d) {
        return {d.EntNo,  d.Enthd.n1, d.EntLine,  d.EntLineN,  d.EntEnko,  d.EntEnkoN,  d.EntTen,   d.EntTenN,
                d.EntMoji, d.EntMojiN, d.EntSunpo, d.EntSunpoN, d.EntSolid, d.EntSolidN, d.EntBlock, d.EntBlockN};
    }
    static EntityList Of(const TEntJwwBlockDef& b) {
        return {b.mNo,   b.N,       b.mLine,  b.mLineN,  b.mEnko,  b.mEnkoN,  b.mTen,   b.mTenN,
                b.mMoji, b.mMojiN,  b.mSunpo, b.mSunpoN, b.mSolid, b.mSolidN, b.mBlock, b.mBlockN};
    }
    int32_t CountOf(int kind) const {
        const int32_t counts[] = {0, lineN, enkoN, tenN, mojiN, sunpoN, solidN, blockN};
        const size_t sizes[] = {0, line.size(), enko.size(), ten.size(), moji.size(), sunpo.size(), solid.size(),
                                block.size()};
        return kind >= 1 && kind <= 7 ? std::min<int32_t>(counts[kind], static_cast<int32_t>(sizes[kind])) : 0;
    }
    // The order entries that name an entity, as the writer walks them.
    std::vector<TEntJwwNo> Filled() const {
        std::vector<TEntJwwNo> out;
        const size_t n = std::min<size_t>(orderN > 0 ? static_cast<size_t>(orderN) : 0, order.size());
        for (size_t k = 0; k < n; ++k)
            if (order[k].EntNo >= 0 && order[k].EntNo < CountOf(order[k].EntType)) out.push_back(order[k]);
        return out;
    }
};

inline void CompareAttr(Diff& d, const std::string& w, int kind, const TEntJwwAttr& x, const TEntJwwAttr& y) {
    d.Same<uint32_t>(w + ".lGroup", x.lGroup, y.lGroup);
    d.SameIfNormal<uint8_t>(StyleNormal(kind, x.nPenStyle), w + ".nPenStyle", x.nPenStyle, y.nPenStyle);
    d.SameIfNormal<uint16_t>(PenColorNormal(kind, x.nPenColor), w + ".nPenColor", x.nPenColor, y.nPenColor);
    d.SameIfNormal<uint16_t>(x.nPenWidth <= 30000, w + ".nPenWidth", x.nPenWidth, y.nPenWidth);
    d.SameIfNormal<uint16_t>(x.nLayer <= 15, w + ".nLayer", x.nLayer, y.nLayer);
    d.SameIfNormal<uint16_t>(x.nGLayer <= 15, w + ".nGLayer", x.nGLayer, y.nGLayer);
    d.Same<uint16_t>(w + ".sFlg", x.sFlg, y.sFlg);
}

inline void CompareLine(Diff& d, const std::string& w, const TEntJwwLine& x, const TEntJwwLine& y) {
    CompareAttr(d, w, kKindLine, x.att, y.att);
    d.Same<double>(w + ".start_x", x.start_x, y.start_x);
    d.Same<double>(w + ".start_y", x.start_y, y.start_y);
    d.Same<double>(w + ".end_x", x.end_x, y.end_x);
    d.Same<double>(w + ".end_y", x.end_y, y.end_y);
}

inline void CompareEnko(Diff& d, const std::string& w, const TEntJwwEnko& x, const TEntJwwEnko& y) {
    CompareAttr(d, w, kKindEnko, x.att, y.att);
    d.Same<double>(w + ".start_x", x.start_x, y.start_x);
    d.Same<double>(w + ".start_y", x.start_y, y.start_y);
    d.Same<double>(w + ".dHankei", x.dHankei, y.dHankei);
    d.Same<double>(w + ".radKaishiKaku", x.radKaishiKaku, y.radKaishiKaku);
    d.Same<double>(w + ".radEnkoKaku", x.radEnkoKaku, y.radEnkoKaku);
    d.Same<double>(w + ".radKatamukiKaku", x.radKatamukiKaku, y.radKatamukiKaku);
    d.Same<double>(w + ".dHenpeiRitsu", x.dHenpeiRitsu, y.dHenpeiRitsu);
    d.Same<uint32_t>(w + ".bZenEnFlg", x.bZenEnFlg, y.bZenEnFlg);
}

inline void CompareTen(Diff& d, const std::string& w, const TEntJwwTen& x, const TEntJwwTen& y) {
    CompareAttr(d, w, kKindTen, x.att, y.att);
    d.Same<double>(w + ".start_x", x.start_x, y.start_x);
    d.Same<double>(w + ".start_y", x.start_y, y.start_y);
    d.Same<uint32_t>(w + ".bKariten", x.bKariten, y.bKariten);
    d.Same<uint32_t>(w + ".nCode", x.nCode, y.nCode);
    d.Same<double>(w + ".radKaitenKaku", x.radKaitenKaku, y.radKaitenKaku);
    d.Same<double>(w + ".dBairitsu", x.dBairitsu, y.dBairitsu);
}

inline void CompareMoji(Diff& d, const std::string& w, const TEntJwwMoji& x, const TEntJwwMoji& y) {
    CompareAttr(d, w, kKindMoji, x.att, y.att);
    d.Same<double>(w + ".start_x", x.start_x, y.start_x);
    d.Same<double>(w + ".start_y", x.start_y, y.start_y);
    d.Same<double>(w + ".end_x", x.end_x, y.end_x);
    d.Same<double>(w + ".end_y", x.end_y, y.end_y);
    d.Same<uint32_t>(w + ".nMojiShu", x.nMojiShu, y.nMojiShu);
    d.SameIfNormal<double>(TextSizeNormal(x.dSizeX), w + ".dSizeX", x.dSizeX, y.dSizeX);
    d.SameIfNormal<double>(TextSizeNormal(x.dSizeY), w + ".dSizeY", x.dSizeY, y.dSizeY);
    d.Same<double>(w + ".dKankaku", x.dKankaku, y.dKankaku);
    d.Same<double>(w + ".degKakudo", x.degKakudo, y.degKakudo);
    d.SameIfNormal(NameNormal(x.strFontName), w + ".strFontName", x.strFontName, y.strFontName);
    d.SameIfNormal(NameNormal(x.str), w + ".str", x.str, y.str);
}

inline void CompareSunpo(Diff& d, const std::string& w, bool sxfFromFile, const TEntJwwSunpo& x,
                         const TEntJwwSunpo& y) {
    CompareAttr(d, w, kKindSunpo, x.att, y.att);
    CompareLine(d, w + ".Sen", x.Sen, y.Sen);
    CompareMoji(d, w + ".Moji", x.Moji, y.Moji);
    if (!sxfFromFile && !d.all()) return;
    d.Same<uint16_t>(w + ".bSxfMode", x.bSxfMode, y.bSxfMode);
    CompareLine(d, w + ".Ho1", x.Ho1, y.Ho1);
    CompareLine(d, w + ".Ho2", x.Ho2, y.Ho2);
    CompareTen(d, w + ".Te1", x.Te1, y.Te1);
    CompareTen(d, w + ".Te2", x.Te2, y.Te2);
    CompareTen(d, w + ".Kt1", x.Kt1, y.Kt1);
    CompareTen(d, w + ".Kt2", x.Kt2, y.Kt2);
}

inline void CompareSolid(Diff& d, const std::string& w, const TEntJwwSolid& x, const TEntJwwSolid& y) {
    CompareAttr(d, w, kKindSolid, x.att, y.att);
    d.Same<double>(w + ".start_x", x.start_x, y.start_x);
    d.Same<double>(w + ".start_y", x.start_y, y.start_y);
    d.Same<double>(w + ".end_x", x.end_x, y.end_x);
    d.Same<double>(w + ".end_y", x.end_y, y.end_y);
    d.Same<double>(w + ".DPoint2_x", x.DPoint2_x, y.DPoint2_x);
    d.Same<double>(w + ".DPoint2_y", x.DPoint2_y, y.DPoint2_y);
    d.Same<double>(w + ".DPoint3_x", x.DPoint3_x, y.DPoint3_x);
    d.Same<double>(w + ".DPoint3_y", x.DPoint3_y, y.DPoint3_y);
    d.Same<uint32_t>(w + ".Color", x.Color, y.Color);
}

// Block numbers are renumbered on saving: the insert carries its
// definition's new number.
inline void CompareBlock(Diff& d, const std::string& w, const TJwwData& before, const TEntJwwBlock& x,
                         const TEntJwwBlock& y) {
    CompareAttr(d, w, kKindBlock, x.att, y.att);
    d.Same<double>(w + ".DPKijunTen_x", x.DPKijunTen_x, y.DPKijunTen_x);
    d.Same<double>(w + ".DPKijunTen_y", x.DPKijunTen_y, y.DPKijunTen_y);
    d.Same<double>(w + ".dBairitsuX", x.dBairitsuX, y.dBairitsuX);
    d.Same<double>(w + ".dBairitsuY", x.dBairitsuY, y.dBairitsuY);
    d.Same<double>(w + ".radKaitenKaku", x.radKaitenKaku, y.radKaitenKaku);
    d.Same<uint32_t>(w + ".nNumber (renumbered)", before.ChangeBlockNo(x.nNumber), y.nNumber);
}

inline void CompareEntities(Diff& d, const std::string& w, const TJwwData& before, bool sxfFromFile,
                            const EntityList& a, const EntityList& b) {
    const std::vector<TEntJwwNo> xs = a.Filled(), ys = b.Filled();
    d.Count(w + " entities", xs.size(), ys.size());
    for (size_t k = 0; k < std::min(xs.size(), ys.size()); ++k) {
        const std::string e = At(w, k);
        if (xs[k].EntType != ys[k].EntType) {
            d.Same(e + ".EntType", xs[k].EntType, ys[k].EntType);
            continue;
        }
        const size_t i = static_cast<size_t>(xs[k].EntNo), j = static_cast<size_t>(ys[k].EntNo);
        switch (xs[k].EntType) {
            case kKindLine: CompareLine(d, e + " line", a.line[i], b.line[j]); break;
            case kKindEnko: CompareEnko(d, e + " arc", a.enko[i], b.enko[j]); break;
            case kKindTen: CompareTen(d, e + " point", a.ten[i], b.ten[j]); break;
            case kKindMoji: CompareMoji(d, e + " text", a.moji[i], b.moji[j]); break;
            case kKindSunpo: CompareSunpo(d, e + " dimension", sxfFromFile, a.sunpo[i], b.sunpo[j]); break;
            case kKindSolid: CompareSolid(d, e + " solid", a.solid[i], b.solid[j]); break;
            case kKindBlock: CompareBlock(d, e + " insert", before, a.block[i], b.block[j]); break;
        }
    }
}

// The definitions the drawing reaches, in order, against all definitions of
// the drawing loaded again (only reached ones were saved).
inline void CompareBlockDefs(Diff& d, const TJwwData& a, const TJwwData& b, bool sxfFromFile) {
    std::vector<const TEntJwwBlockDef*> reached;
    const size_t n = std::min<size_t>(a.EntBlockDefN > 0 ? static_cast<size_t>(a.EntBlockDefN) : 0, a.EntBlockDef.size());
    for (size_t i = 0; i < n; ++i)
        if (a.EntBlockDef[i].ref_flag) reached.push_back(&a.EntBlockDef[i]);
    const size_t m = std::min<size_t>(b.EntBlockDefN > 0 ? static_cast<size_t>(b.EntBlockDefN) : 0, b.EntBlockDef.size());
    d.Count("reached EntBlockDef", reached.size(), m);
    for (size_t k = 0; k < std::min(reached.size(), m); ++k) {
        const TEntJwwBlockDef &x = *reached[k], &y = b.EntBlockDef[k];
        const std::string w = At("EntBlockDef", k);
        CompareAttr(d, w, kKindBlockDef, x.att, y.att);
        d.Same<uint32_t>(w + ".nNumber (renumbered)", a.ChangeBlockNo(x.nNumber), y.nNumber);
        d.Same<uint32_t>(w + ".bRefferd", x.bRefferd, y.bRefferd);
        d.Same<uint32_t>(w + ".dtime", x.dtime, y.dtime);
        d.SameIfNormal(NameNormal(x.strName), w + ".strName", x.strName, y.strName);
        CompareEntities(d, w + ".m", a, sxfFromFile, EntityList::Of(x), EntityList::Of(y));
    }
}

// ---- Bound images --------------------------------------------------------------------------

// Kept: the images the save of `before` wrote (marked exf). All: every entry.
inline void CompareImages(Diff& d, const TJwwData& a, const TJwwData& b) {
    std::vector<const TBindImageType*> xs;
    for (int32_t i = 0; i < std::min<int32_t>(a.BindImageN, static_cast<int32_t>(a.BindImage.size())); ++i)
        if (d.all() || a.BindImage[static_cast<size_t>(i)].exf) xs.push_back(&a.BindImage[static_cast<size_t>(i)]);
    d.Count("BindImage", xs.size(), static_cast<size_t>(std::max(b.BindImageN, 0)));
    for (size_t k = 0; k < std::min<size_t>(xs.size(), b.BindImage.size()); ++k) {
        d.Same(At("BindImage", k) + ".Fname", xs[k]->Fname, b.BindImage[k].Fname);
        d.Same(At("BindImage", k) + ".Fsize", xs[k]->Fsize, b.BindImage[k].Fsize);
    }
}

inline ::testing::AssertionResult Compare(const TJwwData& a, const TJwwData& b, Mode mode) {
    Diff d(mode);
    const bool fromSxfVersion = a.Enthd.jwVer >= kVerSxf;
    CompareHeader(d, a, b);
    CompareTables(d, a, b);
    if (fromSxfVersion || d.all()) CompareExtendedTables(d, a, b);
    CompareEntities(d, "Ent", a, fromSxfVersion, EntityList::Of(a), EntityList::Of(b));
    CompareBlockDefs(d, a, b, fromSxfVersion);
    CompareImages(d, a, b);
    return d.Result();
}

}  // namespace morvane::doccompare

namespace morvane {

inline ::testing::AssertionResult KeptFieldsEqual(const TJwwData& before, const TJwwData& after) {
    return doccompare::Compare(before, after, doccompare::Mode::Kept);
}

inline ::testing::AssertionResult AllFieldsEqual(const TJwwData& a, const TJwwData& b) {
    return doccompare::Compare(a, b, doccompare::Mode::All);
}

}  // namespace morvane
