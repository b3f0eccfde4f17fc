// The entity section, and the archived entity list that every block definition
// repeats: an object count, then per object a class tag and the body.
//
// Bodies (offsets for version 351 on; before 351 the attribute is 13 bytes and
// everything behind it sits 2 bytes earlier):
//   line  "CDataSen"    47  attribute, start, end
//   arc   "CDataEnko"   75  attribute, centre, radius, 4 angles/ratio, full-circle flag
//   point "CDataTen"    35  attribute, position, bKariten; +20 (nCode, rotation,
//                           scale) only when nPenStyle is 100
//   text  "CDataMoji"   83  attribute .. degKakudo, then font name and text strings
//   dim.  "CDataSunpou"     attribute, a line body, a text body with its strings;
//                           from 420: bSxfMode (2), two line and four point bodies
//   solid "CDataSolid"  79  attribute, four corners; +4 (Color) when nPenColor is 10
//   block "CDataBlock"  59  attribute, insertion point, scales, rotation, nNumber
// The fixed parts equal the packed records of jwwtype.h byte for byte, so a
// body is read with one copy straight into its element.
#include <algorithm>
#include <new>

#include "doc/JwwObjects.h"
#include "support/Func_2.h"
#include "support/Memory.h"

namespace morvane::jwwobj {

namespace {

constexpr int32_t kChunk = 1000;
constexpr int32_t kNestedTextChunk = 500;  // mMoji and mSunpo of a definition
// Trimming copies an array into a fitting block while the old one still
// lives; above this size the spare capacity is kept rather than paying for a
// second copy of a large array at the peak of the load.
constexpr size_t kShrinkLimitBytes = size_t{16} << 20;
constexpr uint8_t kPointStyleWithCode = 100;
constexpr uint16_t kSolidOwnColor = 10;
// Output options that change texts beyond cleaning them.
constexpr int32_t kTextRewriting = kOptTextSubstitution | kOptImageDropTemp | kOptImageFileNameOnly;

template <class T>
const uint8_t* BytesOf(const T& rec) {
    return reinterpret_cast<const uint8_t*>(&rec);
}
template <class T>
uint8_t* BytesOf(T& rec) {
    return reinterpret_cast<uint8_t*>(&rec);
}

// Where the list being read stands, for sizing its arrays.
struct ListProgress {
    size_t limit;        // the list's object count rounded up to the chunk: no kind has more
    uint64_t count;      // objects in the list
    uint64_t read;       // of them read so far, the current one included
    uint64_t first;      // where in the list (from 1) the first object of this kind stood
    uint64_t inputLeft;  // bytes the input still holds
    // A writer on another thread reading the list as it grows, or none.
    EntityStream* stream;
    const EntityArrays* arrays;
};

// Moves an array into a new block of `want` elements; a streamed save learns
// where the elements went before it can read them again.
template <class T>
void Reserve(std::vector<T>& v, size_t want, const ListProgress& list) {
    if (list.stream) {
        std::lock_guard hold(list.stream->arrays);
        ReserveLarge(v, want);
        list.stream->Rebase(*list.arrays);
    } else {
        ReserveLarge(v, want);
    }
}

// The array's room grows by whole chunks of elements: when the count reaches
// the capacity, the capacity becomes at least the next multiple of the chunk.
// Elements are only made as they are read, so that a drawing of a few
// dimensions does not clear room for a thousand. The capacity grows
// geometrically, but never beyond the limit. Once an array is large, its
// kind's share of the objects read since its first one tells how many the
// list will hold from there, and it gets that room in one step (with an
// eighth to spare), so that millions of lines are not copied again at every
// doubling. Counting from the kind's first object, not from the list's, fits
// lists that hold their kinds in runs (all lines, then the texts added
// later): a kind that starts late does not look rare. A wrong guess only
// means doubling from there. That room is only reserved, its pages are
// touched as they fill; it never exceeds twice what the input still holds,
// and where the system refuses so much address space the array just doubles.
template <class T>
int32_t Append(std::vector<T>& v, int32_t& n, int32_t chunk, const ListProgress& list) {
    const size_t count = static_cast<size_t>(n);
    if (count >= v.size()) {
        if (count >= v.capacity()) {
            const size_t length = count / chunk * chunk + chunk;
            const size_t doubled = std::max(length, std::min(2 * v.capacity(), list.limit));
            size_t want = doubled;
            if (doubled * sizeof(T) >= kHugePageHintBytes && list.read >= list.first && list.first > 0) {
                const uint64_t expected = (count + 1) * (list.count - list.first + 1) / (list.read - list.first + 1);
                const uint64_t room = std::min((expected + expected / 8 + chunk - 1) / chunk * chunk,
                                               count + 2 * list.inputLeft / sizeof(T) + chunk);
                want = static_cast<size_t>(std::min<uint64_t>(list.limit, std::max<uint64_t>(doubled, room)));
            }
            try {
                Reserve(v, want, list);
            } catch (const std::bad_alloc&) {
                if (want == doubled) throw;
                Reserve(v, doubled, list);
            }
        }
        v.emplace_back();  // count == v.size() here: a dropped element keeps its slot
    }
    return n++;
}

// Reads one element; a body that delivered nothing is dropped again.
template <class T, class Body>
bool ReadInto(std::vector<T>& v, int32_t& n, int32_t chunk, const ListProgress& list, int32_t& index, Body body) {
    const int32_t i = Append(v, n, chunk, list);
    if (!body(v[i])) {
        v[i] = T{};
        --n;
        return false;
    }
    index = i;
    return true;
}

template <class T>
void Trim(std::vector<T>& v, int32_t n) {
    const size_t count = static_cast<size_t>(std::max(n, 0));
    if (v.size() > count) v.resize(count);
    if (count * sizeof(T) <= kShrinkLimitBytes) v.shrink_to_fit();
}

template <class T>
std::span<const T> Below(const std::vector<T>& v, int32_t n) {
    return {v.data(), std::min(v.size(), static_cast<size_t>(std::max(n, 0)))};
}

void RepairTextSize(TEntJwwMojiFixed& m) {
    if (!IsFiniteDouble(m.dSizeX)) m.dSizeX = 3.0;
    if (!IsFiniteDouble(m.dSizeY)) m.dSizeY = 3.0;
    if (!IsFiniteDouble(m.dKankaku)) m.dKankaku = 0.0;
}

// A dimension of a file older than 420 has no SXF part: its lines and points
// carry the dimension's attribute and zero coordinates.
void FillOldSxf(TEntJwwSunpo& s) {
    s.bSxfMode = 0;
    for (TEntJwwLine* l : {&s.Ho1, &s.Ho2}) {
        *l = TEntJwwLine{};
        l->att = s.att;
    }
    for (TEntJwwTen* p : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) {
        *p = TEntJwwTen{};
        p->att = s.att;
        p->att.nPenStyle = 0;
    }
}

bool EqualsAscii(std::u16string_view s, const char* ascii) {
    size_t i = 0;
    for (; ascii[i] != '\0'; ++i)
        if (i >= s.size() || s[i] != static_cast<char16_t>(ascii[i])) return false;
    return i == s.size();
}

}  // namespace

// ---- Arrays and views ---------------------------------------------------------------

EntityArrays TopLevelArrays(TJwwData& d) {
    return {d.EntNo,    d.EntLine,  d.EntLineN,  d.EntEnko,  d.EntEnkoN,  d.EntTen,
            d.EntTenN,  d.EntMoji,  d.EntMojiN,  d.EntSunpo, d.EntSunpoN, d.EntSolid,
            d.EntSolidN, d.EntBlock, d.EntBlockN, false};
}

EntityArrays NestedArrays(TEntJwwBlockDef& d) {
    return {d.mNo,    d.mLine,  d.mLineN,  d.mEnko,  d.mEnkoN,  d.mTen,   d.mTenN,  d.mMoji,
            d.mMojiN, d.mSunpo, d.mSunpoN, d.mSolid, d.mSolidN, d.mBlock, d.mBlockN, true};
}

void TrimArrays(EntityArrays& a) {
    Trim(a.line, a.lineN);
    Trim(a.enko, a.enkoN);
    Trim(a.ten, a.tenN);
    Trim(a.moji, a.mojiN);
    Trim(a.sunpo, a.sunpoN);
    Trim(a.solid, a.solidN);
    Trim(a.block, a.blockN);
}

EntityView TopLevelView(const TJwwData& d) {
    return {Below(d.EntNo, d.Enthd.n1),   Below(d.EntLine, d.EntLineN),   Below(d.EntEnko, d.EntEnkoN),
            Below(d.EntTen, d.EntTenN),   Below(d.EntMoji, d.EntMojiN),   Below(d.EntSunpo, d.EntSunpoN),
            Below(d.EntSolid, d.EntSolidN), Below(d.EntBlock, d.EntBlockN)};
}

EntityView NestedView(const TEntJwwBlockDef& d) {
    return {Below(d.mNo, d.N),       Below(d.mLine, d.mLineN),   Below(d.mEnko, d.mEnkoN),
            Below(d.mTen, d.mTenN),   Below(d.mMoji, d.mMojiN),   Below(d.mSunpo, d.mSunpoN),
            Below(d.mSolid, d.mSolidN), Below(d.mBlock, d.mBlockN)};
}

void CheckCountFits(const ByteReader& r, uint64_t at, uint64_t count, uint64_t minBytes, const char* what) {
    // The last object may be cut short: a short read keeps the rest of its
    // body zero, so its class reference and one byte are all it needs.
    constexpr uint64_t kLastObjectBytes = 3;
    const uint64_t left = r.remaining();
    const bool fits = count == 0 || (left >= kLastObjectBytes && count - 1 <= (left - kLastObjectBytes) / minBytes);
    if (count > static_cast<uint64_t>(INT32_MAX) || !fits)
        throw JwwIoError(kFileIoError, at,
                         std::string(what) + " " + std::to_string(count) + " cannot fit in the " +
                             std::to_string(r.remaining()) + " bytes left");
}

uint64_t MinObjectBytes(int32_t ver) {
    return 2 + (ver >= kVerAttrWidth ? kTenSize : kTenSize - 2);
}

// ---- Reading ------------------------------------------------------------------------

ObjectReader::ObjectReader(TJwwData& doc, ByteReader& r, JwwClassMap& map)
    : r(r), map(map), doc_(doc), ver_(doc.Enthd.jwVer) {}

void ObjectReader::ReadList(uint32_t count, EntityArrays& a) {
    capacityLimit_ = (static_cast<size_t>(count) + kChunk - 1) / kChunk * kChunk;
    size_t filled = 0;
    listCount_ = count;
    std::fill(std::begin(firstRead_), std::end(firstRead_), 0);
    // A streamed save is handed the list every publishEvery objects.
    size_t nextPublish = stream_ ? stream_->publishEvery : SIZE_MAX;
    for (uint32_t done = 0; done < count;) {
        read_ = done + 1;
        const int kind = ReadEntityTag();
        if (kind == 0) continue;  // a reference to an index no class holds: skipped
        int32_t index = 0;
        if (ReadBody(kind, a, index)) {
            a.order[filled++] = TEntJwwNo{kind, index};
            if (filled == nextPublish) {
                stream_->Publish(static_cast<uint32_t>(filled), a, doc_.MojiEncode);
                nextPublish += stream_->publishEvery;
            }
        }
        ++done;
        ++map.index;
    }
    if (stream_) stream_->Publish(static_cast<uint32_t>(filled), a, doc_.MojiEncode);
}

void EntityStream::Publish(uint32_t filled, const EntityArrays& a, bool unicode) {
    const int32_t counts[8] = {0, a.lineN, a.enkoN, a.tenN, a.mojiN, a.sunpoN, a.solidN, a.blockN};
    for (int k = 1; k < 8; ++k) kindN[k].store(counts[k], std::memory_order_release);
    // Only the loader stores the count; the flags it keeps are raised by it too.
    const uint64_t flags = (progress.load(std::memory_order_relaxed) & ~kCountMask) | (unicode ? kUnicode : 0);
    progress.store(flags | filled, std::memory_order_release);
    progress.notify_all();
}

void EntityStream::Rebase(const EntityArrays& a) {
    const void* now[8] = {a.order.data(), a.line.data(),  a.enko.data(),  a.ten.data(),
                          a.moji.data(),  a.sunpo.data(), a.solid.data(), a.block.data()};
    std::copy(std::begin(now), std::end(now), base);
}

size_t ObjectReader::ReadFixedWithoutWidth(uint8_t* p, size_t size) {
    // lGroup, nPenStyle and nPenColor, then the rest behind nPenWidth's place.
    const size_t head = r.read(p, 7);
    if (head < 7) return head;
    return head + r.read(p + 9, size - 9);
}

void ObjectReader::TagPastEnd(uint64_t at) {
    throw JwwIoError(kFileIoError, at, "object tag past the end of the file");
}

uint32_t ObjectReader::ReadTagDword() {
    const uint64_t at = r.position();
    size_t got = 0;
    const uint32_t d = r.value<uint32_t>(0, &got);
    if (got < 4) throw JwwIoError(kFileIoError, at, "class reference past the end of the file");
    return d;
}

int ObjectReader::ReadClassName(uint64_t tagAt, std::u16string* nameOut) {
    ReadTagWord();  // schema number, not used
    const uint16_t length = ReadTagWord();
    if (length > kMaxClassNameLength)
        throw JwwIoError(kFileIoError, tagAt, "class name of " + std::to_string(length) + " bytes");
    if (length > r.remaining()) throw JwwIoError(kFileIoError, tagAt, "class name past the end of the file");
    uint8_t bytes[kMaxClassNameLength];
    r.read(bytes, length);
    std::u16string name = AnsiBytesToStr(bytes, length);
    int kind = 0;
    for (int k = 1; k <= kKindBlockDef && kind == 0; ++k)
        if (EqualsAscii(name, kClassNames[k])) kind = k;
    if (nameOut) *nameOut = std::move(name);
    return kind;
}

int ObjectReader::ReadEntityTag() {
    const uint64_t at = r.position();
    const uint16_t t = ReadTagWord();
    if (t == 0xFFFF) {
        std::u16string name;
        const int kind = ReadClassName(at, &name);
        if (kind == 0 || kind == kKindBlockDef)
            throw JwwIoError(kFileIoError, at,
                             (kind == 0 ? "unknown class name \"" : "class name in an entity list: \"") +
                                 StrToUtf8(name.substr(0, 64)) + "\"");
        map.classIndex[kind] = map.index++;
        return kind;
    }
    const int64_t index = t == 0x7FFF ? int64_t{ReadTagDword() & 0x7FFFFFFFu} : int64_t{t} - 0x8000;
    const int kind = map.KindOf(index);
    // A definition cannot stand inside an entity list; its body has no place there.
    if (kind == kKindBlockDef)
        throw JwwIoError(kFileIoError, at, "reference to class CDataList in an entity list");
    return kind;
}

bool ObjectReader::ReadBody(int kind, EntityArrays& a, int32_t& index) {
    const int32_t textChunk = a.nested ? kNestedTextChunk : kChunk;
    const double pointScale = a.nested ? 0.0 : 1.0;
    if (firstRead_[kind] == 0) firstRead_[kind] = read_;
    auto into = [&](auto& v, int32_t& n, int32_t chunk, auto body) {
        return ReadInto(v, n, chunk,
                        ListProgress{capacityLimit_, listCount_, read_, firstRead_[kind], r.remaining(), stream_, &a},
                        index, body);
    };
    switch (kind) {
    case kKindLine:
        return into(a.line, a.lineN, kChunk, [&](TEntJwwLine& e) { return ReadLine(e); });
    case kKindEnko:
        return into(a.enko, a.enkoN, kChunk, [&](TEntJwwEnko& e) { return ReadEnko(e); });
    case kKindTen:
        return into(a.ten, a.tenN, kChunk, [&](TEntJwwTen& e) { return ReadTen(e, pointScale); });
    case kKindMoji:
        return into(a.moji, a.mojiN, textChunk, [&](TEntJwwMoji& e) { return ReadMoji(e); });
    case kKindSunpo:
        return into(a.sunpo, a.sunpoN, textChunk, [&](TEntJwwSunpo& e) { return ReadSunpo(e); });
    case kKindSolid:
        return into(a.solid, a.solidN, kChunk, [&](TEntJwwSolid& e) { return ReadSolid(e); });
    case kKindBlock:
        return into(a.block, a.blockN, kChunk, [&](TEntJwwBlock& e) { return ReadBlock(e); });
    default:
        return false;
    }
}

// Each body reports false only when its checked read delivered no byte at
// all; a short read keeps the zero fill of the element.

bool ObjectReader::ReadLine(TEntJwwLine& e) { return ReadFixed(&e, kLineSize) > 0; }

bool ObjectReader::ReadEnko(TEntJwwEnko& e) { return ReadFixed(&e, kEnkoSize) > 0; }

bool ObjectReader::ReadTen(TEntJwwTen& e, double defaultScale) {
    if (ReadFixed(&e, kTenSize) == 0) return false;
    ReadTenOptions(e, defaultScale);
    return true;
}

void ObjectReader::ReadTenOptions(TEntJwwTen& e, double defaultScale) {
    if (e.att.nPenStyle == kPointStyleWithCode) {
        r.read(BytesOf(e) + kTenSize, kTenOptSize);
        return;
    }
    e.nCode = 0;
    e.radKaitenKaku = 0.0;
    e.dBairitsu = defaultScale;
}

bool ObjectReader::ReadMoji(TEntJwwMoji& e) {
    TEntJwwMojiFixed fixed;
    if (ReadFixed(&fixed, kMojiFixedSize) == 0) return false;
    RepairTextSize(fixed);
    static_cast<TEntJwwMojiFixed&>(e) = fixed;
    e.strFontName = doc_.ReadCleanString(r);
    e.str = doc_.ReadCleanString(r);
    return true;
}

bool ObjectReader::ReadSunpo(TEntJwwSunpo& s) {
    s.att = doc_.ReadAttr(r);
    ReadFixed(&s.Sen, kLineSize);
    if (!ReadMoji(s.Moji)) return false;
    if (ver_ < kVerSxf) {
        FillOldSxf(s);
        return true;
    }
    s.bSxfMode = r.value(s.bSxfMode);
    r.read(&s.Ho1, kLineSize);
    r.read(&s.Ho2, kLineSize);
    for (TEntJwwTen* p : {&s.Te1, &s.Te2, &s.Kt1}) {
        r.read(p, kTenSize);
        ReadTenOptions(*p, 0.0);
    }
    if (r.read(&s.Kt2, kTenSize) == 0) return false;
    ReadTenOptions(s.Kt2, 0.0);
    return true;
}

bool ObjectReader::ReadSolid(TEntJwwSolid& e) {
    if (ReadFixed(&e, kSolidSize) == 0) return false;
    if (e.att.nPenColor == kSolidOwnColor)
        r.read(BytesOf(e) + kSolidSize, kSolidColorSize);
    else
        e.Color = 0;
    return true;
}

bool ObjectReader::ReadBlock(TEntJwwBlock& e) { return ReadFixed(&e, kBlockSize) > 0; }

// ---- Writing ------------------------------------------------------------------------

ObjectWriter::ObjectWriter(const TJwwData& doc, ByteWriter& w, int32_t ver, JwwClassMap& map,
                           const BlockNumberMap& numbers)
    : w(w), ver(ver), map(map), numbers(numbers), doc_(doc) {}

namespace {

size_t KindCount(const EntityView& v, int kind) {
    switch (kind) {
    case kKindLine: return v.line.size();
    case kKindEnko: return v.enko.size();
    case kKindTen: return v.ten.size();
    case kKindMoji: return v.moji.size();
    case kKindSunpo: return v.sunpo.size();
    case kKindSolid: return v.solid.size();
    case kKindBlock: return v.block.size();
    default: return 0;
    }
}

// An order entry is written when its kind is 1..7 and its index lies below
// the count of that kind; (0, 0) tail entries and stale entries are skipped.
bool IsWritten(const EntityView& v, const TEntJwwNo& e) {
    return e.EntNo >= 0 && static_cast<size_t>(e.EntNo) < KindCount(v, e.EntType);
}

}  // namespace

// Below 420 a dimension has no SXF part of its own; one that carries SXF data
// (loaded from 420 or later) gets its two lines and four points written as
// separate objects behind it.
bool ObjectWriter::SplitsSxf(const TEntJwwSunpo& s) const {
    return ver < kVerSxf && doc_.Enthd.jwVer >= kVerSxf && s.bSxfMode != 0;
}

uint64_t ObjectWriter::Count(const EntityView& v) const {
    uint64_t n = 0;
    for (const TEntJwwNo& e : v.order) {
        if (!IsWritten(v, e)) continue;
        n += (e.EntType == kKindSunpo && SplitsSxf(v.sunpo[e.EntNo])) ? 7 : 1;
    }
    return n;
}

void ObjectWriter::WriteTag(int kind) {
    int64_t& classIndex = map.classIndex[kind];
    if (classIndex == 0) {
        TJwwData::WriteNewClass(w, ver, kind);
        classIndex = map.index++;
    } else {
        TJwwData::WriteClassRef(w, classIndex);
    }
}

void ObjectWriter::WriteList(const EntityView& v) { WriteRange(v, 0, v.order.size()); }

void ObjectWriter::WriteRange(const EntityView& v, size_t begin, size_t end) {
    for (size_t k = begin; k < end; ++k) {
        const TEntJwwNo& e = v.order[k];
        if (!IsWritten(v, e)) continue;
        WriteTag(e.EntType);
        WriteObject(v, e.EntType, static_cast<size_t>(e.EntNo));
        ++map.index;
        if (e.EntType == kKindSunpo && SplitsSxf(v.sunpo[e.EntNo])) WriteSxfObjects(v.sunpo[e.EntNo]);
    }
}

void ObjectWriter::WriteObject(const EntityView& v, int kind, size_t i) {
    switch (kind) {
    case kKindLine: WriteLine(v.line[i]); break;
    case kKindEnko: WriteEnko(v.enko[i]); break;
    case kKindTen: WriteTen(v.ten[i], v.ten[i].bKariten); break;
    case kKindMoji: WriteMoji(v.moji[i]); break;
    case kKindSunpo: WriteSunpo(v.sunpo[i]); break;
    case kKindSolid: WriteSolid(v.solid[i]); break;
    case kKindBlock: WriteBlock(v.block[i]); break;
    default: break;
    }
}

void ObjectWriter::WriteSxfObjects(const TEntJwwSunpo& s) {
    for (const TEntJwwLine* l : {&s.Ho1, &s.Ho2}) {
        WriteTag(kKindLine);
        WriteLine(*l);
        ++map.index;
    }
    // The two auxiliary points go out as temporary points.
    const std::pair<const TEntJwwTen*, uint32_t> points[] = {
        {&s.Te1, uint32_t{s.Te1.bKariten}}, {&s.Te2, uint32_t{s.Te2.bKariten}}, {&s.Kt1, 1}, {&s.Kt2, 1}};
    for (const auto& [p, kariten] : points) {
        WriteTag(kKindTen);
        WriteTen(*p, kariten);
        ++map.index;
    }
}

// Every body writes its attribute through WriteAttr (conversions for older
// versions, validation), then the rest of its fixed part as it stands in
// memory, which is the on-disk form.

void ObjectWriter::WriteLine(const TEntJwwLine& e) {
    TJwwData::WriteAttr(w, ver, e.att, kKindLine);
    w.write(BytesOf(e) + kAttrSize, kLineSize - kAttrSize);
}

void ObjectWriter::WriteEnko(const TEntJwwEnko& e) {
    TJwwData::WriteAttr(w, ver, e.att, kKindEnko);
    w.write(BytesOf(e) + kAttrSize, kEnkoSize - kAttrSize);
}

void ObjectWriter::WriteTen(const TEntJwwTen& e, uint32_t bKariten) {
    TJwwData::WriteAttr(w, ver, e.att, kKindTen);
    w.write(BytesOf(e) + kAttrSize, 16);  // start_x, start_y
    w.u32(bKariten);
    if (e.att.nPenStyle == kPointStyleWithCode) w.write(BytesOf(e) + kTenSize, kTenOptSize);
}

void ObjectWriter::WriteMojiFixed(const TEntJwwMojiFixed& m) {
    TJwwData::WriteAttr(w, ver, m.att, kKindMoji);
    w.write(BytesOf(m) + kAttrSize, 36);  // start, end, nMojiShu
    w.f64(TextSizeForOutput(m.dSizeX));
    w.f64(TextSizeForOutput(m.dSizeY));
    w.write(BytesOf(m) + 67, 16);  // dKankaku, degKakudo
}

// The text of a text or dimension as it goes out: through `forOutput` when an
// output option rewrites texts, otherwise only cleaned.
void ObjectWriter::WriteText(std::u16string_view text, TextForOutput forOutput) {
    if (doc_.FileOutOpt & kTextRewriting)
        doc_.WriteArchiveString(w, forOutput(text, doc_.FileOutOpt));
    else
        doc_.WriteStoredString(w, text);
}

void ObjectWriter::WriteMoji(const TEntJwwMoji& e) {
    WriteMojiFixed(e);
    doc_.WriteStoredString(w, e.strFontName);
    WriteText(e.str, MojiTextForOutput);
}

void ObjectWriter::WriteSunpo(const TEntJwwSunpo& s) {
    TJwwData::WriteAttr(w, ver, s.att, kKindSunpo);
    WriteLine(s.Sen);
    WriteMojiFixed(s.Moji);
    doc_.WriteStoredString(w, s.Moji.strFontName);
    WriteText(s.Moji.str, SunpoTextForOutput);
    if (ver < kVerSxf) return;
    w.u16(s.bSxfMode);
    WriteLine(s.Ho1);
    WriteLine(s.Ho2);
    for (const TEntJwwTen* p : {&s.Te1, &s.Te2, &s.Kt1, &s.Kt2}) WriteTen(*p, p->bKariten);
}

void ObjectWriter::WriteSolid(const TEntJwwSolid& e) {
    TJwwData::WriteAttr(w, ver, e.att, kKindSolid);
    w.write(BytesOf(e) + kAttrSize, kSolidSize - kAttrSize);
    if (e.att.nPenColor == kSolidOwnColor) w.u32(e.Color);
}

void ObjectWriter::WriteBlock(const TEntJwwBlock& e) {
    TJwwData::WriteAttr(w, ver, e.att, kKindBlock);
    w.write(BytesOf(e) + kAttrSize, kBlockSize - kAttrSize - 4);  // point, scales, rotation
    if (patches) {
        patches->push_back({w.written(), e.nNumber});
        w.u32(e.nNumber);
    } else {
        w.u32(numbers(e.nNumber));
    }
}

// ---- The streamed entity section -----------------------------------------------------

namespace {
// The elements of kind k published so far (`arrays` held).
template <class T>
std::span<const T> Published(const EntityStream& s, int k) {
    return {static_cast<const T*>(s.base[k]),
            static_cast<size_t>(std::max(s.kindN[k].load(std::memory_order_acquire), 0))};
}
}  // namespace

StreamEnd StreamEntityList(const TJwwData& doc, ByteWriter& w, int32_t ver, JwwClassMap& map, EntityStream& s,
                           std::vector<ObjectWriter::NumberPatch>& patches, uint32_t batch, bool unicodeOut) {
    const BlockNumberMap none;
    ObjectWriter out(doc, w, ver, map, none);
    out.patches = &patches;
    size_t done = 0;
    for (;;) {
        const uint64_t p = s.progress.load(std::memory_order_acquire);
        if (p & EntityStream::kFailed) return StreamEnd::Failed;
        if ((p & EntityStream::kUnicode) && !unicodeOut) return StreamEnd::Unicode;
        if (!w.ok()) return StreamEnd::WriteFailed;
        const size_t avail = static_cast<size_t>(p & EntityStream::kCountMask);
        if (done == avail) {
            if (p & EntityStream::kListDone) return StreamEnd::Done;
            s.progress.wait(p, std::memory_order_acquire);
            continue;
        }
        const size_t end = std::min(avail, done + batch);
        std::lock_guard hold(s.arrays);  // the elements stay where `base` says
        const EntityView view{{static_cast<const TEntJwwNo*>(s.base[0]), end},
                              Published<TEntJwwLine>(s, kKindLine),
                              Published<TEntJwwEnko>(s, kKindEnko),
                              Published<TEntJwwTen>(s, kKindTen),
                              Published<TEntJwwMoji>(s, kKindMoji),
                              Published<TEntJwwSunpo>(s, kKindSunpo),
                              Published<TEntJwwSolid>(s, kKindSolid),
                              Published<TEntJwwBlock>(s, kKindBlock)};
        out.WriteRange(view, done, end);
        done = end;
    }
}

// ---- Strings and sizes on output --------------------------------------------------

std::u16string SunpoTextForOutput(std::u16string_view text, int32_t opt) {
    std::u16string s = CleanStoredText(text);
    if (opt & kOptTextSubstitution) ApplyTextSubstitution(s);
    return s;
}

std::u16string MojiTextForOutput(std::u16string_view text, int32_t opt) {
    static constexpr std::u16string_view kImage = u"^@BM";
    static constexpr std::u16string_view kImageTemp = u"^@BM%temp%";
    std::u16string s = SunpoTextForOutput(text, opt);
    if ((opt & kOptImageDropTemp) && s.starts_with(kImageTemp))
        s = std::u16string(kImage) + s.substr(kImageTemp.size());
    if ((opt & kOptImageFileNameOnly) && s.starts_with(kImage)) {
        const size_t comma = s.find(u',');
        if (comma != std::u16string::npos)
            s = std::u16string(kImage) + ExtractFileNameSafe(s.substr(kImage.size(), comma - kImage.size())) +
                s.substr(comma);
    }
    return s;
}

double TextSizeForOutput(double d) {
    const double a = d < 0 ? -d : d;
    if (!(a >= 1e-10)) return 1e-10;  // also NaN
    return a > 1e10 ? 1e10 : a;
}

}  // namespace morvane::jwwobj

namespace morvane {

void TJwwData::ReadEntitySection(ByteReader& r, JwwClassMap& map, jwwobj::EntityStream* stream) {
    const uint64_t at = r.position();
    const uint32_t count = ReadObjectCount(r);
    jwwobj::CheckCountFits(r, at, count, jwwobj::MinObjectBytes(Enthd.jwVer), "entity count");
    Enthd.n1 = static_cast<int32_t>(count);
    EntNo.clear();
    ReserveLarge(EntNo, count);
    EntNo.resize(count);
    EntBlockDefN = 0;
    Enthd.n2 = 0;
    map = JwwClassMap{};
    jwwobj::EntityArrays arrays = jwwobj::TopLevelArrays(*this);
    jwwobj::ObjectReader in(*this, r, map);
    if (stream) {
        in.SetStream(stream);
        stream->Rebase(arrays);  // arrays kept from an earlier drawing may never move
        stream->onCount(r.size());
    }
    in.ReadList(count, arrays);
    if (stream) {
        {
            std::lock_guard hold(stream->arrays);
            jwwobj::TrimArrays(arrays);
            stream->Rebase(arrays);
        }
        stream->Raise(jwwobj::EntityStream::kListDone);
    } else {
        jwwobj::TrimArrays(arrays);
    }
}

void TJwwData::WriteEntitySection(ByteWriter& w, int32_t Ver, JwwClassMap& map) const {
    map = JwwClassMap{};
    const jwwobj::BlockNumberMap numbers(*this);
    jwwobj::ObjectWriter out(*this, w, Ver, map, numbers);
    const jwwobj::EntityView view = jwwobj::TopLevelView(*this);
    WriteObjectCount(w, static_cast<uint32_t>(out.Count(view)));
    out.WriteList(view);
}

}  // namespace morvane
