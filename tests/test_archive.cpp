// The archive forms: strings, object counts, class tags and the attribute.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "doc/JwwUnit.h"
#include "tests/TempFolder.h"

using namespace morvane;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes WriteString(std::u16string_view text, bool unicode) {
    TJwwData doc;
    doc.FileOutOpt = unicode ? kOptUnicode : 0;
    ByteWriter w;
    doc.WriteArchiveString(w, text);
    return w.bytes();
}

// ---- Strings ---------------------------------------------------------------------------

struct StringCase {
    std::u16string text;
    bool unicode;
    Bytes prefix;  // the bytes before the text
    size_t size;   // all bytes written
};

class ArchiveString : public ::testing::TestWithParam<StringCase> {};

TEST_P(ArchiveString, WritesPrefixAndReadsBack) {
    const StringCase& c = GetParam();
    Bytes out = WriteString(c.text, c.unicode);
    ASSERT_EQ(out.size(), c.size);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.prefix.size()), c.prefix);

    TJwwData doc;
    ByteReader r(out);
    EXPECT_EQ(doc.ReadArchiveString(r), c.text);
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(doc.MojiEncode, c.unicode);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ArchiveString,
    ::testing::Values(StringCase{u"", false, {0x00}, 1}, StringCase{u"", true, {0xFF, 0xFE, 0xFF, 0x00}, 4},
                      StringCase{u"AB", false, {0x02, 0x41, 0x42}, 3},
                      StringCase{u"AB", true, {0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42, 0x00}, 8},
                      StringCase{u"図面", false, {0x04, 0x90, 0x7D, 0x96, 0xCA}, 5},
                      StringCase{std::u16string(254, u'a'), false, {0xFE}, 255},
                      StringCase{std::u16string(255, u'a'), false, {0xFF, 0xFF, 0x00}, 258},
                      StringCase{std::u16string(300, u'a'), false, {0xFF, 0x2C, 0x01}, 303},
                      StringCase{std::u16string(127, u'あ'), false, {0xFE}, 255},  // 254 bytes
                      StringCase{std::u16string(254, u'あ'), true, {0xFF, 0xFE, 0xFF, 0xFE}, 4 + 508},
                      StringCase{std::u16string(255, u'あ'), true, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}, 6 + 510},
                      StringCase{std::u16string(65533, u'a'), false, {0xFF, 0xFD, 0xFF}, 3 + 65533},
                      StringCase{std::u16string(65535, u'a'), false, {0xFF, 0xFF, 0xFF}, 3 + 65535},
                      StringCase{std::u16string(65535, u'a'), true, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, 6 + 131070}));

TEST(ArchiveString, ReadingEndsAtNulAndKeepsControlsUnlessCleaned) {
    const Bytes bytes = {0x03, 0x41, 0x00, 0x42,                                  // A NUL B
                         0xFF, 0xFE, 0xFF, 0x03, 0x41, 0x00, 0x00, 0x00, 0x42, 0x00,  // A U+0000 B
                         0x04, 0x41, 0x0D, 0x0A, 0x42,                            // A CR LF B
                         0x04, 0x41, 0x0D, 0x0A, 0x42};
    TJwwData doc;
    ByteReader r(bytes);
    EXPECT_EQ(doc.ReadArchiveString(r), u"A");
    EXPECT_EQ(doc.ReadArchiveString(r), u"A");
    EXPECT_EQ(doc.ReadArchiveString(r), u"A\r\nB");
    EXPECT_EQ(doc.ReadCleanString(r), u"AB");
    EXPECT_TRUE(r.atEnd());
}

TEST(ArchiveString, OnlyAUnicodeStringSetsMojiEncode) {
    const Bytes bytes = {0x01, 0x41, 0xFF, 0x03, 0x00, 0x41, 0x42, 0x43,  // 3-byte Shift_JIS long form
                         0xFF, 0xFE, 0xFF, 0x01, 0x42, 0x00};
    TJwwData doc;
    ByteReader r(bytes);
    EXPECT_EQ(doc.ReadArchiveString(r), u"A");
    EXPECT_EQ(doc.ReadArchiveString(r), u"ABC");
    EXPECT_FALSE(doc.MojiEncode);
    EXPECT_EQ(doc.ReadArchiveString(r), u"B");
    EXPECT_TRUE(doc.MojiEncode);
}

// A string cut off by the end of the file reads what is there; the bytes not
// delivered count as zeros. Hostile lengths at the end must not fail.
TEST(ArchiveString, ShortReadsGiveWhatIsThere) {
    struct Case {
        Bytes bytes;
        std::u16string text;
    } cases[] = {
        {{0x05, 0x41, 0x42}, u"AB"},
        {{0xFF, 0xFF, 0xFF, 0x41}, u"A"},              // 65535 bytes announced
        {{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x00, 0x42}, u"AB"},  // half a unit: high byte 0
        {{0xFF, 0xFE, 0xFF}, u""},
        {{0xFF, 0xFE}, u""},                           // the WORD reads as 0x00FE: 254 bytes, none there
        {{0xFF}, u""},
        {{}, u""},
    };
    for (const Case& c : cases) {
        TJwwData doc;
        ByteReader r(c.bytes);
        EXPECT_EQ(doc.ReadArchiveString(r), c.text);
        EXPECT_TRUE(r.atEnd());
    }
}

// A file of strings of every length up to a few hundred characters, in both
// forms, read back from the file: strings within the read buffer are decoded
// where they lie, the one across its end is read the long way.
TEST(ArchiveString, StringsReadFromAFileAcrossItsBuffers) {
    for (bool unicode : {false, true}) {
        std::vector<std::u16string> texts;
        Bytes all;
        for (size_t i = 0; all.size() < (3u << 19); ++i) {
            std::u16string t;
            for (size_t k = 0; k < i % 600; ++k) t += (i + k) % 3 ? char16_t(u'a' + (i + k) % 26) : u'図';
            texts.push_back(t);
            all = Concat(std::move(all), WriteString(t, unicode));
        }
        TempFolder tmp;
        auto r = ByteReader::OpenFile(tmp.Write("strings.bin", std::string(all.begin(), all.end())).string());
        ASSERT_TRUE(r);
        TJwwData doc;
        for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(doc.ReadArchiveString(*r), texts[i]) << i;
        EXPECT_TRUE(r->atEnd());
    }
}

// Texts the length forms cannot carry are cut at a character boundary to the
// longest length the form can carry: never 65534 bytes in the Shift_JIS form
// (FF FE FF is the UTF-16 marker), at most 65535 bytes or code units.
TEST(ArchiveString, OverLongTextsAreCutToWhatReadsBack) {
    const std::u16string a(1, u'a'), kana(1, u'あ');  // あ is two bytes in Shift_JIS
    auto repeat = [](const std::u16string& s, size_t n) {
        std::u16string out;
        for (size_t i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::u16string pair = u"\U0001F600";
    struct Case {
        const char* name;
        std::u16string text;
        bool unicode;
        size_t keptUnits;
    } cases[] = {
        {"65534 single bytes", repeat(a, 65534), false, 65533},
        {"70000 single bytes", repeat(a, 70000), false, 65535},
        {"65534 bytes of double-byte characters", repeat(kana, 32767), false, 32766},
        {"65535 bytes ending in a double-byte character", a + repeat(kana, 32767), false, 32768},
        {"80000 bytes of double-byte characters", repeat(kana, 40000), false, 32766},
        {"65536 bytes, one single then double-byte", a + repeat(kana, 32767) + a, false, 32768},
        {"70000 code units", repeat(a, 70000), true, 65535},
        {"surrogate pair across the limit", repeat(a, 65534) + pair + a, true, 65534},
        {"surrogate pair inside the limit", repeat(a, 65533) + pair + a, true, 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out = WriteString(c.text, c.unicode);
        TJwwData doc;
        ByteReader r(out);
        std::u16string back = doc.ReadArchiveString(r);
        EXPECT_TRUE(r.atEnd());
        EXPECT_EQ(doc.MojiEncode, c.unicode);
        EXPECT_EQ(back.size(), c.keptUnits);
        EXPECT_EQ(back, c.text.substr(0, c.keptUnits));
    }
}

TEST(ArchiveString, ShiftJisLengthCountsUpToNul) {
    EXPECT_EQ(WriteString(std::u16string(u"AB\0C", 4), false), (Bytes{0x02, 0x41, 0x42}));
}

// ---- Object counts and class tags -------------------------------------------------

TEST(ArchiveCount, WritesAndReadsBothForms) {
    struct Case {
        uint32_t count;
        Bytes bytes;
    } cases[] = {
        {5, {0x05, 0x00}},
        {65534, {0xFE, 0xFF}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        ByteWriter w;
        TJwwData::WriteObjectCount(w, c.count);
        EXPECT_EQ(w.bytes(), c.bytes) << c.count;
        ByteReader r(c.bytes);
        EXPECT_EQ(TJwwData::ReadObjectCount(r), c.count);
        EXPECT_TRUE(r.atEnd());
    }
}

TEST(ArchiveCount, MissingCountRaisesFileIoErrorWithItsOffset) {
    // Nothing left, or a single byte left, after two bytes of other data.
    for (const Bytes& bytes : {Bytes{0x07, 0x00}, Bytes{0x07, 0x00, 0x01}}) {
        ByteReader r(bytes);
        r.skip(2);
        try {
            TJwwData::ReadObjectCount(r);
            ADD_FAILURE() << "no error for " << bytes.size() << " bytes";
        } catch (const JwwIoError& e) {
            EXPECT_STREQ(e.what(), kFileIoError);
            EXPECT_EQ(e.offset, 2u);
        }
    }
    // A long count whose DWORD is cut short is read as far as it goes.
    const Bytes cut = {0xFF, 0xFF, 0x05};
    ByteReader r(cut);
    EXPECT_EQ(TJwwData::ReadObjectCount(r), 5u);
}

TEST(ArchiveClassTag, ReferencesAndNewClass) {
    struct Case {
        int64_t index;
        Bytes bytes;
    } cases[] = {
        {1, {0x01, 0x80}},
        {0x7FFE, {0xFE, 0xFF}},
        {0x7FFF, {0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80}},
        {0x12345, {0xFF, 0x7F, 0x45, 0x23, 0x01, 0x80}},
    };
    for (const Case& c : cases) {
        ByteWriter w;
        TJwwData::WriteClassRef(w, c.index);
        EXPECT_EQ(w.bytes(), c.bytes) << c.index;
    }

    ByteWriter w;
    TJwwData::WriteNewClass(w, 700, kKindLine);
    TJwwData::WriteNewClass(w, 0x10000 + 351, kKindBlockDef);  // the schema keeps the low 16 bits
    EXPECT_EQ(w.bytes(), Concat(Bytes{0xFF, 0xFF, 0xBC, 0x02, 0x08, 0x00, 'C', 'D', 'a', 't', 'a', 'S', 'e', 'n'},
                                Bytes{0xFF, 0xFF, 0x5F, 0x01, 0x09, 0x00, 'C', 'D', 'a', 't', 'a', 'L', 'i', 's', 't'}));
}

// ---- Attribute -------------------------------------------------------------------------

TEST(ArchiveAttr, ReadsBothFormsAndShortReadsLeaveZeros) {
    const Bytes full = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    TJwwData doc;
    doc.Enthd.jwVer = 351;
    ByteReader r15(full);
    TEntJwwAttr a = doc.ReadAttr(r15);
    EXPECT_EQ(r15.position(), 15u);
    EXPECT_EQ(+a.lGroup, 0x04030201u);
    EXPECT_EQ(+a.nPenStyle, 0x05);
    EXPECT_EQ(+a.nPenColor, 0x0706);
    EXPECT_EQ(+a.nPenWidth, 0x0908);
    EXPECT_EQ(+a.nLayer, 0x0B0A);
    EXPECT_EQ(+a.nGLayer, 0x0D0C);
    EXPECT_EQ(+a.sFlg, 0x0F0E);

    doc.Enthd.jwVer = 350;
    ByteReader r13(full);
    a = doc.ReadAttr(r13);
    EXPECT_EQ(r13.position(), 13u);
    EXPECT_EQ(+a.nPenColor, 0x0706);
    EXPECT_EQ(+a.nPenWidth, 0);
    EXPECT_EQ(+a.nLayer, 0x0908);
    EXPECT_EQ(+a.nGLayer, 0x0B0A);
    EXPECT_EQ(+a.sFlg, 0x0D0C);

    ByteReader shortRead(std::span<const uint8_t>(full.data(), 6));
    doc.Enthd.jwVer = 700;
    a = doc.ReadAttr(shortRead);
    EXPECT_EQ(+a.nPenStyle, 0x05);
    EXPECT_EQ(+a.nPenColor, 0x0006);
    EXPECT_EQ(+a.nPenWidth | a.nLayer | a.nGLayer | a.sFlg, 0);
}

struct AttrCase {
    const char* name;
    int32_t ver;
    int kind;
    uint8_t style;
    uint16_t color, width, layer, glayer;
    uint8_t wantStyle;
    uint16_t wantColor, wantWidth, wantLayer, wantGLayer;
};

class ArchiveWriteAttr : public ::testing::TestWithParam<AttrCase> {};

TEST_P(ArchiveWriteAttr, ConvertsValidatesAndClamps) {
    const AttrCase& c = GetParam();
    TEntJwwAttr a;
    a.lGroup = 0xA1B2C3D4;
    a.nPenStyle = c.style;
    a.nPenColor = c.color;
    a.nPenWidth = c.width;
    a.nLayer = c.layer;
    a.nGLayer = c.glayer;
    a.sFlg = 0x5A5A;
    const TEntJwwAttr before = a;
    ByteWriter w;
    TJwwData::WriteAttr(w, c.ver, a, c.kind);
    EXPECT_EQ(std::memcmp(&a, &before, sizeof a), 0);  // the document's attribute is not touched

    TJwwData doc;
    doc.Enthd.jwVer = c.ver;
    ASSERT_EQ(w.bytes().size(), c.ver >= 351 ? 15u : 13u);
    ByteReader r(w.bytes());
    TEntJwwAttr out = doc.ReadAttr(r);
    EXPECT_EQ(+out.lGroup, 0xA1B2C3D4u);
    EXPECT_EQ(+out.nPenStyle, c.wantStyle);
    EXPECT_EQ(+out.nPenColor, c.wantColor);
    EXPECT_EQ(+out.nPenWidth, c.wantWidth);
    EXPECT_EQ(+out.nLayer, c.wantLayer);
    EXPECT_EQ(+out.nGLayer, c.wantGLayer);
    EXPECT_EQ(+out.sFlg, 0x5A5A);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArchiveWriteAttr,
    ::testing::Values(
        //        name                                 ver  kind style col  wid  lay gl   style col  wid  lay gl
        AttrCase{"sxf line kept for 700", 700, 1, 33, 105, 12, 3, 4, 33, 105, 12, 3, 4},
        AttrCase{"sxf line converted for 300", 300, 1, 33, 105, 12, 3, 4, 3, 4, 0, 3, 4},
        AttrCase{"sxf arc converted for 419", 419, 2, 44, 116, 0, 0, 0, 17, 2, 0, 0, 0},
        AttrCase{"sxf style 46..62 becomes 1", 400, 1, 62, 117, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"sxf colour 356 becomes 1", 400, 6, 1, 356, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"420 keeps sxf numbers", 420, 1, 45, 356, 0, 0, 0, 45, 356, 0, 0, 0},
        AttrCase{"point style not converted", 300, 3, 33, 105, 0, 0, 0, 1, 4, 0, 0, 0},
        AttrCase{"block colour not converted", 300, 7, 33, 105, 0, 0, 0, 33, 105, 0, 0, 0},
        AttrCase{"arc style 10 invalid", 700, 2, 10, 1, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"line style 20 invalid", 700, 1, 20, 1, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"line style 63 invalid", 700, 1, 63, 1, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"point keeps 100", 700, 3, 100, 1, 0, 0, 0, 100, 1, 0, 0, 0},
        AttrCase{"point style 2 invalid", 700, 3, 2, 1, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"text style 10 invalid, colour 0 invalid", 700, 4, 10, 0, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"dimension keeps any style", 700, 5, 77, 9, 0, 0, 0, 77, 9, 0, 0, 0},
        AttrCase{"dimension colour 10 invalid", 700, 5, 1, 10, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"solid keeps colour 10", 700, 6, 1, 10, 0, 0, 0, 1, 10, 0, 0, 0},
        AttrCase{"solid colour 100 invalid", 700, 6, 1, 100, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"solid colour 357 invalid", 700, 6, 1, 357, 0, 0, 0, 1, 1, 0, 0, 0},
        AttrCase{"block insert and definition unchecked", 700, 8, 200, 999, 0, 0, 0, 200, 999, 0, 0, 0},
        AttrCase{"layer, group and width clamps", 700, 1, 1, 1, 30001, 16, 65535, 1, 1, 0, 0, 0},
        AttrCase{"limits kept", 700, 1, 1, 1, 30000, 15, 15, 1, 1, 30000, 15, 15},
        AttrCase{"350 drops the width", 350, 1, 1, 1, 500, 2, 3, 1, 1, 0, 2, 3},
        AttrCase{"351 keeps the width", 351, 1, 1, 1, 500, 2, 3, 1, 1, 500, 2, 3}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

}  // namespace
