#include "app/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "app/OptionControls.h"
#include "app/SettingsApplier.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

constexpr int32_t kOutputVersion = 700;

// The file-name part of a queued path as the file system sees it.
std::u16string FileNameOf(const std::u16string& path) {
    return NativeToStr(std::filesystem::path(NativePath(path)).filename().string());
}

bool EndsWithGz(const std::u16string& name) {
    return name.size() >= 3 && name[name.size() - 3] == u'.' && (name[name.size() - 2] | 0x20) == u'g' &&
           (name[name.size() - 1] | 0x20) == u'z';
}

}  // namespace

// Only names confined to the working folder: no other entry ever got a file,
// and a name like "../x" must not reach beyond the folder.
void DeleteImageFilesByName(TJwwData& doc) {
    if (doc.BindImageFolder.empty()) return;  // no folder: no file was made, and "" + name is the current folder
    for (size_t i = 0; i < doc.BindImage.size(); ++i) {
        const TBindImageType& image = doc.BindImage[i];
        if (!doc.ImageFileMayExist(i) || !IsSafeImageName(image.Fname)) continue;
        TryDeleteFile(doc.BindImageFolder + image.Fname);
        if (!EndsWithGz(image.Fname)) continue;
        const std::u16string unpacked = image.Fname.substr(0, image.Fname.size() - 3);
        if (IsSafeImageName(unpacked)) TryDeleteFile(doc.BindImageFolder + unpacked);
    }
}

namespace {

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
        // The files must go even when the document's own delete operations
        // fail (memory exhausted while building a path).
        DeleteImageFilesByName(doc);
    }
    doc.DataFree();
    doc.BindImageInit();
}

ConversionOutcome RunProc1(TJwwData& doc, BatchSettings& settings, const std::u16string& source,
                           const std::u16string& destination) {
    ConversionOutcome out;
    // Without the Shift_JIS tables every Japanese character of the drawing
    // would become a substitute in the copy.
    if (!AnsiConversionComplete()) {
        out.reason = u"this system has no complete Shift_JIS (code page 932) converter: the drawing's texts would be lost";
        return out;
    }
    try {
        JwwDataFree(doc);
        // The settings change only the header and the pen table: they are
        // applied as soon as the header is read, on a copy that becomes the
        // settings once the drawing has loaded, and the save runs behind the load.
        BatchSettings applied = settings;
        std::u16string savedAs;
        const TJwwData::PipeResult result = doc.FileInSaveNew(
            source, destination, kOutputVersion, settings.CB21, [&] { RunProc2(applied, doc); },
            [&] {
                settings = applied;
                doc.BindImageExplode();
            },
            &savedAs);
        if (result == TJwwData::PipeResult::LoadFailed) {
            out.reason = FailureReason(doc, u"the drawing could not be read");
            return out;
        }
        out.loaded = true;
        if (result == TJwwData::PipeResult::SaveFailed) {
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
        case DestinationMode::ChosenFolder: folder = AddTrailingSeparator(settings.EditFl1); break;
        case DestinationMode::SourceFolder: folder.clear(); return Resolved::Ready;
        case DestinationMode::AskEachRun: {
            std::u16string chosen;
            if (!shell.BrowseForFolder(settings.LabelPreFolder, chosen)) return Resolved::Cancelled;
            settings.LabelPreFolder = AddTrailingSeparator(chosen);
            folder = settings.LabelPreFolder;
            return Resolved::Ready;
        }
    }
    // Also a desktop or documents folder the system lacks: every file of the
    // run would fail with nothing but its reason. A folder whose name holds a
    // character no path may hold here counts as missing: the first file would
    // be written, and every later run find its name taken and no other free.
    if (HasInvalidPathChar(folder) || !PathFolderExists(folder)) {
        shell.ShowMessage(std::u16string(kFolderMissingMessage) + u"\r\n" + folder);
        return Resolved::FolderMissing;
    }
    return Resolved::Ready;
}

// A free name for the copy of `source`; empty (with the reason) when there is none.
// The numbers found taken per planned destination so far in a run, so that
// many drawings of one name into one folder do not each try ~1, ~2, ... anew.
using TakenNumbers = std::unordered_map<std::u16string, int>;

std::u16string FreeDestination(const std::u16string& planned, TakenNumbers& taken, std::u16string& reason) {
    try {
        std::u16string free = MakeUniqueFileName(planned, taken.try_emplace(planned, -1).first->second);
        if (free.empty()) reason = u"no free file name (every name up to ~99999 is taken)";
        return free;
    } catch (const InvalidPathError&) {
        reason = u"the destination name holds a character invalid in a path";
        return {};
    }
}

// One file of a run: where it goes and how it went.
struct QueuedFile {
    std::u16string source;
    std::u16string planned;      // the destination before a free name was sought
    std::u16string destination;  // the free name (empty when there is none)
    std::u16string clashKey;     // parallel runs: ClashKey(destination)
    ConversionOutcome outcome;
};

QueuedFile PlanFile(const std::u16string& source, const std::u16string& folder, bool besideSource,
                    TakenNumbers& taken) {
    QueuedFile f;
    f.source = source;
    f.planned = besideSource ? source : folder + FileNameOf(source);
    f.destination = FreeDestination(f.planned, taken, f.outcome.reason);
    return f;
}

// The three log lines of a file. The destination line names the file
// actually written, even when another program took the planned name meanwhile.
void LogFile(const QueuedFile& f, Shell& shell) {
    const ConversionOutcome& o = f.outcome;
    shell.LogAppend(kDestinationPrefix + (o.ok ? o.savedAs : (f.destination.empty() ? f.planned : f.destination)), {});
    shell.LogAppend(kOutcomePrefix + std::u16string(o.Text()), o.reason);
}

void Count(const ConversionOutcome& o, RunSummary& summary) {
    ++(o.ok ? summary.converted : summary.failed);
}

void RunOneByOne(const FileQueue& queue, const std::u16string& folder, bool besideSource, AppSettings& settings,
                 TJwwData& doc, Shell& shell, RunSummary& summary) {
    const int total = queue.FListN();
    TakenNumbers taken;
    for (int i = 0; i < total; ++i) {
        // Tested before every file, the first included: a file once begun is finished.
        if (shell.EscapePressed()) {
            shell.LogAppend(kInterruptedLine, {});
            summary.status = RunStatus::Interrupted;
            return;
        }
        shell.Progress(i, total, queue.FList[i]);
        shell.LogAppend(queue.FList[i], {});
        QueuedFile f = PlanFile(queue.FList[i], folder, besideSource, taken);
        if (!f.destination.empty()) f.outcome = RunProc1(doc, settings.batch, f.source, f.destination);
        LogFile(f, shell);
        Count(f.outcome, summary);
    }
}

// The run with several workers. The calling thread hands files out in queue
// order (testing Escape and choosing each free name first) and logs finished
// files in queue order; each worker converts with its own document and its
// own copy of the settings, normalised beforehand so that every file sees the
// set one worker would.
class ParallelRun {
public:
    ParallelRun(const FileQueue& queue, std::span<TJwwData* const> docs, const BatchSettings& settings)
        : queue_(queue), docs_(docs), files_(queue.FList.size()), done_(queue.FList.size(), false),
          settings_(docs.size(), settings) {}

    // False, with nothing done, when the system gives no thread at all.
    bool Run(const std::u16string& folder, bool besideSource, Shell& shell, RunSummary& summary);
    bool AnyLoaded() const {
        return std::any_of(files_.begin(), files_.end(), [](const QueuedFile& f) { return f.outcome.loaded; });
    }

private:
    void Work(size_t worker);
    void HandOut(size_t i, QueuedFile f);
    std::u16string ClashKey(const std::u16string& destination);
    bool TakenInWork(const std::u16string& key);
    size_t InWork() {
        std::lock_guard lock(mutex_);
        return inWork_;
    }
    void WaitUntilInWorkBelow(size_t n, Shell& shell, RunSummary& summary);
    void LogFinished(Shell& shell, RunSummary& summary);
    bool StopAsked(Shell& shell);

    const FileQueue& queue_;
    std::span<TJwwData* const> docs_;
    std::vector<QueuedFile> files_;  // files_[i] belongs to the worker converting it until done_[i]
    std::mutex mutex_;
    std::condition_variable work_;      // workers: a file was handed out, or the run closes
    std::condition_variable finished_;  // the calling thread: inWork_ fell below wakeBelow_
    std::vector<bool> done_;        // guarded by mutex_
    std::deque<size_t> handedOut_;  // guarded by mutex_
    bool closing_ = false;          // guarded by mutex_
    size_t inWork_ = 0;             // guarded by mutex_
    size_t wakeBelow_ = 0;          // guarded by mutex_; 0 while the calling thread does not wait
    size_t started_ = 0;            // guarded by mutex_; written by the calling thread only
    size_t logged_ = 0;             // calling thread only
    bool stopped_ = false;          // calling thread only: Escape was seen
    std::u16string lastFolder_, lastResolved_;  // calling thread only (ClashKey)
    std::vector<BatchSettings> settings_;
};

void ParallelRun::Work(size_t worker) {
    for (;;) {
        size_t i;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [&] { return !handedOut_.empty() || closing_; });
            if (handedOut_.empty()) return;
            i = handedOut_.front();
            handedOut_.pop_front();
        }
        QueuedFile& f = files_[i];
        f.outcome = RunProc1(*docs_[worker], settings_[worker], f.source, f.destination);
        bool wake;
        {
            std::lock_guard lock(mutex_);
            done_[i] = true;
            --inWork_;
            wake = inWork_ < wakeBelow_;
        }
        if (wake) finished_.notify_one();
    }
}

void ParallelRun::HandOut(size_t i, QueuedFile f) {
    files_[i] = std::move(f);
    {
        std::lock_guard lock(mutex_);
        ++started_;
        if (files_[i].destination.empty()) {
            done_[i] = true;  // no free name: nothing to convert
        } else {
            handedOut_.push_back(i);
            ++inWork_;
        }
    }
    work_.notify_one();
}

// Logs the finished files at the front of the queue.
void ParallelRun::LogFinished(Shell& shell, RunSummary& summary) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (logged_ == started_ || !done_[logged_]) return;
        }
        const QueuedFile& f = files_[logged_];
        shell.Progress(static_cast<int>(logged_), queue_.FListN(), f.source);
        shell.LogAppend(f.source, {});
        LogFile(f, shell);
        Count(f.outcome, summary);
        ++logged_;
    }
}

// True once Escape has been seen. The files handed out that no worker has
// begun are then taken back, neither converted nor logged: only the files a
// worker is converting are finished. They are the last ones handed out, as
// the workers take them in queue order.
bool ParallelRun::StopAsked(Shell& shell) {
    if (stopped_ || !shell.EscapePressed()) return stopped_;
    stopped_ = true;
    std::lock_guard lock(mutex_);
    if (!handedOut_.empty()) {
        started_ = handedOut_.front();
        inWork_ -= handedOut_.size();
        handedOut_.clear();
    }
    return true;
}

// Waits until fewer than `n` files are in work, logging those that finish;
// also returns, before that, when Escape is seen, which is tested every
// tenth of a second while it waits.
void ParallelRun::WaitUntilInWorkBelow(size_t n, Shell& shell, RunSummary& summary) {
    for (;;) {
        LogFinished(shell, summary);
        {
            std::unique_lock lock(mutex_);
            if (inWork_ < n) {
                wakeBelow_ = 0;
                return;
            }
            wakeBelow_ = n;
            if (stopped_) {
                finished_.wait(lock);
                continue;
            }
            if (finished_.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::no_timeout) continue;
        }
        if (StopAsked(shell)) {
            std::lock_guard lock(mutex_);
            wakeBelow_ = 0;
            return;
        }
    }
}

// What destinations are compared by while their files are in work: the
// folder as the file system resolves it (so "c/./x.jww", a link to c and an
// absolute name of c are one folder) and the name up to case (on FAT or exFAT
// "Plan.jww" and "plan.jww" are one file). A match too many only makes a file
// wait for the one before it. The folder resolved last is kept: the files of
// a run mostly go to one folder.
std::u16string ParallelRun::ClashKey(const std::u16string& destination) {
    const size_t cut = destination.find_last_of(DirSeparatorChar());
    const std::u16string folder = cut == std::u16string::npos ? u"." : destination.substr(0, cut + 1);
    const std::u16string name = cut == std::u16string::npos ? destination : destination.substr(cut + 1);
    if (folder != lastFolder_) {
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::canonical(ToFsPath(folder), ec);
        lastFolder_ = folder;
        lastResolved_ = ec ? folder : NativeToStr(real.native()) + DirSeparatorChar();
    }
    return lastResolved_ + UpperCaseStr(name);
}

// True when a file not yet logged may be written under the name of `key`:
// whether that name ends up taken is not settled yet. A file that is done
// counts too: it may have finished after the free name was sought, while its
// name was still free on disk.
bool ParallelRun::TakenInWork(const std::u16string& key) {
    std::lock_guard lock(mutex_);
    for (size_t i = logged_; i < started_; ++i)
        if (files_[i].clashKey == key) return true;
    return false;
}

bool ParallelRun::Run(const std::u16string& folder, bool besideSource, Shell& shell, RunSummary& summary) {
    // The system may give fewer threads than asked for (a limit on processes,
    // memory): the run goes on with those it gave.
    std::vector<std::thread> workers;
    for (size_t w = 0; w < docs_.size(); ++w) {
        try {
            workers.emplace_back([this, w] { Work(w); });
        } catch (const std::system_error&) {
            break;
        }
    }
    if (workers.empty()) return false;
    TakenNumbers taken;
    // Up to four files per worker are handed out, and this thread is woken
    // when half of them are done: a worker that finishes finds the next file
    // waiting, and the threads wake each other about once for every two files
    // instead of several times for each (waking and switching threads was a
    // tenth of a two-job run of small drawings).
    const size_t full = 4 * workers.size(), refill = 2 * workers.size();
    for (size_t i = 0; i < files_.size(); ++i) {
        if (InWork() >= full)
            WaitUntilInWorkBelow(refill, shell, summary);
        else
            LogFinished(shell, summary);
        // Tested before every file is handed out (and while waiting); the
        // files a worker has begun are finished.
        if (StopAsked(shell)) {
            summary.status = RunStatus::Interrupted;
            break;
        }
        auto plan = [&] {
            QueuedFile f = PlanFile(queue_.FList[i], folder, besideSource, taken);
            if (!f.destination.empty()) f.clashKey = ClashKey(f.destination);
            return f;
        };
        QueuedFile f = plan();
        if (!f.destination.empty() && TakenInWork(f.clashKey)) {
            // One worker would have seen that file written, or not: wait and look again.
            WaitUntilInWorkBelow(1, shell, summary);
            if (stopped_) {
                summary.status = RunStatus::Interrupted;
                break;
            }
            f = plan();
        }
        HandOut(i, std::move(f));
    }
    // The last files: each is logged as soon as it and those before it are done.
    for (size_t n = InWork(); n > 0; n = InWork()) WaitUntilInWorkBelow(n, shell, summary);
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    work_.notify_all();
    for (std::thread& t : workers) t.join();
    LogFinished(shell, summary);
    if (summary.status == RunStatus::Interrupted) shell.LogAppend(kInterruptedLine, {});
    return true;
}

}  // namespace

RunSummary RunProc(const FileQueue& queue, AppSettings& settings, TJwwData& doc, Shell& shell,
                   const SaveSettingsFn& saveSettings) {
    TJwwData* docs[] = {&doc};
    return RunProc(queue, settings, docs, shell, saveSettings);
}

RunSummary RunProc(const FileQueue& queue, AppSettings& settings, std::span<TJwwData* const> docs, Shell& shell,
                   const SaveSettingsFn& saveSettings) {
    RunSummary summary;
    if (queue.FListN() == 0 || docs.empty()) return summary;

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
    const bool besideSource = mode == DestinationMode::SourceFolder;
    if (docs.size() == 1) {
        RunOneByOne(queue, folder, besideSource, settings, *docs[0], shell, summary);
    } else {
        BatchSettings normalised = settings.batch;
        NormaliseSettings(normalised);
        ParallelRun run(queue, docs, normalised);
        if (!run.Run(folder, besideSource, shell, summary)) {
            RunOneByOne(queue, folder, besideSource, settings, *docs[0], shell, summary);  // no thread to be had
        } else if (run.AnyLoaded()) {
            // One worker normalises the settings when it first applies them to a drawing.
            settings.batch = normalised;
        }
    }
    const int total = queue.FListN();
    shell.Progress(summary.converted + summary.failed, total, {});
    shell.ShowLogPage();
    return summary;
}

}  // namespace morvane
