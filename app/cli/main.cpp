// morvane-cli: converts JWW drawings with the settings of a settings file, or
// shows what the tool can change in them. No window, no dialog; the settings
// file is read, never written.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/BatchRun.h"
#include "app/OptionControls.h"
#include "app/SettingsFile.h"
#include "app/cli/ShowDrawing.h"
#include "app/shell/ConsoleShell.h"
#include "support/Func_2.h"

using namespace morvane;

namespace {

constexpr const char* kVersion = "morvane-cli 1.10";

constexpr const char* kUsage =
    "Usage:\n"
    "  morvane-cli [--settings PATH] [--dest DIR | --beside-source] [--unicode] [--jobs N] FILE...\n"
    "  morvane-cli --show FILE...\n"
    "  morvane-cli --help | --version\n"
    "\n"
    "Converts each JWW drawing with the options of the settings file and saves it as a\n"
    "new version-700 drawing; an existing file is never overwritten (a free name with\n"
    "\"~\" and a number is taken instead).\n"
    "\n"
    "  --settings PATH   read the options from PATH (default: the program's settings file)\n"
    "  --dest DIR        save into DIR\n"
    "  --beside-source   save beside each source drawing\n"
    "  --unicode         write every string as UTF-16 (\"Unicode文字使用\")\n"
    "  --jobs N          convert up to N drawings at once (default 1); same files, same log\n"
    "  --show            print the settings the tool can change; write nothing\n"
    "\n"
    "Exit status: 0 every file converted, 1 a file failed or was skipped,\n"
    "2 usage error or missing destination folder.\n";

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;
constexpr int kMaxJobs = 64;

// The signal that asked the run to stop (0: none). An atomic, not a volatile
// flag: with several jobs the handler may run on a worker's thread.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int sig) { gStopSignal.store(sig, std::memory_order_relaxed); }

// Ctrl-C, a hang-up or a kill (SIGTERM) stops the run before the next file:
// the files in work are finished and logged, the unpacked images and the
// working folders are removed, and the program then ends by that signal. A
// second one ends it at once. A signal ignored when the program started
// (nohup, a background job) stays ignored. A reader of the log that goes away
// no longer kills the program with SIGPIPE: the write fails and the run ends
// with status 1, its working files removed.
void CatchStopSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART | SA_RESETHAND;
        ::sigaction(sig, &sa, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

struct CliOptions {
    std::optional<std::string> settings;
    std::optional<std::string> dest;
    int jobs = 1;
    bool besideSource = false, unicode = false, show = false, help = false, version = false;
    std::vector<std::string> files;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "morvane-cli: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

// The worker count of --jobs, or 0 when `text` is not a number from 1 to kMaxJobs.
int ParseJobs(const std::string& text) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    int n = std::stoi(text);
    return n >= 1 && n <= kMaxJobs ? n : 0;
}

// Parses argv; on a usage error prints it and gives the exit status.
std::optional<int> ParseArgs(int argc, char** argv, CliOptions& o) {
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::optional<std::string>& target) -> bool {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.files.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "--settings") {
            if (!value(o.settings)) return UsageError("--settings needs a path");
        } else if (a == "--dest") {
            // An empty value (an unset shell variable) would name the root folder.
            if (!value(o.dest) || o.dest->empty()) return UsageError("--dest needs a folder");
        } else if (a == "--jobs") {
            std::optional<std::string> n;
            if (!value(n)) return UsageError("--jobs needs a number");
            o.jobs = ParseJobs(*n);
            if (o.jobs == 0) return UsageError("--jobs takes a number from 1 to " + std::to_string(kMaxJobs));
        } else if (a == "--beside-source") {
            o.besideSource = true;
        } else if (a == "--unicode") {
            o.unicode = true;
        } else if (a == "--show") {
            o.show = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            return UsageError("unknown option " + a);
        }
    }
    if (o.help || o.version) return std::nullopt;
    if (o.dest && o.besideSource) return UsageError("--dest and --beside-source exclude each other");
    if (o.show && (o.dest || o.besideSource || o.unicode || o.settings || o.jobs != 1))
        return UsageError("--show takes only drawings");
    if (o.files.empty()) return UsageError("no drawing named");
    return std::nullopt;
}

constexpr const char* kInvalidCharsReason =
    "the name holds \", <, >, | or a control character, which no path may hold here";

// Why an argument is not queued.
const char* SkipReason(const std::u16string& path) {
    if (HasInvalidPathChar(path)) return kInvalidCharsReason;
    if (PathFolderExists(path)) return "is a folder, not a .jww file";
    if (!PathFileExists(path)) {
        struct stat st {};
        if (::stat(NativePath(path).c_str(), &st) == 0) return "not a regular file (a device, pipe or socket)";
        return errno == ELOOP ? "a loop of symbolic links" : "no such file";
    }
    return "not a .jww file";
}

// Queues the drawings among the arguments; reports the others.
FileQueue QueueArguments(const std::vector<std::string>& files, int& skipped) {
    FileQueue queue;
    for (const std::string& f : files) {
        std::u16string path = NativeToStr(f);
        if (queue.PickupFile(path)) continue;
        std::fprintf(stderr, "morvane-cli: %s: %s\n", f.c_str(), SkipReason(path));
        ++skipped;
    }
    return queue;
}

// Applies --dest / --beside-source to the mode of the settings file and
// checks that the destination folder exists. Gives an exit status on error.
std::optional<int> ChooseDestination(const CliOptions& o, AppSettings& s, Shell& shell) {
    if (o.dest) {
        CheckDestination(s, DestinationMode::ChosenFolder);
        s.EditFl1 = NativeToStr(*o.dest);
    } else if (o.besideSource) {
        CheckDestination(s, DestinationMode::SourceFolder);
    }
    std::u16string folder;
    switch (CheckedDestination(s)) {
        case DestinationMode::AskEachRun:
            std::fprintf(stderr,
                         "morvane-cli: the settings ask for a folder at every run (毎回指定); "
                         "name one with --dest, or use --beside-source\n");
            return kExitUsage;
        case DestinationMode::SourceFolder: return std::nullopt;
        case DestinationMode::Desktop: folder = shell.DesktopFolder(); break;
        case DestinationMode::Documents: folder = shell.DocumentsFolder(); break;
        case DestinationMode::ChosenFolder: folder = s.EditFl1; break;
    }
    folder = AddTrailingSeparator(folder);
    // Such a folder may exist here, but no name inside it is handled: the
    // first file would be written and every later run find its name taken.
    if (HasInvalidPathChar(folder)) {
        std::fprintf(stderr, "morvane-cli: %s: %s\n", StrToNative(folder).c_str(), kInvalidCharsReason);
        return kExitUsage;
    }
    if (PathFolderExists(folder)) return std::nullopt;
    shell.ShowMessage(std::u16string(kFolderMissingMessage) + u"\r\n" + folder);
    return kExitUsage;
}

int Convert(const CliOptions& o) {
    const std::u16string programFile = ProgramFilePath();
    const std::u16string programFolder = ProgramFolderOf(programFile);
    // Without --settings, the window's settings file: "morvane.dat" beside the
    // programs, or the one in the user's configuration folder.
    const std::u16string windowProgram = programFolder.empty() ? std::u16string() : programFolder + u"morvane";
    const std::u16string settingsPath = o.settings ? NativeToStr(*o.settings) : SettingsFilePathFor(windowProgram);
    AppSettings settings;
    if (!OpenDatFile(settingsPath, programFolder, settings) && o.settings) {
        std::fprintf(stderr, "morvane-cli: %s: cannot read the settings file\n", o.settings->c_str());
        return kExitUsage;
    }
    if (o.unicode) settings.batch.CB21 = true;

    // A destination that cannot be used is the run's error, whatever the
    // files named: checked before them.
    ConsoleShell shell;
    shell.StopWhenSet(&gStopSignal);
    if (auto status = ChooseDestination(o, settings, shell)) return *status;

    int skipped = 0;
    FileQueue queue = QueueArguments(o.files, skipped);
    if (queue.FListN() == 0) return kExitFailed;

    // Every worker has its own document and its own working folder, so that
    // no two share an image file.
    const size_t workers = std::min<size_t>(static_cast<size_t>(o.jobs), queue.FList.size());
    std::vector<WorkingFolder> folders;
    std::vector<std::unique_ptr<TJwwData>> docs;
    std::vector<TJwwData*> docPointers;
    for (size_t w = 0; w < workers; ++w) {
        auto working = WorkingFolder::Create(programFolder);
        if (!working) {
            std::fprintf(stderr, "morvane-cli: cannot create a working folder for bound images\n");
            return kExitFailed;
        }
        folders.push_back(std::move(*working));
        auto doc = std::make_unique<TJwwData>();
        doc->BindImageFolder = folders.back().Path();
        doc->BindImageExp = true;
        doc->BindImageExr = true;
        docPointers.push_back(doc.get());
        docs.push_back(std::move(doc));
    }
    ResetWriterDefaults();
    RunSummary summary = RunProc(queue, settings, docPointers, shell, nullptr);
    for (TJwwData* doc : docPointers) JwwDataFree(*doc);  // the image files go before the working folders

    if (summary.status == RunStatus::FolderMissing) return kExitUsage;
    return summary.failed > 0 || skipped > 0 ? kExitFailed : kExitOk;
}

int Show(const CliOptions& o) {
    int skipped = 0;
    FileQueue queue = QueueArguments(o.files, skipped);
    int failed = 0;
    bool first = true;
    for (const std::u16string& path : queue.FList) {
        if (!first) std::fputs("\n", stdout);
        first = false;
        if (!ShowDrawing(path, stdout, stderr)) ++failed;
    }
    return failed > 0 || skipped > 0 ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    if (auto status = ParseArgs(argc, argv, options)) return *status;
    int status = kExitOk;
    if (options.help)
        std::fputs(kUsage, stdout);
    else if (options.version)
        std::printf("%s\n", kVersion);
    else if (options.show)
        status = Show(options);
    else {
        CatchStopSignals();
        status = Convert(options);
    }
    // The log is the outcome a script reads: losing it (a full disk) is a
    // failure even when every drawing was converted.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "morvane-cli: %s\n",
                     options.help || options.version ? "standard output could not be written"
                                                     : "the log could not be written to standard output");
        if (status == kExitOk) status = kExitFailed;
    }
    // Stopped by a signal: the working files are gone; end as that signal
    // would have ended the program.
    if (const int sig = gStopSignal.load()) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
    return status;
}
