// Platform services for the command line: XDG user folders, no dialogs,
// messages and failure reasons on stderr, log lines on stdout (UTF-8).
#pragma once

#include <atomic>
#include <cstdio>

#include "app/shell/Shell.h"

namespace morvane {

class ConsoleShell : public Shell {
public:
    ConsoleShell(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}

    // $XDG_DESKTOP_DIR / $XDG_DOCUMENTS_DIR, else the entry of
    // user-dirs.dirs in $XDG_CONFIG_HOME (default ~/.config), else ~/Desktop
    // and ~/Documents.
    std::u16string DesktopFolder() override;
    std::u16string DocumentsFolder() override;

    // There is no dialog: always cancelled.
    bool BrowseForFolder(const std::u16string& start, std::u16string& chosen) override;
    bool OpenFiles(const std::u16string& initialFolder, int32_t& filterIndex,
                   std::vector<std::u16string>& chosen) override;
    bool ChooseColor(int32_t& colour) override;

    void ShowMessage(const std::u16string& text) override;
    // A stop request: true once `*flag` (set by a signal handler) is not 0.
    void StopWhenSet(const std::atomic<int>* flag) { stop_ = flag; }
    bool EscapePressed() override { return stop_ && stop_->load(std::memory_order_relaxed) != 0; }

    void LogClear() override {}
    // The line on stdout; a reason, on stderr as "<file in work>: <reason>".
    void LogAppend(const std::u16string& line, const std::u16string& reason) override;
    void ShowLogPage() override;
    void Progress(int done, int total, const std::u16string& current) override;

private:
    std::FILE* out_;
    std::FILE* err_;
    const std::atomic<int>* stop_ = nullptr;
    std::u16string current_;
};

// The XDG user folder `key` ("DESKTOP", "DOCUMENTS"), or `fallback` under the
// home folder: the environment's XDG_<key>_DIR, else user-dirs.dirs. The
// window's shell uses it too, so that both programs save into one place.
std::u16string XdgUserFolder(const char* key, const char* fallback);

}  // namespace morvane
