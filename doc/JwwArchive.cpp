// The archive forms every section is built from: strings, object counts,
// class tags and the entity attribute.
//
// String, Shift_JIS form:  L < 255: BYTE L | else FF, WORD L   then L bytes.
// String, UTF-16 form:     FF FE FF, then C < 255: BYTE C | else FF, WORD C,
//                          then C code units (UTF-16LE).
// Object count:            WORD n | FF FF, DWORD n (n >= 0xFFFF).
// Class reference:         WORD 0x8000 + i | 7F FF, DWORD 0x80000000 + i.
// New class:               FF FF, WORD schema, WORD name length, name bytes.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

constexpr uint8_t kLongLength = 0xFF;       // a WORD length follows
constexpr uint16_t kUnicodeMarker = 0xFFFE; // FF FE FF opens the UTF-16 form
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kLongCount = 0xFFFF;
constexpr uint16_t kClassRefBase = 0x8000;
constexpr uint16_t kLongClassRef = 0x7FFF;

// ---- Length limits of the writer ------------------------------------------------
//
// The length prefixes cannot carry every text. In the Shift_JIS form the WORD
// length 65534 writes the bytes FF FE FF, which a reader takes for the UTF-16
// marker, and nothing above 65535 fits a WORD; in the UTF-16 form 65535 code
// units is the most. A text beyond its form's reach is cut at a character
// boundary (never inside a double-byte Shift_JIS character or a surrogate
// pair) to the longest length the form carries, so that the file always reads
// back as exactly what was written.
constexpr size_t kMaxAnsiLength = 0xFFFF;
constexpr size_t kAmbiguousAnsiLength = kUnicodeMarker;
constexpr size_t kMaxWideLength = 0xFFFF;

// Lead bytes of the double-byte characters of code page 932.
constexpr bool IsAnsiLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The longest prefix of the Shift_JIS bytes b[0..n) that ends on a character
// boundary and whose length the Shift_JIS form can carry.
size_t FitAnsiLength(const uint8_t* b, size_t n) {
    if (n <= kMaxAnsiLength && n != kAmbiguousAnsiLength) return n;
    size_t cut = 0, lastFitting = 0;
    while (cut < n) {
        size_t next = cut + (IsAnsiLeadByte(b[cut]) ? 2 : 1);
        if (next > kMaxAnsiLength || next > n) break;
        cut = next;
        if (cut != kAmbiguousAnsiLength) lastFitting = cut;
    }
    return lastFitting;
}

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The number of code units of text that the UTF-16 form can carry.
size_t FitWideLength(std::u16string_view text) {
    if (text.size() <= kMaxWideLength) return text.size();
    size_t cut = kMaxWideLength;
    if (IsHighSurrogate(text[cut - 1]) && IsLowSurrogate(text[cut])) --cut;
    return cut;
}

// ---- Shared pieces --------------------------------------------------------------

void WriteLength(ByteWriter& w, size_t n) {
    if (n < kLongLength) {
        w.u8(static_cast<uint8_t>(n));
    } else {
        w.u8(kLongLength);
        w.u16(static_cast<uint16_t>(n));
    }
}

// Reads n bytes of a string body. A hostile length is bounded by what the
// input still holds: only that much is allocated, and the bytes the input
// cannot deliver are zeros, which end the text exactly as a full buffer of
// zeros would. `granule` rounds the delivered part up (2 for UTF-16, so that a
// half-delivered code unit keeps its zero high byte as the format says).
template <class Decode>
std::u16string ReadStringBody(ByteReader& r, size_t n, size_t granule, Decode decode) {
    // All of it at hand (nearly every string): decoded where it lies.
    if (const uint8_t* at = r.take(n)) return decode(at, n);
    size_t have = static_cast<size_t>(std::min<uint64_t>(n, r.remaining()));
    have += (granule - have % granule) % granule;
    std::array<uint8_t, 512> small;  // every short-form string fits here
    std::vector<uint8_t> large;
    uint8_t* buf = small.data();
    if (have > small.size()) {
        large.resize(have);
        buf = large.data();
    }
    size_t got = r.read(buf, have);
    std::fill(buf + got, buf + have, uint8_t{0});
    return decode(buf, have);
}

std::u16string DecodeAnsi(const uint8_t* b, size_t n) { return AnsiBytesToStr(b, n); }
std::u16string DecodeWide(const uint8_t* b, size_t n) { return WideBytesToStr(b, n); }

// ---- Attribute conversions for output versions below 420 ---------------------------

// Extended (SXF) line types 31..62 as the nearest built-in line type.
constexpr uint8_t kFirstSxfStyle = 31;
constexpr std::array<uint8_t, 32> kOldStyleOfSxf = {
    1, 4, 3, 6, 8, 8, 2, 5, 7, 6, 6, 8, 8, 17, 17,           // 31..45
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,     // 46..62
};
// Extended (SXF) pen colours 101..356 as a standard pen colour.
constexpr uint16_t kFirstSxfColor = 101;
constexpr uint16_t kLastSxfColor = 356;
constexpr std::array<uint8_t, 16> kOldColorOfSxf = {
    2, 8, 3, 6, 4, 5, 1, 2, 5, 8, 4, 3, 6, 5, 2, 2,  // 101..116; 117..356 become 1
};
constexpr uint8_t kFallback = 1;  // pen colour and line type put in place of an invalid one

constexpr uint16_t OldStyle(uint16_t style) {
    size_t i = size_t{style} - kFirstSxfStyle;
    return style >= kFirstSxfStyle && i < kOldStyleOfSxf.size() ? kOldStyleOfSxf[i] : style;
}

constexpr uint16_t OldColor(uint16_t color) {
    if (color < kFirstSxfColor || color > kLastSxfColor) return color;
    size_t i = size_t{color} - kFirstSxfColor;
    return i < kOldColorOfSxf.size() ? kOldColorOfSxf[i] : kFallback;
}

// ---- Valid attribute values by entity kind -------------------------------------------

struct ValueRange {
    uint16_t lo, hi;
};
using ValidSet = std::span<const ValueRange>;

constexpr ValueRange kLineStyles[] = {{1, 9}, {11, 19}, {31, 62}};
constexpr ValueRange kPointStyles[] = {{1, 1}, {100, 100}};
constexpr ValueRange kTextStyles[] = {{1, 9}};
constexpr ValueRange kPenColors[] = {{1, 9}, {101, 356}};
constexpr ValueRange kSolidColors[] = {{1, 10}, {101, 356}};  // 10: the solid's own RGB colour

// By kind 0..8; an empty set keeps every value.
constexpr ValidSet kValidStyles[9] = {{}, kLineStyles, kLineStyles, kPointStyles, kTextStyles, {}, {}, {}, {}};
constexpr ValidSet kValidColors[9] = {{},         kPenColors,   kPenColors, kPenColors, kPenColors,
                                      kPenColors, kSolidColors, {},         {}};

constexpr uint16_t Validate(uint16_t v, ValidSet valid) {
    if (valid.empty()) return v;
    for (const ValueRange& r : valid)
        if (v >= r.lo && v <= r.hi) return v;
    return kFallback;
}

constexpr bool KnownKind(int kind) { return kind >= 1 && kind <= 8; }

constexpr uint16_t kMaxLayer = 15;
constexpr uint16_t kMaxPenWidth = 30000;  // hundredths; 0 = the pen's own width

}  // namespace

// ---- Strings ---------------------------------------------------------------------------

std::u16string TJwwData::ReadArchiveString(ByteReader& r) {
    uint8_t first = r.u8();
    if (first != kLongLength) return ReadStringBody(r, first, 1, DecodeAnsi);
    uint16_t word = r.u16();
    if (word != kUnicodeMarker) return ReadStringBody(r, word, 1, DecodeAnsi);
    MojiEncode = true;
    size_t units = r.u8();
    if (units == kLongLength) units = r.u16();
    return ReadStringBody(r, units * 2, 2, DecodeWide);
}

std::u16string TJwwData::ReadCleanString(ByteReader& r) {
    std::u16string s = ReadArchiveString(r);
    if (std::any_of(s.begin(), s.end(), [](char16_t c) { return c < 0x20; })) s = RemoveControlChars(s);
    return s;
}

void TJwwData::WriteArchiveString(ByteWriter& w, std::u16string_view text) const {
    if (FileOutOpt & kOptUnicode) {
        size_t units = FitWideLength(text);
        w.u8(kLongLength);
        w.u16(kUnicodeMarker);
        WriteLength(w, units);
        w.write(text.data(), units * sizeof(char16_t));  // little-endian host (jwwtype.h)
        return;
    }
    // One buffer per thread, reused: most strings are short and many.
    thread_local ByteBuffer bytes;
    bytes.clear();
    AppendAnsiBytes(text, bytes);
    // The length counts up to the first NUL (U+0000 is the only source of a
    // zero byte: trail bytes of Shift_JIS are never 0).
    size_t n = static_cast<size_t>(std::find(bytes.begin(), bytes.end(), uint8_t{0}) - bytes.begin());
    n = FitAnsiLength(bytes.data(), n);
    WriteLength(w, n);
    w.write(bytes.data(), n);
    if (bytes.capacity() > (1u << 20)) ByteBuffer().swap(bytes);
}

void TJwwData::WriteStoredString(ByteWriter& w, std::u16string_view text) const {
    if (IsStoredClean(text))
        WriteArchiveString(w, text);
    else
        WriteArchiveString(w, CleanStoredText(text));
}

// ---- Counts and class tags --------------------------------------------------------------

uint32_t TJwwData::ReadObjectCount(ByteReader& r) {
    uint64_t at = r.position();
    size_t got = 0;
    uint16_t word = r.value<uint16_t>(0, &got);
    if (got < sizeof word) throw JwwIoError(kFileIoError, at, "object count past the end of the file");
    if (word != kLongCount) return word;
    return r.u32();
}

void TJwwData::WriteObjectCount(ByteWriter& w, uint32_t count) {
    if (count < kLongCount) {
        w.u16(static_cast<uint16_t>(count));
    } else {
        w.u16(kLongCount);
        w.u32(count);
    }
}

void TJwwData::WriteClassRef(ByteWriter& w, int64_t index) {
    if (index < kLongClassRef) {
        w.u16(static_cast<uint16_t>(kClassRefBase + index));
    } else {
        w.u16(kLongClassRef);
        w.u32(0x80000000u + static_cast<uint32_t>(index));
    }
}

void TJwwData::WriteNewClass(ByteWriter& w, int32_t Ver, int kind) {
    std::string_view name = KnownKind(kind) ? kClassNames[kind] : "";
    w.u16(kNewClassTag);
    w.u16(static_cast<uint16_t>(Ver));  // the schema: low 16 bits of the version
    w.u16(static_cast<uint16_t>(name.size()));
    w.write(name.data(), name.size());
}

// ---- Attribute ---------------------------------------------------------------------------
//
// Version 351 and later: lGroup(4) nPenStyle(1) nPenColor(2) nPenWidth(2)
// nLayer(2) nGLayer(2) sFlg(2), the byte image of TEntJwwAttr. Before 351 the
// same without nPenWidth: 13 bytes, the last six at offset 7.

namespace {
constexpr size_t kPenWidthOffset = 7;
}

TEntJwwAttr TJwwData::ReadAttr(ByteReader& r) const {
    uint8_t b[kAttrSize] = {};
    if (Enthd.jwVer >= kVerAttrWidth) {
        r.read(b, kAttrSize);
    } else {
        uint8_t old[kOldAttrSize] = {};
        r.read(old, kOldAttrSize);
        std::memcpy(b, old, kPenWidthOffset);
        std::memcpy(b + kPenWidthOffset + 2, old + kPenWidthOffset, kOldAttrSize - kPenWidthOffset);
    }
    TEntJwwAttr a;
    std::memcpy(&a, b, kAttrSize);
    return a;
}

void TJwwData::WriteAttr(ByteWriter& w, int32_t Ver, const TEntJwwAttr& a, int kind) {
    uint16_t style = a.nPenStyle;
    uint16_t color = a.nPenColor;
    if (Ver < kVerSxf) {
        if (kind == kKindLine || kind == kKindEnko) style = OldStyle(style);
        if (kind >= kKindLine && kind <= kKindSolid) color = OldColor(color);
    }
    if (KnownKind(kind)) {
        style = Validate(style, kValidStyles[kind]);
        color = Validate(color, kValidColors[kind]);
    }

    const uint64_t width = a.nPenWidth > kMaxPenWidth ? 0 : a.nPenWidth;
    const uint64_t layer = a.nLayer > kMaxLayer ? 0 : a.nLayer;
    const uint64_t group = a.nGLayer > kMaxLayer ? 0 : a.nGLayer;

    // The 15 bytes as two overlapping words (bytes 0-7 and 7-14), stored
    // straight into the writer's buffer. Patching single fields of a copy of
    // the record, or building the words in a local array, made every
    // attribute wait for the stores to drain before the copy could read them.
    const uint64_t low =
        uint64_t{a.lGroup} | uint64_t{style & 0xFFu} << 32 | uint64_t{color} << 40 | (width & 0xFF) << 56;
    const uint64_t high = width | layer << 16 | group << 32 | uint64_t{a.sFlg} << 48;
    if (Ver >= kVerAttrWidth) {
        w.writeOverlapped(low, high, kAttrSize);
    } else {
        uint8_t b[kAttrSize];
        std::memcpy(b, &low, 8);
        std::memcpy(b + 7, &high, 8);
        w.write(b, kPenWidthOffset);
        w.write(b + kPenWidthOffset + 2, kOldAttrSize - kPenWidthOffset);
    }
}

}  // namespace morvane
