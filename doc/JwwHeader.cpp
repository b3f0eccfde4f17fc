// The header section: signature, version, memo, the drawing-wide settings and
// the layer, pen, line-type and text-type tables.
//
// WalkHeader lists the fields once, in file order, each with the version that
// brought it; it runs with a HeaderReader to load and with a HeaderWriter to
// save, so reading and writing cannot drift apart. Where the writer puts a
// normalised value in place of the held one, the field names it beside itself
// as a lambda that only the writer calls; what the reader derives after a field
// sits behind `if constexpr (Io::kReading)` at that spot.
#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <utility>

#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

// ---- Versions that added fields ------------------------------------------------
constexpr int32_t kVerEye = 223;         // drawing time and eye positions
constexpr int32_t kVerSunpouSize = 225;  // dimension lengths and radius
constexpr int32_t kVerSolidColor = 230;  // solid colour
constexpr int32_t kVerZoom8 = 231;       // 8 zoom entries with layer groups, dDm.., text background
constexpr int32_t kVerTenkuu = 300;      // sky-factor level and radius
// kVerSxf (420): extended colours and line types; also the last version whose
// nMaxDrawWid stops at -101. kVerPrintDpi (600): print option packs nPrtDpi.

constexpr char kSignature[] = "JwwData.";
constexpr size_t kSignatureSize = 8;
constexpr int kLayersPerGroup = 16;
constexpr int kZoomEntries = 8;
constexpr int kShortZoomEntries = 4;  // before version 231
constexpr int kFirstUserLineType = 17;  // extended line types 17..32 carry their own pattern

// ---- Writer normalisations (they change the bytes written, never the document) ---

constexpr int32_t kWhite = 0xFFFFFF;

constexpr int32_t ColorOrBlack(int32_t c) { return c < 0 || c > kWhite ? 0 : c; }

double TextSize(double x) { return std::clamp(std::fabs(x), 1e-10, 1e10); }

constexpr bool ValidSegmentCount(int32_t n) { return n == 2 || n == 4 || n == 6 || n == 8; }

// An extended user line type without a valid pattern is written as this one.
constexpr bool UsesFixedPattern(int i, const TEntJwwLineTypeExNo& lt) {
    return i >= kFirstUserLineType && !ValidSegmentCount(lt.anUDLTypeSegment);
}
constexpr int32_t kFixedLType = static_cast<int32_t>(0xC3C3C3C3u);
constexpr int32_t kFixedUnitDot = 8, kFixedPich = 1, kFixedPrtPich = 8, kFixedSegments = 2;
constexpr double kFixedPitches[10] = {1.0, 1.0};

// A name that cleans to blanks is written as prefix + entry number. Most
// names are clean and not blank, and are written as held, without a copy;
// any other is made in `made`.
std::u16string_view TableName(std::u16string_view held, std::u16string_view prefix, int i, std::u16string& made) {
    if (IsStoredClean(held) && !IsAllBlank(held)) return held;
    made = CleanStoredText(held);
    if (IsAllBlank(made)) made = std::u16string(prefix) + IntToDecStr(i);
    return made;
}

constexpr int32_t kMinLegacyMaxDrawWid = -101;  // version 420 and older know no other value below -100

// Print option: nPrtDispOnlyNonDraw in the units digit, nPrtDpi above it (600 on).
int32_t PackPrintOption(const TEntJwwHeader& h, int32_t ver) {
    if (ver < kVerPrintDpi) return h.nPrtDispOnlyNonDraw;
    uint32_t dpi = static_cast<uint32_t>(h.nPrtDpi <= 0 ? 1 : h.nPrtDpi);
    return static_cast<int32_t>(static_cast<uint32_t>(h.nPrtDispOnlyNonDraw) + 10u * dpi);  // wraps, never UB
}

// ---- Reader derivations ------------------------------------------------------------

void UnpackPrintOption(int32_t p, TEntJwwHeader& h) {
    h.nPrtDpi = p / 10;  // both truncate toward zero
    h.nPrtDispOnlyNonDraw = p % 10;
}

// nMaxDrawWid below -100 gives widths in hundredths of a millimetre; -401..-500
// and -201..-300 also encode a previous width setting.
void DeriveLineWidthMode(TEntJwwHeader& h) {
    int32_t w = h.nMaxDrawWid;
    h.bSenHaba100 = w < -100;
    h.nMaxDrawWidBak = w;
    if (w >= -100) return;
    if (w >= -500 && w <= -401)
        h.nMaxDrawWidBak = w + 400;
    else if (w >= -300 && w <= -201)
        h.nMaxDrawWidBak = -w - 200;
    else
        h.nMaxDrawWidBak = -100;
}

void RepairTextSize(double& x, double& y, double& spacing) {
    if (!IsFiniteDouble(x)) x = 3.0;
    if (!IsFiniteDouble(y)) y = 3.0;
    if (!IsFiniteDouble(spacing)) spacing = 0.0;
}

// Table entry i. The reader sizes every table before it walks; a writer given
// a document whose tables were never sized writes empty entries instead of
// reading past the end.
template <class T>
T& At(std::vector<T>& table, size_t i) {
    return table[i];
}
template <class T>
const T& At(const std::vector<T>& table, size_t i) {
    static const T empty{};
    return i < table.size() ? table[i] : empty;
}

// ---- The two visitors -----------------------------------------------------------------

constexpr size_t kMaxBlock = 256;

class HeaderReader {
public:
    static constexpr bool kReading = true;
    HeaderReader(TJwwData& doc, ByteReader& r) : doc_(doc), r_(r) {}

    void Signature(std::u16string& jwID) {
        uint64_t at = r_.position();
        uint8_t b[kSignatureSize] = {};
        r_.read(b, kSignatureSize);
        jwID = AnsiBytesToStr(b, kSignatureSize);
        if (jwID != u"JwwData.") throw JwwIoError(kHeaderError, at, "the file does not start with \"JwwData.\"");
    }
    int32_t Version(int32_t& jwVer) {
        uint64_t at = r_.position();
        jwVer = r_.value(jwVer);
        if (jwVer < kMinVersion || jwVer > kMaxVersion)
            throw JwwIoError(kVersionError, at, "version " + std::to_string(jwVer) + " is outside 220..700");
        return jwVer;
    }
    void Memo(std::u16string& s) { s = doc_.ReadArchiveString(r_); }
    void Name(std::u16string& s) { s = doc_.ReadCleanString(r_); }
    template <class Written>
    void Name(std::u16string& s, Written&&) { Name(s); }
    void Reserved(size_t n, uint8_t) { r_.skip(n); }

    void I32(int32_t& f) { f = r_.value(f); }
    void F64(double& f) { f = r_.value(f); }
    template <class Written>
    void I32(int32_t& f, Written&&) { I32(f); }
    template <class Written>
    void F64(double& f, Written&&) { F64(f); }
    // A stored value that is no single field: gives what was read.
    template <class Written>
    int32_t Packed(Written&&) { return r_.value<int32_t>(0); }

    // The last field of the section: a file that ends before it is damaged.
    void LastF64(double& f) {
        uint64_t at = r_.position();
        size_t got = 0;
        f = r_.value(f, &got);
        if (got == 0) throw JwwIoError(kFileIoError, at, "the header ends before its last field");
    }

    // A run of fixed-width fields, taken from the file in one read. Bytes the
    // file cannot deliver leave their fields as they were, as with single reads.
    template <class Fields>
    void Block(size_t n, Fields&& fields) {
        assert(n <= kMaxBlock);
        std::array<uint8_t, kMaxBlock> b;
        size_t got = r_.read(b.data(), std::min(n, b.size()));
        ByteReader part(std::span<const uint8_t>(b.data(), got));
        HeaderReader io(doc_, part);
        fields(io);
        assert(got < n || part.atEnd());
    }

private:
    TJwwData& doc_;
    ByteReader& r_;
};

class HeaderWriter {
public:
    static constexpr bool kReading = false;
    HeaderWriter(const TJwwData& doc, ByteWriter& w, int32_t ver) : doc_(doc), w_(w), ver_(ver) {}

    void Signature(const std::u16string&) { w_.write(kSignature, kSignatureSize); }
    int32_t Version(const int32_t&) {
        w_.i32(ver_);
        return ver_;
    }
    void Memo(const std::u16string& s) { doc_.WriteArchiveString(w_, s); }
    void Name(const std::u16string& s) { doc_.WriteStoredString(w_, s); }
    template <class Written>
    void Name(const std::u16string&, Written&& written) {
        std::u16string made;
        doc_.WriteArchiveString(w_, written(made));
    }
    void Reserved(size_t n, uint8_t fill) { w_.fill(fill, n); }

    void I32(const int32_t& f) { w_.i32(f); }
    void F64(const double& f) { w_.f64(f); }
    template <class Written>
    void I32(const int32_t&, Written&& written) { w_.i32(written()); }
    template <class Written>
    void F64(const double&, Written&& written) { w_.f64(written()); }
    template <class Written>
    int32_t Packed(Written&& written) {
        int32_t v = written();
        w_.i32(v);
        return v;
    }
    void LastF64(const double& f) { w_.f64(f); }

    template <class Fields>
    void Block([[maybe_unused]] size_t n, Fields&& fields) {
        [[maybe_unused]] uint64_t start = w_.written();
        fields(*this);
        assert(!w_.ok() || w_.written() - start == n);
    }

private:
    const TJwwData& doc_;
    ByteWriter& w_;
    int32_t ver_;
};

// ---- The section, field by field -------------------------------------------------------
//
// Doc is TJwwData for reading and const TJwwData for writing. Offsets counted
// from the first byte after the memo: nZumen 0, layer groups 8, reserved 2376,
// lnSunpou1 2432, reserved 2452, nMaxDrawWid 2456, DPPrtGenten_x 2460,
// nPrtSet 2484, dMemoriHyoujiMin 2492, first layer name 2532.

template <class Io, class Doc>
void WalkLayerGroups(Io& io, Doc& d) {
    for (int g = 0; g < kLayerGroupCount; ++g) {
        io.Block(148, [&](auto& b) {
            auto& grp = At(d.EntLgrp, g);
            b.I32(grp.anGLay);
            b.I32(grp.anWriteLay);
            b.F64(grp.adScale);
            b.I32(grp.anGLayProtect);
            for (int l = 0; l < kLayersPerGroup; ++l) {
                auto& lay = At(d.EntLay, g * kLayersPerGroup + l);
                b.I32(lay.aanLay);
                b.I32(lay.aanLayProtect);
            }
        });
    }
}

template <class Io, class Doc>
void WalkZoom(Io& io, Doc& d, int32_t ver) {
    auto& h = d.Enthd;
    if (ver >= kVerZoom8) {
        for (int i = 0; i < kZoomEntries; ++i) {
            io.Block(28, [&](auto& b) {
                b.F64(h.dZoomJumpBairitsu[i]);
                b.F64(h.DPZoomJumpGenten_x[i]);
                b.F64(h.DPZoomJumpGenten_y[i]);
                b.I32(h.nZoomJumpGLay[i]);
            });
        }
        io.Block(56, [&](auto& b) {
            b.F64(h.dDm11);
            b.F64(h.dDm12);
            b.F64(h.dDm13);
            b.I32(h.lnDm1);
            b.F64(h.dDm21);
            b.F64(h.dDm22);
            b.F64(h.dMojiBG);
            b.I32(h.nMojiBG);
        });
    } else {
        for (int i = 0; i < kShortZoomEntries; ++i) {
            io.Block(24, [&](auto& b) {
                b.F64(h.dZoomJumpBairitsu[i]);
                b.F64(h.DPZoomJumpGenten_x[i]);
                b.F64(h.DPZoomJumpGenten_y[i]);
            });
        }
    }
}

// Pens 0..9: screen colours and widths, then printer colours, widths and point
// radii. Entry 0's colour is the background; its printer colour is always white.
template <class Io, class Doc>
void WalkPens(Io& io, Doc& d) {
    for (int i = 0; i < kColorCount; ++i) {
        io.Block(8, [&](auto& b) {
            auto& c = At(d.EntCol, i);
            b.I32(c.aPenColor, [&] { return ColorOrBlack(c.aPenColor); });
            b.I32(c.anPenWidth, [&] { return std::clamp(c.anPenWidth, 1, 16); });
        });
    }
    for (int i = 0; i < kColorCount; ++i) {
        io.Block(16, [&](auto& b) {
            auto& c = At(d.EntCol, i);
            b.I32(c.aPrtPenColor, [&] { return i == 0 ? kWhite : ColorOrBlack(c.aPrtPenColor); });
            b.I32(c.anPrtPenWidth, [&] { return std::clamp(c.anPrtPenWidth, 1, 500); });
            b.F64(c.adPrtTenHankei, [&] { return std::clamp(c.adPrtTenHankei, 0.1, 10.0); });
        });
    }
}

template <class Io, class Doc>
void WalkLineTypes(Io& io, Doc& d) {
    for (int i = 0; i < kLtp1Count; ++i) {
        io.Block(16, [&](auto& b) {
            auto& lt = At(d.EntLtp1, i);
            b.I32(lt.alLType);
            b.I32(lt.anTokushuSenUintDot);
            b.I32(lt.anTokushuSenPich);
            b.I32(lt.anPrtTokushuSenPich);
        });
    }
    for (int i = 0; i < kLtp2Count; ++i) {
        io.Block(20, [&](auto& b) {
            auto& lt = At(d.EntLtp2, i);
            b.I32(lt.alLType);
            b.I32(lt.anRandSenWide);
            b.I32(lt.anTokushuSenPich);
            b.I32(lt.anPrtRandSenWide);
            b.I32(lt.anPrtTokushuSenPich);
        });
    }
    for (int i = 0; i < kLtp3Count; ++i) {
        io.Block(16, [&](auto& b) {
            auto& lt = At(d.EntLtp3, i);
            b.I32(lt.alLType);
            b.I32(lt.anTokushuSenUintDot);
            b.I32(lt.anTokushuSenPich);
            b.I32(lt.anPrtTokushuSenPich);
        });
    }
}

// Extended (SXF) colours 0..256 and line types 0..32, from version 420.
template <class Io, class Doc>
void WalkSxfTables(Io& io, Doc& d) {
    for (int i = 0; i < kColorExCount; ++i) {
        io.Block(8, [&](auto& b) {
            auto& c = At(d.EntColS, i);
            b.I32(c.aPenColor);
            b.I32(c.anPenWidth);
        });
    }
    for (int i = 0; i < kColorExCount; ++i) {
        auto& c = At(d.EntColS, i);
        io.Name(c.astrUDColorName,
                [&](std::u16string& made) { return TableName(c.astrUDColorName, u"Color_", i, made); });
        io.Block(16, [&](auto& b) {
            // Entries 17 and above print in their screen colour.
            b.I32(c.aPrtPenColor, [&] { return i <= 16 ? c.aPrtPenColor : c.aPenColor; });
            b.I32(c.anPrtPenWidth);
            b.F64(c.adPrtTenHankei);
        });
    }
    for (int i = 0; i < kLineTypeExCount; ++i) {
        io.Block(16, [&](auto& b) {
            auto& lt = At(d.EntLtpS, i);
            bool fixed = UsesFixedPattern(i, lt);  // segment count as held (the writer's view)
            b.I32(lt.alLType, [&] { return fixed ? kFixedLType : lt.alLType == 0 ? -1 : lt.alLType; });
            b.I32(lt.anTokushuSenUintDot, [&] { return fixed ? kFixedUnitDot : lt.anTokushuSenUintDot; });
            b.I32(lt.anTokushuSenPich, [&] { return fixed ? kFixedPich : lt.anTokushuSenPich; });
            b.I32(lt.anPrtTokushuSenPich, [&] { return fixed ? kFixedPrtPich : lt.anPrtTokushuSenPich; });
        });
    }
    for (int i = 0; i < kLineTypeExCount; ++i) {
        auto& lt = At(d.EntLtpS, i);
        io.Name(lt.astrUDLTypeName, [&](std::u16string& made) -> std::u16string_view {
            if (UsesFixedPattern(i, lt)) return made = u"LType_" + IntToDecStr(i);
            return TableName(lt.astrUDLTypeName, u"LType_", i, made);
        });
        io.Block(84, [&](auto& b) {
            bool fixed = UsesFixedPattern(i, lt);
            b.I32(lt.anUDLTypeSegment, [&] { return fixed ? kFixedSegments : lt.anUDLTypeSegment; });
            for (int k = 0; k < 10; ++k)
                b.F64(lt.aadUDLTypePitch[k], [&] { return fixed ? kFixedPitches[k] : lt.aadUDLTypePitch[k]; });
        });
    }
}

template <class Io, class Doc>
void WalkTextSettings(Io& io, Doc& d) {
    auto& h = d.Enthd;
    for (int i = 0; i < kMojiTypeCount; ++i) {
        auto& m = At(d.EntMoj, i);
        io.Block(28, [&](auto& b) {
            b.F64(m.adMojiX, [&] { return TextSize(m.adMojiX); });
            b.F64(m.adMojiY, [&] { return TextSize(m.adMojiY); });
            b.F64(m.adMojiD);
            b.I32(m.anMojiCol);
        });
        if constexpr (Io::kReading) RepairTextSize(m.adMojiX, m.adMojiY, m.adMojiD);
    }
    io.Block(24, [&](auto& b) {
        b.F64(h.dMojiSizeX, [&] { return TextSize(h.dMojiSizeX); });
        b.F64(h.dMojiSizeY, [&] { return TextSize(h.dMojiSizeY); });
        b.F64(h.dMojiKankaku);
    });
    if constexpr (Io::kReading) RepairTextSize(h.dMojiSizeX, h.dMojiSizeY, h.dMojiKankaku);
    io.Block(28, [&](auto& b) {
        b.I32(h.nMojiColor);
        b.I32(h.nMojiShu);
        b.F64(h.dMojiSeiriGyouKan);
        b.F64(h.dMojiSeiriSuu);
        b.I32(h.nMojiKijunZureOn);
    });
    io.Block(40, [&](auto& b) {
        b.F64(h.adMojiKijunZureX0);
        b.F64(h.adMojiKijunZureX1);
        b.F64(h.adMojiKijunZureX2);
        b.F64(h.adMojiKijunZureY0);
        b.F64(h.adMojiKijunZureY1);
    });
    io.LastF64(h.adMojiKijunZureY2);
}

template <class Io, class Doc>
void WalkHeader(Io& io, Doc& d) {
    auto& h = d.Enthd;
    io.Signature(h.jwID);
    const int32_t ver = io.Version(h.jwVer);  // decides every condition below
    io.Memo(h.strMemo);                          // CR LF and other controls kept
    io.I32(h.nZumen);
    io.I32(h.nWriteGLay);
    WalkLayerGroups(io, d);
    io.Reserved(56, 0x20);
    io.Block(20, [&](auto& b) {
        b.I32(h.lnSunpou1);
        b.I32(h.lnSunpou2);
        b.I32(h.lnSunpou3);
        b.I32(h.lnSunpou4);
        b.I32(h.lnSunpou5);
    });
    io.Reserved(4, 0x00);
    io.I32(h.nMaxDrawWid, [&] {
        return ver <= kVerSxf ? std::max(h.nMaxDrawWid, kMinLegacyMaxDrawWid) : h.nMaxDrawWid;
    });
    if constexpr (Io::kReading) DeriveLineWidthMode(h);
    io.Block(72, [&](auto& b) {
        b.F64(h.DPPrtGenten_x);
        b.F64(h.DPPrtGenten_y);
        b.F64(h.dPrtBairitsu);
        b.I32(h.nPrtSet);
        b.I32(h.nMemoriMode);
        b.F64(h.dMemoriHyoujiMin);
        b.F64(h.dMemoriX);
        b.F64(h.dMemoriY);
        b.F64(h.DpMemoriKjTen_x);
        b.F64(h.DpMemoriKjTen_y);
    });
    for (int i = 0; i < kLayerCount; ++i) io.Name(At(d.EntLay, i).aStrLayName);
    for (int g = 0; g < kLayerGroupCount; ++g) io.Name(At(d.EntLgrp, g).aStrGLayName);
    io.Block(28, [&](auto& b) {
        b.F64(h.dKageLevel);
        b.F64(h.dKageIdo);
        b.I32(h.nKage9_15JiFlg);
        b.F64(h.dKabeKageLevel);
    });
    if (ver >= kVerTenkuu) {
        io.F64(h.dTenkuuZuLevel);
        io.F64(h.dTenkuuZuEnkoR);
    }
    io.I32(h.nMMTani3D);
    io.Block(48, [&](auto& b) {
        b.F64(h.dBairitsu);
        b.F64(h.DPGenten_x);
        b.F64(h.DPGenten_y);
        b.F64(h.dHanniBairitsu);
        b.F64(h.DPHanniGenten_x);
        b.F64(h.DPHanniGenten_y);
    });
    WalkZoom(io, d, ver);
    io.Block(88, [&](auto& b) {
        for (int i = 0; i < 10; ++i) b.F64(h.adFukusenSuuchi[i]);
        b.F64(h.dRyougawaFukusenTomeDe);
    });
    WalkPens(io, d);
    WalkLineTypes(io, d);
    io.Block(40, [&](auto& b) {
        b.I32(h.nDrawGamenTen);
        b.I32(h.nDrawPrtTen);
        b.I32(h.nBitMapFirstDraw);
        b.I32(h.nGyakuDraw);
        b.I32(h.nGyakuSearch);
        b.I32(h.nColorPrint);
        b.I32(h.nLayJunPrint);
        b.I32(h.nColJunPrint);
        b.I32(h.nPrtRenzoku);
        b.I32(h.nPrtKyoutsuuGray);
    });
    int32_t printOption = io.Packed([&] { return PackPrintOption(h, ver); });
    if constexpr (Io::kReading) UnpackPrintOption(printOption, h);
    if (ver >= kVerEye) {
        io.Block(60, [&](auto& b) {
            b.I32(h.lnDrawTime);
            b.I32(h.nEyeInit);
            b.I32(h.dEye_H_Ichi_1);
            b.I32(h.dEye_H_Ichi_2);
            b.I32(h.dEye_H_Ichi_3);
            b.F64(h.dEye_Z_Ichi_1);
            b.F64(h.dEye_Y_Ichi_1);
            b.F64(h.dEye_Z_Ichi_2);
            b.F64(h.dEye_Y_Ichi_2);
            b.F64(h.dEye_V_Ichi_3);
        });
    }
    if (ver >= kVerSunpouSize) {
        io.Block(32, [&](auto& b) {
            b.F64(h.dSenNagasaSnpou);
            b.F64(h.dBoxSunpouX);
            b.F64(h.dBoxSunpouY);
            b.F64(h.dEnHankeiSnpou);
        });
    }
    if (ver >= kVerSolidColor) {
        io.I32(h.nSolidNinniColor);
        io.I32(h.SolidColor);
    }
    if (ver >= kVerSxf) WalkSxfTables(io, d);
    WalkTextSettings(io, d);
}

}  // namespace

bool TJwwData::ReadHeader(ByteReader& r) {
    try {
        // Fixed sizes whatever the version; entries the file does not carry stay empty.
        SizeTables();
        HeaderReader io(*this, r);
        WalkHeader(io, *this);
        return true;
    } catch (const JwwIoError& e) {
        lastFailure_ = {true, e.what(), e.detail, true, e.offset};
    } catch (const std::exception& e) {
        lastFailure_ = {true, e.what(), "while reading the header", false, 0};
    } catch (...) {
        lastFailure_ = {true, kFileIoError, "while reading the header", false, 0};
    }
    return false;
}

void TJwwData::WriteHeader(ByteWriter& w, int32_t Ver) {
    Enthd.jwID = u"JwwData.";
    HeaderWriter io(*this, w, Ver);
    WalkHeader(io, std::as_const(*this));
}

}  // namespace morvane
