// Paths, free file names and guarded file and folder operations.
//
// Paths arrive in Windows form (drawings and settings written on Windows carry
// "\" and drive letters) and in the platform's own form, so "\" and "/" both
// separate folders. The file and folder operations go through
// std::filesystem with error codes and never throw.
#include <system_error>

#include "support/Func_2.h"

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#endif

namespace morvane {
namespace fs = std::filesystem;

namespace {

bool IsInvalidPathChar(char16_t c) { return c < 0x20 || c == u'"' || c == u'<' || c == u'>' || c == u'|'; }

// Any entry at all, a dangling link included: a destination name is free only
// when writing to it cannot reach an existing file, folder or link target.
bool PathEntryExists(std::u16string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::file_status st = fs::symlink_status(ToFsPath(path), ec);
    return !ec && st.type() != fs::file_type::not_found;
}

}  // namespace

std::filesystem::path ToFsPath(std::u16string_view path) {
#ifdef _WIN32
    return fs::path(std::wstring(path.begin(), path.end()));
#else
    return fs::path(StrToNative(path));
#endif
}

std::string NativePath(std::u16string_view path) { return StrToNative(path); }

bool HasInvalidPathChar(std::u16string_view path) {
    for (char16_t c : path)
        if (IsInvalidPathChar(c)) return true;
    return false;
}

char16_t DirSeparatorChar() {
#ifdef _WIN32
    return u'\\';
#else
    return u'/';
#endif
}

// Here only the platform's own separators count: on Linux a backslash is a
// character of a folder's name, and a file name put behind "x\" would name
// a file beside that folder instead of one inside it.
std::u16string AddTrailingSeparator(std::u16string_view folder) {
    std::u16string out(folder);
#ifdef _WIN32
    const bool ends = !out.empty() && (out.back() == u'\\' || out.back() == u'/');
#else
    const bool ends = !out.empty() && out.back() == u'/';
#endif
    if (!ends) out.push_back(DirSeparatorChar());
    return out;
}

std::u16string ExtractFileNameSafe(std::u16string_view path) {
    if (RemoveBlanks(path).empty() || HasInvalidPathChar(path)) return {};
    size_t cut = path.find_last_of(u"\\/:");
    return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

// A ":" does not end the search for the dot here (it does in ChangePathExt).
std::u16string LowerExtOfPath(std::u16string_view path) {
    if (path.empty()) return {};
    if (HasInvalidPathChar(path)) throw InvalidPathError("Illegal characters in path.");
    size_t cut = path.find_last_of(u".\\/");
    if (cut == std::u16string_view::npos || path[cut] != u'.') return {};
    return LowerCaseStr(path.substr(cut));
}

std::u16string ChangePathExt(std::u16string_view path, std::u16string_view ext) {
    if (path.empty()) return {};
    size_t cut = path.find_last_of(u".\\/:");
    std::u16string out(cut != std::u16string_view::npos && path[cut] == u'.' ? path.substr(0, cut) : path);
    out += ext;
    return out;
}

std::u16string MakeUniqueFileName(std::u16string_view name,
                                  const std::function<bool(std::u16string_view)>& fileExists) {
    int takenUpTo = -1;
    return MakeUniqueFileName(name, fileExists, takenUpTo);
}

std::u16string MakeUniqueFileName(std::u16string_view name,
                                  const std::function<bool(std::u16string_view)>& fileExists, int& takenUpTo) {
    constexpr int kLast = 99999;
    if (name.empty()) return {};
    if (takenUpTo < 0) {
        if (!fileExists(name)) return std::u16string(name);
        takenUpTo = 0;
    }
    const std::u16string stem = ChangePathExt(name, u"") + u"~";
    const std::u16string ext = LowerExtOfPath(name);
    std::u16string candidate;
    for (int n = takenUpTo + 1; n <= kLast; ++n) {
        candidate = stem + IntToDecStr(n) + ext;
        if (!fileExists(candidate)) return candidate;
        takenUpTo = n;
    }
    return {};  // no free name: the caller must not write
}

std::u16string MakeUniqueFileName(std::u16string_view name) { return MakeUniqueFileName(name, PathEntryExists); }

std::u16string MakeUniqueFileName(std::u16string_view name, int& takenUpTo) {
    return MakeUniqueFileName(name, PathEntryExists, takenUpTo);
}

bool PathFileExists(std::u16string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_regular_file(ToFsPath(path), ec);
}

bool PathFolderExists(std::u16string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_directory(ToFsPath(path), ec);
}

bool TryCreateFolder(std::u16string_view folder) {
    if (folder.empty() || HasInvalidPathChar(folder)) return false;
#ifdef _WIN32
    // A colon only right after the drive letter.
    size_t colon = folder.find(u':', 2);
    if (colon != std::u16string_view::npos) return false;
#endif
    std::error_code ec;
    fs::path p = fs::absolute(ToFsPath(folder), ec);
    if (ec) return false;
    fs::create_directories(p, ec);
    return !ec && fs::is_directory(p, ec);
}

bool TryDeleteFile(std::u16string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::path p = ToFsPath(path);
    fs::file_status st = fs::symlink_status(p, ec);
    if (ec || st.type() == fs::file_type::not_found || st.type() == fs::file_type::directory) return false;
    return fs::remove(p, ec) && !ec;
}

bool TryRemoveFolder(std::u16string_view folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    fs::path p = ToFsPath(folder);
    if (fs::symlink_status(p, ec).type() != fs::file_type::directory || ec) return false;
    if (!fs::is_empty(p, ec) || ec) return false;
#ifdef _WIN32
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    fs::remove(p, ec);
    return !ec;
}

}  // namespace morvane
