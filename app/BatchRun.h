// File intake and the batch run: the queue of source drawings, the run over
// it with its log, and the conversion of one drawing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/shell/Shell.h"
#include "doc/JwwUnit.h"

namespace morvane {

// Texts of the log page.
inline constexpr const char16_t* kOutcomeOk = u"変換ＯＫ";
inline constexpr const char16_t* kOutcomeFailed = u"変換失敗";
inline constexpr const char16_t* kDestinationPrefix = u"→ ";     // U+2192, space
inline constexpr const char16_t* kOutcomePrefix = u"　…… ";      // U+3000, U+2026 x2, space
inline constexpr const char16_t* kInterruptedLine = u"[ESC]を押しましたので中断します。";
inline constexpr const char16_t* kFolderMissingMessage = u"指定したフォルダが見つかりません。";

// The queue of source drawings, in the order accepted (duplicates kept).
struct FileQueue {
    std::vector<std::u16string> FList;
    int32_t FListN() const { return static_cast<int32_t>(FList.size()); }
    void Clear() { FList.clear(); }
    // Queues `path` when its extension is ".jww" in any letter case and it
    // names an existing file; an empty path, a folder, another extension, a
    // missing file or a path holding a character invalid in a path is not
    // queued. True when queued.
    bool PickupFile(const std::u16string& path);
};

// Empties the document before the next load: deletes the unpacked bound-image
// files of the drawing it holds, frees it and empties its image list.
void JwwDataFree(TJwwData& doc);
// The image-file clean-up JwwDataFree falls back on when the document's own
// delete operations fail: every entry's file (and, for ".gz", its unpacked
// file) by name.
void DeleteImageFilesByName(TJwwData& doc);

// The result of converting one drawing.
struct ConversionOutcome {
    bool ok = false;
    bool loaded = false;     // the drawing was read and the settings applied to it
    std::u16string savedAs;  // the file written (may differ from the destination asked for)
    std::u16string reason;   // why it failed (empty on success)
    const char16_t* Text() const { return ok ? kOutcomeOk : kOutcomeFailed; }
};

// Converts one drawing: empties `doc`, loads `source`, unpacks its bound
// images into doc.BindImageFolder, applies `settings` (which may normalise
// them), and saves version 700 with UTF-16 strings when the source had them or
// CB21 asks for them. The file is saved under `destination` or, when that name
// was taken meanwhile, the next free name; an existing file is never replaced.
// Depends only on its arguments, so workers with their own document and
// working folder may run it side by side.
ConversionOutcome RunProc1(TJwwData& doc, BatchSettings& settings, const std::u16string& source,
                           const std::u16string& destination);

enum class RunStatus {
    NothingQueued,       // the queue was empty
    FolderMissing,       // "指定フォルダ" does not exist: message shown, nothing done
    FolderNotChosen,     // "毎回指定": the folder dialog was cancelled
    Interrupted,         // Escape before a file
    Completed,
};
struct RunSummary {
    RunStatus status = RunStatus::NothingQueued;
    int converted = 0;
    int failed = 0;
};

// Called once per run, after the destination is resolved and before any
// drawing is touched, to write the settings file. The command line passes none.
using SaveSettingsFn = std::function<void(const AppSettings&)>;

// The batch run over `queue`: resolves the destination folder from the
// checked mode (asking the shell for the desktop, documents or a folder),
// saves the settings, clears the log and converts every queued file in order,
// testing Escape before each. Logs three lines per file (source, "→ "
// destination, "　…… " outcome), reports progress, and brings the log page to
// the front at the end. RunProc2's normalisation is written back into
// settings.batch.
RunSummary RunProc(const FileQueue& queue, AppSettings& settings, TJwwData& doc, Shell& shell,
                   const SaveSettingsFn& saveSettings);

// The same run with one worker per document in `docs`, converting up to that
// many files at once; each document must have its own BindImageFolder. The
// log, the files written (names and bytes) and the normalised settings are
// those of the run with one document: lines are logged in queue order once a
// file is finished, every destination name is chosen in queue order, and a
// file whose free name is still being written by a worker waits for it.
// Escape is tested before each file is handed out; the files in work are
// finished and logged before the interruption line. The shell is only used
// from the calling thread.
RunSummary RunProc(const FileQueue& queue, AppSettings& settings, std::span<TJwwData* const> docs, Shell& shell,
                   const SaveSettingsFn& saveSettings);

}  // namespace morvane
