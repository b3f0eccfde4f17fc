// The entity section: bodies of every kind and version, class tags, the
// output rules for texts and dimensions, and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "support/Func_2.h"
#include "tests/EntityFixture.h"

using namespace morvane;
using namespace morvane::fixture;

namespace {

std::vector<uint8_t> Refs(int n, uint8_t low = 0x05) {  // references to an index no class holds
    std::vector<uint8_t> b;
    for (int i = 0; i < n; ++i) b.insert(b.end(), {low, 0x80});
    return b;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

template <class T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

void ExpectOrder(const TJwwData& doc, std::vector<std::pair<int, int>> order) {
    ASSERT_EQ(doc.EntNo.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(doc.EntNo[i].EntType, order[i].first) << "entry " << i;
        EXPECT_EQ(doc.EntNo[i].EntNo, order[i].second) << "entry " << i;
    }
}

// A document at version 700 holding one text and one dimension with these.
void PutText(TJwwData& doc, const TEntJwwMoji& m) {
    doc.DataInit();
    doc.Enthd.jwVer = 700;
    doc.EntMoji = {m};
    doc.EntMojiN = 1;
    TEntJwwSunpo s = Sunpo(1);
    s.Moji = m;
    doc.EntSunpo = {s};
    doc.EntSunpoN = 1;
    doc.EntNo = {{kKindMoji, 0}, {kKindSunpo, 0}};
    doc.Enthd.n1 = 2;
}

// ---- Layouts of every kind ---------------------------------------------------------

// Ten objects of every kind, then one reached definition with two nested
// objects, in the layout of `ver`. Every value survives a load and a save in
// the same version, so the saved sections equal these bytes.
std::vector<uint8_t> EveryKind(int32_t ver) {
    Section s(ver);
    s.Count(10)
        .Add(Line(1, 2, 3, 4, Attr(2, 3, ver >= kVerAttrWidth ? 25 : 0, 4, 5, 6, 7)))
        .Add(Enko(5, 6, 7))
        .Add(Ten(1, 1))
        .Add(Ten(2, 2, Attr(100)))
        .Add(Moji(u"hello", u"font"))
        .Add(Sunpo(ver >= kVerSxf ? 1 : 0))
        .Add(Solid(1))
        .Add(Solid(10, 0x123456))
        .Add(Block(0, 10, 20, 2, 3, 0.5))
        .Add(Line(5, 6, 7, 8));
    s.Count(1).Def(0, 2, u"blk", Attr(1, 2, 0, 3, 4, 5, 6), 11, 1).Add(Line(0, 0, 1, 1)).Add(Ten(3, 3));
    return s.bytes;
}

class EveryKindRoundTrip : public ::testing::TestWithParam<int32_t> {};

TEST_P(EveryKindRoundTrip, LoadsEveryFieldAndSavesTheSameBytes) {
    const int32_t ver = GetParam();
    const std::vector<uint8_t> bytes = EveryKind(ver);
    TJwwData doc;
    LoadSections(doc, ver, bytes);

    EXPECT_EQ(doc.Enthd.n1, 10);
    ExpectOrder(doc, {{1, 0}, {2, 0}, {3, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {6, 1}, {7, 0}, {1, 1}});
    EXPECT_EQ(doc.EntLine.size(), 2u);
    EXPECT_EQ(doc.EntSolid.size(), 2u);
    EXPECT_EQ(doc.EntBlock.size(), 1u);

    // The attribute's fields land in place in both forms; nPenWidth is 0 before 351.
    const TEntJwwAttr a = doc.EntLine[0].att;
    EXPECT_EQ(+a.lGroup, 6u);
    EXPECT_EQ(+a.nPenStyle, 2);
    EXPECT_EQ(+a.nPenColor, 3);
    EXPECT_EQ(+a.nPenWidth, ver >= kVerAttrWidth ? 25 : 0);
    EXPECT_EQ(+a.nLayer, 4);
    EXPECT_EQ(+a.nGLayer, 5);
    EXPECT_EQ(+a.sFlg, 7);
    EXPECT_TRUE(SameBytes(doc.EntLine[1], Line(5, 6, 7, 8)));
    EXPECT_TRUE(SameBytes(doc.EntEnko[0], Enko(5, 6, 7)));
    EXPECT_TRUE(SameBytes(doc.EntTen[1], Ten(2, 2, Attr(100))));
    EXPECT_EQ(+doc.EntTen[0].dBairitsu, 1.0);
    EXPECT_EQ(+doc.EntSolid[0].Color, 0u);
    EXPECT_EQ(+doc.EntSolid[1].Color, 0x123456u);
    EXPECT_TRUE(SameBytes(doc.EntBlock[0], Block(0, 10, 20, 2, 3, 0.5)));
    EXPECT_EQ(doc.EntMoji[0].str, u"hello");
    EXPECT_EQ(doc.EntMoji[0].strFontName, u"font");
    EXPECT_EQ(+doc.EntMoji[0].degKakudo, 45.0);
    EXPECT_EQ(doc.EntSunpo[0].Moji.str, u"100");
    EXPECT_EQ(+doc.EntSunpo[0].bSxfMode, ver >= kVerSxf ? 1 : 0);
    if (ver >= kVerSxf) {
        EXPECT_TRUE(SameBytes(doc.EntSunpo[0].Te2, Ten(100, 0, Attr(100))));
    }

    ASSERT_EQ(doc.EntBlockDefN, 1);
    const TEntJwwBlockDef& d = doc.EntBlockDef[0];
    EXPECT_EQ(+d.att.nPenColor, 2);
    EXPECT_EQ(+d.att.sFlg, 6);
    EXPECT_EQ(+d.dtime, 11u);
    EXPECT_EQ(+d.bRefferd, 1u);
    EXPECT_EQ(d.strName, u"blk");
    EXPECT_EQ(d.mLineN, 1);
    EXPECT_EQ(+d.mTen[0].dBairitsu, 0.0);  // nested points default to scale 0

    EXPECT_EQ(SaveSections(doc, ver), bytes);
}

INSTANTIATE_TEST_SUITE_P(Versions, EveryKindRoundTrip, ::testing::Values(300, 350, 351, 400, 420, 700));

TEST(EntitySection, ClassTagsNumberClassesAndObjectsInOneSeries) {
    // Text, line, text: "CDataMoji" takes index 1 (the text 2), "CDataSen"
    // index 3 (the line 4), and the second text refers to class 1.
    const TEntJwwMoji t1 = Moji(u"a"), t2 = Moji(u"b");
    const TEntJwwLine l = Line(0, 0, 1, 1);
    Section s(700);
    s.Count(3)
        .Raw({0xFF, 0xFF, 0xBC, 0x02, 0x09, 0x00})
        .Ascii("CDataMoji")
        .MojiBody(t1)
        .Raw({0xFF, 0xFF, 0xBC, 0x02, 0x08, 0x00})
        .Ascii("CDataSen")
        .LineBody(l)
        .Raw({0x01, 0x80})
        .MojiBody(t2);

    TJwwData doc;
    doc.Enthd.jwVer = 700;
    ByteReader r(s.bytes);
    JwwClassMap map;
    doc.ReadEntitySection(r, map);
    ExpectOrder(doc, {{4, 0}, {1, 0}, {4, 1}});
    EXPECT_EQ(map.classIndex[kKindMoji], 1);
    EXPECT_EQ(map.classIndex[kKindLine], 3);
    EXPECT_EQ(map.index, 6);

    ByteWriter w;
    JwwClassMap out;
    doc.WriteEntitySection(w, 700, out);
    EXPECT_EQ(w.bytes(), s.bytes);
    EXPECT_EQ(out.index, 6);
}

TEST(EntitySection, LongClassReferencesAndReferencesToNoClass) {
    // A reference to an index that no class holds is skipped without counting
    // an object; a long reference with its top bit set names class 1.
    const TEntJwwLine l1 = Line(1, 1, 2, 2), l2 = Line(3, 3, 4, 4);
    Section s(700);
    s.Count(2).Raw({0x05, 0x80}).Add(l1).Raw({0xFF, 0x7F, 0x09, 0x00, 0x00, 0x80});
    s.Raw({0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}).LineBody(l2);
    TJwwData doc;
    doc.Enthd.jwVer = 700;
    ByteReader r(s.bytes);
    JwwClassMap map;
    doc.ReadEntitySection(r, map);
    EXPECT_EQ(doc.EntLineN, 2);
    EXPECT_TRUE(SameBytes(doc.EntLine[1], l2));
    ExpectOrder(doc, {{1, 0}, {1, 1}});
    EXPECT_EQ(map.index, 4);
    EXPECT_TRUE(r.atEnd());
}

TEST(EntitySection, OptionalPointAndSolidFields) {
    // Points take 35 bytes, 55 with pen style 100; solids 79, 83 with colour 10.
    struct Case {
        const char* name;
        int kind;
        TEntJwwTen ten;
        TEntJwwSolid solid;
        size_t body;
    } cases[] = {
        {"point", kKindTen, Ten(1, 2), {}, 35},
        {"point with code", kKindTen, Ten(1, 2, Attr(100)), {}, 55},
        {"solid", kKindSolid, {}, Solid(1, 0x55), 79},
        {"solid with its own colour", kKindSolid, {}, Solid(10, 0x55), 83},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Section s(700);
        s.Count(1);
        if (c.kind == kKindTen)
            s.Add(c.ten);
        else
            s.Add(c.solid);
        s.Count(0);  // the definition count right behind: read only if the body was sized right
        TJwwData doc;
        LoadSections(doc, 700, s.bytes);
        EXPECT_EQ(doc.EntBlockDefN, 0);
        const size_t tag = 6 + std::strlen(kClassNames[c.kind]);
        EXPECT_EQ(SaveSections(doc, 700).size(), 2 + tag + c.body + 2);
        if (c.kind == kKindSolid) {
            EXPECT_EQ(+doc.EntSolid[0].Color, c.solid.att.nPenColor == 10 ? 0x55u : 0u);
        }
    }
}

TEST(EntitySection, PointScaleDefaultsDependOnWhereThePointStands) {
    Section s(700);
    s.Count(2).Add(Ten(1, 2)).Add(Sunpo(1));
    s.Count(1).Def(0, 1).Add(Ten(3, 4));
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);
    EXPECT_EQ(+doc.EntTen[0].dBairitsu, 1.0);
    EXPECT_EQ(+doc.EntTen[0].nCode, 0u);
    EXPECT_EQ(+doc.EntSunpo[0].Te1.dBairitsu, 0.0);
    EXPECT_EQ(+doc.EntBlockDef[0].mTen[0].dBairitsu, 0.0);
}

// ---- Dimensions across the SXF threshold ----------------------------------------

TEST(EntitySection, OldDimensionsGainEmptySxfPartsSavedAs700) {
    const TEntJwwAttr a = Attr(2, 3, 0, 4, 5, 6, 7);
    const TEntJwwSunpo dim = Sunpo(0, a);
    Section old(300);
    old.Count(2).Add(Line(1, 2, 3, 4, a)).Add(dim);
    TJwwData doc;
    LoadSections(doc, 300, old.bytes, false);

    const TEntJwwSunpo& s = doc.EntSunpo[0];
    EXPECT_EQ(+s.bSxfMode, 0);
    EXPECT_TRUE(SameBytes(s.att, a));
    EXPECT_TRUE(SameBytes(s.Sen, dim.Sen));
    EXPECT_EQ(s.Moji.str, u"100");
    for (const TEntJwwLine* l : {&s.Ho1, &s.Ho2}) EXPECT_TRUE(SameBytes(*l, Line(0, 0, 0, 0, a)));
    TEntJwwAttr pointAttr = a;
    pointAttr.nPenStyle = 0;
    for (const TEntJwwTen* p : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) EXPECT_TRUE(SameBytes(*p, Ten(0, 0, pointAttr)));

    // Saved as 700: bSxfMode 0 and the six parts, the points with pen style 1
    // and no optional fields.
    TEntJwwSunpo expected = dim;
    expected.bSxfMode = 0;
    expected.Ho1 = expected.Ho2 = Line(0, 0, 0, 0, a);
    pointAttr.nPenStyle = 1;
    expected.Te1 = expected.Te2 = expected.Kt1 = expected.Kt2 = Ten(0, 0, pointAttr);
    Section now(700);
    now.Count(2).Add(Line(1, 2, 3, 4, a)).Add(expected);
    EXPECT_EQ(SaveSections(doc, 700, false), now.bytes);
}

TEST(EntitySection, SxfDimensionSavedBelow420GoesOutAsSevenObjects) {
    for (uint16_t sxf : {0, 1}) {
        SCOPED_TRACE(sxf);
        const TEntJwwLine line = Line(9, 9, 8, 8);
        const TEntJwwSunpo dim = Sunpo(sxf);
        Section src(700);
        src.Count(2).Add(line).Add(dim);
        TJwwData doc;
        LoadSections(doc, 700, src.bytes, false);

        Section expected(400);
        if (sxf == 0) {
            expected.Count(2).Add(line).Add(dim);
        } else {
            // Two lines and four points behind the dimension; the last two
            // points are written as temporary points.
            TEntJwwTen kt1 = dim.Kt1, kt2 = dim.Kt2;
            kt1.bKariten = kt2.bKariten = 1;
            expected.Count(8).Add(line).Add(dim).Add(dim.Ho1).Add(dim.Ho2);
            expected.Add(dim.Te1).Add(dim.Te2).Add(kt1).Add(kt2);
        }
        EXPECT_EQ(SaveSections(doc, 400, false), expected.bytes);
    }
}

// ---- Texts ----------------------------------------------------------------------------

TEST(EntitySection, NonFiniteTextSizesAreRepairedOnLoad) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    TEntJwwMoji m = Moji(u"x");
    m.dSizeX = nan;
    m.dSizeY = -inf;
    m.dKankaku = inf;
    m.start_x = nan;  // coordinates are kept as read
    TEntJwwSunpo dim = Sunpo(1);
    dim.Moji = m;
    Section s(700);
    s.Count(2).Add(m).Add(dim);
    TJwwData doc;
    LoadSections(doc, 700, s.bytes, false);
    for (const TEntJwwMojiFixed* t : {static_cast<const TEntJwwMojiFixed*>(&doc.EntMoji[0]),
                                      static_cast<const TEntJwwMojiFixed*>(&doc.EntSunpo[0].Moji)}) {
        EXPECT_EQ(+t->dSizeX, 3.0);
        EXPECT_EQ(+t->dSizeY, 3.0);
        EXPECT_EQ(+t->dKankaku, 0.0);
        EXPECT_TRUE(std::isnan(t->start_x));
    }
}

TEST(EntitySection, TextSizesAreWrittenAsMagnitudesWithinBounds) {
    const struct {
        double in, out;
    } cases[] = {{2.5, 2.5}, {-5, 5}, {0, 1e-10}, {-1e-20, 1e-10}, {1e20, 1e10}, {-1e300, 1e10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        TEntJwwMoji m = Moji(u"x");
        m.dSizeX = c.in;
        m.dSizeY = c.in;
        TJwwData doc;
        PutText(doc, m);
        TJwwData back;
        LoadSections(back, 700, SaveSections(doc, 700, false), false);
        EXPECT_EQ(+back.EntMoji[0].dSizeX, c.out);
        EXPECT_EQ(+back.EntMoji[0].dSizeY, c.out);
        EXPECT_EQ(+back.EntSunpo[0].Moji.dSizeY, c.out);
        EXPECT_EQ(+back.EntMoji[0].dKankaku, 0.5);  // spacing is not clamped
    }
}

TEST(EntitySection, TextOutputRules) {
    // Every string is cleaned; the text of a text entity then takes bits 8
    // and 1. Dimension texts and font names only ever come out cleaned.
    const struct {
        const char* name;
        std::u16string text;
        int opt;
        std::u16string cleaned;
        std::u16string moji;
    } cases[] = {
        {"empty", u"", kOptImageDropTemp | kOptImageFileNameOnly | kOptTextSubstitution, u"", u""},
        {"control characters only", u"\x01\x1f", 0, u" ", u" "},
        {"caret m, backslash n, controls", u"a^mb\\nc\td", 0, u"abcd", u"abcd"},
        {"temp folder prefix", u"^@BM%temp%pic.jpg,1,2", kOptImageDropTemp, u"^@BM%temp%pic.jpg,1,2",
         u"^@BMpic.jpg,1,2"},
        {"temp folder prefix, bit off", u"^@BM%temp%pic.jpg,1,2", kOptImageFileNameOnly | kOptTextSubstitution,
         u"^@BM%temp%pic.jpg,1,2", u"^@BM%temp%pic.jpg,1,2"},
        {"path to file name", u"^@BMC:\\jw\\img\\pic.jpg,10,20", kOptImageFileNameOnly,
         u"^@BMC:\\jw\\img\\pic.jpg,10,20", u"^@BMpic.jpg,10,20"},
        {"no comma", u"^@BMC:\\jw\\pic.jpg", kOptImageFileNameOnly, u"^@BMC:\\jw\\pic.jpg", u"^@BMC:\\jw\\pic.jpg"},
        {"both bits", u"^@BM%temp%sub\\pic.jpg,1", kOptImageDropTemp | kOptImageFileNameOnly,
         u"^@BM%temp%sub\\pic.jpg,1", u"^@BMpic.jpg,1"},
        {"substitution off", u"%%a", kOptTextSubstitution, u"%%a", u"%%a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TJwwData doc;
        PutText(doc, Moji(c.text, c.text));
        doc.FileOutOpt = c.opt;
        TJwwData back;
        LoadSections(back, 700, SaveSections(doc, 700, false), false);
        EXPECT_EQ(back.EntMoji[0].str, c.moji);
        EXPECT_EQ(back.EntMoji[0].strFontName, c.cleaned);
        EXPECT_EQ(back.EntSunpo[0].Moji.str, c.cleaned);
        EXPECT_EQ(back.EntSunpo[0].Moji.strFontName, c.cleaned);
    }
}

// ---- Failures and damaged input ---------------------------------------------------

TEST(EntitySection, BodyCutOffAtTheEnd) {
    // A body that delivers nothing drops its entity; a short one keeps the
    // zero fill. Both still count as objects read and take a map index.
    const TEntJwwLine l = Line(1, 2, 3, 4, Attr(2, 3, 4, 5, 6, 7, 8));
    Section dropped(700);
    dropped.Count(3).Add(l).Add(l).Tag(kKindTen);
    Section shortBody(700);
    shortBody.Count(2).Add(l).Tag(kKindLine).LineBody(l);
    shortBody.bytes.erase(shortBody.bytes.end() - 27, shortBody.bytes.end());  // 20 of the 47 bytes remain

    TJwwData doc;
    doc.Enthd.jwVer = 700;
    {
        ByteReader r(dropped.bytes);
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        EXPECT_EQ(doc.EntLineN, 2);
        EXPECT_EQ(doc.EntTenN, 0);
        EXPECT_TRUE(doc.EntTen.empty());
        ExpectOrder(doc, {{1, 0}, {1, 1}, {0, 0}});
        EXPECT_EQ(map.index, 6);
    }
    {
        doc.DataInit();
        doc.Enthd.jwVer = 700;
        ByteReader r(shortBody.bytes);
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        ASSERT_EQ(doc.EntLineN, 2);
        const TEntJwwLine& cut = doc.EntLine[1];
        EXPECT_TRUE(SameBytes(cut.att, l.att));
        EXPECT_EQ(+cut.start_y, 0.0);
        EXPECT_EQ(+cut.end_y, 0.0);
        ExpectOrder(doc, {{1, 0}, {1, 1}});
    }
}

TEST(EntitySection, DamagedSectionsFailWithTheirOffset) {
    const std::vector<uint8_t> line = Section(700).Add(Line(0, 0, 1, 1)).bytes;
    const std::vector<uint8_t> zeros(47, 0);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint64_t offset;
    } cases[] = {
        {"count 65535 in a tiny section", Cat({{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, line}), 0},
        {"count 0xFFFFFFFF", Cat({{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, line}), 0},
        // Two objects would fit: the second could be cut short after its tag.
        {"count larger than the section", Cat({{0x03, 0x00}, line}), 0},
        {"second object missing", Cat({{0x02, 0x00}, line}), 63},
        {"tags past the end", Cat({{0x01, 0x00}, Refs(19)}), 40},
        {"half a tag", Cat({{0x01, 0x00}, Refs(18), {0x05}}), 38},
        {"long reference cut short", Cat({{0x01, 0x00}, Refs(17), {0xFF, 0x7F, 0x01, 0x00}}), 38},
        {"name length past the end", Cat({{0x01, 0x00}, Refs(16), {0xFF, 0xFF, 0xBC, 0x02, 0x08}}), 38},
        {"name past the end", Cat({{0x01, 0x00}, Refs(14), {0xFF, 0xFF, 0xBC, 0x02, 0x08, 0x00}, Bytes("CData")}),
         30},
        {"class name of 2048 bytes",
         Cat({{0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x02, 0x00, 0x08}, std::vector<uint8_t>(2048, 'C')}), 2},
        {"unknown class name", Cat({{0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x02, 0x08, 0x00}, Bytes("CDataFoo"), zeros}), 2},
        {"lower-case class name", Cat({{0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x02, 0x08, 0x00}, Bytes("cdatasen"), zeros}),
         2},
        {"CDataList in the entity section",
         Cat({{0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x02, 0x09, 0x00}, Bytes("CDataList"), zeros}), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TJwwData doc;
        doc.Enthd.jwVer = 700;
        ByteReader r(c.bytes);
        JwwClassMap map;
        try {
            doc.ReadEntitySection(r, map);
            ADD_FAILURE() << "loaded";
        } catch (const JwwIoError& e) {
            EXPECT_STREQ(e.what(), kFileIoError);
            EXPECT_EQ(e.offset, c.offset) << e.detail;
        }
        if (c.offset == 0) {
            EXPECT_EQ(doc.EntNo.capacity(), 0u);  // nothing sized from the count
        }
    }
}

// ---- Order list and arrays ------------------------------------------------------

TEST(EntitySection, WriterWalksOnlyValidEntriesOfTheOrderList) {
    TJwwData doc;
    doc.Enthd.jwVer = 700;
    doc.EntLine = {Line(1, 1, 2, 2)};
    doc.EntLineN = 1;
    // Empty, out of range, unknown kind, negative index, the line, and one
    // entry beyond n1.
    doc.EntNo = {{0, 0}, {1, 3}, {8, 0}, {1, -1}, {1, 0}, {1, 0}};
    doc.Enthd.n1 = 5;
    Section expected(700);
    expected.Count(1).Add(Line(1, 1, 2, 2));
    EXPECT_EQ(SaveSections(doc, 700, false), expected.bytes);

    doc.EntNo.clear();
    doc.Enthd.n1 = 0;
    EXPECT_EQ(SaveSections(doc, 700, false), (std::vector<uint8_t>{0, 0}));
}

TEST(EntitySection, ArraysGrowPastAChunkAndEndAtTheirCounts) {
    Section s(700);
    s.Count(1001);
    for (int i = 0; i < 1001; ++i) s.Add(Line(i, 0, i, 1));
    s.Count(1).Def(0, 501);
    for (int i = 0; i < 501; ++i) s.Add(Moji(u"t" + std::u16string(1, u'0' + i % 10)));
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);
    ASSERT_EQ(doc.EntLine.size(), 1001u);
    EXPECT_EQ(+doc.EntLine[1000].start_x, 1000.0);
    EXPECT_EQ(doc.EntNo[1000].EntNo, 1000);
    const TEntJwwBlockDef& d = doc.EntBlockDef[0];
    ASSERT_EQ(d.mMoji.size(), 501u);
    EXPECT_EQ(d.mMoji[500].str, u"t0");
    EXPECT_EQ(d.mNo[500].EntNo, 500);
}

// Large arrays get their room from their kind's share of the list so far. Here
// that guess is wrong twice over: texts fill the first tenth of the list (the
// text array is sized for ten times as many), lines the rest (that array
// starts from a share far too small and grows again). Nothing may be lost or
// reordered, and the text array ends no larger than its count.
TEST(EntitySection, ArraysSizedFromAShareThatChangesAlongTheList) {
    constexpr int kTexts = 30000, kLines = 270000;
    Section s(700);
    s.Count(kTexts + kLines + 1);
    for (int i = 0; i < kTexts; ++i) s.Add(Moji(u"t" + IntToDecStr(i)));
    for (int i = 0; i < kLines; ++i) s.Add(Line(i, 0, i, 1));
    s.Add(Moji(u"last"));
    s.Count(0);
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);
    ASSERT_EQ(doc.EntMojiN, kTexts + 1);
    ASSERT_EQ(doc.EntLineN, kLines);
    EXPECT_EQ(doc.EntMoji.capacity(), doc.EntMoji.size());
    for (int i : {0, 16383, 16384, kTexts - 1}) EXPECT_EQ(doc.EntMoji[i].str, u"t" + IntToDecStr(i));
    EXPECT_EQ(doc.EntMoji[kTexts].str, u"last");
    for (int i : {0, 1, 9999, 123456, kLines - 1}) EXPECT_EQ(+doc.EntLine[i].start_x, double(i));
    ASSERT_EQ(doc.Enthd.n1, kTexts + kLines + 1);
    EXPECT_EQ(doc.EntNo[kTexts].EntType, kKindLine);
    EXPECT_EQ(doc.EntNo[kTexts + kLines].EntType, kKindMoji);
    EXPECT_EQ(doc.EntNo[kTexts + kLines].EntNo, kTexts);
}

// ---- Real drawings -----------------------------------------------------------------

TEST(EntitySection, RealDrawingsKeepTheirSectionsByteForByte) {
    // Saved in their own version the two sections come back unchanged; via
    // version 700 and back as well.
    const std::filesystem::path dir = MORVANE_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".jww") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
        TJwwData doc;
        ByteReader r(file);
        ASSERT_TRUE(doc.ReadHeader(r));
        const uint64_t start = r.position();
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        doc.ReadBlockDefSection(r, map);
        doc.MakeBlockTree();
        // Version 700 ends with the bound-image count, 4 bytes for no image.
        EXPECT_EQ(r.remaining(), doc.Enthd.jwVer >= kVerImages ? 4u : 0u);
        const std::vector<uint8_t> sections(file.begin() + start, file.begin() + r.position());
        const int32_t ver = doc.Enthd.jwVer;
        doc.FileOutOpt = doc.MojiEncode ? kOptUnicode : 0;
        EXPECT_EQ(SaveSections(doc, ver), sections);

        TJwwData converted;
        LoadSections(converted, 700, SaveSections(doc, 700));
        converted.FileOutOpt = doc.FileOutOpt;
        converted.Enthd.jwVer = ver;
        EXPECT_EQ(SaveSections(converted, ver), sections);
    }
}

}  // namespace
