// Shift_JIS (code page 932) conversion as Windows does it.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "support/Func_2.h"

using namespace morvane;

namespace {

std::u16string Decode(std::initializer_list<uint8_t> bytes) {
    ByteBuffer b(bytes);
    return AnsiBytesToStr(b);
}

struct CodeCase {
    uint16_t code;  // one byte when below 0x100
    char16_t ch;
};

ByteBuffer BytesOf(uint16_t code) {
    if (code < 0x100) return {static_cast<uint8_t>(code)};
    return {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
}

}  // namespace

TEST(Sjis, TablesComeFromACompleteConverter) { EXPECT_TRUE(AnsiConversionComplete()); }

// Codes whose mapping differs between Shift_JIS variants, and the single bytes
// that only Windows maps.
TEST(Sjis, DecodesAsCodePage932) {
    const CodeCase cases[] = {
        {0x5C, u'\\'},       {0x7E, u'~'},        {0x80, u'\u0080'},   {0xA0, u'\uF8F0'},
        {0xA1, u'\uFF61'},   {0xDF, u'\uFF9F'},   {0xFD, u'\uF8F1'},   {0xFF, u'\uF8F3'},
        {0x815F, u'\uFF3C'}, {0x8160, u'\uFF5E'}, {0x8161, u'\u2225'}, {0x817C, u'\uFF0D'},
        {0x8191, u'\uFFE0'}, {0x8192, u'\uFFE1'}, {0x81CA, u'\uFFE2'}, {0x8754, u'\u2160'},
        {0x8790, u'\u2252'}, {0xED40, u'\u7E8A'}, {0xFA5C, u'\u7E8A'}, {0xEEF9, u'\uFFE2'},
        {0xFA40, u'\u2170'}, {0x889F, u'\u4E9C'}, {0xFC4B, u'\u9ED1'}, {0xF040, u'\uE000'},
        {0xF9FC, u'\uE757'}, {0x82A0, u'\u3042'},
    };
    for (const CodeCase& c : cases) {
        EXPECT_EQ(AnsiBytesToStr(BytesOf(c.code)), std::u16string(1, c.ch)) << std::hex << c.code;
    }
}

// Where a character has several codes, the one Windows writes.
TEST(Sjis, EncodesDuplicatesAsWindows) {
    const CodeCase cases[] = {
        {0x5C, u'\\'},       {0x7E, u'~'},        {0x80, u'\u0080'},   {0xA0, u'\uF8F0'},
        {0xFE, u'\uF8F2'},   {0xB1, u'\uFF71'},   {0x8160, u'\uFF5E'}, {0x815F, u'\uFF3C'},
        {0xFA5C, u'\u7E8A'}, {0x81E0, u'\u2252'}, {0x81DF, u'\u2261'}, {0x8754, u'\u2160'},
        {0xFA40, u'\u2170'}, {0x81CA, u'\uFFE2'}, {0x81E6, u'\u2235'}, {0x878A, u'\u3231'},
        {0x8782, u'\u2116'}, {0x8784, u'\u2121'}, {0xFA55, u'\uFFE4'}, {0xFA56, u'\uFF07'}, {0xF040, u'\uE000'},
        {0x8145, u'\u30FB'},
        // look-alikes without a code of their own
        {0x8160, u'\u301C'}, {0x815C, u'\u2014'}, {0x8161, u'\u2016'}, {0x817C, u'\u2212'}, {0x5C, u'\u00A5'},
        {0x7E, u'\u203E'},   {0x8191, u'\u00A2'}, {0x81CA, u'\u00AC'},
    };
    for (const CodeCase& c : cases) {
        EXPECT_EQ(StrToAnsiBytes(std::u16string(1, c.ch)), BytesOf(c.code)) << std::hex << int(c.ch);
    }
}

// Every code that decodes to a character encodes back to a code of the same
// character, never into 0xED/0xEE, and to itself unless it is a known
// duplicate (NEC row 13 or IBM extension with a preferred code elsewhere).
TEST(Sjis, EveryCodeRoundTripsToItsPreferredCode) {
    int mapped = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            ByteBuffer code{static_cast<uint8_t>(lead), static_cast<uint8_t>(trail)};
            std::u16string s = AnsiBytesToStr(code);
            ASSERT_EQ(s.size(), 1u);
            if (s[0] == u'\u30FB' && !(lead == 0x81 && trail == 0x45)) continue;  // unmapped
            ++mapped;
            ByteBuffer back = StrToAnsiBytes(s);
            EXPECT_EQ(AnsiBytesToStr(back), s) << std::hex << lead << trail;
            ASSERT_FALSE(back.empty());
            EXPECT_NE(back[0], 0xED);
            EXPECT_NE(back[0], 0xEE);
            if (lead == 0x87) {
                EXPECT_LT(back[0], 0x88);  // row 13 before the IBM extensions
            }
            bool duplicateArea = lead == 0x87 || lead == 0xED || lead == 0xEE || lead >= 0xFA;
            if (!duplicateArea) {
                EXPECT_EQ(back, code) << std::hex << lead << trail;
            }
        }
    }
    EXPECT_EQ(mapped, 7724 + 1880);  // the pairs of code page 932 and the user-defined area
}

TEST(Sjis, BrokenSequencesDecodeToTheDefaultCharacter) {
    struct Case {
        std::initializer_list<uint8_t> bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {{0x41, 0x00, 0x42}, u"A"},                  // stops at the first zero byte
        {{0x82, 0xA0, 0x00, 0x82, 0xA2}, u"\u3042"},
        {{}, u""},
        {{0x41, 0x82}, u"A\u30FB"},                  // lead byte at the end
        {{0x41, 0x82, 0x00, 0x41}, u"A\u30FB"},      // lead byte before the terminator
        {{0x85, 0x40, 0x41}, u"\u30FBA"},            // unassigned pair
        {{0x81, 0x20, 0x41}, u"\u30FBA"},            // a lead byte takes any trail byte
        {{0x81, 0x7F}, u"\u30FB"},
        {{0xA4, 0x82, 0xA0, 0x7E}, u"\uFF64\u3042~"},
        // The single bytes at both ends of the lead-byte ranges take no trail byte.
        {{0x80, 0xA0, 0xDF, 0xFD, 0xFF, 0x41}, u"\u0080\uF8F0\uFF9F\uF8F1\uF8F3A"},
        // Long ASCII runs are taken eight bytes at a time: a zero or a high
        // byte anywhere in such a block ends the run there.
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 0x00, 'k'}, u"abcdefghij"},
        {{'a', 'b', 'c', 0x00, 'e', 'f', 'g', 'h', 'i', 'j'}, u"abc"},
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x82, 0xA0, 'x'}, u"abcdefgh\u3042x"},
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 0xB1, 'h', 'i', 'j'}, u"abcdefg\uFF71hij"},
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0x82}, u"abcdefghi\u30FB"},
        {{0x82, 0xA0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0x00, 0x41}, u"\u3042abcdefghi"},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(c.bytes), c.expected);
}

// Mixed texts decode as their characters decoded one at a time: the runs of
// ASCII taken eight bytes at a time, the switches between one- and two-byte
// characters, zero bytes and lead bytes cut off anywhere in a text.
TEST(Sjis, MixedTextsDecodeCharacterByCharacter) {
    std::mt19937 rng(932);
    const uint8_t leads[] = {0x81, 0x82, 0x83, 0x88, 0x9F, 0xE0, 0xED, 0xFA, 0xFC};
    const uint8_t singles[] = {0x80, 0xA0, 0xA1, 0xDF, 0xFD, 0xFF};
    for (int round = 0; round < 3000; ++round) {
        ByteBuffer text;
        const int parts = static_cast<int>(rng() % 24);
        for (int p = 0; p < parts; ++p) {
            switch (rng() % 8) {
                case 0:
                case 1:
                case 2: {  // a run of ASCII
                    const int len = static_cast<int>(rng() % 12) + 1;
                    for (int j = 0; j < len; ++j) text.push_back(static_cast<uint8_t>(0x20 + rng() % 0x5F));
                    break;
                }
                case 3:
                case 4:
                case 5:  // a lead byte and any trail byte but zero
                    text.push_back(leads[rng() % std::size(leads)]);
                    text.push_back(static_cast<uint8_t>(1 + rng() % 255));
                    break;
                case 6:
                    text.push_back(singles[rng() % std::size(singles)]);
                    break;
                default:  // rarely, a zero byte or a lone lead byte
                    text.push_back(rng() % 4 == 0 ? uint8_t{0} : leads[rng() % std::size(leads)]);
                    break;
            }
        }
        std::u16string expected;
        for (size_t i = 0; i < text.size();) {
            const uint8_t b = text[i];
            if (b == 0) break;
            const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
            if (!lead) {
                expected += AnsiBytesToStr(&text[i], 1);
                ++i;
            } else if (i + 1 < text.size() && text[i + 1] != 0) {
                expected += AnsiBytesToStr(&text[i], 2);
                i += 2;
            } else {
                expected += u'\u30FB';
                break;
            }
        }
        ASSERT_EQ(AnsiBytesToStr(text), expected) << "round " << round;
    }
}

TEST(Sjis, UnmappableCharactersEncodeAsQuestionMark) {
    // U+00E9, U+20AC euro, U+00A0, a lone surrogate, a pair (two units).
    EXPECT_EQ(StrToAnsiBytes(u"\u00E9\u20AC\u00A0"), (ByteBuffer{'?', '?', '?'}));
    EXPECT_EQ(StrToAnsiBytes(u"a\xD800" u"b"), (ByteBuffer{'a', '?', 'b'}));
    EXPECT_EQ(StrToAnsiBytes(u"\U0001F600"), (ByteBuffer{'?', '?'}));
    EXPECT_EQ(AnsiByteLength(u"\U0001F600\u00E9"), 3);
}

TEST(Sjis, LengthAndAppend) {
    EXPECT_EQ(AnsiByteLength(u""), 0);
    EXPECT_EQ(AnsiByteLength(u"A\u3042\uFF71"), 4);
    EXPECT_EQ(AnsiByteLength(std::u16string(u"ab\0cd", 5)), 2);  // counts up to U+0000
    EXPECT_EQ(StrToAnsiBytes(std::u16string(u"a\0b", 3)), (ByteBuffer{'a', 0, 'b'}));

    ByteBuffer out{1, 2};
    AppendAnsiBytes(u"\u56F3\u9762A", out);  // 図面A
    EXPECT_EQ(out, (ByteBuffer{1, 2, 0x90, 0x7D, 0x96, 0xCA, 'A'}));
    EXPECT_EQ(AnsiBytesToStr(out.data() + 2, out.size() - 2), u"\u56F3\u9762A");
}

// The tables are built on first use; several threads may get there at once.
TEST(Sjis, ConcurrentFirstUse) {
    const std::u16string text = u"\u5E73\u9762\u56F3 \uFF71 ~\\ \u2160\u2170";
    const ByteBuffer expected{0x95, 0xBD, 0x96, 0xCA, 0x90, 0x7D, ' ', 0xB1, ' ',
                              '~',  '\\', ' ',  0x87, 0x54, 0xFA, 0x40};
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            bool good = true;
            for (int i = 0; i < 200; ++i) {
                good = good && StrToAnsiBytes(text) == expected && AnsiBytesToStr(expected) == text;
            }
            ok[t] = good;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}
