// Faults during a batch: sources and the destination that change after the
// files were queued, a full disk, a process killed while it saves, and two
// runs into one folder at once. Every file gets its own outcome, the others
// are converted, and nothing partial remains.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <set>
#include <thread>

#include "CliRunner.h"
#include "TestShell.h"
#include "app/BatchRun.h"
#include "tests/DrawingFixture.h"
#include "tests/UnnamedFiles.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

const std::u16string kOk = std::u16string(kOutcomePrefix) + kOutcomeOk;
const std::u16string kFailed = std::u16string(kOutcomePrefix) + kOutcomeFailed;

// Names in a folder that are not hidden, sorted.
std::vector<std::string> Visible(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string()[0] != '.') names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
std::vector<std::string> All(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A folder in which nothing can be created, also for root (which chmod does
// not stop): the immutable attribute. Undone at the end of the scope.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const fs::path& folder) : folder_(folder) {
        if (::geteuid() != 0) {
            ok_ = ::chmod(folder.c_str(), 0555) == 0;
            return;
        }
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            ok_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) ::close(fd);
    }
    ~ReadOnlyFolder() {
        if (!ok_) return;
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0755);
            return;
        }
        int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0) ::close(fd);
    }
    bool ok() const { return ok_; }

private:
    fs::path folder_;
    bool ok_ = false;
};

// A shell that lets the test act just before the run takes file number i.
struct HookShell : TestShell {
    std::function<void(int)> beforeFile;
    void Progress(int done, int total, const std::u16string& current) override {
        TestShell::Progress(done, total, current);
        if (!current.empty() && beforeFile) beforeFile(done);
    }
};

// A run of the batch into out/, from sources in src/, with a working folder.
struct Batch {
    TempFolder tmp;
    TJwwData doc;
    HookShell shell;
    AppSettings settings;
    FileQueue queue;

    explicit Batch(const std::vector<std::string>& names) {
        for (const char* d : {"src", "out", "work"}) fs::create_directories(tmp.path() / d);
        doc.BindImageFolder = tmp.U("work") + u"/";
        doc.BindImageExp = doc.BindImageExr = true;
        CheckDestination(settings, DestinationMode::ChosenFolder);
        settings.EditFl1 = tmp.U("out");
        for (const std::string& n : names) {
            EXPECT_TRUE(MakeDrawing(tmp.path() / "src" / n, u"メモ"));
            EXPECT_TRUE(queue.PickupFile(tmp.U("src/" + n)));
        }
    }
    fs::path Src(const std::string& n) const { return tmp.path() / "src" / n; }
    // The outcome line of each file, in order.
    std::vector<std::u16string> Outcomes() const {
        std::vector<std::u16string> out;
        for (size_t i = 2; i < shell.log.size(); i += 3) out.push_back(shell.log[i].line);
        return out;
    }
    std::vector<std::u16string> Reasons() const {
        std::vector<std::u16string> out;
        for (size_t i = 2; i < shell.log.size(); i += 3) out.push_back(shell.log[i].reason);
        return out;
    }
};

}  // namespace

// After the queue was made: one source is deleted, one becomes a folder, one
// a FIFO that no program writes to (opening it must not wait for one).
TEST(BatchFaults, SourcesChangedAfterQueuingFailAloneAndTheOthersConvert) {
    Batch b({"a.jww", "b.jww", "c.jww", "d.jww", "e.jww"});
    b.shell.beforeFile = [&](int i) {
        if (i != 1) return;
        fs::remove(b.Src("b.jww"));
        fs::remove(b.Src("c.jww"));
        fs::create_directories(b.Src("c.jww"));
        fs::remove(b.Src("d.jww"));
        ASSERT_EQ(::mkfifo(b.Src("d.jww").c_str(), 0600), 0);
    };
    RunSummary s = RunProc(b.queue, b.settings, b.doc, b.shell, nullptr);
    EXPECT_EQ(s.converted, 2);
    EXPECT_EQ(s.failed, 3);
    EXPECT_EQ(b.Outcomes(), (std::vector<std::u16string>{kOk, kFailed, kFailed, kFailed, kOk}));
    for (int i : {1, 2, 3}) EXPECT_FALSE(b.Reasons()[i].empty()) << i;
    EXPECT_EQ(All(b.tmp.path() / "out"), (std::vector<std::string>{"a.jww", "e.jww"}));
}

// The destination turns read-only after two files, and then disappears.
TEST(BatchFaults, DestinationReadOnlyOrGoneMidwayFailsTheRestWithoutLeftovers) {
    {
        Batch b({"a.jww", "b.jww", "c.jww", "d.jww"});
        std::unique_ptr<ReadOnlyFolder> readOnly;
        b.shell.beforeFile = [&](int i) {
            if (i == 2) readOnly = std::make_unique<ReadOnlyFolder>(b.tmp.path() / "out");
        };
        RunProc(b.queue, b.settings, b.doc, b.shell, nullptr);
        if (!readOnly->ok()) GTEST_SKIP() << "cannot make a folder read-only here";
        EXPECT_EQ(b.Outcomes(), (std::vector<std::u16string>{kOk, kOk, kFailed, kFailed}));
        EXPECT_NE(StrToUtf8(b.Reasons()[2]).find("cannot create"), std::string::npos) << StrToUtf8(b.Reasons()[2]);
        readOnly.reset();
        EXPECT_EQ(All(b.tmp.path() / "out"), (std::vector<std::string>{"a.jww", "b.jww"}));
    }
    {
        Batch b({"a.jww", "b.jww", "c.jww"});
        b.shell.beforeFile = [&](int i) {
            if (i == 1) fs::remove_all(b.tmp.path() / "out");
        };
        RunProc(b.queue, b.settings, b.doc, b.shell, nullptr);
        EXPECT_EQ(b.Outcomes(), (std::vector<std::u16string>{kOk, kFailed, kFailed}));
        EXPECT_FALSE(fs::exists(b.tmp.path() / "out"));  // never made again
    }
}

namespace {

// A drawing of about 90 KB (the fixture with many more lines).
void MakeBigDrawing(const fs::path& path) {
    TJwwData d;
    fixture::Build(d, false);
    fixture::Seed s;
    for (int i = 0; i < 1200; ++i) fixture::AddLine(d, fixture::Line(1, 1, s));
    ASSERT_TRUE(d.FileOut(Utf8ToStr(path.string()), 700)) << d.LastFailure().Describe();
}

}  // namespace

// A disk that takes 48 KB per file at most (writes beyond fail with EFBIG):
// the big drawing fails, the small ones before and after it are converted.
TEST(CliFaults, FullDiskFailsOnlyTheFileThatDoesNotFit) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww"), c = f.Source("c.jww");
    MakeBigDrawing(f.tmp.path() / "src" / "big.jww");
    const std::string big = f.Path("src/big.jww");
    CliResult r = f.Run({"--settings", f.settings, "--dest", f.Path("out"), a, big, c}, {.fileSize = 48 << 10});
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.err.find(big + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(All(f.tmp.path() / "out"), (std::vector<std::string>{"a.jww", "c.jww"}));
    TJwwData out;
    EXPECT_TRUE(LoadDrawing(f.tmp.path() / "out" / "c.jww", out));
}

// A process killed while it saves leaves nothing in the destination folder
// (a new drawing is written into an unnamed file until it is complete). The
// next run converts into that name all the same, and a hidden temporary file,
// as a replacing save or a file system without unnamed files leaves, is never
// taken for a drawing.
TEST(CliFaults, KilledDuringASaveLeavesNoDrawingAndTheNextRunIgnoresTheLeftover) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww");
    CliResult killed = f.Run({"--settings", f.settings, "--dest", f.Path("out"), a},
                             {.fileSize = 8192, .killOnFileSize = true});
    ASSERT_EQ(killed.signal, SIGXFSZ) << killed.err;
    EXPECT_TRUE(Visible(f.tmp.path() / "out").empty());
    if (UnnamedFilesIn(f.tmp.path() / "out")) {
        EXPECT_EQ(All(f.tmp.path() / "out"), std::vector<std::string>{});
    }
    // The log line of the file begun was on its way out before the kill.
    EXPECT_EQ(killed.OutLines(), std::vector<std::string>{a});

    CliResult again = f.Run({"--settings", f.settings, "--dest", f.Path("out"), a});
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_EQ(Visible(f.tmp.path() / "out"), std::vector<std::string>{"a.jww"});
    const fs::path leftover = f.tmp.path() / "out" / ".a.jww.0123456789abcdef.tmp";
    fs::copy_file(f.tmp.path() / "out" / "a.jww", leftover);
    CliResult named = f.Run({"--settings", f.settings, "--dest", f.Path("src"), leftover.string()});
    EXPECT_EQ(named.exit, 1);
    EXPECT_NE(named.err.find("not a .jww file"), std::string::npos) << named.err;

    // SIGKILL at any moment: the destination name holds a whole drawing or nothing.
    MakeBigDrawing(f.tmp.path() / "src" / "big.jww");
    for (int delayMs : {0, 2, 5, 10, 20, 40}) {
        SCOPED_TRACE(delayMs);
        const fs::path out = f.tmp.path() / ("k" + std::to_string(delayMs));
        fs::create_directories(out);
        pid_t pid = f.Start({"--settings", f.settings, "--dest", out.string(), f.Path("src/big.jww")}, "k");
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGKILL);
        f.Wait(pid, "k");
        for (const std::string& name : Visible(out)) {
            EXPECT_EQ(name, "big.jww");
            TJwwData d;
            EXPECT_TRUE(LoadDrawing(out / name, d)) << d.LastFailure().Describe();
        }
    }
}

// Two runs convert the same sources into one folder at the same time: both
// complete, every output has a name of its own and loads with its images, and
// neither run removed the other's working files.
TEST(CliFaults, TwoRunsIntoOneFolderAtOnceKeepEveryFile) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    TJwwData withImages;
    fixture::Build(withImages, false);
    withImages.BindImageFolder = Utf8ToStr(f.Path("img/"));
    withImages.BindImageExp = withImages.BindImageExr = true;
    fs::create_directories(f.tmp.path() / "img");
    f.tmp.Write("img/photo.jpg.gz", std::string(4000, 'p'));
    f.tmp.Write("img/map.png", std::string(3000, 'm'));
    withImages.BindImage = {{u"photo.jpg.gz", 4000, false}, {u"map.png", 3000, false}};
    withImages.BindImageN = 2;
    std::vector<std::string> args = {"--settings", f.settings, "--dest", f.Path("out")};
    constexpr int kFiles = 12;
    for (int i = 0; i < kFiles; ++i) {
        const std::string src = f.Path("src/d" + std::to_string(i) + ".jww");
        ASSERT_TRUE(withImages.FileOut(Utf8ToStr(src), 700)) << withImages.LastFailure().Describe();
        args.push_back(src);
    }
    pid_t one = f.Start(args, "one"), two = f.Start(args, "two");
    CliResult r1 = f.Wait(one, "one"), r2 = f.Wait(two, "two");
    EXPECT_EQ(r1.exit, 0) << r1.err;
    EXPECT_EQ(r2.exit, 0) << r2.err;

    // Each log names the files it wrote; together they are the folder.
    std::set<std::string> logged;
    for (const CliResult* r : {&r1, &r2})
        for (const std::string& line : r->OutLines())
            if (line.rfind(StrToUtf8(kDestinationPrefix), 0) == 0) logged.insert(line.substr(4));
    const std::vector<std::string> names = All(f.tmp.path() / "out");
    EXPECT_EQ(names.size(), 2u * kFiles);
    EXPECT_EQ(logged.size(), 2u * kFiles);
    for (const std::string& name : names) {
        EXPECT_TRUE(logged.count(f.Path("out/" + name))) << name;
        TJwwData d;
        ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / name, d)) << name;
        EXPECT_EQ(d.BindImageN, 2) << name;
    }
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
}

namespace {

// `count` sources (hard links of one drawing that shows a bound image of a
// megabyte) in src/, for runs that last long enough to be stopped midway.
std::vector<std::string> ManySourcesWithAnImage(CliFixture& f, int count) {
    TJwwData d;
    fixture::Build(d, false);
    d.BindImageFolder = Utf8ToStr(f.Path("img/"));
    d.BindImageExp = d.BindImageExr = true;
    fs::create_directories(f.tmp.path() / "img");
    f.tmp.Write("img/photo.jpg", std::string(1 << 20, 'p'));
    d.BindImage = {{u"photo.jpg", 1 << 20, false}};
    d.BindImageN = 1;
    const fs::path first = f.tmp.path() / "src" / "d0.jww";
    EXPECT_TRUE(d.FileOut(Utf8ToStr(first.string()), 700)) << d.LastFailure().Describe();
    std::vector<std::string> names = {first.string()};
    for (int i = 1; i < count; ++i) {
        const fs::path link = f.tmp.path() / "src" / ("d" + std::to_string(i) + ".jww");
        fs::create_hard_link(first, link);
        names.push_back(link.string());
    }
    return names;
}

// Waits until the child's log names a finished file.
void WaitForFirstOutcome(const fs::path& out) {
    for (int i = 0; i < 2000 && ReadFile(out).find(StrToUtf8(kOutcomePrefix)) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

// Ctrl-C, a hang-up or SIGTERM in the middle of a run: the files in work are
// finished and logged, the run stops, the unpacked images and the working
// folders go, and the program ends by the signal. Every file written is whole.
TEST(CliFaults, StopSignalEndsTheRunWithoutLeavingWorkingFiles) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    constexpr int kFiles = 200;
    const std::vector<std::string> sources = ManySourcesWithAnImage(f, kFiles);
    const std::string interrupted = StrToUtf8(kInterruptedLine);
    struct Case {
        int signal;
        const char* jobs;
    };
    for (const Case c : {Case{SIGINT, "1"}, Case{SIGTERM, "2"}, Case{SIGHUP, "3"}}) {
        SCOPED_TRACE(c.signal);
        const fs::path out = f.tmp.path() / ("out" + std::to_string(c.signal));
        fs::create_directories(out);
        std::vector<std::string> args = {"--settings", f.settings, "--dest", out.string(), "--jobs", c.jobs};
        args.insert(args.end(), sources.begin(), sources.end());
        pid_t pid = f.Start(args, "sig");
        WaitForFirstOutcome(f.OutPath("sig"));
        ::kill(pid, c.signal);
        CliResult r = f.Wait(pid, "sig");
        EXPECT_EQ(r.signal, c.signal) << r.err;
        const std::vector<std::string> lines = r.OutLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), interrupted);
        const size_t logged = (lines.size() - 1) / 3;
        EXPECT_LT(logged, static_cast<size_t>(kFiles));
        EXPECT_EQ(All(out).size(), logged);
        for (const std::string& name : All(out)) {
            TJwwData d;
            EXPECT_TRUE(LoadDrawing(out / name, d)) << name;
        }
        EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
        EXPECT_TRUE(All(f.tmp.path() / "tmp").empty());
    }
}

// A reader of the log that goes away (a pipe into "head") fails the run
// instead of killing it: every file is converted, the working files go, the
// status is 1.
TEST(CliFaults, LogReaderGoneFailsTheRunWithoutLeavingWorkingFiles) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::vector<std::string> sources = ManySourcesWithAnImage(f, 3);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);  // nobody reads
    std::vector<std::string> args = {"--settings", f.settings, "--dest", f.Path("out")};
    args.insert(args.end(), sources.begin(), sources.end());
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        std::signal(SIGPIPE, SIG_DFL);
        int err = ::open(f.ErrPath("pipe").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        for (const std::string& e : f.Env()) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(f.cli.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(f.cli.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    CliResult r = WaitProgram(pid, f.ErrPath("unused"), f.ErrPath("pipe"));
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.err.find("the log could not be written"), std::string::npos) << r.err;
    EXPECT_EQ(All(f.tmp.path() / "out").size(), sources.size());
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
    EXPECT_TRUE(All(f.tmp.path() / "tmp").empty());
}
