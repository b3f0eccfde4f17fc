// The command line as a process: exit codes, the log on stdout, reasons on
// stderr, and nothing written where nothing should be.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "Drawings.h"
#include "TempFolder.h"
#include "app/BatchRun.h"
#include "app/OptionControls.h"
#include "app/SettingsFile.h"
#include "app/shell/ConsoleShell.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

std::string U8(const char16_t* s) { return StrToUtf8(s); }

TEST(Cli, UsageVersionAndHelp) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    CliResult v = f.Run({"--version"});
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.out, "morvane-cli 1.10\n");
    CliResult h = f.Run({"--help"});
    EXPECT_EQ(h.exit, 0);
    EXPECT_NE(h.out.find("--beside-source"), std::string::npos);
    struct Row {
        std::vector<std::string> args;
        const char* says;
    } rows[] = {
        {{}, "no drawing"},
        {{"--frobnicate", "a.jww"}, "unknown option"},
        {{"--dest", "x", "--beside-source", "a.jww"}, "exclude"},
        {{"--settings"}, "needs a path"},
        {{"--show", "--unicode", "a.jww"}, "--show"},
        {{"--jobs", "0", "a.jww"}, "--jobs takes"},
        {{"--jobs", "x", "a.jww"}, "--jobs takes"},
        {{"--jobs"}, "--jobs needs"},
        {{"--dest", "", "a.jww"}, "--dest needs a folder"},  // an unset variable must not mean "/"
    };
    for (const Row& r : rows) {
        CliResult u = f.Run(r.args);
        EXPECT_EQ(u.exit, 2) << r.says;
        EXPECT_NE(u.err.find(r.says), std::string::npos) << u.err;
        EXPECT_TRUE(u.out.empty());
    }
}

TEST(Cli, ConvertsPrintsTheLogAndReportsFailures) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww"), c = f.Source("c.JWW");
    const std::string b = f.tmp.Write("src/b.jww", "JwwData.").string();
    const std::string txt = f.tmp.Write("src/notes.txt", "x").string();
    const std::string settingsBefore = ReadFile(f.settings);

    // Names that are no drawing at all: a pipe, a loop of links, nothing.
    const std::string pipe = f.Path("src/pipe.jww"), loop = f.Path("src/loop.jww"), gone = f.Path("src/gone.jww");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_symlink(loop, loop);

    CliResult r = f.Run({"--settings", f.settings, "--dest", f.Path("out"), a, b, txt, pipe, loop, gone, c});
    EXPECT_EQ(r.exit, 1);
    const std::string ok = U8(kOutcomePrefix) + U8(kOutcomeOk), failed = U8(kOutcomePrefix) + U8(kOutcomeFailed);
    const std::vector<std::string> expected = {
        a, U8(kDestinationPrefix) + f.Path("out/a.jww"), ok,
        b, U8(kDestinationPrefix) + f.Path("out/b.jww"), failed,
        c, U8(kDestinationPrefix) + f.Path("out/c.JWW"), ok,
    };
    EXPECT_EQ(r.OutLines(), expected);
    // One line per failed file naming it and the reason with its byte offset,
    // one for each argument that is no drawing, with why.
    EXPECT_NE(r.err.find(b + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("byte"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(txt + ": not a .jww file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(pipe + ": not a regular file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(loop + ": a loop of symbolic links"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(gone + ": no such file"), std::string::npos) << r.err;

    TJwwData out;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "a.jww", out));
    EXPECT_EQ(out.Enthd.strMemo, u"CLI\r\n");  // the settings file's memo line
    EXPECT_EQ(ReadFile(f.settings), settingsBefore);  // read, never written
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "tmp"));
}

TEST(Cli, AllConvertedIsExitZero) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww");
    const std::string image = (fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww").string();
    CliResult r = f.Run({"--settings", f.settings, "--dest", f.Path("out"), "--unicode", a, image});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.OutLines().size(), 6u);
    TJwwData out;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "a.jww", out));
    EXPECT_TRUE(out.MojiEncode);
    TJwwData withImage;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "out" / "detail-700.jww", withImage));
    EXPECT_EQ(withImage.BindImageN, 1);
    // The unpacked images went with the private working folder and its TEMP.
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
}

TEST(Cli, JobsGiveTheSameLogAndFilesAsOneJob) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww"), b = f.Source("b.jww");
    fs::create_directories(f.tmp.path() / "src2");
    ASSERT_TRUE(MakeDrawing(f.tmp.path() / "src2" / "a.jww", u"別", true));
    const std::string a2 = f.Path("src2/a.jww");
    const std::string bad = f.tmp.Write("src/bad.jww", "JwwData.").string();
    const std::string image = (fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww").string();
    std::map<std::string, CliResult> runs;
    for (const std::string jobs : {"1", "2"}) {
        fs::create_directories(f.tmp.path() / ("out" + jobs));
        runs[jobs] = f.Run({"--settings", f.settings, "--dest", f.Path("out" + jobs), "--jobs", jobs, a, bad, a2,
                            image, b});
        EXPECT_EQ(runs[jobs].exit, 1);
    }
    std::string log1 = runs["1"].out, log2 = runs["2"].out;
    for (size_t p; (p = log2.find(f.Path("out2"))) != std::string::npos;) log2.replace(p, f.Path("out2").size(), f.Path("out1"));
    EXPECT_EQ(log2, log1);
    EXPECT_EQ(runs["2"].err, runs["1"].err);
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(f.tmp.path() / "out1")) {
        ++files;
        EXPECT_EQ(ReadFile(f.tmp.path() / "out2" / e.path().filename()), ReadFile(e.path())) << e.path();
    }
    EXPECT_EQ(files, 4u);  // a.jww, a~1.jww (from src2), detail-700.jww, b.jww
    EXPECT_TRUE(fs::exists(f.tmp.path() / "out2" / "a~1.jww"));
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
}

// Where the system gives no thread (a limit on processes), --jobs converts
// on the calling thread: the log and the files of one job, no working folder left.
TEST(Cli, JobsWithoutThreadsConvertAsOneJob) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww"), b = f.Source("b.jww");
    const std::string image = (fs::path(MORVANE_SOURCE_DIR) / "samples" / "detail-700.jww").string();
    // Open to "nobody", who runs the child when the tests run as root.
    for (const char* d : {"", "src", "tmp"}) fs::permissions(f.tmp.path() / d, fs::perms::all);
    std::map<std::string, CliResult> runs;
    for (const std::string jobs : {"1", "4"}) {
        fs::create_directories(f.tmp.path() / ("out" + jobs));
        fs::permissions(f.tmp.path() / ("out" + jobs), fs::perms::all);
        runs[jobs] = f.Run({"--settings", f.settings, "--dest", f.Path("out" + jobs), "--jobs", jobs, a, image, b},
                           {.noThreads = jobs != "1"});
    }
    EXPECT_EQ(runs["4"].exit, 0) << runs["4"].err;
    std::string log4 = runs["4"].out;
    for (size_t p; (p = log4.find(f.Path("out4"))) != std::string::npos;) log4.replace(p, f.Path("out4").size(), f.Path("out1"));
    EXPECT_EQ(log4, runs["1"].out);
    for (const auto& e : fs::directory_iterator(f.tmp.path() / "out1"))
        EXPECT_TRUE(ReadFile(f.tmp.path() / "out4" / e.path().filename()) == ReadFile(e.path())) << e.path();
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "tmp"));
}

TEST(Cli, DestinationErrorsWriteNothing) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww");
    CliResult missing = f.Run({"--settings", f.settings, "--dest", f.Path("nowhere"), a});
    EXPECT_EQ(missing.exit, 2);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(missing.err.find(U8(kFolderMissingMessage) + "\n" + f.Path("nowhere") + "/"), std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(f.tmp.path() / "nowhere"));
    // Also when no named file is usable: the folder is the run's error.
    CliResult both = f.Run({"--settings", f.settings, "--dest", f.Path("nowhere"), f.Path("src/none.jww")});
    EXPECT_EQ(both.exit, 2);
    EXPECT_NE(both.err.find(U8(kFolderMissingMessage)), std::string::npos) << both.err;

    // The settings ask for a folder at every run: there is no dialog.
    CliResult ask = f.Run({"--settings", f.settings, a});
    EXPECT_EQ(ask.exit, 2);
    EXPECT_NE(ask.err.find("--dest"), std::string::npos);

    // The desktop of the settings file's mode does not exist either.
    AppSettings desktop;
    SaveDatFile(Utf8ToStr(f.Path("d.dat")), desktop);
    CliResult noDesktop = f.Run({"--settings", f.Path("d.dat"), a});
    EXPECT_EQ(noDesktop.exit, 2);
    EXPECT_NE(noDesktop.err.find(f.Path("home/Desktop")), std::string::npos) << noDesktop.err;

    CliResult badSettings = f.Run({"--settings", f.Path("none.dat"), "--dest", f.Path("out"), a});
    EXPECT_EQ(badSettings.exit, 2);

    // A folder whose name no path may hold here: refused before the first
    // file, which a later run could not have named again.
    fs::create_directories(f.tmp.path() / "o|p");
    CliResult bar = f.Run({"--settings", f.settings, "--dest", f.Path("o|p"), a});
    EXPECT_EQ(bar.exit, 2);
    EXPECT_NE(bar.err.find(f.Path("o|p") + "/: the name holds"), std::string::npos) << bar.err;
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "o|p"));

    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "out"));
    EXPECT_EQ(std::distance(fs::directory_iterator(f.tmp.path() / "src"), {}), 1);
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
}

TEST(Cli, BesideSourceAndTheDefaultSettingsFile) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww");
    // Beside the program copy: the window's settings file, mode "元ファイルのフォルダ".
    AppSettings beside;
    CheckDestination(beside, DestinationMode::SourceFolder);
    beside.batch.CB03 = true;
    beside.batch.CX01 = 5;
    SaveDatFile(Utf8ToStr(f.Path("bin/morvane.dat")), beside);
    CliResult r = f.Run({a});
    EXPECT_EQ(r.exit, 0) << r.err;
    TJwwData out;
    ASSERT_TRUE(LoadDrawing(f.tmp.path() / "src" / "a~1.jww", out));
    EXPECT_EQ(out.Enthd.nZumen, 8);

    CliResult again = f.Run({"--settings", f.settings, "--beside-source", a});
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_TRUE(fs::exists(f.tmp.path() / "src" / "a~2.jww"));
}

// Names as the file system holds them: a drawing named in Shift_JIS (as
// unpacked from an archive made on Windows) is converted, its copies keep the
// bytes of the name, and the log prints them as they are. A destination folder
// whose name ends in a backslash gets the files inside it.
TEST(Cli, NamesThatAreNoUtf8AndFoldersEndingInABackslash) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string sjis = "\x95\xBD\x96\xCA";  // 平面 in Shift_JIS
    const std::string src = f.Path("src/" + sjis + ".jww");
    fs::rename(f.Source("a.jww"), src);
    const std::string dest = f.Path("out/x\\");
    fs::create_directories(dest);
    CliResult r = f.Run({"--settings", f.settings, "--dest", dest, src, src});
    EXPECT_EQ(r.exit, 0) << r.err;
    const std::string ok = U8(kOutcomePrefix) + U8(kOutcomeOk);
    const std::vector<std::string> expected = {
        src, U8(kDestinationPrefix) + dest + "/" + sjis + ".jww", ok,
        src, U8(kDestinationPrefix) + dest + "/" + sjis + "~1.jww", ok,
    };
    EXPECT_EQ(r.OutLines(), expected);
    EXPECT_TRUE(fs::exists(fs::path(dest) / (sjis + ".jww")));
    EXPECT_TRUE(fs::exists(fs::path(dest) / (sjis + "~1.jww")));
    EXPECT_EQ(std::distance(fs::directory_iterator(f.tmp.path() / "out"), {}), 1);  // only x\ itself
    CliResult shown = f.Run({"--show", src});
    EXPECT_EQ(shown.exit, 0) << shown.err;
    EXPECT_EQ(shown.out.rfind(src + "\n", 0), 0u) << shown.out;
}

// A log that cannot be written is a failure, even when every drawing converted.
TEST(Cli, LogThatCannotBeWrittenFailsTheRun) {
    SKIP_WITHOUT_CLI();
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    CliFixture f;
    const std::string a = f.Source("a.jww");
    const std::string full = f.Path(".stdout-full");
    fs::create_symlink("/dev/full", full);
    pid_t pid = StartProgram(f.cli, {"--settings", f.settings, "--dest", f.Path("out"), a}, f.Env(), full,
                             f.ErrPath("full"));
    CliResult r = WaitProgram(pid, f.ErrPath("unused"), f.ErrPath("full"), std::chrono::steady_clock::now());
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("the log could not be written"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(f.tmp.path() / "out" / "a.jww"));
    for (const char* option : {"--help", "--version"}) {
        pid = StartProgram(f.cli, {option}, f.Env(), full, f.ErrPath("full"));
        CliResult h = WaitProgram(pid, f.ErrPath("unused"), f.ErrPath("full"), std::chrono::steady_clock::now());
        EXPECT_EQ(h.exit, 1) << option;
        EXPECT_NE(h.err.find("standard output could not be written"), std::string::npos) << h.err;
    }
}

TEST(Cli, ShowListsTheSettingsAndWritesNothing) {
    SKIP_WITHOUT_CLI();
    CliFixture f;
    const std::string a = f.Source("a.jww", true);
    const std::string bad = f.tmp.Write("src/bad.jww", "not a drawing").string();
    CliResult r = f.Run({"--show", a});
    EXPECT_EQ(r.exit, 0) << r.err;
    for (const char* expected : {"version", "700", "memo line 1", "メモ", "paper size", "line widths",
                                 "point radius", "images first", "texts last", "text background", "UTF-16",
                                 "pens", "grey", "background"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;
    CliResult b = f.Run({"--show", bad});
    EXPECT_EQ(b.exit, 1);
    EXPECT_NE(b.err.find(bad + ": "), std::string::npos);

    // A memo of three lines, a stray CR and a control character: each memo
    // line of the listing stays one line, with escapes.
    const std::string multi = (f.tmp.path() / "src" / "multi.jww").string();
    ASSERT_TRUE(MakeDrawing(multi, u"a\rb\tc\r\nL2\r\nL3\x01", false));
    CliResult m = f.Run({"--show", multi});
    EXPECT_EQ(m.exit, 0) << m.err;
    EXPECT_NE(m.out.find("  memo line 1     a\\rb\\tc\n"), std::string::npos) << m.out;
    EXPECT_NE(m.out.find("  memo line 2     L2\\r\\nL3\\x01\n"), std::string::npos) << m.out;
    EXPECT_EQ(m.out.find("\nL3"), std::string::npos) << m.out;
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "tmp"));
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
    EXPECT_EQ(std::distance(fs::directory_iterator(f.tmp.path() / "src"), {}), 3);
}

}  // namespace

namespace {

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    void Set(const char* name, const std::string& value) {
        Remember(name);
        ::setenv(name, value.c_str(), 1);
    }
    void Unset(const char* name) {
        Remember(name);
        ::unsetenv(name);
    }
    ~EnvGuard() {
        for (auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    void Remember(const char* name) {
        const char* v = std::getenv(name);
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

TEST(ConsoleShell, UserFoldersFromEnvironmentUserDirsOrHome) {
    TempFolder tmp;
    EnvGuard env;
    env.Set("HOME", tmp.path().string());
    env.Set("XDG_CONFIG_HOME", (tmp.path() / "cfg").string());
    env.Unset("XDG_DESKTOP_DIR");
    env.Unset("XDG_DOCUMENTS_DIR");
    ConsoleShell shell;
    EXPECT_EQ(shell.DesktopFolder(), tmp.U("Desktop"));
    tmp.Write("cfg/user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ/\"\n"
                                    "XDG_DOCUMENTS_DIR=\"/srv/docs\"\nXDG_MUSIC_DIR=\"relative\"\n");
    EXPECT_EQ(shell.DesktopFolder(), tmp.U("デスクトップ"));
    EXPECT_EQ(shell.DocumentsFolder(), u"/srv/docs");
    env.Set("XDG_DOCUMENTS_DIR", "/data/documents");
    EXPECT_EQ(shell.DocumentsFolder(), u"/data/documents");
}

TEST(ConsoleShell, LogOnStdoutReasonsAndMessagesOnStderr) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    {
        ConsoleShell shell(out, err);
        std::u16string chosen;
        EXPECT_FALSE(shell.BrowseForFolder(u"/", chosen));
        EXPECT_FALSE(shell.EscapePressed());
        shell.Progress(0, 1, u"/d/図面.jww");
        shell.LogAppend(u"/d/図面.jww", u"");
        shell.LogAppend(u"　…… 変換失敗", u"JWW-Header Error at byte 0");
        shell.ShowMessage(u"指定したフォルダが見つかりません。\r\n/x/");
    }
    EXPECT_EQ(Contents(out), "/d/図面.jww\n　…… 変換失敗\n");
    EXPECT_EQ(Contents(err), "/d/図面.jww: JWW-Header Error at byte 0\n指定したフォルダが見つかりません。\n/x/\n");
    std::fclose(out);
    std::fclose(err);
}

}  // namespace
