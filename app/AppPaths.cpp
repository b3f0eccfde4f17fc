#include "app/AppPaths.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "support/Func_2.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

std::u16string FromNative(const fs::path& p) { return NativeToStr(p.string()); }

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// An XDG base folder from the environment; relative values are ignored, as
// the XDG base directory rules ask.
std::string XdgBase(const char* variable, const char* fallbackUnderHome) {
    if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
    return HomeFolder() + "/" + fallbackUnderHome;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

constexpr char kWorkingPrefix[] = "morvane-";
constexpr size_t kWorkingNameLength = sizeof kWorkingPrefix - 1 + 6;  // mkdtemp's XXXXXX

// Removes the working folders in `base` that runs killed or crashed left
// behind: named as mkdtemp names ours, a folder of this user (never a link),
// untouched for kStaleAfterSeconds, and not locked by a run still going on.
// Only the files directly inside are removed, then the folder if that
// empties it; nothing is followed out of it.
void RemoveStaleWorkingFolders(const std::string& base) {
    const int baseFd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return;
    DIR* entries = ::fdopendir(baseFd);
    if (!entries) {
        ::close(baseFd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(entries)) {
        const std::string name = e->d_name;
        if (name.size() != kWorkingNameLength || name.rfind(kWorkingPrefix, 0) != 0) continue;
        const int fd = ::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        const bool stale = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
                           now - st.st_mtime >= WorkingFolder::kStaleAfterSeconds &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale) {
            if (DIR* files = ::fdopendir(::dup(fd))) {
                while (const dirent* f = ::readdir(files))
                    if (f->d_type != DT_DIR) ::unlinkat(fd, f->d_name, 0);
                ::closedir(files);
            }
            ::unlinkat(baseFd, name.c_str(), AT_REMOVEDIR);  // fails, harmlessly, if anything is left
        }
        ::close(fd);
    }
    ::closedir(entries);
}

}  // namespace

std::u16string ProgramFilePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::u16string() : FromNative(exe);
}

std::u16string ProgramFolderOf(const std::u16string& programFile) {
    // No folder part: no program folder (never "/", which would put TEMP in the root).
    std::string folder = fs::path(NativePath(programFile)).parent_path().string();
    return folder.empty() ? std::u16string() : NativeToStr(WithSlash(folder));
}

bool FolderWritable(const std::u16string& folder) {
    return !folder.empty() && ::access(NativePath(folder).c_str(), W_OK | X_OK) == 0;
}

std::u16string SettingsFilePathFor(const std::u16string& programFile) {
    if (!programFile.empty() && FolderWritable(ProgramFolderOf(programFile)))
        return FromNative(fs::path(NativePath(programFile)).replace_extension(".dat"));
    return NativeToStr(XdgBase("XDG_CONFIG_HOME", ".config") + "/morvane/morvane.dat");
}

bool CreateSettingsFolder(const std::u16string& settingsFile) {
    std::error_code ec;
    fs::path folder = fs::path(NativePath(settingsFile)).parent_path();
    if (folder.empty()) return true;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

std::optional<WorkingFolder> WorkingFolder::Create(const std::u16string& programFolder) {
    std::string tempInProgram;
    if (FolderWritable(programFolder)) tempInProgram = WithSlash(NativePath(programFolder)) + "TEMP/";
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string systemTemp = WithSlash(tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp");

    for (const std::string& base : {tempInProgram, systemTemp}) {
        if (base.empty()) continue;
        // TEMP in the program folder is made when missing (and tidied when
        // left empty); the system's temporary folder is used as it is, never
        // made. Another process may remove an empty TEMP between our mkdir
        // and mkdtemp; try again a few times before falling back.
        const bool own = base == tempInProgram;
        RemoveStaleWorkingFolders(base);
        for (int attempt = 0; attempt < (own ? 3 : 1); ++attempt) {
            if (own && ::mkdir(base.c_str(), 0777) != 0 && errno != EEXIST) break;
            std::string pattern = base + kWorkingPrefix + "XXXXXX";
            if (::mkdtemp(pattern.data())) {  // mode 0700
                // Locked at once: a sweep passes a folder by while it is
                // locked or has just been made.
                const int lock = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (lock >= 0) ::flock(lock, LOCK_EX | LOCK_NB);
                return WorkingFolder(NativeToStr(pattern + "/"),
                                     base == tempInProgram ? NativeToStr(base) : std::u16string(), lock);
            }
            if (errno != ENOENT) break;
        }
    }
    return std::nullopt;
}

WorkingFolder::WorkingFolder(WorkingFolder&& other) noexcept
    : path_(std::move(other.path_)), parentToTidy_(std::move(other.parentToTidy_)), lock_(other.lock_) {
    other.path_.clear();
    other.parentToTidy_.clear();
    other.lock_ = -1;
}

WorkingFolder::~WorkingFolder() {
    // rmdir removes a folder only when it is empty: files left behind stay
    // (until a later run finds the folder stale).
    if (!path_.empty()) ::rmdir(NativePath(path_).c_str());
    if (!parentToTidy_.empty()) ::rmdir(NativePath(parentToTidy_).c_str());
    if (lock_ >= 0) ::close(lock_);
}

}  // namespace morvane
