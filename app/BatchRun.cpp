#include "app/BatchRun.h"

#include <filesystem>

#include "app/OptionControls.h"
#include "app/SettingsApplier.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

constexpr int32_t kOutputVersion = 700;

// The file-name part of a queued path as the file system sees it.
std::u16string FileNameOf(const std::u16string& path) {
    return Utf8ToStr(std::filesystem::path(NativePath(path)).filename().string());
}

bool EndsWithGz(const std::u16string& name) {
    return name.size() >= 3 && name[name.size() - 3] == u'.' && (name[name.size() - 2] | 0x20) == u'g' &&
           (name[name.size() - 1] | 0x20) == u'z';
}

// The image files of every entry, deleted without looking at the names' characters.
void DeleteImageFilesByName(TJwwData& doc) {
    for (const TBindImageType& image : doc.BindImage) {
        if (image.Fname.empty()) continue;
        TryDeleteFile(doc.BindImageFolder + image.Fname);
        if (EndsWithGz(image.Fname))
            TryDeleteFile(doc.BindImageFolder + image.Fname.substr(0, image.Fname.size() - 3));
    }
}

std::u16string FailureReason(const TJwwData& doc, const char16_t* fallback) {
    std::string described = doc.LastFailure().Describe();
    return described.empty() ? std::u16string(fallback) : Utf8ToStr(described);
}

}  // namespace

bool FileQueue::PickupFile(const std::u16string& path) {
    if (path.empty()) return false;
    std::u16string ext;
    try {
        ext = LowerExtOfPath(path);
    } catch (const InvalidPathError&) {
        return false;  // a character invalid in a path: not a drawing we can name
    }
    if (ext != u".jww" || !PathFileExists(path)) return false;
    FList.push_back(path);
    return true;
}

void JwwDataFree(TJwwData& doc) {
    try {
        doc.BindImageDeleteGzFile();
        doc.BindImageDeleteNonGzFile();
    } catch (const std::exception&) {
        // A name holding a character invalid in a path stops the delete
        // operations; the files must go all the same.
        DeleteImageFilesByName(doc);
    }
    doc.DataFree();
    doc.BindImageInit();
}

ConversionOutcome RunProc1(TJwwData& doc, BatchSettings& settings, const std::u16string& source,
                           const std::u16string& destination) {
    ConversionOutcome out;
    try {
        JwwDataFree(doc);
        if (!doc.FileIn(source)) {
            out.reason = FailureReason(doc, u"the drawing could not be read");
            return out;
        }
        doc.BindImageExplode();
        RunProc2(settings, doc);
        doc.SetFileOutOption(doc.MojiEncode || settings.CB21 ? kOptUnicode : 0);
        std::u16string savedAs;
        if (!doc.FileOutNew(destination, kOutputVersion, &savedAs)) {
            out.reason = FailureReason(doc, u"the drawing could not be saved");
            return out;
        }
        out.ok = true;
        out.savedAs = savedAs.empty() ? destination : savedAs;
    } catch (const std::bad_alloc&) {
        out.ok = false;
        out.reason = u"out of memory";
    } catch (const std::exception& e) {
        out.ok = false;
        out.reason = Utf8ToStr(e.what());
    }
    return out;
}

namespace {

enum class Resolved { Ready, FolderMissing, Cancelled };

// The destination folder of a run (with a trailing separator), or none in
// mode "元ファイルのフォルダ", where every file goes beside its source.
Resolved ResolveDestination(AppSettings& settings, Shell& shell, DestinationMode mode, std::u16string& folder) {
    switch (mode) {
        case DestinationMode::Desktop: folder = AddTrailingSeparator(shell.DesktopFolder()); break;
        case DestinationMode::Documents: folder = AddTrailingSeparator(shell.DocumentsFolder()); break;
        case DestinationMode::SourceFolder: folder.clear(); break;
        case DestinationMode::ChosenFolder:
            folder = AddTrailingSeparator(settings.EditFl1);
            if (!PathFolderExists(folder)) {
                shell.ShowMessage(std::u16string(kFolderMissingMessage) + u"\r\n" + folder);
                return Resolved::FolderMissing;
            }
            break;
        case DestinationMode::AskEachRun: {
            std::u16string chosen;
            if (!shell.BrowseForFolder(settings.LabelPreFolder, chosen)) return Resolved::Cancelled;
            settings.LabelPreFolder = AddTrailingSeparator(chosen);
            folder = settings.LabelPreFolder;
            break;
        }
    }
    return Resolved::Ready;
}

// A free name for the copy of `source`; empty (with the reason) when there is none.
std::u16string FreeDestination(const std::u16string& planned, std::u16string& reason) {
    try {
        std::u16string free = MakeUniqueFileName(planned);
        if (free.empty()) reason = u"no free file name (every name up to ~99999 is taken)";
        return free;
    } catch (const InvalidPathError&) {
        reason = u"the destination name holds a character invalid in a path";
        return {};
    }
}

// One file of a run: its three log lines and its conversion. The
// destination line is written once the file is saved, so that it names the
// file actually written even when another program took the planned name
// meanwhile.
bool ConvertQueued(const std::u16string& source, const std::u16string& folder, bool besideSource,
                   AppSettings& settings, TJwwData& doc, Shell& shell) {
    shell.LogAppend(source, {});
    std::u16string planned = besideSource ? source : folder + FileNameOf(source);
    ConversionOutcome outcome;
    std::u16string destination = FreeDestination(planned, outcome.reason);
    if (!destination.empty()) outcome = RunProc1(doc, settings.batch, source, destination);
    const std::u16string& shown = outcome.ok ? outcome.savedAs : (destination.empty() ? planned : destination);
    shell.LogAppend(kDestinationPrefix + shown, {});
    shell.LogAppend(kOutcomePrefix + std::u16string(outcome.Text()), outcome.reason);
    return outcome.ok;
}

}  // namespace

RunSummary RunProc(const FileQueue& queue, AppSettings& settings, TJwwData& doc, Shell& shell,
                   const SaveSettingsFn& saveSettings) {
    RunSummary summary;
    if (queue.FListN() == 0) return summary;

    const DestinationMode mode = CheckedDestination(settings);
    std::u16string folder;
    switch (ResolveDestination(settings, shell, mode, folder)) {
        case Resolved::FolderMissing: summary.status = RunStatus::FolderMissing; return summary;
        case Resolved::Cancelled: summary.status = RunStatus::FolderNotChosen; return summary;
        case Resolved::Ready: break;
    }

    if (saveSettings) saveSettings(settings);  // before any drawing is touched
    shell.LogClear();
    summary.status = RunStatus::Completed;
    const int total = queue.FListN();
    for (int i = 0; i < total; ++i) {
        // Tested before every file, the first included: a file once begun is finished.
        if (shell.EscapePressed()) {
            shell.LogAppend(kInterruptedLine, {});
            summary.status = RunStatus::Interrupted;
            break;
        }
        const std::u16string& source = queue.FList[i];
        shell.Progress(i, total, source);
        if (ConvertQueued(source, folder, mode == DestinationMode::SourceFolder, settings, doc, shell))
            ++summary.converted;
        else
            ++summary.failed;
    }
    shell.Progress(summary.converted + summary.failed, total, {});
    shell.ShowLogPage();
    return summary;
}

}  // namespace morvane
