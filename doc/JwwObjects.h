// Internal to the entity and block-definition sections: the reader and writer
// of one archived entity list. The entity section holds one such list (the
// document's EntLine ... EntBlock and EntNo); every block definition holds
// another (its mLine ... mBlock and mNo). Both lists share one class map.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "doc/JwwUnit.h"

namespace morvane::jwwobj {

// The arrays a list is read into, with their counts and the order list.
struct EntityArrays {
    std::vector<TEntJwwNo>& order;  // sized to the object count beforehand
    std::vector<TEntJwwLine>& line;
    int32_t& lineN;
    std::vector<TEntJwwEnko>& enko;
    int32_t& enkoN;
    std::vector<TEntJwwTen>& ten;
    int32_t& tenN;
    std::vector<TEntJwwMoji>& moji;
    int32_t& mojiN;
    std::vector<TEntJwwSunpo>& sunpo;
    int32_t& sunpoN;
    std::vector<TEntJwwSolid>& solid;
    int32_t& solidN;
    std::vector<TEntJwwBlock>& block;
    int32_t& blockN;
    // Inside a block definition: texts and dimensions grow in steps of 500
    // instead of 1000, and a point without its optional fields gets the scale
    // 0 instead of 1.0.
    bool nested;
};

EntityArrays TopLevelArrays(TJwwData& doc);
EntityArrays NestedArrays(TEntJwwBlockDef& def);

// Cuts the arrays to their counts once a list has been read.
void TrimArrays(EntityArrays& a);

// What a list is written from. Each span holds the elements below its count,
// the order span the entries to walk (n1 or N of them).
struct EntityView {
    std::span<const TEntJwwNo> order;
    std::span<const TEntJwwLine> line;
    std::span<const TEntJwwEnko> enko;
    std::span<const TEntJwwTen> ten;
    std::span<const TEntJwwMoji> moji;
    std::span<const TEntJwwSunpo> sunpo;
    std::span<const TEntJwwSolid> solid;
    std::span<const TEntJwwBlock> block;
};

EntityView TopLevelView(const TJwwData& doc);
EntityView NestedView(const TEntJwwBlockDef& def);

// Fails the load when `count` objects of at least `minBytes` bytes each (the
// last one cut short to three) cannot fit in what the input still holds. Called before anything is sized from a
// count, so that a hostile count never allocates.
void CheckCountFits(const ByteReader& r, uint64_t at, uint64_t count, uint64_t minBytes, const char* what);

// The fewest bytes one archived entity can take in a file of this version:
// a class reference and the shortest body (a point).
uint64_t MinObjectBytes(int32_t ver);

// The top-level entity list as the loader hands it to a writer on another
// thread while it is still being read (TJwwData::FileInSaveNew).
//
// The loader publishes, every `publishEvery` objects, how many elements of
// each kind are complete and then how many order entries are filled (each a
// release store behind the elements it counts). Whenever an array moves (it
// grows, or is trimmed at the end of the list) the loader holds `arrays` and
// records where the elements now are; it takes the lock for nothing else, so
// that it never waits for the writer but while an array moves, a few times a
// list. The writer reads `progress` and the counts (acquire), then holds
// `arrays` for a batch and reads only the published elements through the
// recorded addresses: it never touches the vectors themselves, which the
// loader goes on resizing within their room.
struct EntityStream {
    static constexpr uint64_t kCountMask = 0xFFFFFFFFu;
    static constexpr uint64_t kListDone = uint64_t{1} << 32;  // the count is final
    static constexpr uint64_t kLoadDone = uint64_t{1} << 33;  // the rest of the file is read too
    static constexpr uint64_t kFailed = uint64_t{1} << 34;    // the load failed
    static constexpr uint64_t kUnicode = uint64_t{1} << 35;   // a string in the UTF-16 form was read
    // The block definitions are read: the entities and the definitions, all
    // that the block tree is made of, do not change any more.
    static constexpr uint64_t kBlocksDone = uint64_t{1} << 36;
    static constexpr uint64_t kTreeDone = uint64_t{1} << 37;  // the writer made the tree (treeFailure tells how)

    std::mutex arrays;
    // Under `arrays`: where the elements of the order (index 0) and of kinds
    // 1..7 are.
    const void* base[8] = {};
    // Of each kind, how many elements were complete at the last publication.
    std::atomic<int32_t> kindN[8] = {};
    std::atomic<uint64_t> progress{0};
    uint32_t publishEvery = 4096;
    // Called by the loader once the entity count is known and the order array
    // sized, before the first object is read, with the size of the drawing.
    std::function<void(uint64_t fileSize)> onCount;

    // Loader side. Rebase records where the arrays are, with `arrays` held
    // (or before the writer starts).
    void Publish(uint32_t filled, const EntityArrays& a, bool unicode);
    void Rebase(const EntityArrays& a);
    void Raise(uint64_t flags) {
        progress.fetch_or(flags, std::memory_order_release);
        progress.notify_all();
    }
    // Waits until one of `flags` is raised; gives the progress then.
    uint64_t WaitFor(uint64_t flags) {
        for (;;) {
            const uint64_t p = progress.load(std::memory_order_acquire);
            if (p & flags) return p;
            progress.wait(p, std::memory_order_acquire);
        }
    }

    // The block tree is made by whichever side comes to it first once the
    // definitions are read: the writer, idle while the loader reads the
    // images, or the loader at the end of the load. True for the first caller.
    bool ClaimTree() { return !treeClaimed.exchange(true, std::memory_order_acq_rel); }
    std::atomic<bool> treeClaimed{false};
    // Set by the writer before it raises kTreeDone.
    JwwFailure treeFailure;
    // The tuning of the same name (tests): the loader waits for the writer to claim the tree.
    bool treeOnSecondThreadForTest = false;
};

// Reads entity lists; the class map runs on from list to list.
class ObjectReader {
public:
    ObjectReader(TJwwData& doc, ByteReader& r, JwwClassMap& map);
    void SetStream(EntityStream* s) { stream_ = s; }

    // Reads `count` objects into `a`, filling a.order from its front.
    void ReadList(uint32_t count, EntityArrays& a);

    // Reads a fixed part whose version-351 size is `size` into dst: in one
    // piece from 351 on; before 351 the attribute lacks nPenWidth, so bytes
    // 0-6 go to offsets 0-6 and the rest to offsets 9 onward. Gives the
    // number of bytes delivered.
    // Inline, so that each body's copy has its size fixed at compile time.
    [[gnu::always_inline]] size_t ReadFixed(void* dst, size_t size) {
        if (ver_ >= kVerAttrWidth) {
            if (const uint8_t* at = r.take(size)) {
                std::memcpy(dst, at, size);
                return size;
            }
            return r.read(dst, size);
        }
        return ReadFixedWithoutWidth(static_cast<uint8_t*>(dst), size);
    }

    // Reads a 16-bit tag word; fails the load when the input has ended.
    uint16_t ReadTagWord() {
        const uint64_t at = r.position();
        size_t got = 0;
        const uint16_t t = r.value<uint16_t>(0, &got);
        if (got < 2) TagPastEnd(at);
        return t;
    }
    // Reads the DWORD of a long class reference, with the same check.
    uint32_t ReadTagDword();
    // Reads the rest of a new-class tag (schema, name length, name) and gives
    // the kind 1..8 its name stands for, or 0 for an unknown name.
    int ReadClassName(uint64_t tagAt, std::u16string* name);

    ByteReader& r;
    JwwClassMap& map;

private:
    size_t ReadFixedWithoutWidth(uint8_t* p, size_t size);
    [[noreturn]] static void TagPastEnd(uint64_t at);
    int ReadEntityTag();
    bool ReadBody(int kind, EntityArrays& a, int32_t& index);
    bool ReadLine(TEntJwwLine& e);
    bool ReadEnko(TEntJwwEnko& e);
    bool ReadTen(TEntJwwTen& e, double defaultScale);
    void ReadTenOptions(TEntJwwTen& e, double defaultScale);
    bool ReadMojiFixed(TEntJwwMojiFixed& m);
    bool ReadMoji(TEntJwwMoji& e);
    bool ReadSunpo(TEntJwwSunpo& s);
    bool ReadSolid(TEntJwwSolid& e);
    bool ReadBlock(TEntJwwBlock& e);

    TJwwData& doc_;
    int32_t ver_;
    EntityStream* stream_ = nullptr;  // set while the top-level list is read for a streamed save
    size_t capacityLimit_ = 0;  // of any array of the list being read
    uint32_t listCount_ = 0;    // objects in that list
    uint32_t read_ = 0;         // of them read so far, the current one included
    uint32_t firstRead_[kKindBlockDef + 1] = {};  // per kind: where in that list its first object stood
};

// Block numbers come from untrusted files: a hash table keyed by them could be
// made to put every number into one bucket (minutes for a drawing of a few
// megabytes), so the numbers are looked up in a sorted table, or straight by
// number when they are as dense as drawings number their blocks (0, 1, 2 ...).
class FirstByNumber {
public:
    // Adds the value of the next definition; for a number added before, the
    // first value stays.
    void Add(uint32_t number, uint32_t value) { entries_.push_back({number, value}); }
    // Sorts once every definition is added.
    void Seal();
    // The value of the first definition with `number`, if any.
    const uint32_t* Find(uint32_t number) const;

private:
    struct Entry {
        uint32_t number, value;
    };
    std::vector<Entry> entries_;
    std::vector<uint32_t> dense_;  // by number: 1 + the entry's position, 0 for none; empty when sparse
};

// ChangeBlockNo for every number, looked up instead of searched: built once
// per save, it gives the same numbers.
class BlockNumberMap {
public:
    BlockNumberMap() = default;  // no definitions: every number maps to 0
    explicit BlockNumberMap(const TJwwData& doc);
    uint32_t operator()(uint32_t n) const {
        const uint32_t* saved = saved_.Find(n);
        return saved ? *saved : unknown_;
    }

private:
    FirstByNumber saved_;
    uint32_t unknown_ = 0;  // for numbers no definition has: the count of reached definitions
};

// Writes entity lists in output version `ver`; the class map runs on.
class ObjectWriter {
public:
    ObjectWriter(const TJwwData& doc, ByteWriter& w, int32_t ver, JwwClassMap& map,
                 const BlockNumberMap& numbers);

    // The object count a list is written with: one per valid order entry,
    // seven for a dimension whose SXF parts go out as objects of their own.
    uint64_t Count(const EntityView& v) const;
    void WriteList(const EntityView& v);
    // The order entries [begin, end) of v.
    void WriteRange(const EntityView& v, size_t begin, size_t end);
    // A block insert's number as written before the definitions are known:
    // its file offset and the stored number, to be mapped later.
    struct NumberPatch {
        uint64_t offset;
        uint32_t number;
    };
    // When set, inserts are written with their stored numbers and listed here.
    std::vector<NumberPatch>* patches = nullptr;
    // New-class tag at the first object of a class, a class reference after.
    void WriteTag(int kind);

    ByteWriter& w;
    const int32_t ver;
    JwwClassMap& map;
    const BlockNumberMap& numbers;

private:
    bool SplitsSxf(const TEntJwwSunpo& s) const;
    void WriteObject(const EntityView& v, int kind, size_t index);
    void WriteLine(const TEntJwwLine& e);
    void WriteEnko(const TEntJwwEnko& e);
    void WriteTen(const TEntJwwTen& e, uint32_t bKariten);
    void WriteMojiFixed(const TEntJwwMojiFixed& m);
    using TextForOutput = std::u16string (*)(std::u16string_view, int32_t);
    void WriteText(std::u16string_view text, TextForOutput forOutput);
    void WriteMoji(const TEntJwwMoji& e);
    void WriteSunpo(const TEntJwwSunpo& s);
    void WriteSxfObjects(const TEntJwwSunpo& s);
    void WriteSolid(const TEntJwwSolid& e);
    void WriteBlock(const TEntJwwBlock& e);

    const TJwwData& doc_;
};

// How a streamed entity list ended (StreamEntityList).
enum class StreamEnd { Done, Failed, Unicode, WriteFailed };

// Writes the objects of the top-level list as the loader publishes them,
// until the list is done (Done), the load failed (Failed), a UTF-16 string was
// read while `unicodeOut` is false (Unicode: the output is written in the
// wrong form and must start again) or a write failed. Inserts carry their
// stored numbers, listed in `patches`.
StreamEnd StreamEntityList(const TJwwData& doc, ByteWriter& w, int32_t ver, JwwClassMap& map, EntityStream& s,
                           std::vector<ObjectWriter::NumberPatch>& patches, uint32_t batch, bool unicodeOut);

// The text of a text entity as it is written: cleaned, then the FileOutOpt
// bits 0x10, 8 and 1 in that order. Dimension texts take only the cleaning
// and bit 0x10; font names and block names only the cleaning.
std::u16string MojiTextForOutput(std::u16string_view text, int32_t opt);
std::u16string SunpoTextForOutput(std::u16string_view text, int32_t opt);

// A character size as written: its magnitude, kept within 1e-10..1e10.
double TextSizeForOutput(double d);

}  // namespace morvane::jwwobj
