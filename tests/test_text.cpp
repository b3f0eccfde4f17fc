// Strings, character filters, numbers, Booleans, UTF-16/UTF-8 and text substitution.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <thread>

#include "support/Func_2.h"

using namespace morvane;

TEST(CaseMapping, CoversScriptsWithCaseAndKeepsLength) {
    struct Case {
        std::u16string lower, upper;
    };
    const Case cases[] = {
        {u"", u""},
        {u"abc xyz 09_@[`{", u"ABC XYZ 09_@[`{"},
        {u"\u00E0\u00E9\u00FE\u00F7", u"\u00C0\u00C9\u00DE\u00F7"},  // Latin-1; the division sign stays
        {u"\u03B1\u03C9", u"\u0391\u03A9"},                          // Greek
        {u"\u0430\u044F\u0451", u"\u0410\u042F\u0401"},              // Cyrillic
        {u"\uFF41\uFF5A", u"\uFF21\uFF3A"},                          // full-width Latin stays full-width
        {u"\u3042\u4E9C\uFF71\uFF11", u"\u3042\u4E9C\uFF71\uFF11"},  // no case
        {u"\u0101\u0103", u"\u0100\u0102"},                          // Latin Extended-A pairs
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpperCaseStr(c.lower), c.upper);
        EXPECT_EQ(LowerCaseStr(c.upper), c.lower);
    }
    // Characters whose full mapping is longer stay as they are; so do surrogates.
    EXPECT_EQ(UpperCaseStr(u"\u00DF"), u"\u00DF");
    EXPECT_EQ(UpperCaseStr(u"\U00010428"), u"\U00010428");
    EXPECT_EQ(UpperCaseStr(u"\u00FF"), u"\u0178");
}

TEST(Substrings, IndexFromMid) {
    EXPECT_EQ(StrIndexOf(u"", u"abc"), -1);
    EXPECT_EQ(StrIndexOf(u"a", u""), -1);
    EXPECT_EQ(StrIndexOf(u"\r\n", u"ab\r\ncd\r\n"), 2);
    EXPECT_EQ(StrIndexOf(u"B", u"abc"), -1);
    EXPECT_EQ(StrFrom(u"abc", 5), u"");
    EXPECT_EQ(StrFrom(u"abc", 3), u"");
    EXPECT_EQ(StrFrom(u"abc", -2), u"abc");
    EXPECT_EQ(StrFrom(u"abc", 1), u"bc");
    struct Case {
        int index, count;
        std::u16string expected;
    };
    const Case mid[] = {{-1, 2, u"ab"}, {1, 1, u"b"}, {1, 99, u"bc"}, {3, 1, u""}, {9, 1, u""}, {0, -1, u""}, {0, 0, u""}};
    for (const Case& c : mid) EXPECT_EQ(StrMid(u"abc", c.index, c.count), c.expected) << c.index << "," << c.count;
}

TEST(Filters, ControlCharsAndBlanks) {
    EXPECT_EQ(RemoveControlChars(u"a\tb\r\n\x1F\x7F c"), u"ab\x7F c");
    EXPECT_EQ(RemoveBlanks(u" \u3000 "), u"");
    EXPECT_EQ(RemoveBlanks(u"\t a\u3000b \u00A0"), u"ab\u00A0");
}

TEST(Filters, CleanStoredText) {
    struct Case {
        std::u16string in, expected;
    };
    const Case cases[] = {
        {u"", u""},
        {u"^m", u" "},
        {u"\t", u" "},
        {u"A^mB", u"AB"},
        {u"x\\ny", u"xy"},
        {u"a\r\nb", u"ab"},
        {u"^^mm", u"^m"},     // one pass: the pair in the middle goes, the rest stays
        {u"a^", u"a^"},       // a lone caret or backslash at the end stays
        {u"a\\", u"a\\"},
        {u"^M\\N", u"^M\\N"}, // capital letters are no marks
        {u"\u56F3 1", u"\u56F3 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CleanStoredText(c.in), c.expected);
        EXPECT_EQ(IsStoredClean(c.in), c.expected == c.in) << StrToUtf8(c.in);
    }
}

TEST(Filters, HalfWidthAndCutByWidth) {
    EXPECT_TRUE(IsHalfWidthChar(u' '));
    EXPECT_TRUE(IsHalfWidthChar(u'~'));
    EXPECT_TRUE(IsHalfWidthChar(u'\uFF61'));
    EXPECT_TRUE(IsHalfWidthChar(u'\uFF9F'));
    for (char16_t c : {u'\x1F', u'\x7F', u'\u00A0', u'\uFF60', u'\uFFA0', u'\xD800', u'\xDC00', u'\u3042'})
        EXPECT_FALSE(IsHalfWidthChar(c)) << int(c);

    struct Case {
        std::u16string s;
        int start, width;
        std::u16string part;
        int next;
    };
    const Case cases[] = {
        {u"\uFF71\uFF72\uFF73\uFF74\uFF75", 0, 4, u"\uFF71\uFF72\uFF73\uFF74", 4},
        {u"\u3042\u3044\u3046", 0, 5, u"\u3042\u3044", 2},
        {u"a\u3042", 0, 2, u"a", 1},
        {u"\u3042a", 0, 1, u"", 0},      // stops at the first that does not fit
        {u"", 3, 10, u"", 3},
        {u"abc", 3, 10, u"", 3},
        {u"abcdef", 2, 3, u"cde", 5},
        {u"ab", 0, 10, u"ab", 2},
        {u"\U0001F600x", 0, 2, u"\xD83D", 1},  // a surrogate pair can be cut
    };
    for (const Case& c : cases) {
        CutResult r = CutByWidth(c.s, c.start, c.width);
        EXPECT_EQ(r.part, c.part);
        EXPECT_EQ(r.next, c.next);
    }
}

TEST(Numbers, StrToIntOrZero) {
    struct Case {
        std::u16string s;
        int32_t expected;
    };
    const Case cases[] = {
        {u"12", 12},           {u" 12", 12},         {u"   -3", -3},        {u"12 ", 0},
        {u"\t12", 0},          {u"+7", 7},           {u"$1F", 31},          {u"x1f", 31},
        {u"X1F", 31},          {u"0x10", 16},        {u"0X10", 16},         {u"-$10", -16},
        {u"$FFFFFFFF", -1},    {u"$80000000", INT32_MIN}, {u"-$80000000", INT32_MIN},
        {u"$000000001", 1},    {u"$100000000", 0},   {u"012", 12},          {u"2147483647", INT32_MAX},
        {u"2147483648", 0},    {u"-2147483648", INT32_MIN}, {u"-2147483649", 0},
        {u"99999999999999999999", 0}, {u"1.5", 0},   {u"-", 0},             {u"+", 0},
        {u"", 0},              {u"   ", 0},          {u"$", 0},             {u"0x", 0},
        {u"$G", 0},            {u"1a", 0},           {u"--1", 0},           {u"- 1", 0},
        {u"\uFF11", 0},        {u"0", 0},            {u"-0", 0},            {u"00x1", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(StrToIntOrZero(c.s), c.expected) << StrToUtf8(c.s);
}

TEST(Numbers, StrToFloatOrZero) {
    struct Case {
        std::u16string s;
        double expected;
    };
    const Case cases[] = {
        {u"1.5", 1.5},     {u" -2", -2},      {u"1,5", 0},       {u"1e3", 1000},   {u"1E-2", 0.01},
        {u"1e+2", 100},    {u"1e", 0},        {u"1e+", 0},       {u".", 0},        {u"-.5", -0.5},
        {u"5.", 5},        {u".25e1", 2.5},   {u"0.25 ", 0},     {u"", 0},         {u"-", 0},
        {u"+", 0},         {u"  ", 0},        {u"1.2.3", 0},     {u"0x10", 0},     {u"1 000", 0},
        {u"inf", 0},       {u"nan", 0},       {u"1e999", 0},     {u"1e-999", 0},   {u"+3.25", 3.25},
        {u"0.1", 0.1},     {u"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const Case& c : cases) EXPECT_EQ(StrToFloatOrZero(c.s), c.expected) << StrToUtf8(c.s);
}

TEST(Numbers, DecimalFormAndFiniteness) {
    EXPECT_EQ(IntToDecStr(0), u"0");
    EXPECT_EQ(IntToDecStr(-45), u"-45");
    EXPECT_EQ(IntToDecStr(INT32_MIN), u"-2147483648");
    EXPECT_EQ(IntToDecStr(1234567), u"1234567");
    EXPECT_TRUE(IsFiniteDouble(1e308));
    EXPECT_FALSE(IsFiniteDouble(INFINITY));
    EXPECT_FALSE(IsFiniteDouble(-INFINITY));
    EXPECT_FALSE(IsFiniteDouble(NAN));
}

TEST(Booleans, LooseTruthAndDigits) {
    const std::u16string trueForms[] = {u"T", u"t", u"Tr", u"Tru", u"TRUE", u"true", u"1", u"\uFF11",
                                        u"\u25CB", u"ON", u"On", u"on", u"\u771F", u"\u6B63"};
    const std::u16string falseForms[] = {u"", u"0", u"F", u"FALSE", u"TRUE ", u" TRUE", u"1 ",
                                         u"\uFF34\uFF32\uFF35\uFF25", u"TRUEE", u"yes", u"O", u"\u00D7"};
    for (const auto& s : trueForms) EXPECT_TRUE(StrToBoolLoose(s)) << StrToUtf8(s);
    for (const auto& s : falseForms) EXPECT_FALSE(StrToBoolLoose(s)) << StrToUtf8(s);
    EXPECT_EQ(BoolToStr01(true), u"1");
    EXPECT_EQ(BoolToStr01(false), u"0");
}

TEST(Colours, PackAndUnpack) {
    EXPECT_EQ(RgbToColor(255, 0, 0), 255);
    EXPECT_EQ(RgbToColor(0, 0, 255), 16711680);
    EXPECT_EQ(RgbToColor(1, 2, 3), 0x030201);
    EXPECT_EQ(RgbToColor(256, 0, 0), 256);  // spills into green
    EXPECT_EQ(RgbToColor(0, 0, 0x8000), INT32_MIN);
    Rgb c = ColorToRgb(16711680);
    EXPECT_EQ((std::array{c.r, c.g, c.b}), (std::array{0, 0, 255}));
    c = ColorToRgb(0x123456);
    EXPECT_EQ((std::array{c.r, c.g, c.b}), (std::array{0x56, 0x34, 0x12}));
    c = ColorToRgb(-1);  // truncating division, remainder with the dividend's sign
    EXPECT_EQ((std::array{c.r, c.g, c.b}), (std::array{-1, 0, 0}));
}

TEST(Bytes, WideFormAndFill) {
    const ByteBuffer odd{0x41, 0x00, 0x42};
    EXPECT_EQ(WideBytesToStr(odd), u"A");
    const ByteBuffer zero{0x41, 0x00, 0x00, 0x00, 0x42, 0x00};
    EXPECT_EQ(WideBytesToStr(zero), u"A");
    const ByteBuffer surrogate{0x00, 0xD8, 0x42, 0x30};
    EXPECT_EQ(WideBytesToStr(surrogate), u"\xD800\u3042");
    EXPECT_EQ(StrToWideBytes(u"A\u3042\xDC00"), (ByteBuffer{0x41, 0, 0x42, 0x30, 0x00, 0xDC}));
    EXPECT_EQ(WideBytesToStr(StrToWideBytes(u"\U0001F600")), u"\U0001F600");

    ByteBuffer b(4, 9);
    FillBytes(0x1FF, 2, b);
    EXPECT_EQ(b, (ByteBuffer{0xFF, 0xFF, 9, 9}));
    FillBytes(0, -1, b);
    FillBytes(0, 10, b);  // never beyond the buffer
    EXPECT_EQ(b, ByteBuffer(4, 0));
}

TEST(Utf8, BothWaysWithReplacement) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case valid[] = {
        {"", u""},
        {"a\xC3\xA9\xE3\x81\x82", u"a\u00E9\u3042"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Case& c : valid) {
        EXPECT_EQ(Utf8ToStr(c.utf8), c.utf16);
        EXPECT_EQ(StrToUtf8(c.utf16), c.utf8);
    }
    const Case invalid[] = {
        {"\x80", u"\uFFFD"},
        {"a\xC3", u"a\uFFFD"},                       // cut at the end
        {"\xE3\x81" "A", u"\uFFFDA"},               // one replacement for the valid prefix
        {"\xC0\xAF", u"\uFFFD\uFFFD"},              // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xFF", u"\uFFFD"},
    };
    for (const Case& c : invalid) EXPECT_EQ(Utf8ToStr(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(StrToUtf8(u"\xD800" u"a\xDC00"), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
    EXPECT_EQ(StrToUtf8(u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
}

// File names are bytes: whatever is no UTF-8 comes back byte for byte.
TEST(NativeNames, EveryByteSequenceComesBack) {
    struct Case {
        std::string native;
        std::u16string held;
    };
    const Case cases[] = {
        {"plan \xE5\xB9\xB3\xE9\x9D\xA2.jww", u"plan \u5E73\u9762.jww"},  // UTF-8 as UTF-8
        {"\x95\xBD\x96\xCA.jww", u"\xDC95\xDCBD\xDC96\xDCCA.jww"},          // Shift_JIS 平面
        {"\xE3\x81" "A", u"\xDCE3\xDC81" u"A"},                               // cut sequence: each byte
        {"\xC0\xAF\xFF\x80", u"\xDCC0\xDCAF\xDCFF\xDC80"},                   // overlong, never valid
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},                              // an encoded surrogate
        {"a\xF0\x9F\x98\x80", u"a\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NativeToStr(c.native), c.held) << c.native;
        EXPECT_EQ(StrToNative(c.held), c.native) << c.native;
        EXPECT_EQ(NativePath(c.held), c.native) << c.native;
    }
    // Lone surrogates that no name can have become U+FFFD, as in UTF-8.
    EXPECT_EQ(StrToNative(u"\xD800" u"a\xDC7F"), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
}

TEST(TextSubstitution, WholeStringKeysAfterDoublePercent) {
    ResetWriterDefaults();
    SubstitutionTable() = {{u"%%a", u"first"}, {u"%%b", u"B"}, {u"%%a", u"second"}, {u"x", u"X"}};
    std::u16string s = u"%%a";
    ApplyTextSubstitution(s);
    EXPECT_EQ(s, u"%%a");  // off
    TextSubstitutionOn() = true;
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"%%a", u"first"}, {u"%%A", u"%%A"}, {u"%%ab", u"%%ab"}, {u"x", u"x"}, {u"", u""}};
    for (const auto& [in, out] : cases) {
        s = in;
        ApplyTextSubstitution(s);
        EXPECT_EQ(s, out);
    }
    // Each thread has its own table and switch.
    std::thread([] {
        std::u16string t = u"%%a";
        ApplyTextSubstitution(t);
        EXPECT_EQ(t, u"%%a");
        EXPECT_TRUE(SubstitutionTable().empty());
    }).join();
    ResetWriterDefaults();
    EXPECT_FALSE(TextSubstitutionOn());
    EXPECT_TRUE(SubstitutionTable().empty());
    EXPECT_EQ(WriterFallbackPenColor(), 1);
    EXPECT_EQ(WriterFallbackLineType(), 1);
}
