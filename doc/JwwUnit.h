// TJwwData: one JWW drawing held in memory, with its loading and saving.
//
// File layout: header section, entity section, block definition section and,
// from version 700, the bound-image section. Each section has its reader and
// writer in a file of its own (JwwHeader.cpp, JwwEntities.cpp, JwwBlocks.cpp,
// JwwBindImage.cpp); JwwArchive.cpp holds the archive forms they are built
// from (strings, counts, class tags, the attribute) and JwwFile.cpp the drivers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "doc/ByteReader.h"
#include "doc/ByteWriter.h"
#include "doc/jwwtype.h"

namespace morvane {

// Messages of the errors raised inside the section readers.
inline constexpr const char* kFileIoError = "File I/O Error";
inline constexpr const char* kHeaderError = "JWW-Header Error";
inline constexpr const char* kVersionError = "JWW-Version Error";

// Input/output error raised inside the readers and writers; the whole-file
// operations catch it and keep it as the reason of their false result.
class JwwIoError : public std::runtime_error {
public:
    JwwIoError(const char* message, uint64_t offset, std::string detail = {})
        : std::runtime_error(message), offset(offset), detail(std::move(detail)) {}
    uint64_t offset;     // byte offset in the file where the check failed
    std::string detail;  // which check, in words (English)
};

// Why the last FileIn / FileOut / FileHeaderIn failed.
struct JwwFailure {
    bool failed = false;
    std::string message;  // "File I/O Error", "JWW-Header Error", ... or a system error text
    std::string detail;   // which check failed
    bool hasOffset = false;
    uint64_t offset = 0;
    // One line for a log or stderr, e.g. "File I/O Error: tag past the end of the file at byte 1234".
    std::string Describe() const;
};

// Output option bits (FileOutOpt).
inline constexpr int kOptImageFileNameOnly = 0x01;  // "^@BM<path>," keeps only the file name
inline constexpr int kOptImageDropTemp = 0x08;      // "^@BM%temp%x" is written as "^@BMx"
inline constexpr int kOptTextSubstitution = 0x10;   // ApplyTextSubstitution on texts
inline constexpr int kOptUnicode = 0x20;            // every string in the UTF-16 form

// Version thresholds of the format.
inline constexpr int32_t kMinVersion = 220;
inline constexpr int32_t kMaxVersion = 700;
inline constexpr int32_t kVerAttrWidth = 351;  // attribute carries nPenWidth
inline constexpr int32_t kVerSxf = 420;        // extended colours/line types, SXF dimensions
inline constexpr int32_t kVerPrintDpi = 600;   // print option packs nPrtDpi
inline constexpr int32_t kVerImages = 700;     // bound-image section (written when V > 699)

// Bounds against hostile input.
inline constexpr int64_t kMaxBlockTreeNodes = 2'000'000;  // ~240 MB of nodes; real drawings stay far below
// Every node keeps its definition's name: a name of 65,535 characters in a
// definition inserted a million times would ask for a hundred gigabytes.
inline constexpr uint64_t kMaxBlockTreeNameBytes = 128ull << 20;
// The unpacked bound images of one drawing together. Far above what a drawing
// shows; the saved drawing carries the packed files, never the unpacked ones,
// so a bomb cut short loses nothing but costs no more than this on the disk.
inline constexpr uint64_t kMaxUnpackedImage = 128ull << 20;  // unpacks in about a second
// Image files one load writes into the working folder. An entry costs the
// drawing nine bytes and the disk a whole block and an inode: a 1 MB drawing
// of one-byte images would otherwise leave 100,000 files taking 400 MB.
inline constexpr size_t kMaxImageFiles = 10'000;
// From this size on a conversion saves the entity list on a second thread
// while it is read. Below it, starting the thread costs more than the
// overlap gives back (and a batch of small drawings keeps its cores busy anyway).
inline constexpr uint64_t kStreamMinBytes = 8ull << 20;
inline constexpr size_t kMaxClassNameLength = 2047;          // the reader's 2048-byte work buffer

// The running class map of one load or one save, shared by the entity and the
// block-definition sections. Map indices start at 1; a class that has not been
// seen yet has index 0.
struct JwwClassMap {
    int64_t index = 1;
    int64_t classIndex[9] = {};  // by kind 1..8 (8 = "CDataList")
    // The kind whose class holds map index i, or 0 when none does.
    int KindOf(int64_t i) const {
        for (int k = 1; k <= 8; ++k)
            if (classIndex[k] != 0 && classIndex[k] == i) return k;
        return 0;
    }
};

// Class names by kind (index 0 unused).
inline constexpr const char* kClassNames[9] = {"",          "CDataSen",    "CDataEnko",
                                               "CDataTen",  "CDataMoji",   "CDataSunpou",
                                               "CDataSolid", "CDataBlock", "CDataList"};

// A bound image's name that, appended to BindImageFolder, stays a file
// directly inside it. Names come from untrusted drawings; no other name is
// ever turned into a path.
bool IsSafeImageName(std::u16string_view name);

namespace jwwobj {
struct EntityStream;
}

class TJwwData {
public:
    TJwwData();
    virtual ~TJwwData();
    TJwwData(const TJwwData&) = delete;
    TJwwData& operator=(const TJwwData&) = delete;

    // Empties the document and gives the header its defaults. Keeps
    // BindImageFolder, BindImageExp, BindImageExr and the extents.
    void DataInit();
    // Releases the block definitions' nested arrays, then DataInit.
    void DataFree();
    // Gives the nine tables their fixed sizes with empty entries, as the header
    // reader does before its first byte (the writer indexes them at these sizes).
    void SizeTables();

    // ---- Whole-file operations (JwwFile.cpp) -----------------------------------
    bool FileIn(const std::u16string& FName);
    // Writes a new file of version Ver; the file appears complete or not at all
    // (written beside it under a temporary name, then moved into place,
    // replacing a file of that name).
    bool FileOut(const std::u16string& FName, int32_t Ver);
    // Like FileOut, but never replaces an existing file: when FName is taken by
    // the time the file is moved into place, the next free name
    // (MakeUniqueFileName) is taken instead. savedAs receives the name used.
    bool FileOutNew(const std::u16string& FName, int32_t Ver, std::u16string* savedAs);
    // FileIn of `source` and FileOutNew of it to `FName` at once, with the
    // same output: for a large drawing the entity section is saved on a
    // second thread while it is being read. After the header, `afterHeader`
    // makes whatever changes the header and pen table are to get (the save
    // sees them as it leaves them); the output writes every string in the
    // UTF-16 form when `unicode` or when the drawing has such a string. Once
    // the whole drawing is read, `afterLoad` runs on this thread while the
    // save finishes; it must not change what the save writes. A load that
    // fails (or an afterLoad that throws) leaves no output.
    enum class PipeResult { Ok, LoadFailed, SaveFailed };
    PipeResult FileInSaveNew(const std::u16string& source, const std::u16string& dest, int32_t Ver, bool unicode,
                             const std::function<void()>& afterHeader, const std::function<void()>& afterLoad,
                             std::u16string* savedAs);
    void SetFileOutOption(int n);
    bool FileCheck(const std::u16string& FName) const;
    bool FileHeaderIn(const std::u16string& FName);
    // The reason of the last failed FileIn / FileOut / FileHeaderIn.
    const JwwFailure& LastFailure() const { return lastFailure_; }
    // Test hook: the next saves fail after this many bytes, as on a full disk.
    void SetWriteLimitForTest(uint64_t limit) { writeLimitForTest_ = limit; }
    // Test hook: refuses to link a new drawing's unnamed file into place, as a system
    // without /proc does: the save takes the way through a hidden named file.
    void SetRefuseLinkForTest(bool refuse) { refuseLinkForTest_ = refuse; }
    // When FileInSaveNew saves on a second thread: from drawings of `minBytes`
    // on; the loader hands over the objects read every `publishEvery`
    // objects, the save takes at most `batch` of them at a time.
    struct StreamTuning {
        uint64_t minBytes = kStreamMinBytes;
        uint32_t publishEvery = 4096;
        uint32_t batch = 4096;
        // Tests: the load waits (up to a second) for the second thread to
        // claim the block tree, which it otherwise makes only when it comes
        // to it before the load does.
        bool treeOnSecondThread = false;
    };
    // Test hook: other steps, or the second thread for drawings of any size.
    void SetStreamTuningForTest(const StreamTuning& t) {
        stream_ = t;
        stream_.publishEvery = std::max<uint32_t>(t.publishEvery, 1);
        stream_.batch = std::max<uint32_t>(t.batch, 1);
    }

    // ---- Block definitions (JwwBlocks.cpp) -------------------------------------
    void MakeBlockTree();
    uint32_t ChangeBlockNo(uint32_t n) const;

    // ---- Bound images (JwwBindImage.cpp) ---------------------------------------
    void BindImageInit();
    void BindImageExplode();
    void BindImagePack();
    void BindImageCopy(const std::u16string& dst);
    void BindImageDeleteFile();
    void BindImageDeleteGzFile();
    void BindImageDeleteNonGzFile();
    // False when the last load wrote no file for entry i (no data, a name it
    // refused, a failed write): the operations on the image files pass such
    // an entry by without a system call. True for entries a load did not make.
    bool ImageFileMayExist(size_t i) const { return i >= imageFiles_.size() || imageFiles_[i] == 0; }
    // Test hook: BindImageExplode gives up on an image that would take the
    // drawing's unpacked images past this many bytes in all
    // (kMaxUnpackedImage otherwise).
    void SetUnpackLimitForTest(uint64_t limit) { unpackLimit_ = limit; }
    // Test hook: the load writes at most this many image files (kMaxImageFiles otherwise).
    void SetImageFileLimitForTest(size_t limit) { imageFileLimit_ = limit; }

    // ---- Archive forms (JwwArchive.cpp), used by the sections and by tests -----
    std::u16string ReadArchiveString(ByteReader& r);
    std::u16string ReadCleanString(ByteReader& r);
    void WriteArchiveString(ByteWriter& w, std::u16string_view text) const;
    // The text through CleanStoredText; one that cleaning leaves as it is (most
    // texts) is written without a copy.
    void WriteStoredString(ByteWriter& w, std::u16string_view text) const;
    // Object count: WORD, or 0xFFFF and a DWORD. Raises "File I/O Error" when
    // its first two bytes cannot be read.
    static uint32_t ReadObjectCount(ByteReader& r);
    static void WriteObjectCount(ByteWriter& w, uint32_t count);
    static void WriteClassRef(ByteWriter& w, int64_t index);
    // New-class tag: 0xFFFF, schema (low 16 bits of Ver), name length, name.
    static void WriteNewClass(ByteWriter& w, int32_t Ver, int kind);
    TEntJwwAttr ReadAttr(ByteReader& r) const;
    static void WriteAttr(ByteWriter& w, int32_t Ver, const TEntJwwAttr& a, int kind);
    static void CopyAttr(const TEntJwwAttr& src, TEntJwwAttr& dst) { dst = src; }

    // ---- Sections ------------------------------------------------------------------
    bool ReadHeader(ByteReader& r);                      // JwwHeader.cpp
    void WriteHeader(ByteWriter& w, int32_t Ver);        // JwwHeader.cpp
    void ReadEntitySection(ByteReader& r, JwwClassMap& map,
                           jwwobj::EntityStream* stream = nullptr);        // JwwEntities.cpp
    void WriteEntitySection(ByteWriter& w, int32_t Ver, JwwClassMap& map) const;
    void ReadBlockDefSection(ByteReader& r, JwwClassMap& map);             // JwwBlocks.cpp
    void WriteBlockDefSection(ByteWriter& w, int32_t Ver, JwwClassMap& map) const;
    void ReadBindImageSection(ByteReader& r);            // JwwBindImage.cpp
    // Marks the images to write (exf) and writes the section; false when an
    // image file turned unreadable midway (the save must then fail).
    bool WriteBindImageSection(ByteWriter& w);

    // ---- Data -------------------------------------------------------------------------
    TEntJwwHeader Enthd;
    std::vector<TEntJwwLayerGroup> EntLgrp;   // 16
    std::vector<TEntJwwLayer> EntLay;         // 256: group g, layer l at g * 16 + l
    std::vector<TEntJwwColorNo> EntCol;       // 10: 0 background, 1..8 pens, 9 grey
    std::vector<TEntJwwLineTypeNo> EntLtp1;   // 8
    std::vector<TEntJwwRandomLineNo> EntLtp2; // 5
    std::vector<TEntJwwLineTypeNo> EntLtp3;   // 4
    std::vector<TEntJwwColorExNo> EntColS;    // 257
    std::vector<TEntJwwLineTypeExNo> EntLtpS; // 33
    std::vector<TEntJwwMojiType> EntMoj;      // 10

    std::vector<TEntJwwNo> EntNo;  // Enthd.n1 entries
    std::vector<TEntJwwLine> EntLine;
    int32_t EntLineN = 0;
    std::vector<TEntJwwEnko> EntEnko;
    int32_t EntEnkoN = 0;
    std::vector<TEntJwwTen> EntTen;
    int32_t EntTenN = 0;
    std::vector<TEntJwwMoji> EntMoji;
    int32_t EntMojiN = 0;
    std::vector<TEntJwwSunpo> EntSunpo;
    int32_t EntSunpoN = 0;
    std::vector<TEntJwwSolid> EntSolid;
    int32_t EntSolidN = 0;
    std::vector<TEntJwwBlock> EntBlock;
    int32_t EntBlockN = 0;
    std::vector<TEntJwwBlockDef> EntBlockDef;
    int32_t EntBlockDefN = 0;
    std::vector<TEntJwwBlockTree> EntBlockTree;
    int32_t EntBlockTreeN = 0;
    int32_t EntBlockNum = 0;

    // Ends in a separator. Empty: the document has no folder, and no image
    // file is created, read or deleted (shown images then fail the save).
    std::u16string BindImageFolder;
    std::vector<TBindImageType> BindImage;
    int32_t BindImageN = 0;
    bool BindImageExp = false;
    bool BindImageExr = false;

    int32_t FileOutOpt = 0;
    int32_t FontNameN = 0;
    std::vector<std::u16string> FontNames;
    bool MojiEncode = false;
    double myMinWx = 0, myMinWy = 0, myMaxWx = 0, myMaxWy = 0;

    // The two lines of the memo of the drawing loaded last, split at its first
    // CR LF. Held per document (not per process) so that documents converted on
    // several threads never share them.
    std::u16string MemoLine1;
    std::u16string MemoLine2;

private:
    bool SaveTo(const std::u16string& FName, int32_t Ver, bool replace, std::u16string* savedAs);
    // FileIn, handing the entity list to `stream` while it is read (when
    // given) and calling `afterHeader` once the header is read (when given).
    bool Load(const std::u16string& FName, jwwobj::EntityStream* stream, const std::function<void()>& afterHeader);
    void SetFailure(const char* message, std::string detail, bool hasOffset, uint64_t offset);
    bool LostInput(const ByteReader& r);

    JwwFailure lastFailure_;
    uint64_t writeLimitForTest_ = UINT64_MAX;
    bool refuseLinkForTest_ = false;
    uint64_t unpackLimit_ = kMaxUnpackedImage;
    size_t imageFileLimit_ = kMaxImageFiles;
    StreamTuning stream_;
    // Per entry of the last load, what became of its file: 0 written; else
    // none, with the reason (an errno, or one of the codes of
    // JwwBindImage.cpp, among them "no data to write"). The operations on the
    // image files pass entries without a file by, so that a hostile list of
    // millions costs no system call each; a save that would keep an image
    // the load failed to write fails instead of leaving it out. A code, not a
    // message: such a list must not cost a message each either.
    std::vector<int32_t> imageFiles_;
};

}  // namespace morvane
