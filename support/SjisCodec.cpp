// Shift_JIS as Windows code page 932, both ways, by lookup tables.
//
// The tables are filled once, on first use, from the platform's own converter
// (glibc's iconv "CP932"; MultiByteToWideChar on Windows), then amended where
// glibc differs from Windows:
// - Windows maps the single bytes 0x80, 0xA0 and 0xFD..0xFF to U+0080,
//   U+F8F0 and U+F8F1..U+F8F3 (and back); glibc rejects them.
// - Several characters have more than one code (NEC row 13, the IBM
//   extensions 0xFA40..0xFC4B and the NEC-selected copies of them at
//   0xED40..0xEEFC). Decoding maps every code; encoding picks the code
//   Windows picks: JIS X 0208 first, then NEC row 13, then the IBM
//   extensions, never the NEC-selected copies. The encode table is built by
//   walking the lead bytes in that order and letting the first code win.
//
// Decoding follows Windows: a lead byte takes the next byte as its trail byte
// whatever it is, and an unmapped pair or a lead byte with nothing behind it
// gives U+30FB (katakana middle dot), the default character of code page 932.
// Encoding gives '?' for a character that has no code (a few look-alikes
// aside, see kLookAlikes).
#include "support/Func_2.h"

#include <array>
#include <atomic>
#include <cstring>

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace morvane {
namespace {

constexpr char16_t kDecodeSubstitute = u'\u30FB';
constexpr uint8_t kEncodeSubstitute = '?';

// The lead bytes 0x81..0x9F and 0xE0..0xFC become one run, 0xA1..0xDC, with
// bit 5 flipped: a lead byte's row in the pair table is its place in that run,
// found without a branch or a table, and any other byte gives kLeadCount or more.
constexpr unsigned kLeadCount = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);
constexpr unsigned LeadIndex(uint8_t b) { return static_cast<uint8_t>((b ^ 0x20) - 0xA1); }
constexpr bool IsLeadByte(uint8_t b) { return LeadIndex(b) < kLeadCount; }
static_assert(LeadIndex(0x81) == 0 && LeadIndex(0x9F) == 30 && LeadIndex(0xE0) == 31 && LeadIndex(0xFC) == 59);
constexpr bool LeadBytesAreTheTwoRanges() {
    for (unsigned b = 0; b < 256; ++b)
        if (IsLeadByte(static_cast<uint8_t>(b)) != ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) return false;
    return true;
}
static_assert(LeadBytesAreTheTwoRanges());

// Lead bytes in the order in which their codes claim a character for encoding.
// 0xED and 0xEE (NEC-selected IBM extensions) are left out: every character
// there has a code in 0xFA..0xFC as well, and Windows never writes them.
constexpr uint8_t kEncodeLeadOrder[] = {
    0x81, 0x82, 0x83, 0x84, 0x85, 0x86,                          // JIS X 0208 non-kanji
    0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91,  // JIS X 0208 kanji
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B,
    0x9C, 0x9D, 0x9E, 0x9F, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5,
    0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xEF,
    0x87,                                                        // NEC row 13
    0xFA, 0xFB, 0xFC,                                            // IBM extensions
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,  // user-defined area
};

// Single bytes that Windows maps and glibc does not.
struct SingleByteExtra {
    uint8_t byte;
    char16_t ch;
};
constexpr SingleByteExtra kWindowsSingleBytes[] = {
    {0x80, u'\u0080'}, {0xA0, u'\uF8F0'}, {0xFD, u'\uF8F1'}, {0xFE, u'\uF8F2'}, {0xFF, u'\uF8F3'},
};

// Characters without a code of their own that are written with the code of
// their look-alike, as Windows' default conversion and glibc both do: the JIS
// X 0208 forms of the characters that code page 932 decodes to other Unicode
// characters (wave dash, double vertical line, minus sign, cent, pound, not
// sign, em dash), and yen sign and overline as in JIS X 0201.
struct LookAlike {
    char16_t ch;
    uint16_t code;
};
constexpr LookAlike kLookAlikes[] = {
    {u'\u00A2', 0x8191}, {u'\u00A3', 0x8192}, {u'\u00A5', 0x5C},   {u'\u00AC', 0x81CA}, {u'\u2014', 0x815C},
    {u'\u2016', 0x8161}, {u'\u203E', 0x7E},   {u'\u2212', 0x817C}, {u'\u301C', 0x8160},
};

// One character from the platform's converter, or 0 when it has none.
class SystemDecoder {
public:
#ifdef _WIN32
    bool ok() const { return true; }
    char16_t decode(const uint8_t* bytes, int n) const {
        wchar_t out[4];
        int got = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), n, out, 4);
        return got == 1 ? static_cast<char16_t>(out[0]) : 0;
    }
#else
    SystemDecoder() : cd_(iconv_open("UTF-16LE", "CP932")) {}
    ~SystemDecoder() {
        if (ok()) iconv_close(cd_);
    }
    SystemDecoder(const SystemDecoder&) = delete;
    SystemDecoder& operator=(const SystemDecoder&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    char16_t decode(const uint8_t* bytes, int n) const {
        if (!ok()) return 0;
        char in[2];
        std::memcpy(in, bytes, n);
        char out[8];
        char* ip = in;
        char* op = out;
        size_t inLeft = n, outLeft = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &ip, &inLeft, &op, &outLeft) == static_cast<size_t>(-1)) return 0;
        if (inLeft != 0 || sizeof out - outLeft != 2) return 0;
        return static_cast<char16_t>(static_cast<uint8_t>(out[0]) | static_cast<uint8_t>(out[1]) << 8);
    }

private:
    iconv_t cd_;
#endif
};

struct Cp932Tables {
    Cp932Tables();

    bool complete = false;
    std::array<char16_t, 256> single{};             // bytes that are not lead bytes
    std::array<char16_t, kLeadCount * 256> pair{};  // [LeadIndex(lead) * 256 + trail]; 0 for trail 0
    std::array<uint16_t, 65536> encode{};           // 0: no code (U+0000 is handled apart)

private:
    void fillSingleBytes(const SystemDecoder& sys);
    int fillPairs(const SystemDecoder& sys);
};

Cp932Tables::Cp932Tables() {
    SystemDecoder sys;
    fillSingleBytes(sys);  // first, so that single bytes win: 0x5C for U+005C
    int mapped = fillPairs(sys);
    for (const LookAlike& l : kLookAlikes)
        if (encode[l.ch] == 0) encode[l.ch] = l.code;
    // Code page 932 has 9230 pairs outside 0xED/0xEE (user-defined area included).
    complete = sys.ok() && mapped >= 9230;
}

void Cp932Tables::fillSingleBytes(const SystemDecoder& sys) {
    single.fill(kDecodeSubstitute);
    for (int b = 0; b < 256; ++b) {
        uint8_t byte = static_cast<uint8_t>(b);
        if (IsLeadByte(byte)) continue;
        if (b < 0x80)
            single[b] = static_cast<char16_t>(b);
        else if (b >= 0xA1 && b <= 0xDF)
            single[b] = static_cast<char16_t>(0xFF61 + (b - 0xA1));  // half-width katakana
        else if (char16_t ch = sys.decode(&byte, 1))
            single[b] = ch;
    }
    for (const SingleByteExtra& e : kWindowsSingleBytes) single[e.byte] = e.ch;
    for (int b = 1; b < 256; ++b) {
        char16_t ch = single[b];
        if (!IsLeadByte(static_cast<uint8_t>(b)) && ch != kDecodeSubstitute && encode[ch] == 0)
            encode[ch] = static_cast<uint16_t>(b);
    }
}

// Every pair decodes, unmapped ones to the substitute. Gives the number of
// mapped pairs outside 0xED/0xEE.
int Cp932Tables::fillPairs(const SystemDecoder& sys) {
    pair.fill(kDecodeSubstitute);
    int mapped = 0;
    for (uint8_t lead : kEncodeLeadOrder) {
        for (int trail = 1; trail < 256; ++trail) {
            const uint8_t bytes[2] = {lead, static_cast<uint8_t>(trail)};
            char16_t ch = sys.decode(bytes, 2);
            if (ch == 0) continue;
            ++mapped;
            pair[LeadIndex(lead) * 256 + trail] = ch;
            if (encode[ch] == 0) encode[ch] = static_cast<uint16_t>(lead << 8 | trail);
        }
    }
    for (uint8_t lead : {uint8_t{0xED}, uint8_t{0xEE}}) {  // decode only
        for (int trail = 1; trail < 256; ++trail) {
            const uint8_t bytes[2] = {lead, static_cast<uint8_t>(trail)};
            if (char16_t ch = sys.decode(bytes, 2)) pair[LeadIndex(lead) * 256 + trail] = ch;
        }
    }
    for (unsigned row = 0; row < kLeadCount; ++row) pair[row * 256] = 0;  // a zero trail byte ends the text
    return mapped;
}

const Cp932Tables& Tables() {
    static const Cp932Tables tables;  // built once; C++ makes the first use thread-safe
    return tables;
}

// Decodes up to n bytes into o, which has room for n code units, and stops
// at the first NUL (a trail byte's place included: a lead byte followed by
// NUL is cut off and decodes to the substitute). Gives the number written.
// Runs of ASCII, most of a drawing's text, are widened eight bytes at a time
// without touching the tables.
inline size_t DecodeInto(const uint8_t* bytes, size_t n, char16_t* o) {
    size_t i = 0;
    for (;;) {
        while (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, bytes + i, 8);
            // Any byte with its high bit set, or any zero byte, ends the run.
            const uint64_t zero = (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
            if ((w & 0x8080808080808080ull) | zero) break;
            for (int j = 0; j < 8; ++j) o[i + j] = bytes[i + j];
            i += 8;
        }
        if (i == n) return n;
        const uint8_t b = bytes[i];
        if (b == 0) return i;
        if (b >= 0x80) break;
        o[i++] = b;
    }
    const Cp932Tables& t = Tables();
    size_t k = i;
    // ASCII goes through the single-byte table like the other single bytes:
    // one branch less per character, which mixed text cannot predict. A zero
    // byte, alone or as a trail byte, looks up U+0000 (the tables hold it
    // nowhere else), so one test of the result finds both.
    while (i + 1 < n) {
        const uint8_t b = bytes[i];
        const unsigned row = LeadIndex(b);
        char16_t c;
        if (row >= kLeadCount) {
            c = t.single[b];
            ++i;
        } else {
            c = t.pair[row * 256 + bytes[i + 1]];
            i += 2;
        }
        if (c == 0) {
            if (row < kLeadCount) o[k++] = kDecodeSubstitute;  // lead byte cut off by the terminator
            return k;
        }
        o[k++] = c;
    }
    // The last byte alone; a lead byte there is cut off by the end.
    if (i < n && bytes[i] != 0) o[k++] = IsLeadByte(bytes[i]) ? kDecodeSubstitute : t.single[bytes[i]];
    return k;
}

std::atomic<bool> missingForTest{false};  // SetAnsiConversionMissingForTest

}  // namespace

bool AnsiConversionComplete() { return Tables().complete && !missingForTest.load(std::memory_order_relaxed); }

void SetAnsiConversionMissingForTest(bool missing) { missingForTest.store(missing, std::memory_order_relaxed); }

// Short texts are decoded on the stack and the string is made with its exact
// length, so that a text of up to seven characters needs no allocation at all
// (however many bytes it took) and a longer one exactly one of the right size.
std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n) {
    if (n == 0) return {};
    constexpr size_t kShort = 256;
    if (n <= kShort) {
        char16_t units[kShort];
        return std::u16string(units, DecodeInto(bytes, n, units));
    }
    std::u16string out(n, u'\0');
    out.resize(DecodeInto(bytes, n, out.data()));
    return out;
}

// Grows `out` once by the most the text can take (two bytes a character),
// writes through a pointer and cuts back: no capacity test per byte.
void AppendAnsiBytes(std::u16string_view s, ByteBuffer& out) {
    const size_t start = out.size();
    out.resize(start + 2 * s.size());
    uint8_t* o = out.data() + start;
    const Cp932Tables* t = nullptr;
    for (char16_t c : s) {
        if (c < 0x80) {
            *o++ = static_cast<uint8_t>(c);
            continue;
        }
        if (!t) t = &Tables();
        const uint16_t code = t->encode[c];
        if (code == 0) {
            *o++ = kEncodeSubstitute;
        } else if (code < 0x100) {
            *o++ = static_cast<uint8_t>(code);
        } else {
            *o++ = static_cast<uint8_t>(code >> 8);
            *o++ = static_cast<uint8_t>(code);
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

ByteBuffer StrToAnsiBytes(std::u16string_view s) {
    ByteBuffer out;
    out.reserve(s.size());
    AppendAnsiBytes(s, out);
    return out;
}

int AnsiByteLength(std::u16string_view s) {
    const Cp932Tables* t = nullptr;
    int n = 0;
    for (char16_t c : s) {
        if (c == 0) break;
        if (c < 0x80) {
            ++n;
            continue;
        }
        if (!t) t = &Tables();
        n += t->encode[c] >= 0x100 ? 2 : 1;
    }
    return n;
}

}  // namespace morvane
