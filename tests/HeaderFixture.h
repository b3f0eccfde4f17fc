// Builds the header section of a JWW file for any version, row by row in the
// format's field order, independently of the header writer. Every field gets a
// distinct value, chosen so that the writer's normalisations leave it as it is:
// reading the bytes and writing them back for the same version must give the
// same bytes. The fixture remembers, per field, the value it wrote (or that the
// field is absent in this version), the field's offset and where each row starts.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "doc/JwwUnit.h"

namespace morvane::testing {

class HeaderFixture {
public:
    explicit HeaderFixture(int32_t ver, bool unicode = false) : ver_(ver), unicode_(unicode) { Build(); }

    std::vector<uint8_t> bytes;
    std::vector<size_t> rowStarts;        // offset of every row the version carries, then the end
    std::map<std::string, size_t> offsetOf;  // by field key, e.g. "EntMoj[3].adMojiX"

    // Expects every field of doc to hold what the fixture wrote, and the fields
    // this version does not carry to hold the values of an empty document.
    void ExpectLoaded(TJwwData& doc) const {
        TJwwData defaults;
        SizeTables(defaults);
        for (const Field& f : fields_) {
            if (f.getText) {
                EXPECT_EQ(f.getText(doc), f.present ? f.text : f.getText(defaults)) << f.key;
            } else {
                double want = f.present ? f.value : f.get(defaults);
                EXPECT_EQ(f.get(doc), want) << f.key << " (version " << ver_ << ")";
            }
        }
    }

    // Overwrites the stored value of a field (after the fixture has been built).
    template <class T>
    void Patch(const std::string& key, T v) {
        std::memcpy(&bytes.at(offsetOf.at(key)), &v, sizeof v);
    }

    static void SizeTables(TJwwData& d) { d.SizeTables(); }

private:
    struct Field {
        std::string key;
        std::function<double(TJwwData&)> get;
        std::function<std::u16string(TJwwData&)> getText;
        double value = 0;
        std::u16string text;
        bool present = true;
    };

    int32_t ver_;
    bool unicode_;
    bool writing_ = true;  // false inside a row this version does not carry
    int i_ = 0, j_ = 0;    // table indices substituted for [i] and [j] in keys
    int next_ = 1;         // source of distinct values

    std::string Key(std::string expr) const {
        auto put = [&](const char* mark, int v) {
            if (auto p = expr.find(mark); p != std::string::npos) expr.replace(p, 3, "[" + std::to_string(v) + "]");
        };
        put("[i]", i_);
        put("[j]", j_);
        return expr;
    }
    void Raw(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    // A field that a later row of this version carries (the short zoom form
    // before 231) is expected as written, not as absent.
    void Add(Field f) {
        f.present = writing_;
        if (f.present) std::erase_if(fields_, [&](const Field& g) { return g.key == f.key; });
        fields_.push_back(std::move(f));
    }

    template <class Get>
    void I32(const char* expr, Get get, int32_t v) {
        std::string key = Key(expr);
        if (writing_) {
            offsetOf[key] = bytes.size();
            Raw(&v, 4);
        }
        Add({key, [get](TJwwData& d) { return double(get(d)); }, {}, double(v), {}});
    }
    template <class Get>
    void F64(const char* expr, Get get, double v) {
        std::string key = Key(expr);
        if (writing_) {
            offsetOf[key] = bytes.size();
            Raw(&v, 8);
        }
        Add({key, [get](TJwwData& d) { return double(get(d)); }, {}, v, {}});
    }
    template <class Get>
    void I32(const char* expr, Get get) { I32(expr, get, next_++); }
    template <class Get>
    void F64(const char* expr, Get get) { F64(expr, get, next_++ + 0.25); }
    // A field that the reader derives; no bytes.
    template <class Get>
    void Derived(const char* expr, Get get, double v) {
        Add({Key(expr), [get](TJwwData& d) { return double(get(d)); }, {}, v, {}});
    }
    template <class Get>
    void Str(const char* expr, Get get, const std::u16string& s) {
        std::string key = Key(expr);
        if (writing_) {
            offsetOf[key] = bytes.size();
            WriteString(s);
        }
        Add({key, {}, [get](TJwwData& d) { return std::u16string(get(d)); }, 0, s});
    }
    // Strings of the fixture are ASCII, so their Shift_JIS bytes are their code units.
    void WriteString(const std::u16string& s) {
        auto length = [&](size_t n) {
            if (n < 255) {
                bytes.push_back(uint8_t(n));
            } else {
                bytes.push_back(0xFF);
                bytes.push_back(uint8_t(n & 0xFF));
                bytes.push_back(uint8_t(n >> 8));
            }
        };
        if (unicode_) {
            bytes.insert(bytes.end(), {0xFF, 0xFE, 0xFF});
            length(s.size());
            Raw(s.data(), s.size() * 2);
        } else {
            length(s.size());
            for (char16_t c : s) bytes.push_back(uint8_t(c));
        }
    }
    template <class Body>
    void Row(bool present, Body body) {
        if (present) rowStarts.push_back(bytes.size());
        writing_ = present;
        body();
        writing_ = true;
    }

// Accessor of a field named by its path in TJwwData, with i and j the current indices.
#define FX_GET(path) [i = i_, j = j_](TJwwData& d) -> auto& { (void)i, (void)j; return d.path; }
#define FX_I32(path, ...) I32(#path, FX_GET(path) __VA_OPT__(, ) __VA_ARGS__)
#define FX_F64(path, ...) F64(#path, FX_GET(path) __VA_OPT__(, ) __VA_ARGS__)
#define FX_STR(path, s) Str(#path, FX_GET(path), s)
#define FX_DERIVED(path, v) Derived(#path, FX_GET(path), v)

    void Build();

    std::vector<Field> fields_;
};

inline void HeaderFixture::Build() {
    const int32_t v = ver_;
    std::u16string u;
    Row(true, [&] { Raw("JwwData.", 8); });
    Row(true, [&] { Raw(&v, 4); });
    Row(true, [&] { FX_STR(Enthd.strMemo, u"Upper line\r\nLower line"); });
    Row(true, [&] {
        FX_I32(Enthd.nZumen);
        FX_I32(Enthd.nWriteGLay);
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 16; ++i_) {
            FX_I32(EntLgrp[i].anGLay);
            FX_I32(EntLgrp[i].anWriteLay);
            FX_F64(EntLgrp[i].adScale);
            FX_I32(EntLgrp[i].anGLayProtect);
            for (j_ = i_ * 16; j_ < i_ * 16 + 16; ++j_) {
                FX_I32(EntLay[j].aanLay);
                FX_I32(EntLay[j].aanLayProtect);
            }
        }
    });
    Row(true, [&] { bytes.insert(bytes.end(), 56, 0x20); });
    Row(true, [&] {
        FX_I32(Enthd.lnSunpou1);
        FX_I32(Enthd.lnSunpou2);
        FX_I32(Enthd.lnSunpou3);
        FX_I32(Enthd.lnSunpou4);
        FX_I32(Enthd.lnSunpou5);
    });
    Row(true, [&] { bytes.insert(bytes.end(), 4, 0x00); });
    Row(true, [&] {
        int32_t w = next_;
        FX_I32(Enthd.nMaxDrawWid);
        FX_DERIVED(Enthd.bSenHaba100, 0);
        FX_DERIVED(Enthd.nMaxDrawWidBak, w);
    });
    Row(true, [&] {
        FX_F64(Enthd.DPPrtGenten_x);
        FX_F64(Enthd.DPPrtGenten_y);
        FX_F64(Enthd.dPrtBairitsu);
    });
    Row(true, [&] {
        FX_I32(Enthd.nPrtSet);
        FX_I32(Enthd.nMemoriMode);
    });
    Row(true, [&] {
        FX_F64(Enthd.dMemoriHyoujiMin);
        FX_F64(Enthd.dMemoriX);
        FX_F64(Enthd.dMemoriY);
        FX_F64(Enthd.DpMemoriKjTen_x);
        FX_F64(Enthd.DpMemoriKjTen_y);
    });
    Row(true, [&] {
        // One name takes the long length form; some are empty.
        for (i_ = 0; i_ < 256; ++i_) {
            u = i_ == 37 ? std::u16string(300, u'x') : i_ % 10 == 3 ? u"" : u"Lay" + std::u16string(1, u'A' + i_ % 26);
            FX_STR(EntLay[i].aStrLayName, u);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 16; ++i_) FX_STR(EntLgrp[i].aStrGLayName, i_ == 5 ? u"" : u"Group " + std::u16string(1, u'a' + i_));
    });
    Row(true, [&] {
        FX_F64(Enthd.dKageLevel);
        FX_F64(Enthd.dKageIdo);
        FX_I32(Enthd.nKage9_15JiFlg);
        FX_F64(Enthd.dKabeKageLevel);
    });
    Row(v >= 300, [&] {
        FX_F64(Enthd.dTenkuuZuLevel);
        FX_F64(Enthd.dTenkuuZuEnkoR);
    });
    Row(true, [&] { FX_I32(Enthd.nMMTani3D); });
    Row(true, [&] {
        FX_F64(Enthd.dBairitsu);
        FX_F64(Enthd.DPGenten_x);
        FX_F64(Enthd.DPGenten_y);
        FX_F64(Enthd.dHanniBairitsu);
        FX_F64(Enthd.DPHanniGenten_x);
        FX_F64(Enthd.DPHanniGenten_y);
    });
    Row(v >= 231, [&] {
        for (i_ = 0; i_ < 8; ++i_) {
            FX_F64(Enthd.dZoomJumpBairitsu[i]);
            FX_F64(Enthd.DPZoomJumpGenten_x[i]);
            FX_F64(Enthd.DPZoomJumpGenten_y[i]);
            FX_I32(Enthd.nZoomJumpGLay[i]);
        }
    });
    Row(v >= 231, [&] {
        FX_F64(Enthd.dDm11);
        FX_F64(Enthd.dDm12);
        FX_F64(Enthd.dDm13);
        FX_I32(Enthd.lnDm1);
        FX_F64(Enthd.dDm21);
        FX_F64(Enthd.dDm22);
        FX_F64(Enthd.dMojiBG);
        FX_I32(Enthd.nMojiBG);
    });
    if (v <= 230) {
        Row(true, [&] {
            for (i_ = 0; i_ < 4; ++i_) {
                FX_F64(Enthd.dZoomJumpBairitsu[i]);
                FX_F64(Enthd.DPZoomJumpGenten_x[i]);
                FX_F64(Enthd.DPZoomJumpGenten_y[i]);
            }
        });
    }
    Row(true, [&] {
        for (i_ = 0; i_ < 10; ++i_) FX_F64(Enthd.adFukusenSuuchi[i]);
    });
    Row(true, [&] { FX_F64(Enthd.dRyougawaFukusenTomeDe); });
    Row(true, [&] {
        for (i_ = 0; i_ < 10; ++i_) {
            FX_I32(EntCol[i].aPenColor, 0x010203 * (i_ + 1));
            FX_I32(EntCol[i].anPenWidth, i_ + 1);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 10; ++i_) {
            FX_I32(EntCol[i].aPrtPenColor, i_ == 0 ? 0xFFFFFF : 0x030201 * i_);
            FX_I32(EntCol[i].anPrtPenWidth, 50 * i_ + 1);
            FX_F64(EntCol[i].adPrtTenHankei, 0.1 + i_);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 8; ++i_) {
            FX_I32(EntLtp1[i].alLType);
            FX_I32(EntLtp1[i].anTokushuSenUintDot);
            FX_I32(EntLtp1[i].anTokushuSenPich);
            FX_I32(EntLtp1[i].anPrtTokushuSenPich);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 5; ++i_) {
            FX_I32(EntLtp2[i].alLType);
            FX_I32(EntLtp2[i].anRandSenWide);
            FX_I32(EntLtp2[i].anTokushuSenPich);
            FX_I32(EntLtp2[i].anPrtRandSenWide);
            FX_I32(EntLtp2[i].anPrtTokushuSenPich);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 4; ++i_) {
            FX_I32(EntLtp3[i].alLType);
            FX_I32(EntLtp3[i].anTokushuSenUintDot);
            FX_I32(EntLtp3[i].anTokushuSenPich);
            FX_I32(EntLtp3[i].anPrtTokushuSenPich);
        }
    });
    Row(true, [&] {
        FX_I32(Enthd.nDrawGamenTen);
        FX_I32(Enthd.nDrawPrtTen);
        FX_I32(Enthd.nBitMapFirstDraw);
        FX_I32(Enthd.nGyakuDraw);
        FX_I32(Enthd.nGyakuSearch);
        FX_I32(Enthd.nColorPrint);
        FX_I32(Enthd.nLayJunPrint);
        FX_I32(Enthd.nColJunPrint);
        FX_I32(Enthd.nPrtRenzoku);
        FX_I32(Enthd.nPrtKyoutsuuGray);
    });
    Row(true, [&] {
        // Resolution and display flag packed as 10 * dpi + flag from 600 on.
        int32_t p = v >= 600 ? 10 * 36 + 7 : 7;
        offsetOf["print option"] = bytes.size();
        Raw(&p, 4);
        FX_DERIVED(Enthd.nPrtDpi, p / 10);
        FX_DERIVED(Enthd.nPrtDispOnlyNonDraw, 7);
    });
    Row(v >= 223, [&] {
        FX_I32(Enthd.lnDrawTime);
        FX_I32(Enthd.nEyeInit);
        FX_I32(Enthd.dEye_H_Ichi_1);
        FX_I32(Enthd.dEye_H_Ichi_2);
        FX_I32(Enthd.dEye_H_Ichi_3);
        FX_F64(Enthd.dEye_Z_Ichi_1);
        FX_F64(Enthd.dEye_Y_Ichi_1);
        FX_F64(Enthd.dEye_Z_Ichi_2);
        FX_F64(Enthd.dEye_Y_Ichi_2);
        FX_F64(Enthd.dEye_V_Ichi_3);
    });
    Row(v >= 225, [&] {
        FX_F64(Enthd.dSenNagasaSnpou);
        FX_F64(Enthd.dBoxSunpouX);
        FX_F64(Enthd.dBoxSunpouY);
        FX_F64(Enthd.dEnHankeiSnpou);
    });
    Row(v >= 230, [&] {
        FX_I32(Enthd.nSolidNinniColor);
        FX_I32(Enthd.SolidColor);
    });
    std::vector<int32_t> screen(257);
    Row(v >= 420, [&] {
        for (i_ = 0; i_ < 257; ++i_) {
            screen[i_] = next_;
            FX_I32(EntColS[i].aPenColor);
            FX_I32(EntColS[i].anPenWidth);
        }
    });
    Row(v >= 420, [&] {
        for (i_ = 0; i_ < 257; ++i_) {
            FX_STR(EntColS[i].astrUDColorName, u"Colour " + std::u16string(1, u'A' + i_ % 26));
            // Entries from 17 on are written with their screen colour.
            if (i_ <= 16)
                FX_I32(EntColS[i].aPrtPenColor);
            else
                FX_I32(EntColS[i].aPrtPenColor, screen[i_]);
            FX_I32(EntColS[i].anPrtPenWidth);
            FX_F64(EntColS[i].adPrtTenHankei);
        }
    });
    Row(v >= 420, [&] {
        for (i_ = 0; i_ < 33; ++i_) {
            FX_I32(EntLtpS[i].alLType);
            FX_I32(EntLtpS[i].anTokushuSenUintDot);
            FX_I32(EntLtpS[i].anTokushuSenPich);
            FX_I32(EntLtpS[i].anPrtTokushuSenPich);
        }
    });
    Row(v >= 420, [&] {
        for (i_ = 0; i_ < 33; ++i_) {
            FX_STR(EntLtpS[i].astrUDLTypeName, u"Type " + std::u16string(1, u'A' + i_ % 26));
            FX_I32(EntLtpS[i].anUDLTypeSegment, 2 + 2 * (i_ % 4));
            for (j_ = 0; j_ < 10; ++j_) FX_F64(EntLtpS[i].aadUDLTypePitch[j]);
        }
    });
    Row(true, [&] {
        for (i_ = 0; i_ < 10; ++i_) {
            FX_F64(EntMoj[i].adMojiX);
            FX_F64(EntMoj[i].adMojiY);
            FX_F64(EntMoj[i].adMojiD);
            FX_I32(EntMoj[i].anMojiCol);
        }
    });
    Row(true, [&] {
        FX_F64(Enthd.dMojiSizeX);
        FX_F64(Enthd.dMojiSizeY);
        FX_F64(Enthd.dMojiKankaku);
    });
    Row(true, [&] {
        FX_I32(Enthd.nMojiColor);
        FX_I32(Enthd.nMojiShu);
    });
    Row(true, [&] {
        FX_F64(Enthd.dMojiSeiriGyouKan);
        FX_F64(Enthd.dMojiSeiriSuu);
    });
    Row(true, [&] { FX_I32(Enthd.nMojiKijunZureOn); });
    Row(true, [&] {
        FX_F64(Enthd.adMojiKijunZureX0);
        FX_F64(Enthd.adMojiKijunZureX1);
        FX_F64(Enthd.adMojiKijunZureX2);
        FX_F64(Enthd.adMojiKijunZureY0);
        FX_F64(Enthd.adMojiKijunZureY1);
        FX_F64(Enthd.adMojiKijunZureY2);
    });
    rowStarts.push_back(bytes.size());
}

#undef FX_GET
#undef FX_I32
#undef FX_F64
#undef FX_STR
#undef FX_DERIVED

}  // namespace morvane::testing
