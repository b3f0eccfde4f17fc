// The header section: layout by version, the reader's checks and derivations,
// the writer's normalisations, damaged input and the real drawings.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "doc/JwwUnit.h"
#include "support/Func_2.h"
#include "tests/HeaderFixture.h"

using namespace morvane;
using morvane::testing::HeaderFixture;

namespace {

using Bytes = std::vector<uint8_t>;

bool Read(TJwwData& doc, const Bytes& bytes, uint64_t* end = nullptr) {
    ByteReader r(bytes);
    bool ok = doc.ReadHeader(r);
    if (end) *end = r.position();
    return ok;
}

Bytes Write(TJwwData& doc, int32_t ver) {
    ByteWriter w;
    doc.WriteHeader(w, ver);
    return w.bytes();
}

// A document as the reader leaves it after the fixture of `ver`.
void Load(TJwwData& doc, const HeaderFixture& fx) { ASSERT_TRUE(Read(doc, fx.bytes)); }

// ---- Layout by version ----------------------------------------------------------------

struct VersionCase {
    int32_t ver;
    bool unicode;
};

class HeaderVersion : public ::testing::TestWithParam<VersionCase> {};

// Every field lands where the format puts it for this version, fields the
// version lacks keep the empty document's values, and writing the loaded
// header for the same version gives back the same bytes.
TEST_P(HeaderVersion, ReadsEveryFieldAndWritesTheSameBytes) {
    const VersionCase& c = GetParam();
    HeaderFixture fx(c.ver, c.unicode);
    TJwwData doc;
    uint64_t end = 0;
    ASSERT_TRUE(Read(doc, fx.bytes, &end)) << doc.LastFailure().message << ": " << doc.LastFailure().detail;
    EXPECT_EQ(end, fx.bytes.size());
    EXPECT_EQ(doc.Enthd.jwID, u"JwwData.");
    EXPECT_EQ(doc.Enthd.jwVer, c.ver);
    EXPECT_EQ(doc.MojiEncode, c.unicode);
    fx.ExpectLoaded(doc);

    doc.FileOutOpt = c.unicode ? kOptUnicode : 0;
    EXPECT_EQ(Write(doc, c.ver), fx.bytes);
}

INSTANTIATE_TEST_SUITE_P(Versions, HeaderVersion,
                         ::testing::Values(VersionCase{220, false}, VersionCase{222, false}, VersionCase{223, false},
                                           VersionCase{224, false}, VersionCase{225, false}, VersionCase{229, false},
                                           VersionCase{230, false}, VersionCase{231, false}, VersionCase{299, false},
                                           VersionCase{300, false}, VersionCase{351, false}, VersionCase{419, false},
                                           VersionCase{420, false}, VersionCase{600, false}, VersionCase{700, false},
                                           VersionCase{700, true}),
                         [](const auto& info) {
                             return std::to_string(info.param.ver) + (info.param.unicode ? "_utf16" : "");
                         });

TEST(Header, FixedPositionsAfterTheMemo) {
    HeaderFixture fx(700);
    const size_t base = fx.offsetOf.at("Enthd.nZumen");
    EXPECT_EQ(base, 12u + 1 + 22);  // signature, version, memo of 22 bytes
    EXPECT_EQ(fx.offsetOf.at("EntLgrp[0].anGLay") - base, 8u);
    EXPECT_EQ(fx.offsetOf.at("Enthd.lnSunpou1") - base, 2432u);
    EXPECT_EQ(fx.offsetOf.at("Enthd.nMaxDrawWid") - base, 2456u);
    EXPECT_EQ(fx.offsetOf.at("Enthd.DPPrtGenten_x") - base, 2460u);
    EXPECT_EQ(fx.offsetOf.at("Enthd.nPrtSet") - base, 2484u);
    EXPECT_EQ(fx.offsetOf.at("Enthd.dMemoriHyoujiMin") - base, 2492u);
    EXPECT_EQ(fx.offsetOf.at("EntLay[0].aStrLayName") - base, 2532u);
}

// An empty document written for 700 in the Shift_JIS form; the extended names
// are generated. Also a document whose tables were never sized.
TEST(Header, EmptyVersion700HeaderIs16552Bytes) {
    TJwwData sized;
    HeaderFixture::SizeTables(sized);
    TJwwData unsized;
    for (TJwwData* doc : {&sized, &unsized}) {
        Bytes out = Write(*doc, 700);
        ASSERT_EQ(out.size(), 16552u);
        const Bytes head = {'J', 'w', 'w', 'D', 'a', 't', 'a', '.', 0xBC, 0x02, 0x00, 0x00, 0x00};
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 13), head);
        EXPECT_EQ(doc->Enthd.jwID, u"JwwData.");
    }
    EXPECT_TRUE(unsized.EntLay.empty());  // the writer does not size the document's tables
    EXPECT_EQ(Write(sized, 700), Write(unsized, 700));
}

// Fields a 351 file lacks are written for 700 from the zeroed tables.
TEST(Header, Version351SavedAs700GeneratesTheExtendedTables) {
    TJwwData doc;
    Load(doc, HeaderFixture(351));
    Bytes out = Write(doc, 700);
    TJwwData back;
    ASSERT_TRUE(Read(back, out));
    for (int i = 0; i < kColorExCount; ++i) EXPECT_EQ(back.EntColS[i].astrUDColorName, u"Color_" + IntToDecStr(i));
    for (int i = 0; i < kLineTypeExCount; ++i) {
        const TEntJwwLineTypeExNo& lt = back.EntLtpS[i];
        EXPECT_EQ(lt.astrUDLTypeName, u"LType_" + IntToDecStr(i));
        if (i < 17) {
            EXPECT_EQ(lt.alLType, -1);
            EXPECT_EQ(lt.anUDLTypeSegment, 0);
            EXPECT_EQ(lt.aadUDLTypePitch[0], 0.0);
        } else {
            EXPECT_EQ(lt.alLType, static_cast<int32_t>(0xC3C3C3C3u));
            EXPECT_EQ(lt.anTokushuSenUintDot, 8);
            EXPECT_EQ(lt.anTokushuSenPich, 1);
            EXPECT_EQ(lt.anPrtTokushuSenPich, 8);
            EXPECT_EQ(lt.anUDLTypeSegment, 2);
            EXPECT_EQ(lt.aadUDLTypePitch[0], 1.0);
            EXPECT_EQ(lt.aadUDLTypePitch[1], 1.0);
            EXPECT_EQ(lt.aadUDLTypePitch[2], 0.0);
        }
    }
    // The loaded document itself is not changed by writing.
    EXPECT_TRUE(doc.EntColS[3].astrUDColorName.empty());
    EXPECT_EQ(doc.EntLtpS[20].anUDLTypeSegment, 0);
}

// ---- The reader's checks ----------------------------------------------------------------

TEST(HeaderRead, SignatureAndVersionChecks) {
    struct Case {
        const char* name;
        int32_t version;
        const char* signature;
        bool ok;
        const char* message;
        uint64_t offset;
    } cases[] = {
        {"219", 219, "JwwData.", false, kVersionError, 8},
        {"701", 701, "JwwData.", false, kVersionError, 8},
        {"negative", -700, "JwwData.", false, kVersionError, 8},
        {"bad signature", 700, "JwwData,", false, kHeaderError, 0},
        {"lower case", 700, "jwwdata.", false, kHeaderError, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderFixture fx(700);
        std::memcpy(fx.bytes.data(), c.signature, 8);
        std::memcpy(fx.bytes.data() + 8, &c.version, 4);
        TJwwData doc;
        EXPECT_EQ(Read(doc, fx.bytes), c.ok);
        EXPECT_EQ(doc.LastFailure().message, c.message);
        EXPECT_EQ(doc.LastFailure().offset, c.offset);
        EXPECT_EQ(doc.EntLay.size(), 256u);  // tables sized before the first byte
        EXPECT_EQ(doc.EntLtpS.size(), 33u);
    }
}

TEST(HeaderRead, ShortSignatureKeepsWhatWasRead) {
    const Bytes bytes = {'J', 'w', 'w'};
    TJwwData doc;
    EXPECT_FALSE(Read(doc, bytes));
    EXPECT_EQ(doc.Enthd.jwID, u"Jww");
    EXPECT_EQ(doc.LastFailure().message, kHeaderError);
}

TEST(HeaderRead, LineWidthModeIsDerived) {
    struct Case {
        int32_t stored;
        bool senHaba100;
        int32_t bak;
    } cases[] = {
        {-450, true, -50}, {-250, true, 50},   {-350, true, -100}, {-101, true, -100}, {-100, false, -100},
        {5, false, 5},     {-500, true, -100}, {-401, true, -1},   {-400, true, -100}, {-501, true, -100},
        {-201, true, 1},   {-300, true, 100},  {-200, true, -100}, {INT32_MIN, true, -100},
    };
    HeaderFixture fx(700);
    for (const Case& c : cases) {
        fx.Patch("Enthd.nMaxDrawWid", c.stored);
        TJwwData doc;
        ASSERT_TRUE(Read(doc, fx.bytes));
        EXPECT_EQ(doc.Enthd.nMaxDrawWid, c.stored);
        EXPECT_EQ(doc.Enthd.bSenHaba100, c.senHaba100) << c.stored;
        EXPECT_EQ(doc.Enthd.nMaxDrawWidBak, c.bak) << c.stored;
    }
}

TEST(HeaderRead, NonFiniteTextSizesAreRepaired) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    HeaderFixture fx(700);
    fx.Patch("EntMoj[3].adMojiX", nan);
    fx.Patch("EntMoj[3].adMojiY", -inf);
    fx.Patch("EntMoj[3].adMojiD", inf);
    fx.Patch("EntMoj[9].adMojiD", nan);
    fx.Patch("Enthd.dMojiSizeX", inf);
    fx.Patch("Enthd.dMojiSizeY", nan);
    fx.Patch("Enthd.dMojiKankaku", nan);
    TJwwData doc;
    ASSERT_TRUE(Read(doc, fx.bytes));
    EXPECT_EQ(doc.EntMoj[3].adMojiX, 3.0);
    EXPECT_EQ(doc.EntMoj[3].adMojiY, 3.0);
    EXPECT_EQ(doc.EntMoj[3].adMojiD, 0.0);
    EXPECT_EQ(doc.EntMoj[9].adMojiD, 0.0);
    EXPECT_NE(doc.EntMoj[9].adMojiX, 3.0);  // finite values stay
    EXPECT_EQ(doc.Enthd.dMojiSizeX, 3.0);
    EXPECT_EQ(doc.Enthd.dMojiSizeY, 3.0);
    EXPECT_EQ(doc.Enthd.dMojiKankaku, 0.0);
}

TEST(HeaderRead, NamesLoseControlCharactersTheMemoKeepsThem) {
    HeaderFixture fx(700);
    // Layer 0 is "LayA": make it "L<TAB>yA"; the memo holds CR LF.
    fx.bytes[fx.offsetOf.at("EntLay[0].aStrLayName") + 2] = '\t';
    TJwwData doc;
    ASSERT_TRUE(Read(doc, fx.bytes));
    EXPECT_EQ(doc.EntLay[0].aStrLayName, u"LyA");
    EXPECT_EQ(doc.Enthd.strMemo, u"Upper line\r\nLower line");
}

// ---- Print option -------------------------------------------------------------------------

TEST(HeaderPrintOption, UnpackedOnReadPackedByVersionOnWrite) {
    struct Case {
        int32_t stored;
        int32_t dpi, flag;
        int32_t outVer, written;
    } cases[] = {
        {13, 1, 3, 700, 13}, {13, 1, 3, 600, 13}, {3, 0, 3, 700, 13}, {3, 0, 3, 420, 3},
        {367, 36, 7, 599, 7}, {-13, -1, -3, 700, 7}, {0, 0, 0, 600, 10},
    };
    for (const Case& c : cases) {
        HeaderFixture fx(700);
        fx.Patch("print option", c.stored);
        TJwwData doc;
        ASSERT_TRUE(Read(doc, fx.bytes));
        EXPECT_EQ(doc.Enthd.nPrtDpi, c.dpi) << c.stored;
        EXPECT_EQ(doc.Enthd.nPrtDispOnlyNonDraw, c.flag) << c.stored;

        Bytes out = Write(doc, c.outVer);
        int32_t written = 0;
        std::memcpy(&written, &out.at(HeaderFixture(c.outVer).offsetOf.at("print option")), 4);
        EXPECT_EQ(written, c.written) << c.stored << " for " << c.outVer;
    }
}

// ---- The writer's normalisations ----------------------------------------------------------

// Writes doc for ver, reads it back.
void RoundTrip(TJwwData& doc, int32_t ver, TJwwData& back) { ASSERT_TRUE(Read(back, Write(doc, ver))); }

TEST(HeaderWrite, MaxDrawWidBelowMinus101StopsThereUpTo420) {
    struct Case {
        int32_t held, ver, written;
    } cases[] = {{-450, 700, -450}, {-450, 421, -450}, {-450, 420, -101}, {-450, 300, -101},
                 {-101, 420, -101}, {-100, 420, -100}, {100, 220, 100}};
    for (const Case& c : cases) {
        TJwwData doc, back;
        HeaderFixture::SizeTables(doc);
        doc.Enthd.nMaxDrawWid = c.held;
        RoundTrip(doc, c.ver, back);
        EXPECT_EQ(back.Enthd.nMaxDrawWid, c.written) << c.held << " for " << c.ver;
        EXPECT_EQ(doc.Enthd.nMaxDrawWid, c.held);
    }
}

TEST(HeaderWrite, PensAreClampedAndBackgroundPrintsWhite) {
    struct Case {
        int32_t color, width, prtColor, prtWidth;
        double radius;
        int32_t wColor, wWidth, wPrtColor, wPrtWidth;
        double wRadius;
    } cases[] = {
        {-1, 0, -5, 0, 0.05, 0, 1, 0, 1, 0.1},
        {0x1000000, 17, 0x1000000, 501, 11.0, 0, 16, 0, 500, 10.0},
        {0xFFFFFF, 16, 0xFFFFFF, 500, 10.0, 0xFFFFFF, 16, 0xFFFFFF, 500, 10.0},
        {0, 1, 0, 1, 0.1, 0, 1, 0, 1, 0.1},
    };
    for (const Case& c : cases) {
        TJwwData doc, back;
        HeaderFixture::SizeTables(doc);
        for (TEntJwwColorNo& pen : doc.EntCol) pen = {c.color, c.width, c.prtColor, c.prtWidth, c.radius};
        RoundTrip(doc, 700, back);
        for (int i = 0; i < kColorCount; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(back.EntCol[i].aPenColor, c.wColor);
            EXPECT_EQ(back.EntCol[i].anPenWidth, c.wWidth);
            EXPECT_EQ(back.EntCol[i].aPrtPenColor, i == 0 ? 0xFFFFFF : c.wPrtColor);
            EXPECT_EQ(back.EntCol[i].anPrtPenWidth, c.wPrtWidth);
            EXPECT_EQ(back.EntCol[i].adPrtTenHankei, c.wRadius);
            EXPECT_EQ(doc.EntCol[i].aPrtPenColor, c.prtColor);  // held values stay
        }
    }
}

TEST(HeaderWrite, TextSizesAreWrittenAsMagnitudesInRange) {
    struct Case {
        double held, written;
    } cases[] = {{-2.5, 2.5}, {0.0, 1e-10}, {-0.0, 1e-10}, {1e-11, 1e-10}, {1e12, 1e10}, {-1e12, 1e10}, {3.5, 3.5}};
    for (const Case& c : cases) {
        TJwwData doc, back;
        HeaderFixture::SizeTables(doc);
        doc.EntMoj[4] = {c.held, c.held, -7.0, 2};
        doc.Enthd.dMojiSizeX = doc.Enthd.dMojiSizeY = c.held;
        doc.Enthd.dMojiKankaku = -7.0;
        RoundTrip(doc, 700, back);
        EXPECT_EQ(back.EntMoj[4].adMojiX, c.written) << c.held;
        EXPECT_EQ(back.EntMoj[4].adMojiY, c.written) << c.held;
        EXPECT_EQ(back.EntMoj[4].adMojiD, -7.0);
        EXPECT_EQ(back.Enthd.dMojiSizeX, c.written) << c.held;
        EXPECT_EQ(back.Enthd.dMojiSizeY, c.written) << c.held;
        EXPECT_EQ(back.Enthd.dMojiKankaku, -7.0);
        EXPECT_EQ(doc.EntMoj[4].adMojiX, c.held);
    }
}

TEST(HeaderWrite, LayerAndGroupNamesAreCleaned) {
    struct Case {
        std::u16string held, written;
    } cases[] = {{u"^m", u" "}, {u"", u""}, {u"A^mB", u"AB"}, {u"A\tB", u"AB"}, {u"x\\ny", u"xy"}, {u"\t", u" "},
                 {u"壁 1", u"壁 1"}};
    for (bool unicode : {false, true}) {
        for (const Case& c : cases) {
            TJwwData doc, back;
            HeaderFixture::SizeTables(doc);
            doc.FileOutOpt = unicode ? kOptUnicode : 0;
            doc.EntLay[17].aStrLayName = c.held;
            doc.EntLgrp[15].aStrGLayName = c.held;
            RoundTrip(doc, 700, back);
            EXPECT_EQ(back.EntLay[17].aStrLayName, c.written);
            EXPECT_EQ(back.EntLgrp[15].aStrGLayName, c.written);
            EXPECT_EQ(back.MojiEncode, unicode);
        }
    }
}

TEST(HeaderWrite, ExtendedColourNamesAndPrinterColours) {
    TJwwData doc, back;
    HeaderFixture::SizeTables(doc);
    doc.EntColS[5].astrUDColorName = u"";
    doc.EntColS[6].astrUDColorName = u" \u3000 ";
    doc.EntColS[7].astrUDColorName = u"^m";
    doc.EntColS[8].astrUDColorName = u"Red^m";
    for (int i : {16, 17, 256}) doc.EntColS[i] = {0x112233, 3, u"c", 0x445566, 4, 0.5};
    RoundTrip(doc, 700, back);
    EXPECT_EQ(back.EntColS[0].astrUDColorName, u"Color_0");
    EXPECT_EQ(back.EntColS[5].astrUDColorName, u"Color_5");
    EXPECT_EQ(back.EntColS[6].astrUDColorName, u"Color_6");
    EXPECT_EQ(back.EntColS[7].astrUDColorName, u"Color_7");
    EXPECT_EQ(back.EntColS[8].astrUDColorName, u"Red");
    EXPECT_EQ(back.EntColS[256].astrUDColorName, u"c");
    EXPECT_EQ(back.EntColS[16].aPrtPenColor, 0x445566);  // up to 16 its own printer colour
    EXPECT_EQ(back.EntColS[17].aPrtPenColor, 0x112233);  // from 17 its screen colour
    EXPECT_EQ(back.EntColS[256].aPrtPenColor, 0x112233);
    EXPECT_EQ(back.EntColS[17].anPrtPenWidth, 4);
    EXPECT_EQ(doc.EntColS[17].aPrtPenColor, 0x445566);
}

TEST(HeaderWrite, ExtendedLineTypes) {
    TJwwData doc, back;
    HeaderFixture::SizeTables(doc);
    auto set = [&](int i, int32_t ltype, int32_t segments, std::u16string name) {
        TEntJwwLineTypeExNo& lt = doc.EntLtpS[i];
        lt = {ltype, 5, 6, 7, std::move(name), segments, {}};
        for (int k = 0; k < 10; ++k) lt.aadUDLTypePitch[k] = k + 0.5;
    };
    set(20, 0x1234, 3, u"Mine");  // user type with a bad segment count: fixed pattern
    set(10, 0x1234, 3, u"Mine");  // built-in range: kept as held
    set(17, 0, 8, u"");           // valid user type: zero pattern bits written as -1, name generated
    set(32, 0x55, 2, u"Dash");
    RoundTrip(doc, 700, back);

    const TEntJwwLineTypeExNo& fixed = back.EntLtpS[20];
    EXPECT_EQ(fixed.alLType, static_cast<int32_t>(0xC3C3C3C3u));
    EXPECT_EQ(fixed.anTokushuSenUintDot, 8);
    EXPECT_EQ(fixed.anTokushuSenPich, 1);
    EXPECT_EQ(fixed.anPrtTokushuSenPich, 8);
    EXPECT_EQ(fixed.astrUDLTypeName, u"LType_20");
    EXPECT_EQ(fixed.anUDLTypeSegment, 2);
    const double fixedPitches[10] = {1.0, 1.0};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(fixed.aadUDLTypePitch[k], fixedPitches[k]) << k;

    for (int i : {10, 17, 32}) {
        SCOPED_TRACE(i);
        const TEntJwwLineTypeExNo& held = doc.EntLtpS[i];
        const TEntJwwLineTypeExNo& lt = back.EntLtpS[i];
        EXPECT_EQ(lt.alLType, held.alLType == 0 ? -1 : held.alLType);
        EXPECT_EQ(lt.anTokushuSenUintDot, 5);
        EXPECT_EQ(lt.anUDLTypeSegment, held.anUDLTypeSegment);
        EXPECT_EQ(lt.astrUDLTypeName, held.astrUDLTypeName.empty() ? u"LType_17" : held.astrUDLTypeName);
        EXPECT_EQ(lt.aadUDLTypePitch[9], 9.5);
    }
    EXPECT_EQ(doc.EntLtpS[20].alLType, 0x1234);
}

// ---- Damaged input ------------------------------------------------------------------------

// A header cut anywhere before its last field fails cleanly; cut inside the
// last field it still loads (the format only checks that some byte came).
TEST(HeaderDamaged, TruncatedAtEveryRowAndInsideRows) {
    for (auto [ver, unicode] : {std::pair{700, false}, std::pair{700, true}, std::pair{230, false}}) {
        HeaderFixture fx(ver, unicode);
        const size_t last = fx.offsetOf.at("Enthd.adMojiKijunZureY2");
        std::vector<size_t> cuts;
        for (size_t i = 0; i + 1 < fx.rowStarts.size(); ++i) {
            size_t start = fx.rowStarts[i], next = fx.rowStarts[i + 1];
            cuts.insert(cuts.end(), {start, start + 1, (start + next) / 2, next - 1});
        }
        for (size_t cut : cuts) {
            Bytes part(fx.bytes.begin(), fx.bytes.begin() + std::min(cut, fx.bytes.size()));
            TJwwData doc;
            bool ok = false;
            EXPECT_NO_THROW(ok = Read(doc, part));
            EXPECT_EQ(ok, cut > last) << "version " << ver << " cut at " << cut;
            if (!ok && cut >= 12) {
                EXPECT_EQ(doc.LastFailure().message, kFileIoError);
            }
            EXPECT_EQ(doc.EntColS.size(), 257u);
        }
    }
}

TEST(HeaderDamaged, LastFieldCutShortKeepsItsDeliveredBytes) {
    HeaderFixture fx(700);
    const double want = 1234.5;
    fx.Patch("Enthd.adMojiKijunZureY2", want);
    Bytes part(fx.bytes.begin(), fx.bytes.end() - 7);  // one byte of the last field is there
    TJwwData doc;
    ASSERT_TRUE(Read(doc, part));
    double expect = 0;
    std::memcpy(&expect, &want, 1);
    EXPECT_EQ(doc.Enthd.adMojiKijunZureY2, expect);
}

// Random bytes behind a valid signature and version, and runs of 0xFF that
// announce the longest strings, must neither crash nor throw.
TEST(HeaderDamaged, GarbageNeverEscapes) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = {'J', 'w', 'w', 'D', 'a', 't', 'a', '.', 0xBC, 0x02, 0x00, 0x00};
        size_t n = rng() % (round < 200 ? 4000 : 40000);
        uint8_t fill = static_cast<uint8_t>(rng());
        for (size_t i = 0; i < n; ++i) bytes.push_back(round % 3 == 0 ? fill : static_cast<uint8_t>(rng()));
        TJwwData doc;
        EXPECT_NO_THROW(Read(doc, bytes));
    }
    Bytes hostile = {'J', 'w', 'w', 'D', 'a', 't', 'a', '.', 0xBC, 0x02, 0x00, 0x00};
    hostile.insert(hostile.end(), 5000, 0xFF);
    TJwwData doc;
    uint64_t end = 0;
    EXPECT_FALSE(Read(doc, hostile, &end));
    EXPECT_EQ(end, hostile.size());
}

// ---- Real drawings ------------------------------------------------------------------------

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Where the rows whose written form may differ from a drawing's own bytes lie.
struct CorpusLayout {
    size_t memoEnd;       // nZumen
    size_t sxfNameStart;  // the first extended colour name
};

// Offsets from the format's fixed positions: the names start 2532 bytes after
// the memo; from the end of the 272 names to the first extended colour name
// the fixed rows of a version 420 or later take 1140 + 257 * 8 bytes.
CorpusLayout Locate(const Bytes& file) {
    TJwwData scratch;
    ByteReader r(file);
    r.skip(12);
    scratch.ReadArchiveString(r);
    CorpusLayout at{static_cast<size_t>(r.position()), 0};
    r.skip(2532);
    for (int i = 0; i < kLayerCount + kLayerGroupCount; ++i) scratch.ReadArchiveString(r);
    at.sxfNameStart = static_cast<size_t>(r.position()) + 1140 + 257 * 8;
    return at;
}

// Every drawing's header loads and ends where the entity section starts.
// Written again for the drawing's own version, the bytes equal the drawing's
// except where the writer puts fixed content: the two reserved blocks (which
// the CAD program fills with data of its own) and, in the extended colour and
// line-type names and patterns, the names generated for blank ones and the
// patterns of unset line types. The text settings at the end are exact again.
TEST(HeaderCorpus, RewritingReproducesTheDrawingsHeaderBytes) {
    const std::filesystem::path dir = MORVANE_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".jww") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        Bytes file = ReadFile(entry.path());
        TJwwData doc;
        uint64_t end = 0;
        ASSERT_TRUE(Read(doc, file, &end));
        EXPECT_TRUE(doc.Enthd.jwVer == 600 || doc.Enthd.jwVer == 700);
        // The header ends where the entity section starts: an object count,
        // then the first object's new-class tag with the file's version.
        ByteReader entities(std::span<const uint8_t>(file).subspan(end));
        ASSERT_GT(TJwwData::ReadObjectCount(entities), 0u);
        EXPECT_EQ(entities.u16(), 0xFFFF);
        EXPECT_EQ(entities.u16(), doc.Enthd.jwVer);

        doc.FileOutOpt = doc.MojiEncode ? kOptUnicode : 0;
        const Bytes out = Write(doc, doc.Enthd.jwVer);
        Bytes expected(file.begin(), file.begin() + end);
        const CorpusLayout at = Locate(expected);
        std::fill_n(expected.begin() + at.memoEnd + 2376, 56, 0x20);
        std::fill_n(expected.begin() + at.memoEnd + 2452, 4, 0x00);
        ASSERT_GE(out.size(), at.sxfNameStart);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + at.sxfNameStart, out.begin()));
        const size_t textSettings = 10 * 28 + 100;  // text types to the last field
        EXPECT_TRUE(std::equal(expected.end() - textSettings, expected.end(), out.end() - textSettings));

        // In the rows between, every value the writer does not normalise comes back.
        TJwwData back;
        ASSERT_TRUE(Read(back, out));
        for (int i = 0; i < kColorExCount; ++i) {
            const TEntJwwColorExNo &held = doc.EntColS[i], &got = back.EntColS[i];
            if (!RemoveBlanks(held.astrUDColorName).empty()) {
                EXPECT_EQ(got.astrUDColorName, held.astrUDColorName);
            }
            EXPECT_EQ(got.aPrtPenColor, i <= 16 ? held.aPrtPenColor : held.aPenColor);
            EXPECT_EQ(got.anPrtPenWidth, held.anPrtPenWidth);
            EXPECT_EQ(got.adPrtTenHankei, held.adPrtTenHankei);
        }
        for (int i = 0; i < kLineTypeExCount; ++i) {
            const TEntJwwLineTypeExNo &held = doc.EntLtpS[i], &got = back.EntLtpS[i];
            if (i >= 17 && got.alLType == static_cast<int32_t>(0xC3C3C3C3u)) continue;  // fixed pattern
            if (!RemoveBlanks(held.astrUDLTypeName).empty()) {
                EXPECT_EQ(got.astrUDLTypeName, held.astrUDLTypeName);
            }
            EXPECT_EQ(got.anUDLTypeSegment, held.anUDLTypeSegment);
            EXPECT_TRUE(std::equal(std::begin(got.aadUDLTypePitch), std::end(got.aadUDLTypePitch),
                                   std::begin(held.aadUDLTypePitch)));
        }
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
