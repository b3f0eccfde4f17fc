// Loading and saving at once (FileInSaveNew): the entity section is saved on a
// second thread while it is read. Its output must equal, byte for byte, that
// of FileIn followed by FileOutNew, also on the paths where the streamed
// bytes cannot stand: a UTF-16 string met in the entity list (the save starts
// again) or after it (ordinary save), block numbers that the definitions read
// later change (patched in the file), and loads or saves that fail. The block
// tree is made on either thread, whichever comes to it first.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdexcept>

#include "doc/ByteWriter.h"
#include "tests/DrawingFixture.h"
#include "tests/ReadingModes.h"
#include "tests/TempFolder.h"

namespace morvane {
namespace {

struct Saved {
    std::string bytes;
    size_t headerEnd = 0, entitiesEnd = 0;
};

// The whole file of `d` in version 700, written section by section as it
// stands (no block tree is made: the definitions' ref_flag decide), with its
// section ends.
Saved WriteWhole(TJwwData& d) {
    ByteWriter w;
    JwwClassMap map;
    Saved out;
    d.WriteHeader(w, 700);
    out.headerEnd = w.written();
    d.WriteEntitySection(w, 700, map);
    out.entitiesEnd = w.written();
    d.WriteBlockDefSection(w, 700, map);
    d.WriteBindImageSection(w);
    out.bytes.assign(w.bytes().begin(), w.bytes().end());
    return out;
}

// The fixture drawing as saved with output option `opt`, with its section ends.
Saved SaveFixture(int opt) {
    TJwwData d;
    fixture::Build(d, false);  // the same objects in both forms: only the option differs
    // An insert of a number no definition has: saved as the count of saved definitions.
    fixture::Seed s;
    fixture::AddBlock(d, fixture::Insert(77, s));
    d.SetFileOutOption(opt);
    return WriteWhole(d);
}

// Sources: Shift_JIS up to a point, UTF-16 from there on. The class map of the
// entity section and the definitions does not depend on the string form, so
// sections of the two saves can be joined.
std::string Joined(const Saved& ansi, const Saved& wide, bool fromEntities) {
    const size_t a = fromEntities ? ansi.headerEnd : ansi.entitiesEnd;
    const size_t w = fromEntities ? wide.headerEnd : wide.entitiesEnd;
    return ansi.bytes.substr(0, a) + wide.bytes.substr(w);
}

// The bytes of FileIn followed by FileOutNew, saved as ref.jww.
std::string Reference(const TempFolder& t, const std::filesystem::path& src, bool unicode, int32_t ver = 700) {
    TJwwData d;
    EXPECT_TRUE(d.FileIn(Utf8ToStr(src.string())));
    d.SetFileOutOption(d.MojiEncode || unicode ? kOptUnicode : 0);
    EXPECT_TRUE(d.FileOutNew(t.U("ref.jww"), ver, nullptr));
    return ReadFile(t.path() / "ref.jww");
}

// FileInSaveNew of `src` into out.jww of `t`.
TJwwData::PipeResult Streamed(TJwwData& d, const TempFolder& t, const std::filesystem::path& src,
                              const std::function<void()>& afterHeader = [] {},
                              const std::function<void()>& afterLoad = [] {}, std::u16string* savedAs = nullptr,
                              bool unicode = false, int32_t ver = 700) {
    return d.FileInSaveNew(Utf8ToStr(src.string()), t.U("out.jww"), ver, unicode, afterHeader, afterLoad, savedAs);
}

// The second thread for a drawing of any size, handed `step` objects at a time.
TJwwData::StreamTuning Every(uint32_t publish, uint32_t batch) { return {0, publish, batch}; }
// The same, with the block tree made on the second thread.
TJwwData::StreamTuning TreeOnSecond(TJwwData::StreamTuning g) {
    g.treeOnSecondThread = true;
    return g;
}

size_t FilesBesideSource(const TempFolder& t) {
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(t.path())) files += e.path().filename() != "src.jww";
    return files;
}

TEST(Pipeline, OutputEqualsLoadThenSave) {
    const Saved ansi = SaveFixture(0), wide = SaveFixture(kOptUnicode);
    const struct {
        const char* name;
        std::string bytes;
        bool unicode;  // the "write UTF-16" setting
    } sources[] = {
        {"shift_jis", ansi.bytes, false},          // block numbers patched after the load
        {"shift_jis, UTF-16 asked", ansi.bytes, true},
        {"utf16 from the header", wide.bytes, false},
        {"utf16 from the entity list", Joined(ansi, wide, true), false},   // the save starts again
        {"utf16 from the definitions", Joined(ansi, wide, false), false},  // ordinary save after the load
        // Room is reserved for a copy as large as the source: the output,
        // smaller here, must end where its last byte was written.
        {"bytes after the last section", ansi.bytes + std::string(5000, '\x55'), false},
    };
    // One object per publication and batch, a few (once more with the block
    // tree made on the second thread), the default, and the default size
    // threshold (no second thread for this small drawing).
    const TJwwData::StreamTuning steps[] = {Every(1, 1), Every(3, 2), TreeOnSecond(Every(3, 2)), Every(4096, 4096),
                                            TJwwData::StreamTuning{}};
    for (const auto& src : sources) {
        for (const TJwwData::StreamTuning& g : steps) {
            SCOPED_TRACE(std::string(src.name) + ", from " + std::to_string(g.minBytes) + " bytes, publish " +
                         std::to_string(g.publishEvery) + ", batch " + std::to_string(g.batch) +
                         (g.treeOnSecondThread ? ", tree on the second thread" : ""));
            TempFolder t;
            const auto path = t.Write("src.jww", src.bytes);
            const std::string expected = Reference(t, path, src.unicode);
            TJwwData d;
            d.SetStreamTuningForTest(g);
            bool headerSeen = false, loadSeen = false;
            std::u16string savedAs;
            const auto result = Streamed(d, t, path, [&] { headerSeen = true; }, [&] { loadSeen = true; }, &savedAs,
                                         src.unicode);
            ASSERT_EQ(result, TJwwData::PipeResult::Ok) << d.LastFailure().Describe();
            EXPECT_TRUE(headerSeen && loadSeen);
            EXPECT_EQ(savedAs, t.U("out.jww"));
            EXPECT_TRUE(ReadFile(t.path() / "out.jww") == expected);
        }
    }
}

// An older output version changes the object count: below 420 a dimension
// with SXF data goes out as seven objects, and before 700 there is no image
// section. The count written must be that of the objects that follow.
TEST(Pipeline, OlderOutputVersionsEqualLoadThenSave) {
    const std::string source = SaveFixture(0).bytes;
    for (int32_t ver : {300, 351, 420, 600}) {
        SCOPED_TRACE("version " + std::to_string(ver));
        TempFolder t;
        const auto path = t.Write("src.jww", source);
        const std::string expected = Reference(t, path, false, ver);
        TJwwData d;
        d.SetStreamTuningForTest(Every(1, 1));
        ASSERT_EQ(Streamed(d, t, path, [] {}, [] {}, nullptr, false, ver), TJwwData::PipeResult::Ok)
            << d.LastFailure().Describe();
        EXPECT_TRUE(ReadFile(t.path() / "out.jww") == expected);
    }
}

// A header change made after the header is read reaches the output.
TEST(Pipeline, AfterHeaderChangesAreSaved) {
    TempFolder t;
    const auto path = t.Write("src.jww", SaveFixture(0).bytes);
    TJwwData d;
    d.SetStreamTuningForTest(Every(1, 1));
    ASSERT_EQ(Streamed(d, t, path, [&] { d.Enthd.strMemo = u"新しいメモ"; }), TJwwData::PipeResult::Ok);
    TJwwData back;
    ASSERT_TRUE(back.FileIn(t.U("out.jww")));
    EXPECT_EQ(back.Enthd.strMemo, u"新しいメモ");
}

// A load that fails, in the entity list or after it, leaves no file at all
// (neither the destination nor a temporary one); so does a save that fails.
TEST(Pipeline, FailuresLeaveNothing) {
    const Saved ansi = SaveFixture(0);
    uint64_t outputSize = 0;
    {
        TempFolder t;
        outputSize = Reference(t, t.Write("src.jww", ansi.bytes), false).size();
    }
    const struct {
        const char* name;
        std::string bytes;
        uint64_t writeLimit;
        TJwwData::PipeResult expected;
    } cases[] = {
        {"cut in the entity list", ansi.bytes.substr(0, (ansi.headerEnd + ansi.entitiesEnd) / 2), UINT64_MAX,
         TJwwData::PipeResult::LoadFailed},
        {"cut in the definitions", ansi.bytes.substr(0, ansi.entitiesEnd + 10), UINT64_MAX,
         TJwwData::PipeResult::LoadFailed},
        {"disk full in the entity list", ansi.bytes, ansi.headerEnd + 20, TJwwData::PipeResult::SaveFailed},
        {"disk full at the end", ansi.bytes, outputSize - 2, TJwwData::PipeResult::SaveFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder t;
        const auto path = t.Write("src.jww", c.bytes);
        TJwwData d;
        d.SetStreamTuningForTest(Every(1, 1));
        d.SetWriteLimitForTest(c.writeLimit);
        EXPECT_EQ(Streamed(d, t, path), c.expected);
        EXPECT_FALSE(d.LastFailure().Describe().empty());
        EXPECT_EQ(FilesBesideSource(t), 0u);
    }
}

// Drawings read through mapped windows, a page or more at a time, come out as
// they do when read through the buffer, with the entity list saved beside the
// load or after it.
TEST(Pipeline, MappedReadingGivesTheSameOutput) {
    for (const std::string& bytes : {SaveFixture(0).bytes, SaveFixture(kOptUnicode).bytes}) {
        TempFolder t;
        const auto path = t.Write("src.jww", bytes);
        const std::string expected = Reference(t, path, false);
        for (const ReadingMode& mode : kReadingModes) {
            for (const TJwwData::StreamTuning& g : {Every(3, 2), TJwwData::StreamTuning{}}) {
                SCOPED_TRACE(std::string(mode.name) + ", from " + std::to_string(g.minBytes) + " bytes");
                ReadIn in(mode);
                std::filesystem::remove(t.path() / "out.jww");
                TJwwData d;
                d.SetStreamTuningForTest(g);
                ASSERT_EQ(Streamed(d, t, path), TJwwData::PipeResult::Ok) << d.LastFailure().Describe();
                EXPECT_TRUE(ReadFile(t.path() / "out.jww") == expected);
            }
        }
    }
}

// A drawing that another program cuts short while it is read through mapped
// windows: the pages it lost read as zeros, and the load fails where they
// began instead of saving whatever the sections made of them, with the
// entity list saved beside the load or after it.
TEST(Pipeline, DrawingCutShortWhileReadFailsTheLoad) {
    TJwwData src;
    fixture::Build(src, false);
    fixture::Seed s;
    for (int i = 0; i < 1000; ++i) fixture::AddLine(src, fixture::Line(1, 2, s));  // pages behind the header
    const Saved ansi = WriteWhole(src);
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t cut = (ansi.headerEnd / page + 1) * page + 100;  // behind the header
    ASSERT_GT(ansi.bytes.size(), cut + 2 * page);
    ReadIn in(kPageWindows);
    for (const TJwwData::StreamTuning& g : {Every(1, 1), TJwwData::StreamTuning{}}) {
        SCOPED_TRACE("from " + std::to_string(g.minBytes) + " bytes");
        TempFolder t;
        const auto path = t.Write("src.jww", ansi.bytes);
        TJwwData d;
        d.SetStreamTuningForTest(g);
        EXPECT_EQ(Streamed(d, t, path, [&] { std::filesystem::resize_file(path, cut); }),
                  TJwwData::PipeResult::LoadFailed);
        EXPECT_EQ(d.LastFailure().Describe(),
                  std::string(kFileIoError) + ": the file was cut short or could not be read while it was loaded" +
                      " at byte " + std::to_string(cut - 100 + page));
        EXPECT_EQ(FilesBesideSource(t), 0u);
    }
}

// Nesting that outgrows the tree's bound fails the load alike whether the
// save thread or the load made the tree (whichever came to it first), and
// leaves nothing. The definitions: 40 holds 3000 inserts of 41, which holds
// 3000 inserts of 42; the drawing inserts 40.
TEST(Pipeline, TreeOutgrowingItsBoundFailsTheLoad) {
    TJwwData src;
    fixture::Build(src, false);
    fixture::Seed s;
    for (uint32_t n : {40u, 41u, 42u}) {
        TEntJwwBlockDef def = fixture::Definition(n, u"入れ子", s);
        if (n < 42)
            for (int i = 0; i < 3000; ++i) fixture::AddBlock(def, fixture::Insert(n + 1, s));
        fixture::AddDefinition(src, std::move(def));
    }
    fixture::AddBlock(src, fixture::Insert(40, s));
    for (size_t i = 0; i < src.EntBlockDef.size(); ++i) {
        src.EntBlockDef[i].ref_flag = true;
        src.EntBlockDef[i].ref_no = static_cast<int32_t>(i);
    }
    src.EntBlockNum = static_cast<int32_t>(src.EntBlockDef.size());
    const std::string bytes = WriteWhole(src).bytes;

    TempFolder t;
    const auto path = t.Write("src.jww", bytes);
    TJwwData loaded;
    ASSERT_FALSE(loaded.FileIn(Utf8ToStr(path.string())));
    const std::string expected = loaded.LastFailure().Describe();
    EXPECT_NE(expected.find(std::to_string(kMaxBlockTreeNodes)), std::string::npos) << expected;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TJwwData d;
        d.SetStreamTuningForTest(round % 2 ? Every(1, 1) : TreeOnSecond(Every(1, 1)));
        EXPECT_EQ(Streamed(d, t, path), TJwwData::PipeResult::LoadFailed);
        EXPECT_EQ(d.LastFailure().Describe(), expected);
        EXPECT_TRUE(d.EntBlockTree.empty());
        EXPECT_EQ(FilesBesideSource(t), 0u);
    }
}

// Work after the load that fails (it throws) leaves no file either, although
// the save may have written the whole drawing by then.
TEST(Pipeline, FailureAfterTheLoadLeavesNothing) {
    TempFolder t;
    const auto path = t.Write("src.jww", SaveFixture(0).bytes);
    TJwwData d;
    d.SetStreamTuningForTest(Every(1, 1));
    EXPECT_THROW(Streamed(d, t, path, [] {}, [] { throw std::runtime_error("after the load"); }), std::runtime_error);
    EXPECT_EQ(FilesBesideSource(t), 0u);
}

// The name is taken when the file is complete: a drawing of that name made
// meanwhile is kept, and the output takes the next free name.
TEST(Pipeline, NameTakenMeanwhileIsKept) {
    TempFolder t;
    const auto path = t.Write("src.jww", SaveFixture(0).bytes);
    TJwwData d;
    d.SetStreamTuningForTest(Every(1, 1));
    std::u16string savedAs;
    ASSERT_EQ(Streamed(d, t, path, [] {}, [&] { t.Write("out.jww", "someone else's"); }, &savedAs),
              TJwwData::PipeResult::Ok);
    EXPECT_EQ(ReadFile(t.path() / "out.jww"), "someone else's");
    EXPECT_NE(savedAs, t.U("out.jww"));
    TJwwData back;
    EXPECT_TRUE(back.FileIn(savedAs));
}

// The drawings saved by the CAD program, each in both string forms, with the
// second thread handed a few objects at a time.
TEST(Pipeline, EveryCorpusDrawingComesOutAsLoadThenSave) {
    const std::filesystem::path corpus = MORVANE_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".jww") continue;
        ++seen;
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(entry.path().filename().string() + (unicode ? ", UTF-16" : ""));
            TempFolder t;
            const std::string expected = Reference(t, entry.path(), unicode);
            TJwwData d;
            d.SetStreamTuningForTest(Every(64, 32));
            ASSERT_EQ(Streamed(d, t, entry.path(), [] {}, [] {}, nullptr, unicode), TJwwData::PipeResult::Ok)
                << d.LastFailure().Describe();
            EXPECT_TRUE(ReadFile(t.path() / "out.jww") == expected);
        }
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace morvane
