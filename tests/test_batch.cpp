// File intake and the batch run, through a scripted shell: which paths are
// queued, how the destination is resolved, the log, Escape, failures, and the
// conversion of one drawing.
#include <gtest/gtest.h>

#include "Drawings.h"
#include "TempFolder.h"
#include "TestShell.h"
#include "app/BatchRun.h"
#include "app/OptionControls.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

const std::u16string kOk = std::u16string(kOutcomePrefix) + kOutcomeOk;
const std::u16string kFailed = std::u16string(kOutcomePrefix) + kOutcomeFailed;

std::u16string Arrow(const std::u16string& path) { return kDestinationPrefix + path; }

// A run's surroundings: a source folder, an output folder, a working folder
// for bound images and a document set up as the program sets it up.
struct RunFixture {
    TempFolder tmp;
    TJwwData doc;
    TestShell shell;
    AppSettings settings;
    FileQueue queue;
    int saves = 0;
    SaveSettingsFn save = [this](const AppSettings&) { ++saves; };

    RunFixture() {
        fs::create_directories(tmp.path() / "src");
        fs::create_directories(tmp.path() / "out");
        fs::create_directories(tmp.path() / "work");
        doc.BindImageFolder = tmp.U("work") + u"/";
        doc.BindImageExp = doc.BindImageExr = true;
        CheckDestination(settings, DestinationMode::ChosenFolder);
        settings.EditFl1 = tmp.U("out");
        shell.desktop = tmp.U("desk");
    }
    std::u16string Source(const std::string& name, const std::u16string& memo = u"メモ", bool unicode = false) {
        EXPECT_TRUE(MakeDrawing(tmp.path() / "src" / name, memo, unicode));
        return tmp.U("src/" + name);
    }
    RunSummary Run() { return RunProc(queue, settings, doc, shell, save); }
};

TEST(PickupFile, QueuesExistingJwwFilesOnly) {
    TempFolder tmp;
    tmp.Write("a.JWW", "x");
    tmp.Write("b.Jww", "x");
    tmp.Write("c.txt", "x");
    tmp.Write("d|e.jww", "x");  // a valid name on Linux, but not a path this program can use
    fs::create_directories(tmp.path() / "f.jww");
    struct Row {
        std::u16string path;
        bool queued;
    } rows[] = {
        {tmp.U("a.JWW"), true},   {tmp.U("b.Jww"), true},     {tmp.U("c.txt"), false},
        {tmp.U("d|e.jww"), false}, {tmp.U("f.jww"), false},   {tmp.U("missing.jww"), false},
        {u"", false},             {tmp.U("a.JWW"), true},  // duplicates stay
    };
    FileQueue q;
    std::vector<std::u16string> expected;
    for (const Row& r : rows) {
        EXPECT_EQ(q.PickupFile(r.path), r.queued) << StrToUtf8(r.path);
        if (r.queued) expected.push_back(r.path);
    }
    EXPECT_EQ(q.FList, expected);
    EXPECT_EQ(q.FListN(), 3);
}

TEST(BatchRun, EmptyQueueDoesNothing) {
    RunFixture f;
    f.shell.log.push_back({u"old line", u""});
    EXPECT_EQ(f.Run().status, RunStatus::NothingQueued);
    EXPECT_EQ(f.shell.Lines(), std::vector<std::u16string>{u"old line"});
    EXPECT_EQ(f.saves, 0);
    EXPECT_EQ(f.shell.logPageShown, 0);
}

TEST(BatchRun, ThreeFilesWithAnUnreadableMiddleOneGiveNineLines) {
    RunFixture f;
    const std::u16string a = f.Source("a.jww"), c = f.Source("c.jww");
    f.tmp.Write("src/b.jww", "JwwData.but nothing that follows");
    const std::u16string b = f.tmp.U("src/b.jww");
    for (const auto& p : {a, b, c}) ASSERT_TRUE(f.queue.PickupFile(p));
    f.shell.log.push_back({u"from the run before", u""});

    RunSummary s = f.Run();
    EXPECT_EQ(s.status, RunStatus::Completed);
    EXPECT_EQ(s.converted, 2);
    EXPECT_EQ(s.failed, 1);
    const std::vector<std::u16string> expected = {
        a, Arrow(f.tmp.U("out/a.jww")), kOk,  //
        b, Arrow(f.tmp.U("out/b.jww")), kFailed,  //
        c, Arrow(f.tmp.U("out/c.jww")), kOk,
    };
    EXPECT_EQ(f.shell.Lines(), expected);
    EXPECT_TRUE(f.shell.log[5].reason.size() > 0);  // the failed load says why
    EXPECT_TRUE(f.shell.log[2].reason.empty());
    EXPECT_TRUE(fs::exists(f.tmp.path() / "out" / "a.jww"));
    EXPECT_FALSE(fs::exists(f.tmp.path() / "out" / "b.jww"));
    EXPECT_EQ(f.saves, 1);
    EXPECT_EQ(f.shell.logPageShown, 1);
    EXPECT_EQ(f.shell.escapeTests, 3);
}

TEST(BatchRun, SourceFolderModeNeverOverwrites) {
    RunFixture f;
    CheckDestination(f.settings, DestinationMode::SourceFolder);
    const std::u16string a = f.Source("a.jww");
    const std::string before = ReadFile(f.tmp.path() / "src" / "a.jww");
    f.tmp.Write("src/a~1.jww", "taken");
    ASSERT_TRUE(f.queue.PickupFile(a));
    ASSERT_TRUE(f.queue.PickupFile(a));
    f.Run();
    EXPECT_EQ(f.shell.Lines()[1], Arrow(f.tmp.U("src/a~2.jww")));
    EXPECT_EQ(f.shell.Lines()[4], Arrow(f.tmp.U("src/a~3.jww")));
    EXPECT_EQ(ReadFile(f.tmp.path() / "src" / "a.jww"), before);
    EXPECT_EQ(ReadFile(f.tmp.path() / "src" / "a~1.jww"), "taken");
}

// The chosen folder, and a desktop or documents folder the system lacks.
TEST(BatchRun, MissingDestinationFolderStopsBeforeAnything) {
    for (const DestinationMode mode : {DestinationMode::ChosenFolder, DestinationMode::Desktop, DestinationMode::Documents}) {
        SCOPED_TRACE(static_cast<int>(mode));
        RunFixture f;
        CheckDestination(f.settings, mode);
        f.settings.EditFl1 = f.tmp.U("nowhere");
        f.shell.desktop = f.shell.documents = f.tmp.U("nowhere");
        ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
        f.shell.log.push_back({u"old", u""});
        EXPECT_EQ(f.Run().status, RunStatus::FolderMissing);
        ASSERT_EQ(f.shell.messages.size(), 1u);
        EXPECT_EQ(f.shell.messages[0], u"指定したフォルダが見つかりません。\r\n" + f.tmp.U("nowhere") + u"/");
        EXPECT_EQ(f.saves, 0);
        EXPECT_EQ(f.shell.Lines(), std::vector<std::u16string>{u"old"});
        EXPECT_EQ(f.shell.logPageShown, 0);
    }
}

TEST(BatchRun, EscapeBeforeTheFirstFile) {
    RunFixture f;
    // An empty folder text completes to the root folder, which exists: the
    // run goes on (and Escape stops it before anything is written there).
    f.settings.EditFl1 = u"";
    f.shell.escapeFromTest = 0;
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
    EXPECT_EQ(f.Run().status, RunStatus::Interrupted);
    EXPECT_EQ(f.shell.Lines(), std::vector<std::u16string>{kInterruptedLine});
    EXPECT_TRUE(f.shell.messages.empty());
    EXPECT_EQ(f.saves, 1);
    EXPECT_EQ(f.shell.logPageShown, 1);
}

TEST(BatchRun, EscapeBetweenFilesFinishesTheFileBegun) {
    RunFixture f;
    f.shell.escapeFromTest = 1;
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
    ASSERT_TRUE(f.queue.PickupFile(f.Source("b.jww")));
    RunSummary s = f.Run();
    EXPECT_EQ(s.status, RunStatus::Interrupted);
    EXPECT_EQ(s.converted, 1);
    ASSERT_EQ(f.shell.Lines().size(), 4u);
    EXPECT_EQ(f.shell.Lines()[3], kInterruptedLine);
    EXPECT_FALSE(fs::exists(f.tmp.path() / "out" / "b.jww"));
}

TEST(BatchRun, FolderAskedAtEveryRun) {
    RunFixture f;
    f.settings.RadioButtonFl4 = false;  // none checked behaves as "毎回指定"
    f.settings.LabelPreFolder = u"/start/";
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));

    EXPECT_EQ(f.Run().status, RunStatus::FolderNotChosen);  // cancelled: silent
    EXPECT_EQ(f.saves, 0);
    EXPECT_TRUE(f.shell.messages.empty());

    f.shell.browseAnswer = f.tmp.U("out");
    EXPECT_EQ(f.Run().status, RunStatus::Completed);
    EXPECT_EQ(f.settings.LabelPreFolder, f.tmp.U("out") + u"/");
    EXPECT_EQ(f.shell.browseStarts, (std::vector<std::u16string>{u"/start/", u"/start/"}));
    EXPECT_TRUE(fs::exists(f.tmp.path() / "out" / "a.jww"));
}

TEST(BatchRun, DesktopModeUsesTheShellsFolder) {
    RunFixture f;
    CheckDestination(f.settings, DestinationMode::Desktop);
    fs::create_directories(f.tmp.path() / "desk");
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
    f.Run();
    EXPECT_TRUE(fs::exists(f.tmp.path() / "desk" / "a.jww"));
}

TEST(BatchRun, SettingsSavedBeforeAnyDrawingAndNormalisedAfter) {
    RunFixture f;
    f.settings.batch.CB04 = f.settings.batch.CB05 = true;
    f.settings.batch.CB01 = true;
    f.settings.batch.ED01 = u"新しいメモ";
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww", u"旧\r\n下段")));
    bool outputExistedAtSave = true;
    f.save = [&](const AppSettings& s) {
        outputExistedAtSave = fs::exists(f.tmp.path() / "out" / "a.jww");
        EXPECT_TRUE(s.batch.CB05);  // saved as the user left it
        ++f.saves;
    };
    f.Run();
    EXPECT_FALSE(outputExistedAtSave);
    EXPECT_FALSE(f.settings.batch.CB05);  // cleared by the applier, seen by the next save

    TJwwData out;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "a.jww", out));
    EXPECT_EQ(out.Enthd.jwVer, 700);
    EXPECT_EQ(out.Enthd.strMemo, u"新しいメモ\r\n下段");
    EXPECT_EQ(out.Enthd.nMaxDrawWid, 100);
}

TEST(BatchRun, Utf16StringsKeptOrAskedFor) {
    struct Row {
        const char* name;
        bool sourceUnicode, cb21, outputUnicode;
    } rows[] = {
        {"UTF-16 source, box unchecked", true, false, true},
        {"Shift_JIS source, box checked", false, true, true},
        {"Shift_JIS source, box unchecked", false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RunFixture f;
        f.settings.batch.CB21 = r.cb21;
        ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww", u"図面", r.sourceUnicode)));
        ASSERT_EQ(f.Run().converted, 1);
        TJwwData out;
        ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "a.jww", out));
        EXPECT_EQ(out.MojiEncode, r.outputUnicode);
        EXPECT_EQ(out.Enthd.strMemo, u"図面");
    }
}

TEST(BatchRun, DestinationFolderNoPathMayHoldStopsBeforeAnything) {
    RunFixture f;
    // "|" is no character of a path here. Such a folder may exist on Linux,
    // but once a name in it is taken no next free name can be found: a first
    // run would convert and every later one fail, so the run stops at once.
    f.tmp.Write("o|ut/a.jww", "taken");
    f.settings.EditFl1 = f.tmp.U("o|ut");
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
    EXPECT_EQ(f.Run().status, RunStatus::FolderMissing);
    EXPECT_EQ(f.shell.messages, std::vector<std::u16string>{u"指定したフォルダが見つかりません。\r\n" + f.tmp.U("o|ut") + u"/"});
    EXPECT_EQ(f.saves, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(f.tmp.path() / "o|ut"), {}), 1);
}

TEST(BatchRun, BoundImagesLiveInTheWorkingFolderUntilFreed) {
    RunFixture f;
    const fs::path sample = fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww";
    ASSERT_TRUE(f.queue.PickupFile(Utf8ToStr(sample.string())));
    ASSERT_EQ(f.Run().converted, 1);
    // The packed image as stored and its unpacked form, until the next load.
    EXPECT_TRUE(fs::exists(f.tmp.path() / "work" / "checker.png.gz"));
    EXPECT_TRUE(fs::exists(f.tmp.path() / "work" / "checker.png"));
    JwwDataFree(f.doc);
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "work"));
    EXPECT_EQ(f.doc.BindImageN, 0);

    TJwwData out;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "detail-700.jww", out));
    EXPECT_EQ(out.BindImageN, 1);
    EXPECT_TRUE(out.MojiEncode);
}

// A bound image that cannot be written into the working folder (gone, full)
// and that a text shows would be missing from the copy: that drawing fails
// with the reason and nothing is saved for it; a drawing without images still
// converts.
TEST(BatchRun, ImageThatCannotBeWrittenFailsThatDrawing) {
    RunFixture f;
    const fs::path sample = fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww";
    ASSERT_TRUE(f.queue.PickupFile(Utf8ToStr(sample.string())));
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww")));
    f.doc.BindImageFolder = f.tmp.U("gone") + u"/";
    RunSummary s = f.Run();
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(s.converted, 1);
    ASSERT_EQ(f.shell.log.size(), 6u);
    EXPECT_EQ(f.shell.log[2].line, kFailed);
    EXPECT_NE(f.shell.log[2].reason.find(u"checker.png.gz could not be written into the working folder"),
              std::u16string::npos)
        << StrToUtf8(f.shell.log[2].reason);
    EXPECT_FALSE(fs::exists(f.tmp.path() / "out" / "detail-700.jww"));
    EXPECT_TRUE(fs::exists(f.tmp.path() / "out" / "a.jww"));

    // The next run, with its working folder back, converts it.
    f.doc.BindImageFolder = f.tmp.U("work") + u"/";
    f.shell.log.clear();
    EXPECT_EQ(f.Run().converted, 2);
}

// A system without the Shift_JIS tables (no code page 932 converter) would
// turn every Japanese character into a substitute: each drawing fails.
TEST(BatchRun, NoShiftJisConverterFailsEveryDrawing) {
    RunFixture f;
    ASSERT_TRUE(f.queue.PickupFile(f.Source("a.jww", u"図面")));
    struct Missing {
        Missing() { SetAnsiConversionMissingForTest(true); }
        ~Missing() { SetAnsiConversionMissingForTest(false); }
    } missing;
    RunSummary s = f.Run();
    EXPECT_EQ(s.failed, 1);
    ASSERT_EQ(f.shell.log.size(), 3u);
    EXPECT_NE(f.shell.log[2].reason.find(u"code page 932"), std::u16string::npos);
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "out"));
}

// The fallback clean-up deletes by name, but only names that stay inside
// the working folder: the drawing's names are untrusted.
TEST(JwwDataFree, FallbackCleanUpStaysInTheWorkingFolder) {
    RunFixture f;
    f.tmp.Write("victim.png", "keep");
    f.tmp.Write("victim.png.gz", "keep");
    f.tmp.Write("work/photo.jpg.gz", "packed");
    f.tmp.Write("work/photo.jpg", "unpacked");
    f.tmp.Write("work/map.png", "plain");
    for (const char16_t* name : {u"../victim.png.gz", u"..\\victim.png", u"..", u"..gz", u"photo.jpg.gz", u"map.png"})
        f.doc.BindImage.push_back({name, 1, false});
    f.doc.BindImageN = static_cast<int32_t>(f.doc.BindImage.size());
    DeleteImageFilesByName(f.doc);
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "work"));
    EXPECT_EQ(ReadFile(f.tmp.path() / "victim.png"), "keep");
    EXPECT_EQ(ReadFile(f.tmp.path() / "victim.png.gz"), "keep");
}

TEST(RunProc1, NameTakenMeanwhileGetsTheNextFreeName) {
    RunFixture f;
    const std::u16string src = f.Source("a.jww");
    f.tmp.Write("out/a.jww", "someone else's");
    BatchSettings s;
    ConversionOutcome o = RunProc1(f.doc, s, src, f.tmp.U("out/a.jww"));
    ASSERT_TRUE(o.ok) << StrToUtf8(o.reason);
    EXPECT_EQ(o.savedAs, f.tmp.U("out/a~1.jww"));
    EXPECT_EQ(ReadFile(f.tmp.path() / "out" / "a.jww"), "someone else's");
}

TEST(RunProc1, FailedSaveLeavesNoFileAndSaysWhy) {
    RunFixture f;
    const std::u16string src = f.Source("a.jww");
    BatchSettings s;
    ConversionOutcome o = RunProc1(f.doc, s, src, f.tmp.U("gone/a.jww"));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(std::u16string(o.Text()), kOutcomeFailed);
    EXPECT_FALSE(o.reason.empty());
    EXPECT_FALSE(fs::exists(f.tmp.path() / "gone"));
}

}  // namespace
