// The platform services the application relies on, behind one interface: the
// window supplies dialogs and its log page, the command line supplies stdout and
// stderr, and the tests supply scripted answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class Shell {
public:
    virtual ~Shell() = default;

    // The user's desktop and documents folders (absolute, no trailing separator).
    virtual std::u16string DesktopFolder() = 0;
    virtual std::u16string DocumentsFolder() = 0;

    // Folder dialog ("変換後のファイルを保存するフォルダを指定して下さい") starting at
    // `start`; false when cancelled, else the chosen folder in `chosen`.
    virtual bool BrowseForFolder(const std::u16string& start, std::u16string& chosen) = 0;

    // Open dialog ("変換元ファイルを指定", multiple selection); false when cancelled.
    // filterIndex is 1-based, in and out.
    virtual bool OpenFiles(const std::u16string& initialFolder, int32_t& filterIndex,
                           std::vector<std::u16string>& chosen) = 0;

    // Colour dialog starting at `colour` (r + g*256 + b*65536); false when cancelled.
    virtual bool ChooseColor(int32_t& colour) = 0;

    // Modal message with one OK button.
    virtual void ShowMessage(const std::u16string& text) = 0;

    // True while the Escape key (or a stop request) is active at this moment.
    virtual bool EscapePressed() = 0;

    // The log page: one line per item. `reason` (may be empty) says why a file
    // failed; it never changes the line itself.
    virtual void LogClear() = 0;
    virtual void LogAppend(const std::u16string& line, const std::u16string& reason) = 0;
    virtual void ShowLogPage() = 0;

    // Progress of a run: `done` files of `total` finished, `current` in work.
    virtual void Progress(int done, int total, const std::u16string& current) {
        (void)done, (void)total, (void)current;
    }
};

}  // namespace morvane
