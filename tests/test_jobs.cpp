// The batch run with several workers: the same files, bytes, names, log and
// settings as the run with one document, whatever order the workers finish in.
#include <gtest/gtest.h>

#include <map>

#include "Drawings.h"
#include "TempFolder.h"
#include "TestFiles.h"
#include "TestShell.h"
#include "app/BatchRun.h"
#include "app/OptionControls.h"
#include "tests/DrawingFixture.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

// Runs `queue` into tmp/<name> with `workers` documents, each with its own
// working folder; gives the shell with its log.
struct JobsRun {
    TestShell shell;
    AppSettings settings;
    RunSummary summary;
    std::map<std::string, std::string> files;  // output name -> bytes

    JobsRun(const TempFolder& tmp, const std::string& name, const FileQueue& queue, size_t workers,
            const AppSettings& start, int escapeFromTest = -1) {
        settings = start;
        settings.EditFl1 = tmp.U(name);
        CheckDestination(settings, DestinationMode::ChosenFolder);
        fs::create_directories(tmp.path() / name);
        std::vector<std::unique_ptr<TJwwData>> docs;
        std::vector<TJwwData*> pointers;
        for (size_t w = 0; w < workers; ++w) {
            const std::string work = name + "-work" + std::to_string(w);
            fs::create_directories(tmp.path() / work);
            docs.push_back(std::make_unique<TJwwData>());
            docs.back()->BindImageFolder = tmp.U(work) + u"/";
            docs.back()->BindImageExp = docs.back()->BindImageExr = true;
            pointers.push_back(docs.back().get());
        }
        shell.escapeFromTest = escapeFromTest;
        summary = RunProc(queue, settings, pointers, shell, nullptr);
        for (TJwwData* d : pointers) JwwDataFree(*d);
        for (size_t w = 0; w < workers; ++w)
            EXPECT_TRUE(fs::is_empty(tmp.path() / (name + "-work" + std::to_string(w))));
        for (const auto& e : fs::directory_iterator(tmp.path() / name))
            files[e.path().filename().string()] = ReadFile(e.path());
    }
    // The log with the output folder's path cut out, so that two runs compare.
    std::vector<std::u16string> Lines(const TempFolder& tmp, const std::string& name) const {
        std::vector<std::u16string> lines = shell.Lines();
        const std::u16string folder = tmp.U(name);
        for (std::u16string& l : lines)
            if (size_t at = l.find(folder); at != std::u16string::npos) l.replace(at, folder.size(), u"OUT");
        return lines;
    }
};

// Two sources named plan.jww in different folders, a source whose own name is
// the first free name of the second (plan~1.jww), a damaged drawing, one with
// a bound image, and the first source queued twice.
FileQueue MixedQueue(const TempFolder& tmp) {
    EXPECT_TRUE(MakeDrawing(tmp.path() / "a" / "plan.jww", u"A"));
    EXPECT_TRUE(MakeDrawing(tmp.path() / "b" / "plan.jww", u"B", true));
    EXPECT_TRUE(MakeDrawing(tmp.path() / "b" / "plan~1.jww", u"C"));
    tmp.Write("a/bad.jww", "JwwData.");
    FileQueue q;
    for (const char* s : {"a/plan.jww", "b/plan.jww", "a/bad.jww", "b/plan~1.jww"}) q.PickupFile(tmp.U(s));
    q.PickupFile(Utf8ToStr((fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww").string()));
    q.PickupFile(tmp.U("a/plan.jww"));
    return q;
}

TEST(BatchJobs, SameFilesLogAndSettingsAsOneJob) {
    TempFolder tmp;
    fs::create_directories(tmp.path() / "a");
    fs::create_directories(tmp.path() / "b");
    const FileQueue queue = MixedQueue(tmp);
    ASSERT_EQ(queue.FListN(), 6);
    AppSettings start;
    start.batch.CB01 = true;
    start.batch.ED01 = u"並列";
    start.batch.CB04 = start.batch.CB05 = true;  // both of a pair: the applier clears CB05

    JobsRun one(tmp, "one", queue, 1, start);
    for (size_t workers : {2u, 3u}) {
        const std::string name = "jobs" + std::to_string(workers);
        JobsRun many(tmp, name, queue, workers, start);
        EXPECT_EQ(many.Lines(tmp, name), one.Lines(tmp, "one")) << workers;
        EXPECT_EQ(many.files, one.files) << workers;
        EXPECT_EQ(many.summary.converted, 5);
        EXPECT_EQ(many.summary.failed, 1);
        EXPECT_FALSE(many.settings.batch.CB05);
        EXPECT_TRUE(many.settings.batch.CB04);
    }
    // Queue order decides the names: a/plan, b/plan, b/plan~1 (whose own name
    // b/plan took just before) and a/plan again.
    const std::vector<std::string> names = {"detail-700.jww", "plan.jww", "plan~1.jww", "plan~1~1.jww", "plan~2.jww"};
    std::vector<std::string> got;
    for (const auto& [n, bytes] : one.files) got.push_back(n);
    EXPECT_EQ(got, names);
    TJwwData b;
    ASSERT_TRUE(LoadDrawing(tmp.path() / "jobs2" / "plan~1.jww", b));
    EXPECT_EQ(b.Enthd.strMemo, u"並列\r\n");
    EXPECT_TRUE(b.MojiEncode);
}

// One folder spelled two ways ("c/" and "c/./"), the files converted beside
// their source: two workers must see that both spellings may name one file,
// so the names follow the queue as with one job however the workers finish.
TEST(BatchJobs, OneFolderSpelledTwoWaysGivesTheNamesOfOneJob) {
    TempFolder tmp;
    auto run = [&](const std::string& name, size_t workers) {
        fs::create_directories(tmp.path() / name);
        EXPECT_TRUE(MakeDrawing(tmp.path() / name / "x.jww", u"X"));
        FileQueue q;
        for (const char* s : {"/x.jww", "/./x.jww", "/x.jww", "/./x.jww"}) q.PickupFile(tmp.U(name + s));
        AppSettings settings;
        CheckDestination(settings, DestinationMode::SourceFolder);
        std::vector<std::unique_ptr<TJwwData>> docs;
        std::vector<TJwwData*> pointers;
        for (size_t w = 0; w < workers; ++w) {
            fs::create_directories(tmp.path() / (name + "-work" + std::to_string(w)));
            docs.push_back(std::make_unique<TJwwData>());
            docs.back()->BindImageFolder = tmp.U(name + "-work" + std::to_string(w)) + u"/";
            pointers.push_back(docs.back().get());
        }
        TestShell shell;
        RunProc(q, settings, pointers, shell, nullptr);
        for (TJwwData* d : pointers) JwwDataFree(*d);
        std::vector<std::u16string> lines = shell.Lines();
        const std::u16string folder = tmp.U(name);
        for (std::u16string& l : lines)
            if (size_t at = l.find(folder); at != std::u16string::npos) l.replace(at, folder.size(), u"DIR");
        return lines;
    };
    const std::vector<std::u16string> one = run("one", 1);
    for (const char16_t* name : {u"DIR/x~1.jww", u"DIR/./x~2.jww", u"DIR/x~3.jww", u"DIR/./x~4.jww"})
        EXPECT_NE(std::find(one.begin(), one.end(), std::u16string(kDestinationPrefix) + name), one.end()) << StrToUtf8(name);
    for (int round = 0; round < 8; ++round) EXPECT_EQ(run("two" + std::to_string(round), 2), one) << round;
}

// More files than the workers hold at once (four each): the queue is refilled
// while they work; a name queued twice in a row waits for the file before it,
// and sources queued again at the end take the next free names.
TEST(BatchJobs, LongQueueGivesTheLogAndFilesOfOneJob) {
    TempFolder tmp;
    fs::create_directories(tmp.path() / "src");
    FileQueue queue;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "src/d" + std::to_string(i) + ".jww";
        ASSERT_TRUE(MakeDrawing(tmp.path() / name, u"x"));
        queue.PickupFile(tmp.U(name));
        if (i == 12) queue.PickupFile(tmp.U(name));
    }
    for (const char* again : {"src/d0.jww", "src/d1.jww", "src/d23.jww"}) queue.PickupFile(tmp.U(again));
    JobsRun one(tmp, "one", queue, 1, AppSettings{});
    for (size_t workers : {2u, 3u}) {
        const std::string name = "jobs" + std::to_string(workers);
        JobsRun many(tmp, name, queue, workers, AppSettings{});
        EXPECT_EQ(many.Lines(tmp, name), one.Lines(tmp, "one")) << workers;
        EXPECT_EQ(many.files, one.files) << workers;
        EXPECT_EQ(many.summary.converted, queue.FListN());
    }
}

TEST(BatchJobs, EscapeFinishesTheFilesBegunThenStops) {
    TempFolder tmp;
    fs::create_directories(tmp.path() / "src");
    FileQueue queue;
    for (const std::string n : {"1.jww", "2.jww", "3.jww", "4.jww"}) {
        ASSERT_TRUE(MakeDrawing(tmp.path() / "src" / n, u"x"));
        queue.PickupFile(tmp.U("src/" + n));
    }
    // Escape is seen at the third test: two files were handed out, and those
    // a worker had begun by then are finished and logged, in queue order.
    JobsRun run(tmp, "out", queue, 2, AppSettings{}, 2);
    EXPECT_EQ(run.summary.status, RunStatus::Interrupted);
    const std::vector<std::u16string> lines = run.Lines(tmp, "out");
    ASSERT_EQ(lines.size() % 3, 1u);
    const size_t logged = lines.size() / 3;
    EXPECT_LE(logged, 2u);
    if (logged > 0) {
        EXPECT_EQ(lines[0], tmp.U("src/1.jww"));
    }
    if (logged > 1) {
        EXPECT_EQ(lines[3], tmp.U("src/2.jww"));
    }
    EXPECT_EQ(lines.back(), kInterruptedLine);
    EXPECT_EQ(run.files.size(), logged);
}

// Escape stops the run at once for the files handed out that no worker has
// begun: only the files being converted are finished, the others are neither
// converted nor logged. Escape is seen before the eighth file, seven handed
// out in a moment to two workers; each drawing holds a bound image of 16 MB,
// so that the workers are still on their first files by then.
TEST(BatchJobs, EscapeLeavesTheFilesNoWorkerHasBegun) {
    TempFolder tmp;
    TJwwData d;
    fixture::Build(d, false);
    fs::create_directories(tmp.path() / "img");
    fs::create_directories(tmp.path() / "src");
    tmp.Write("img/photo.jpg", std::string(16 << 20, 'p'));
    d.BindImageFolder = tmp.U("img/");
    d.BindImageExp = d.BindImageExr = true;
    d.BindImage = {{u"photo.jpg", 16 << 20, false}};
    d.BindImageN = 1;
    ASSERT_TRUE(d.FileOut(tmp.U("src/d0.jww"), 700)) << d.LastFailure().Describe();
    FileQueue queue;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "src/d" + std::to_string(i) + ".jww";
        if (i > 0) fs::create_hard_link(tmp.path() / "src" / "d0.jww", tmp.path() / name);
        queue.PickupFile(tmp.U(name));
    }
    JobsRun run(tmp, "out", queue, 2, AppSettings{}, 7);
    EXPECT_EQ(run.summary.status, RunStatus::Interrupted);
    const std::vector<std::u16string> lines = run.Lines(tmp, "out");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kInterruptedLine);
    const size_t logged = (lines.size() - 1) / 3;
    for (size_t i = 0; i < logged; ++i) EXPECT_EQ(lines[3 * i], queue.FList[i]);
    EXPECT_EQ(static_cast<size_t>(run.summary.converted), logged);
    EXPECT_EQ(run.files.size(), logged);
    // The two begun, with room for a file or two more should this thread be
    // held up while handing out: never the seven.
    EXPECT_LE(logged, 4u);
}

TEST(BatchJobs, SettingsStayAsTheyWereWhenNoDrawingLoads) {
    TempFolder tmp;
    tmp.Write("src/x.jww", "junk");
    tmp.Write("src/y.jww", "junk");
    FileQueue queue;
    queue.PickupFile(tmp.U("src/x.jww"));
    queue.PickupFile(tmp.U("src/y.jww"));
    AppSettings start;
    start.batch.CB16 = start.batch.CB17 = true;
    JobsRun one(tmp, "one", queue, 1, start), two(tmp, "two", queue, 2, start);
    EXPECT_TRUE(one.settings.batch.CB17);
    EXPECT_TRUE(two.settings.batch.CB17);
    EXPECT_EQ(two.summary.failed, 2);
}

}  // namespace
