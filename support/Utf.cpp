// UTF-16 little-endian byte form (the Unicode strings of JWW files), UTF-8
// (command line, settings file, window) and file-system names on Linux.
#include "support/Func_2.h"

#include <bit>
#include <cstring>

namespace morvane {

// The text ends at the first zero unit; the units before it are copied as
// they are (unpaired surrogates included).
std::u16string WideBytesToStr(const uint8_t* bytes, size_t n) {
    const size_t units = n / 2;
    size_t len = 0;
    while (len < units && (bytes[2 * len] | bytes[2 * len + 1]) != 0) ++len;
    if (len == 0) return {};  // bytes may then be null, which memcpy may not take
    std::u16string out(len, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out.data(), bytes, len * 2);
    } else {
        for (size_t i = 0; i < len; ++i) out[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    return out;
}

ByteBuffer StrToWideBytes(std::u16string_view s) {
    ByteBuffer out;
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

namespace {

constexpr char16_t kReplacement = u'\uFFFD';
// A byte of a native name that is no UTF-8 is held as U+DC00 + the byte.
constexpr uint32_t kEscapeBase = 0xDC00;

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf16(uint32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Length of the well-formed sequence at s[i] and its code point, or 0 when the
// bytes there are no valid UTF-8; then the maximal valid prefix is skipped as
// one U+FFFD (the usual practice: at least one byte).
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp, size_t& skip) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t b0 = byte(i);
    skip = 1;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;  // no overlong forms
        if (b0 == 0xF4) hi = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if (i + k >= s.size()) return 0;
        uint8_t b = byte(i + k);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
        cp = cp << 6 | (b & 0x3F);
        skip = k + 1;
    }
    return len;
}

void AppendUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Invalid sequences: one U+FFFD for the maximal valid prefix (UTF-8), or
// each byte kept as U+DC00 + the byte and the bytes behind it looked at
// afresh (native names).
std::u16string DecodeAll(std::string_view s, bool escapeBytes) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t skip = 1;
        size_t len = DecodeUtf8(s, i, cp, skip);
        if (len != 0) {
            AppendUtf16(cp, out);
            i += len;
        } else if (escapeBytes) {  // the byte is 0x80 or above
            out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<uint8_t>(s[i])));
            ++i;
        } else {
            out.push_back(kReplacement);
            i += skip;
        }
    }
    return out;
}

// Lone surrogates become U+FFFD, except (with `escapeBytes`) the escaped
// bytes U+DC80..U+DCFF, which become their byte again.
std::string EncodeAll(std::u16string_view s, bool escapeBytes) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const uint32_t c = s[i];
        if (IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
            AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00), out);
            ++i;
        } else if (escapeBytes && c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            out.push_back(static_cast<char>(c - kEscapeBase));
        } else {
            AppendUtf8(IsHighSurrogate(c) || IsLowSurrogate(c) ? kReplacement : c, out);
        }
    }
    return out;
}

}  // namespace

std::u16string Utf8ToStr(std::string_view s) { return DecodeAll(s, false); }
std::u16string NativeToStr(std::string_view s) { return DecodeAll(s, true); }
std::string StrToUtf8(std::u16string_view s) { return EncodeAll(s, false); }
std::string StrToNative(std::u16string_view s) { return EncodeAll(s, true); }

}  // namespace morvane
