// Whole-file load and save: results and reasons of failed loads, the memo
// lines, the output options, the exact empty file, saves that are complete or
// absent, and load-save-load round trips of fixture and real drawings.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <filesystem>
#include <functional>

#include "doc/JwwUnit.h"
#include "tests/DocCompare.h"
#include "tests/DrawingFixture.h"
#include "tests/TestFiles.h"
#include "tests/UnnamedFiles.h"

using namespace morvane;
using namespace morvane::testfiles;
namespace fs = std::filesystem;

namespace {

constexpr size_t kEmptyHeaderSize = 16552;

// The bytes of an empty document (tables sized, nothing else) saved at `ver`.
Bytes EmptyDrawing(int32_t ver, const TempFolder& tmp) {
    TJwwData d;
    fixture::SizeTables(d);
    EXPECT_TRUE(d.FileOut(tmp.U16("empty.jww"), ver)) << d.LastFailure().Describe();
    Bytes b = ReadBytes(tmp / "empty.jww");
    fs::remove(tmp / "empty.jww");
    return b;
}

void SetVersion(Bytes& b, int32_t ver) {
    if (b.size() < 12) {
        ADD_FAILURE() << "no file to patch";
        return;
    }
    for (int i = 0; i < 4; ++i) b[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(ver) >> (8 * i));
}

std::vector<std::string> NonHidden(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& n : FolderNames(folder))
        if (n[0] != '.') out.push_back(n);
    return out;
}

}  // namespace

// ---- Loading --------------------------------------------------------------------------

struct BadFileCase {
    const char* label;
    std::function<void(const TempFolder&, const fs::path&)> make;  // writes the file (or not)
    const char* message;
    bool hasOffset;
    uint64_t offset;
    bool tablesSized;  // the header reader ran and sized the tables
};

class FileInRejects : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(FileInRejects, WithItsReasonAndKeepsThePreviousMemoLines) {
    const BadFileCase& c = GetParam();
    TempFolder tmp;
    const fs::path file = tmp / "bad.jww";
    c.make(tmp, file);
    TJwwData d;
    d.MemoLine1 = u"previous 1";
    d.MemoLine2 = u"previous 2";
    EXPECT_FALSE(d.FileIn(Utf8ToStr(file.string())));
    const JwwFailure& f = d.LastFailure();
    EXPECT_TRUE(f.failed);
    EXPECT_EQ(f.message, c.message) << f.Describe();
    EXPECT_EQ(f.hasOffset, c.hasOffset) << f.Describe();
    if (c.hasOffset) {
        EXPECT_EQ(f.offset, c.offset) << f.Describe();
    }
    EXPECT_EQ(d.EntLay.size(), c.tablesSized ? 256u : 0u);
    EXPECT_EQ(d.MemoLine1, u"previous 1");
    EXPECT_EQ(d.MemoLine2, u"previous 2");
    EXPECT_EQ(d.EntNo.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileInRejects,
    ::testing::Values(
        BadFileCase{"missing", [](auto&, auto&) {}, kFileIoError, false, 0, false},
        BadFileCase{"a folder", [](auto&, const fs::path& f) { fs::create_directory(f); }, kFileIoError, false, 0,
                    false},
        BadFileCase{"bad signature",
                    [](const TempFolder& t, const fs::path& f) {
                        Bytes b = EmptyDrawing(700, t);
                        std::copy_n("JwwDatA.", 8, b.begin());
                        WriteBytes(f, b);
                    },
                    kHeaderError, true, 0, true},
        BadFileCase{"version 219",
                    [](const TempFolder& t, const fs::path& f) {
                        Bytes b = EmptyDrawing(220, t);
                        SetVersion(b, 219);
                        WriteBytes(f, b);
                    },
                    kVersionError, true, 8, true},
        BadFileCase{"version 701",
                    [](const TempFolder& t, const fs::path& f) {
                        Bytes b = EmptyDrawing(700, t);
                        SetVersion(b, 701);
                        WriteBytes(f, b);
                    },
                    kVersionError, true, 8, true},
        BadFileCase{"header cut short",
                    [](const TempFolder& t, const fs::path& f) {
                        Bytes b = EmptyDrawing(700, t);
                        b.resize(5000);
                        WriteBytes(f, b);
                    },
                    kFileIoError, true, 5000, true}),
    [](const auto& info) {
        std::string n = info.param.label;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(FileIn, SectionErrorFailsTheLoadButKeepsWhatWasRead) {
    TempFolder tmp;
    Bytes b = EmptyDrawing(700, tmp);
    b.resize(kEmptyHeaderSize);
    // One object whose new-class tag names no entity class.
    Append(b, {0x01, 0x00, 0xFF, 0xFF, 0xBC, 0x02, 0x03, 0x00, 'B', 'a', 'd'});
    // The empty memo (one byte) becomes "A" CR LF "B" (five bytes).
    Bytes memo = {0x04, 'A', '\r', '\n', 'B'};
    b.erase(b.begin() + 12);
    b.insert(b.begin() + 12, memo.begin(), memo.end());
    WriteBytes(tmp / "d.jww", b);
    TJwwData d;
    EXPECT_FALSE(d.FileIn(tmp.U16("d.jww")));
    const JwwFailure& f = d.LastFailure();
    EXPECT_EQ(f.message, kFileIoError);
    EXPECT_TRUE(f.hasOffset);
    EXPECT_GE(f.offset, kEmptyHeaderSize + 4);
    EXPECT_EQ(f.Describe().rfind("File I/O Error", 0), 0u) << f.Describe();
    EXPECT_NE(f.Describe().find(" at byte " + std::to_string(f.offset)), std::string::npos) << f.Describe();
    // The header and the memo lines were read before the failure.
    EXPECT_EQ(d.Enthd.jwVer, 700);
    EXPECT_EQ(d.MemoLine1, u"A");
    EXPECT_EQ(d.MemoLine2, u"B");
}

// Definitions that each insert the next one twice, 22 deep: four million
// block instances, beyond the tree's bound. The load fails with its reason.
TEST(FileIn, BlockTreeBeyondItsBoundFailsTheLoad) {
    TempFolder tmp;
    TJwwData d;
    fixture::SizeTables(d);
    fixture::Seed s;
    constexpr uint32_t kDepth = 22;
    fixture::AddBlock(d, fixture::Insert(1, s));
    for (uint32_t k = 1; k <= kDepth; ++k) {
        TEntJwwBlockDef def = fixture::Definition(k, u"level " + IntToDecStr(static_cast<int32_t>(k)), s);
        if (k < kDepth) {
            fixture::AddBlock(def, fixture::Insert(k + 1, s));
            fixture::AddBlock(def, fixture::Insert(k + 1, s));
        } else {
            fixture::AddLine(def, fixture::Line(1, 1, s));
        }
        fixture::AddDefinition(d, std::move(def));
    }
    // What the tree would give, set by hand: every definition reached, numbered 0 upward.
    for (uint32_t k = 0; k < kDepth; ++k) {
        d.EntBlockDef[k].ref_flag = true;
        d.EntBlockDef[k].ref_no = static_cast<int32_t>(k);
    }
    d.EntBlockNum = kDepth;
    ASSERT_TRUE(d.FileOut(tmp.U16("deep.jww"), 700)) << d.LastFailure().Describe();
    TJwwData again;
    EXPECT_FALSE(again.FileIn(tmp.U16("deep.jww")));
    const JwwFailure& f = again.LastFailure();
    EXPECT_EQ(f.message, kFileIoError);
    EXPECT_FALSE(f.hasOffset) << f.Describe();
    EXPECT_EQ(again.EntBlockDefN, static_cast<int32_t>(kDepth));  // what was read stays
    EXPECT_EQ(again.EntBlockTreeN, 0);
}

struct MemoCase {
    std::u16string memo, line1, line2;
};

TEST(FileIn, SplitsTheMemoAtItsFirstCrLf) {
    const MemoCase cases[] = {
        {u"", u"", u""},
        {u"one line", u"one line", u""},
        {u"A\r\nB\r\nC", u"A", u"B\r\nC"},
        {u"\r\nlower", u"", u"lower"},
        {u"upper\r\n", u"upper", u""},
        {u"LF\nonly", u"LF\nonly", u""},
    };
    TempFolder tmp;
    for (const MemoCase& c : cases) {
        TJwwData d;
        fixture::SizeTables(d);
        d.Enthd.strMemo = c.memo;
        ASSERT_TRUE(d.FileOut(tmp.U16("m.jww"), 700));
        TJwwData loaded;
        ASSERT_TRUE(loaded.FileIn(tmp.U16("m.jww")));
        EXPECT_EQ(loaded.Enthd.strMemo, c.memo);
        EXPECT_EQ(loaded.MemoLine1, c.line1) << StrToUtf8(c.memo);
        EXPECT_EQ(loaded.MemoLine2, c.line2) << StrToUtf8(c.memo);
    }
}

TEST(FileCheck, AcceptsOnlyASignatureAndAnAcceptedVersion) {
    TempFolder tmp;
    const Bytes good = EmptyDrawing(700, tmp);
    Bytes v701 = good;
    SetVersion(v701, 701);
    Bytes v220 = good;
    SetVersion(v220, 220);
    Bytes wrong = good;
    wrong[7] = ',';
    struct Case {
        const char* label;
        Bytes bytes;
        bool expected;
    };
    const Case cases[] = {
        {"version 700", good, true},
        {"version 220", v220, true},
        {"version 701", v701, false},
        {"wrong signature", wrong, false},
        {"12 bytes", Bytes(good.begin(), good.begin() + 12), true},
        {"11 bytes", Bytes(good.begin(), good.begin() + 11), false},
        {"8 bytes", Bytes(good.begin(), good.begin() + 8), false},
        {"7 bytes", Bytes(good.begin(), good.begin() + 7), false},
        {"empty", {}, false},
    };
    TJwwData d;
    for (const Case& c : cases) {
        WriteBytes(tmp / "c.jww", c.bytes);
        EXPECT_EQ(d.FileCheck(tmp.U16("c.jww")), c.expected) << c.label;
    }
    EXPECT_FALSE(d.FileCheck(tmp.U16("missing.jww")));
    EXPECT_FALSE(d.FileCheck(Utf8ToStr(tmp.path().string())));
}

TEST(FileHeaderIn, ReadsOnlyTheHeader) {
    TempFolder tmp;
    TJwwData src;
    fixture::Build(src, false);
    ASSERT_TRUE(src.FileOut(tmp.U16("f.jww"), 700));
    TJwwData d;
    d.MemoLine1 = u"kept";
    EXPECT_TRUE(d.FileHeaderIn(tmp.U16("f.jww")));
    EXPECT_EQ(d.Enthd.strMemo, src.Enthd.strMemo);
    EXPECT_EQ(d.Enthd.nZumen, src.Enthd.nZumen);
    EXPECT_EQ(d.EntNo.size(), 0u);
    EXPECT_EQ(d.MemoLine1, u"kept");  // the memo is not split
    EXPECT_FALSE(d.FileHeaderIn(tmp.U16("missing.jww")));
    EXPECT_TRUE(d.LastFailure().failed);
}

TEST(SetFileOutOption, KeepsOnly0To63) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {32, 32}, {63, 63}, {64, 0}, {-1, 0}, {1 << 20, 0}};
    TJwwData d;
    for (auto [in, out] : cases) {
        d.SetFileOutOption(in);
        EXPECT_EQ(d.FileOutOpt, out) << in;
    }
}

// ---- Saving: exact bytes ---------------------------------------------------------------

TEST(FileOut, EmptyDocumentIs16560Bytes) {
    TempFolder tmp;
    const Bytes b = EmptyDrawing(700, tmp);
    ASSERT_EQ(b.size(), 16560u);
    const Bytes start = {'J', 'w', 'w', 'D', 'a', 't', 'a', '.', 0xBC, 0x02, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), b.begin()));
    // Entity count, definition count, image count.
    EXPECT_EQ(Bytes(b.end() - 8, b.end()), Bytes(8, 0));
    // A header read sizes the tables just as well, and the save repeats itself.
    WriteBytes(tmp / "e.jww", b);
    TJwwData d;
    ASSERT_TRUE(d.FileHeaderIn(tmp.U16("e.jww")));
    ASSERT_TRUE(d.FileOut(tmp.U16("again.jww"), 700));
    EXPECT_EQ(ReadBytes(tmp / "again.jww"), b);
}

TEST(FileOut, Version600SavedAs700EndsWithAnEmptyImageSection) {
    TempFolder tmp;
    TJwwData src;
    fixture::Build(src, false);
    ASSERT_TRUE(src.FileOut(tmp.U16("v600.jww"), 600));
    TJwwData d;
    d.BindImageFolder = Utf8ToStr(tmp.path().string() + "/");
    d.BindImageExp = d.BindImageExr = true;
    ASSERT_TRUE(d.FileIn(tmp.U16("v600.jww"))) << d.LastFailure().Describe();
    EXPECT_EQ(d.BindImageN, 0);
    ASSERT_TRUE(d.FileOut(tmp.U16("v700.jww"), 700));
    ASSERT_TRUE(d.FileOut(tmp.U16("v600.jww"), 600));
    const Bytes v600 = ReadBytes(tmp / "v600.jww"), v700 = ReadBytes(tmp / "v700.jww");
    EXPECT_EQ(Bytes(v700.begin() + 8, v700.begin() + 12), (Bytes{0xBC, 0x02, 0x00, 0x00}));
    // Versions 600 and 700 lay out everything else alike: only the count is added.
    EXPECT_EQ(v700.size(), v600.size() + 4);
    EXPECT_EQ(Bytes(v700.end() - 4, v700.end()), Bytes(4, 0));
}

// ---- Saving: complete or absent -----------------------------------------------------------

TEST(FileOut, IntoAFolderThatDoesNotExistCreatesNothing) {
    TempFolder tmp;
    TJwwData d;
    fixture::SizeTables(d);
    EXPECT_FALSE(d.FileOut(tmp.U16("no/such/folder/x.jww"), 700));
    EXPECT_TRUE(d.LastFailure().failed);
    EXPECT_TRUE(FolderNames(tmp.path()).empty());
}

// A disk that fills up after n bytes: the save fails and nothing remains
// under either the destination or a temporary name; an older file of the
// destination's name stays as it was.
TEST(FileOut, FullDiskLeavesNothingBehind) {
    TempFolder tmp;
    TJwwData d;
    fixture::Build(d, false);
    ASSERT_TRUE(d.FileOut(tmp.U16("whole.jww"), 700));
    const uint64_t size = fs::file_size(tmp / "whole.jww");
    fs::remove(tmp / "whole.jww");
    WriteBytes(tmp / "old.jww", BytesOf("older drawing"));
    for (uint64_t limit : {uint64_t{0}, uint64_t{1}, uint64_t{kEmptyHeaderSize}, size - 1}) {
        SCOPED_TRACE(limit);
        d.SetWriteLimitForTest(limit);
        EXPECT_FALSE(d.FileOut(tmp.U16("new.jww"), 700));
        EXPECT_NE(d.LastFailure().Describe(), "");
        EXPECT_FALSE(d.FileOut(tmp.U16("old.jww"), 700));
        std::u16string used;
        EXPECT_FALSE(d.FileOutNew(tmp.U16("new.jww"), 700, &used));
        EXPECT_EQ(FolderNames(tmp.path()), std::vector<std::string>{"old.jww"});
        EXPECT_EQ(ReadBytes(tmp / "old.jww"), BytesOf("older drawing"));
    }
    d.SetWriteLimitForTest(size);  // exactly enough
    EXPECT_TRUE(d.FileOut(tmp.U16("new.jww"), 700)) << d.LastFailure().Describe();
    EXPECT_EQ(fs::file_size(tmp / "new.jww"), size);
}

// Both ways of a new drawing into place: linking its unnamed file, and the
// hidden named file taken where linking is refused.
TEST(FileOut, ReplacesButFileOutNewTakesTheNextFreeName) {
    for (bool refuseLink : {false, true}) {
        SCOPED_TRACE(refuseLink);
        TempFolder tmp;
        TJwwData d;
        fixture::SizeTables(d);
        d.SetRefuseLinkForTest(refuseLink);
        WriteBytes(tmp / "a.jww", BytesOf("first"));
        WriteBytes(tmp / "a~1.jww", BytesOf("second"));
        std::u16string used;
        ASSERT_TRUE(d.FileOutNew(tmp.U16("a.jww"), 700, &used)) << d.LastFailure().Describe();
        EXPECT_EQ(used, tmp.U16("a~2.jww"));
        EXPECT_EQ(ReadBytes(tmp / "a.jww"), BytesOf("first"));
        EXPECT_EQ(ReadBytes(tmp / "a~1.jww"), BytesOf("second"));
        EXPECT_EQ(fs::file_size(tmp / "a~2.jww"), 16560u);
        ASSERT_TRUE(d.FileOutNew(tmp.U16("b.jww"), 700, &used));
        EXPECT_EQ(used, tmp.U16("b.jww"));
        EXPECT_EQ(ReadBytes(tmp / "b.jww"), ReadBytes(tmp / "a~2.jww"));

        ASSERT_TRUE(d.FileOut(tmp.U16("a.jww"), 700));
        EXPECT_EQ(fs::file_size(tmp / "a.jww"), 16560u);
        EXPECT_EQ(FolderNames(tmp.path()), (std::vector<std::string>{"a.jww", "a~1.jww", "a~2.jww", "b.jww"}));
    }
}

// A process killed while it writes (here by the file-size limit's signal)
// leaves no file under the destination name: a replacing save only its hidden
// temporary file, a new drawing nothing at all.
TEST(FileOut, KilledMidSaveLeavesNoDestination) {
    for (bool replace : {true, false}) {
        SCOPED_TRACE(replace);
        TempFolder tmp;
        TJwwData d;
        fixture::Build(d, false);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            struct rlimit none {0, 0};
            ::setrlimit(RLIMIT_CORE, &none);
            std::signal(SIGXFSZ, SIG_DFL);
            struct rlimit small {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &small);
            std::u16string used;
            if (replace) d.FileOut(tmp.U16("killed.jww"), 700);
            else d.FileOutNew(tmp.U16("killed.jww"), 700, &used);
            ::_exit(0);  // not reached: the write beyond the limit kills the process
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        EXPECT_TRUE(NonHidden(tmp.path()).empty());
        const auto left = FolderNames(tmp.path());
        if (!replace && UnnamedFilesIn(tmp.path())) {
            EXPECT_TRUE(left.empty());
            continue;
        }
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].rfind(".killed.jww.", 0), 0u) << left[0];
        EXPECT_NE(left[0].substr(left[0].size() - 4), ".jww");
    }
}

// ---- Round trips ------------------------------------------------------------------------------

namespace {

const Bytes kPhotoJpg = Pattern(40000, 11);
const Bytes kMapPng = Pattern(5000, 12);

// A document that loads its images into a folder of its own.
struct Loaded {
    fs::path folder;
    TJwwData doc;
    Loaded(const TempFolder& tmp, const std::string& name) : folder(tmp / name) {
        fs::create_directories(folder);
        doc.BindImageFolder = Utf8ToStr(folder.string() + "/");
        doc.BindImageExp = doc.BindImageExr = true;
    }
    ::testing::AssertionResult Load(const fs::path& file) {
        if (doc.FileIn(Utf8ToStr(file.string()))) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "load of " << file << ": " << doc.LastFailure().Describe();
    }
    // As the batch run saves: UTF-16 strings when the source had them.
    ::testing::AssertionResult Save(const fs::path& file) {
        doc.BindImageExplode();
        doc.SetFileOutOption(doc.MojiEncode ? kOptUnicode : 0);
        if (doc.FileOut(Utf8ToStr(file.string()), 700)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "save of " << file << ": " << doc.LastFailure().Describe();
    }
};

// Load, save as 700, load again: every kept field survives; saving that
// again changes nothing at all.
void ExpectRoundTrip(const TempFolder& tmp, const fs::path& source, Loaded& a) {
    ASSERT_TRUE(a.Load(source));
    Loaded b(tmp, "b"), c(tmp, "c");
    ASSERT_TRUE(a.Save(tmp / "b.jww"));
    ASSERT_TRUE(b.Load(tmp / "b.jww"));
    EXPECT_TRUE(KeptFieldsEqual(a.doc, b.doc));
    ASSERT_TRUE(b.Save(tmp / "c.jww"));
    ASSERT_TRUE(c.Load(tmp / "c.jww"));
    EXPECT_TRUE(AllFieldsEqual(b.doc, c.doc));
    EXPECT_EQ(ReadBytes(tmp / "b.jww"), ReadBytes(tmp / "c.jww"));
}

struct FixtureCase {
    int32_t version;
    bool unicode;
};

class RoundTrip : public ::testing::TestWithParam<FixtureCase> {};

}  // namespace

TEST_P(RoundTrip, FixtureDrawingKeepsEveryField) {
    const auto [version, unicode] = GetParam();
    TempFolder tmp;
    Loaded f(tmp, "f");
    fixture::Build(f.doc, unicode);
    {
        // Coordinates are kept as read, bit for bit: a negative zero and a NaN
        // with a payload among them.
        TEntJwwLine odd = f.doc.EntLine.at(0);
        odd.start_x = -0.0;
        odd.end_y = std::bit_cast<double>(uint64_t{0x7FF8000000000123});
        f.doc.EntLine.push_back(odd);
        f.doc.EntNo.push_back({kKindLine, f.doc.EntLineN++});
        f.doc.Enthd.n1 = static_cast<int32_t>(f.doc.EntNo.size());
    }
    const Bytes photoGz = Gzip(kPhotoJpg);
    WriteBytes(f.folder / "photo.jpg.gz", photoGz);
    WriteBytes(f.folder / "map.png", kMapPng);
    WriteBytes(f.folder / "unused.png", kMapPng);
    const auto photoSize = static_cast<int32_t>(photoGz.size()), mapSize = static_cast<int32_t>(kMapPng.size());
    f.doc.BindImage = {{u"photo.jpg.gz", photoSize, false}, {u"map.png", mapSize, false}, {u"unused.png", mapSize, false}};
    f.doc.BindImageN = 3;
    f.doc.SetFileOutOption(unicode ? kOptUnicode : 0);
    ASSERT_TRUE(f.doc.FileOut(tmp.U16("source.jww"), version)) << f.doc.LastFailure().Describe();

    Loaded a(tmp, "a");
    ExpectRoundTrip(tmp, tmp / "source.jww", a);
    EXPECT_EQ(a.doc.Enthd.jwVer, version);
    EXPECT_EQ(a.doc.MojiEncode, unicode);
    EXPECT_EQ(a.doc.EntBlockDefN, 3);  // the unreached one is in the file
    EXPECT_EQ(a.doc.EntBlockNum, 2);
    if (version == 700) {
        // Straight from the code-filled document, too.
        EXPECT_TRUE(KeptFieldsEqual(f.doc, a.doc));
        EXPECT_EQ(a.doc.BindImageN, 2);
        EXPECT_EQ(ReadBytes(tmp / "b" / "photo.jpg.gz"), photoGz);
        EXPECT_EQ(ReadBytes(tmp / "b" / "photo.jpg"), kPhotoJpg);
        EXPECT_EQ(ReadBytes(tmp / "b" / "map.png"), kMapPng);
        EXPECT_FALSE(fs::exists(tmp / "b" / "unused.png"));
    } else {
        EXPECT_EQ(a.doc.BindImageN, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip,
                         ::testing::Values(FixtureCase{220, false}, FixtureCase{230, false}, FixtureCase{300, false},
                                           FixtureCase{351, false}, FixtureCase{420, false}, FixtureCase{600, false},
                                           FixtureCase{700, false}, FixtureCase{600, true}, FixtureCase{700, true}),
                         [](const auto& info) {
                             return "V" + std::to_string(info.param.version) + (info.param.unicode ? "_UTF16" : "");
                         });

TEST(RoundTrip, EveryCorpusDrawingKeepsEveryField) {
    const fs::path corpus = MORVANE_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".jww") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempFolder tmp(std::to_string(seen++));
        Loaded a(tmp, "a");
        ExpectRoundTrip(tmp, entry.path(), a);
    }
    EXPECT_GT(seen, 0);
}
