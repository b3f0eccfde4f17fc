// Strings, character filters, numbers, Booleans and text substitution.
#include "support/Func_2.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace morvane {

// ---- Case mapping ---------------------------------------------------------------
// Simple one-to-one Unicode case mappings from a generated table, the same on
// every machine whatever its locale, so the result always has the length of
// its argument. Characters outside the Basic Multilingual Plane (surrogate
// halves here) stay as they are.

namespace {

struct CaseRange {
    char16_t first;
    char16_t last;
    uint8_t stride;  // every stride-th character from first maps
    int32_t delta;
};
#include "support/CaseTables.inc"

template <size_t N>
char16_t MapCase(char16_t c, const CaseRange (&ranges)[N]) {
    auto it = std::upper_bound(std::begin(ranges), std::end(ranges), c,
                               [](char16_t v, const CaseRange& r) { return v < r.first; });
    if (it == std::begin(ranges)) return c;
    const CaseRange& r = *(it - 1);
    if (c > r.last || (c - r.first) % r.stride != 0) return c;
    return static_cast<char16_t>(c + r.delta);
}

}  // namespace

std::u16string UpperCaseStr(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        if (c < 0x80)
            c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
        else
            c = MapCase(c, kUpperRanges);
    }
    return out;
}

std::u16string LowerCaseStr(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        if (c < 0x80)
            c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
        else
            c = MapCase(c, kLowerRanges);
    }
    return out;
}

// ---- Substrings ---------------------------------------------------------------------

int StrIndexOf(std::u16string_view sub, std::u16string_view s) {
    if (sub.empty() || s.empty()) return -1;
    size_t at = s.find(sub);
    return at == std::u16string_view::npos ? -1 : static_cast<int>(at);
}

std::u16string StrFrom(std::u16string_view s, int index) {
    size_t from = static_cast<size_t>(std::max(index, 0));
    return from >= s.size() ? std::u16string() : std::u16string(s.substr(from));
}

std::u16string StrMid(std::u16string_view s, int index, int count) {
    size_t from = static_cast<size_t>(std::max(index, 0));
    if (count < 0 || from >= s.size()) return {};
    return std::u16string(s.substr(from, static_cast<size_t>(count)));
}

// ---- Character filters ----------------------------------------------------------------

std::u16string RemoveControlChars(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char16_t c : s)
        if (c >= 0x20) out.push_back(c);
    return out;
}

namespace {
bool IsBlank(char16_t c) { return c <= 0x20 || c == u'\u3000'; }
}  // namespace

std::u16string RemoveBlanks(std::u16string_view s) {
    std::u16string out;
    for (char16_t c : s)
        if (!IsBlank(c)) out.push_back(c);
    return out;
}

bool IsAllBlank(std::u16string_view s) { return std::all_of(s.begin(), s.end(), IsBlank); }

// "^m" and "\n" are the line-break marks of texts typed in the CAD program;
// a stored name or text must not keep them, nor control characters, and must
// not turn empty (the program treats an empty text as absent).
std::u16string CleanStoredText(std::u16string_view s) {
    if (s.empty()) return {};
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (i + 1 < s.size() && ((s[i] == u'^' && s[i + 1] == u'm') || (s[i] == u'\\' && s[i + 1] == u'n'))) {
            i += 2;
            continue;
        }
        if (s[i] >= 0x20) out.push_back(s[i]);
        ++i;
    }
    return out.empty() ? std::u16string(u" ") : out;
}

bool IsStoredClean(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] < 0x20) return false;
        if (i + 1 < s.size() && ((s[i] == u'^' && s[i + 1] == u'm') || (s[i] == u'\\' && s[i + 1] == u'n')))
            return false;
    }
    return true;
}

bool IsHalfWidthChar(char16_t c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0xFF61 && c <= 0xFF9F); }

CutResult CutByWidth(std::u16string_view s, int start, int maxWidth) {
    CutResult r;
    r.next = start;
    if (start < 0) start = 0;  // callers never pass one; read from the front
    size_t i = static_cast<size_t>(start);
    if (i >= s.size()) return r;
    for (int width = 0; i < s.size(); ++i) {
        int w = IsHalfWidthChar(s[i]) ? 1 : 2;
        if (width + w > maxWidth) break;
        r.part.push_back(s[i]);
        width += w;
    }
    r.next = static_cast<int>(i);
    return r;
}

void FillBytes(int v, int n, ByteBuffer& b) {
    if (n <= 0) return;
    size_t count = std::min(static_cast<size_t>(n), b.size());
    std::fill_n(b.begin(), count, static_cast<uint8_t>(v));
}

// ---- Numbers ----------------------------------------------------------------------------

bool IsFiniteDouble(double x) { return std::isfinite(x); }

namespace {

size_t SkipSpaces(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == u' ') ++i;
    return i;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

// Accepts [spaces][sign](digits | ("$"|"x"|"X"|"0x"|"0X") hexdigits), whole string.
int32_t StrToIntOrZero(std::u16string_view s) {
    size_t i = SkipSpaces(s);
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
    std::u16string_view body = s.substr(std::min(i, s.size()));
    if (body.empty()) return 0;

    size_t hexAt = 0;
    if (body[0] == u'$' || body[0] == u'x' || body[0] == u'X')
        hexAt = 1;
    else if (body.size() >= 2 && body[0] == u'0' && (body[1] == u'x' || body[1] == u'X'))
        hexAt = 2;

    if (hexAt > 0) {
        std::u16string_view digits = body.substr(hexAt);
        if (digits.empty()) return 0;
        uint32_t pattern = 0;
        int significant = 0;
        for (char16_t c : digits) {
            int d = HexDigit(c);
            if (d < 0) return 0;
            if (significant > 0 || d != 0) ++significant;
            if (significant > 8) return 0;
            pattern = pattern << 4 | static_cast<uint32_t>(d);
        }
        return static_cast<int32_t>(negative ? 0u - pattern : pattern);
    }

    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    for (char16_t c : body) {
        if (!IsDigit(c)) return 0;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - u'0');
        if (magnitude > limit) return 0;
    }
    return static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude));
}

// Accepts [spaces][sign] then at least one character of
// [digits][.[digits]][(E|e)[sign]digits], whole string, "." as decimal point.
// A form without any digit in front of the exponent ("." or "-.") is zero.
// A value beyond the range of a double is taken as malformed (0).
double StrToFloatOrZero(std::u16string_view s) {
    size_t i = SkipSpaces(s);
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
    if (i >= s.size()) return 0;

    std::string text;  // ASCII form for std::from_chars
    auto takeDigits = [&] {
        size_t from = i;
        while (i < s.size() && IsDigit(s[i])) text.push_back(static_cast<char>(s[i++]));
        return i - from;
    };
    size_t mantissaDigits = takeDigits();
    if (i < s.size() && s[i] == u'.') {
        text.push_back('.');
        ++i;
        mantissaDigits += takeDigits();
    }
    if (i < s.size() && (s[i] == u'E' || s[i] == u'e')) {
        text.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) text.push_back(static_cast<char>(s[i++]));
        if (takeDigits() == 0) return 0;
    }
    if (i != s.size()) return 0;
    if (mantissaDigits == 0) return 0;

    if (text[0] == '.') text.insert(text.begin(), '0');
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size()) {
        // from_chars also reports an underflow to below the smallest double
        // as out of range; that value is zero for every purpose here.
        return 0;
    }
    return negative ? -value : value;
}

std::u16string IntToDecStr(int32_t n) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    (void)ec;
    return std::u16string(buf, end);
}

// ---- Booleans and colours ----------------------------------------------------------------

bool StrToBoolLoose(std::u16string_view s) {
    static constexpr std::u16string_view kTrue[] = {u"T", u"TR", u"TRU", u"TRUE", u"1", u"\uFF11",
                                                    u"\u25CB", u"ON", u"\u771F", u"\u6B63"};
    if (s.empty() || s.size() > 4) return false;
    std::u16string upper = UpperCaseStr(s);
    return std::find(std::begin(kTrue), std::end(kTrue), upper) != std::end(kTrue);
}

std::u16string BoolToStr01(bool b) { return b ? u"1" : u"0"; }

// Components above 255 or below 0 spill into their neighbours as the stored
// format expects; the sum is formed without signed overflow.
int32_t RgbToColor(int32_t r, int32_t g, int32_t b) {
    uint32_t c = static_cast<uint32_t>(r) + static_cast<uint32_t>(g) * 256u + static_cast<uint32_t>(b) * 65536u;
    return static_cast<int32_t>(c);
}

Rgb ColorToRgb(int32_t c) { return Rgb{c % 256, (c / 256) % 256, (c / 65536) % 256}; }

// ---- Text substitution and writer defaults ------------------------------------------------

std::vector<TStr2List>& SubstitutionTable() {
    thread_local std::vector<TStr2List> table;
    return table;
}

bool& TextSubstitutionOn() {
    thread_local bool on = false;
    return on;
}

void ApplyTextSubstitution(std::u16string& s) {
    if (!TextSubstitutionOn() || !s.starts_with(u"%%")) return;
    for (const TStr2List& pair : SubstitutionTable()) {
        if (pair.s1 == s) {
            s = pair.s2;
            return;
        }
    }
}

void ResetWriterDefaults() {
    TextSubstitutionOn() = false;
    SubstitutionTable().clear();
}

int WriterFallbackPenColor() { return 1; }
int WriterFallbackLineType() { return 1; }

}  // namespace morvane
