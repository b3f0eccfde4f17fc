// morvane-cli: converts JWW drawings with the settings of a settings file, or
// shows what the tool can change in them. No window, no dialog; the settings
// file is read, never written.
#include <cstdio>
#include <cstring>
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
    "  morvane-cli [--settings PATH] [--dest DIR | --beside-source] [--unicode] FILE...\n"
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
    "  --show            print the settings the tool can change; write nothing\n"
    "\n"
    "Exit status: 0 every file converted, 1 a file failed or was skipped,\n"
    "2 usage error or missing destination folder.\n";

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

struct CliOptions {
    std::optional<std::string> settings;
    std::optional<std::string> dest;
    bool besideSource = false, unicode = false, show = false, help = false, version = false;
    std::vector<std::string> files;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "morvane-cli: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
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
            if (!value(o.dest)) return UsageError("--dest needs a folder");
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
    if (o.show && (o.dest || o.besideSource || o.unicode || o.settings))
        return UsageError("--show takes only drawings");
    if (o.files.empty()) return UsageError("no drawing named");
    return std::nullopt;
}

// Why an argument is not queued.
const char* SkipReason(const std::u16string& path) {
    if (HasInvalidPathChar(path)) return "the name holds \", <, >, | or a control character, which no path may hold here";
    if (PathFolderExists(path)) return "is a folder, not a .jww file";
    if (!PathFileExists(path)) return "no such file";
    return "not a .jww file";
}

// Queues the drawings among the arguments; reports the others.
FileQueue QueueArguments(const std::vector<std::string>& files, int& skipped) {
    FileQueue queue;
    for (const std::string& f : files) {
        std::u16string path = Utf8ToStr(f);
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
        s.EditFl1 = Utf8ToStr(*o.dest);
    } else if (o.besideSource) {
        CheckDestination(s, DestinationMode::SourceFolder);
    }
    std::u16string folder;
    switch (CheckedDestination(s)) {
        case DestinationMode::AskEachRun:
            std::fprintf(stderr,
                         "morvane-cli: the settings ask for a folder at every run (毎回指定); "
                         "name one with --dest\n");
            return kExitUsage;
        case DestinationMode::SourceFolder: return std::nullopt;
        case DestinationMode::Desktop: folder = shell.DesktopFolder(); break;
        case DestinationMode::Documents: folder = shell.DocumentsFolder(); break;
        case DestinationMode::ChosenFolder: folder = s.EditFl1; break;
    }
    folder = AddTrailingSeparator(folder);
    if (PathFolderExists(folder)) return std::nullopt;
    shell.ShowMessage(std::u16string(kFolderMissingMessage) + u"\r\n" + folder);
    return kExitUsage;
}

int Convert(const CliOptions& o) {
    const std::u16string programFile = ProgramFilePath();
    const std::u16string programFolder = ProgramFolderOf(programFile);
    const std::u16string settingsPath = o.settings ? Utf8ToStr(*o.settings) : SettingsFilePathFor(programFile);
    AppSettings settings;
    if (!OpenDatFile(settingsPath, programFolder, settings) && o.settings) {
        std::fprintf(stderr, "morvane-cli: %s: cannot read the settings file\n", o.settings->c_str());
        return kExitUsage;
    }
    if (o.unicode) settings.batch.CB21 = true;

    int skipped = 0;
    FileQueue queue = QueueArguments(o.files, skipped);
    if (queue.FListN() == 0) return kExitFailed;

    ConsoleShell shell;
    if (auto status = ChooseDestination(o, settings, shell)) return *status;

    auto working = WorkingFolder::Create(programFolder);
    if (!working) {
        std::fprintf(stderr, "morvane-cli: cannot create a working folder for bound images\n");
        return kExitFailed;
    }
    ResetWriterDefaults();
    TJwwData doc;
    doc.BindImageFolder = working->Path();
    doc.BindImageExp = true;
    doc.BindImageExr = true;
    RunSummary summary = RunProc(queue, settings, doc, shell, nullptr);
    JwwDataFree(doc);  // the image files go before the working folder

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
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("%s\n", kVersion);
        return kExitOk;
    }
    return options.show ? Show(options) : Convert(options);
}
