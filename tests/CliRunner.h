// morvane-cli as a child process for the tests: its exit status, stdout and
// stderr, optional resource limits, and what the child used.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include "Drawings.h"
#include "TempFolder.h"
#include "app/AppSettings.h"
#include "app/OptionControls.h"
#include "app/SettingsFile.h"

namespace morvane {

struct CliResult {
    int exit = -1;      // the exit status, or 128 + the signal that ended the child
    int signal = 0;     // the signal that ended the child, 0 when it exited
    std::string out, err;
    long peakKb = 0;    // the child's peak resident memory
    double seconds = 0; // wall time
    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        for (size_t p = 0, e; (e = out.find('\n', p)) != std::string::npos; p = e + 1)
            lines.push_back(out.substr(p, e - p));
        return lines;
    }
};

// Limits set in the child before it runs the program (0: unchanged).
struct ChildLimits {
    uint64_t addressSpace = 0;  // RLIMIT_AS
    uint64_t fileSize = 0;      // RLIMIT_FSIZE
    bool killOnFileSize = false;  // SIGXFSZ kills the child; otherwise writes fail with EFBIG
    // The child may start no thread (RLIMIT_NPROC of 1). Root, whom the limit
    // does not bind, runs the child as the user "nobody" (65534).
    bool noThreads = false;
};

// Starts `program` with `args` and the extra environment `env` (NAME=value),
// stdout and stderr into the files `outPath` and `errPath`.
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env, const std::filesystem::path& outPath,
                          const std::filesystem::path& errPath, const ChildLimits& limits = {}) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const char* v : {"XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"}) ::unsetenv(v);
    // As started from a terminal, whatever the test runner ignores.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, SIG_DFL);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    struct rlimit none {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    if (limits.addressSpace) {
        struct rlimit as {limits.addressSpace, limits.addressSpace};
        ::setrlimit(RLIMIT_AS, &as);
    }
    if (limits.fileSize) {
        std::signal(SIGXFSZ, limits.killOnFileSize ? SIG_DFL : SIG_IGN);  // kept across exec
        struct rlimit fs {limits.fileSize, limits.fileSize};
        ::setrlimit(RLIMIT_FSIZE, &fs);
    }
    if (limits.noThreads) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(126);
        struct rlimit one {1, 1};
        ::setrlimit(RLIMIT_NPROC, &one);
        // The leak check at exit needs a thread of its own.
        const char* asan = std::getenv("ASAN_OPTIONS");
        ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

// Waits for a child of StartProgram and collects what it printed and used.
inline CliResult WaitProgram(pid_t pid, const std::filesystem::path& outPath, const std::filesystem::path& errPath,
                             std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now()) {
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    CliResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    r.peakKb = usage.ru_maxrss;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + r.signal;
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return r;
}

// A copy of the command line in its own program folder (bin/), so that its
// default settings file and its working folder are the test's own, with the
// folders src/, out/ and tmp/ ($TMPDIR) and a settings file s.dat that sets
// the first memo line to "CLI".
struct CliFixture {
    TempFolder tmp;
    std::string cli;
    std::string settings;

    CliFixture() {
        if (std::string(MORVANE_CLI_PATH).empty()) return;
        for (const char* d : {"bin", "src", "out", "tmp"}) std::filesystem::create_directories(tmp.path() / d);
        cli = (tmp.path() / "bin" / "morvane-cli").string();
        std::filesystem::copy_file(MORVANE_CLI_PATH, cli);
        settings = (tmp.path() / "s.dat").string();
        AppSettings a;
        a.batch.CB01 = true;
        a.batch.ED01 = u"CLI";
        CheckDestination(a, DestinationMode::AskEachRun);
        SaveDatFile(Utf8ToStr(settings), a);
    }
    std::string Source(const std::string& name, bool unicode = false) {
        EXPECT_TRUE(MakeDrawing(tmp.path() / "src" / name, u"メモ", unicode));
        return (tmp.path() / "src" / name).string();
    }
    std::string Path(const std::string& name) const { return (tmp.path() / name).string(); }
    std::vector<std::string> Env() const { return {"TMPDIR=" + Path("tmp"), "HOME=" + Path("home")}; }
    // Starts a run whose output goes to files named after `tag`.
    pid_t Start(const std::vector<std::string>& args, const std::string& tag, const ChildLimits& limits = {}) {
        return StartProgram(cli, args, Env(), OutPath(tag), ErrPath(tag), limits);
    }
    CliResult Wait(pid_t pid, const std::string& tag,
                   std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now()) {
        return WaitProgram(pid, OutPath(tag), ErrPath(tag), started);
    }
    CliResult Run(const std::vector<std::string>& args, const ChildLimits& limits = {}) {
        auto started = std::chrono::steady_clock::now();
        return Wait(Start(args, "run", limits), "run", started);
    }
    std::filesystem::path OutPath(const std::string& tag) const { return tmp.path() / (".stdout-" + tag); }
    std::filesystem::path ErrPath(const std::string& tag) const { return tmp.path() / (".stderr-" + tag); }
};

#define SKIP_WITHOUT_CLI()                                                            \
    if (std::string(MORVANE_CLI_PATH).empty()) GTEST_SKIP() << "morvane-cli not built"

}  // namespace morvane
