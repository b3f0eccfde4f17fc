// Where the program's files live: the program folder, the settings file and
// the private working folder for the bound images of the drawing in work.
#pragma once

#include <optional>
#include <string>

namespace morvane {

// Full path of the running program file (empty when it cannot be found).
std::u16string ProgramFilePath();
// The folder of a program file, with a trailing separator (empty when the
// path has no folder part).
std::u16string ProgramFolderOf(const std::u16string& programFile);
// True when files can be created in `folder`.
bool FolderWritable(const std::u16string& folder);

// The settings file: the program's path with ".dat" when the program's folder
// is writable (portable use), otherwise $XDG_CONFIG_HOME/morvane/morvane.dat
// (default ~/.config/morvane/morvane.dat; its folder is created on demand by
// CreateSettingsFolder).
std::u16string SettingsFilePathFor(const std::u16string& programFile);
// Creates the folder of a settings file when missing; false when it cannot.
bool CreateSettingsFolder(const std::u16string& settingsFile);

// A working folder of one process (or one worker): a new folder of mode 0700
// made with a unique name, inside ProgramFolder + "TEMP" when the program's
// folder is writable, else inside $TMPDIR or /tmp. Two copies of the program
// running at once never share it, so neither deletes the other's image files.
// The destructor removes it when it is empty (and the TEMP folder too when
// that is empty); files left inside are never deleted by it.
class WorkingFolder {
public:
    // Nullopt when no folder could be made. The folder stays locked while
    // this object lives; working folders of earlier runs that nothing holds
    // any more (a run killed or crashed) are removed on the way, once they
    // have lain untouched for a while.
    static std::optional<WorkingFolder> Create(const std::u16string& programFolder);
    WorkingFolder(WorkingFolder&& other) noexcept;
    WorkingFolder& operator=(WorkingFolder&&) = delete;
    WorkingFolder(const WorkingFolder&) = delete;
    ~WorkingFolder();

    // The folder with a trailing separator (the form BindImageFolder takes).
    const std::u16string& Path() const { return path_; }

    // How long a working folder nothing holds must have lain untouched
    // before another run removes it.
    static constexpr int kStaleAfterSeconds = 600;

private:
    WorkingFolder(std::u16string path, std::u16string parentToTidy, int lock)
        : path_(std::move(path)), parentToTidy_(std::move(parentToTidy)), lock_(lock) {}
    std::u16string path_;
    std::u16string parentToTidy_;  // TEMP in the program folder, removed when empty
    int lock_ = -1;                // the folder, opened and locked (flock) while it is in use
};

}  // namespace morvane
