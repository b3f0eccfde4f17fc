#include "app/shell/ConsoleShell.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/Func_2.h"

namespace morvane {

namespace {

std::string Home() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

// One entry of user-dirs.dirs: XDG_<KEY>_DIR="$HOME/Folder" or an absolute
// path in quotes. Empty when the file has no usable entry.
std::string UserDirsEntry(const std::string& key) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = (config && config[0] == '/') ? config : Home() + "/.config";
    std::ifstream in(base + "/user-dirs.dirs");
    const std::string prefix = "XDG_" + key + "_DIR=";
    std::string line, found;
    for (int n = 0; n < 1000 && std::getline(in, line); ++n) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::string value = line.substr(prefix.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = Home() + value.substr(5);
        else if (value.empty() || value[0] != '/')
            continue;
        found = value;  // the last entry counts, as in a shell
    }
    return found;
}

std::u16string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return NativeToStr(folder);
}

}  // namespace

std::u16string XdgUserFolder(const char* key, const char* fallback) {
    std::string k = key;
    if (const char* env = std::getenv(("XDG_" + k + "_DIR").c_str()); env && env[0] == '/')
        return WithoutTrailingSlash(env);
    std::string entry = UserDirsEntry(k);
    if (!entry.empty()) return WithoutTrailingSlash(entry);
    return WithoutTrailingSlash(Home() + "/" + fallback);
}

std::u16string ConsoleShell::DesktopFolder() { return XdgUserFolder("DESKTOP", "Desktop"); }

std::u16string ConsoleShell::DocumentsFolder() { return XdgUserFolder("DOCUMENTS", "Documents"); }

bool ConsoleShell::BrowseForFolder(const std::u16string&, std::u16string&) { return false; }

bool ConsoleShell::OpenFiles(const std::u16string&, int32_t&, std::vector<std::u16string>&) { return false; }

bool ConsoleShell::ChooseColor(int32_t&) { return false; }

void ConsoleShell::ShowMessage(const std::u16string& text) {
    std::string s = StrToNative(text);
    for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, "\n");
    std::fprintf(err_, "%s\n", s.c_str());
}

void ConsoleShell::LogAppend(const std::u16string& line, const std::u16string& reason) {
    // Every line goes out at once: a log piped into a file keeps the files
    // finished so far when the run is killed. Names go out with the bytes
    // they have on disk.
    std::fprintf(out_, "%s\n", StrToNative(line).c_str());
    std::fflush(out_);
    if (!reason.empty()) {
        std::fprintf(err_, "%s: %s\n", StrToNative(current_).c_str(), StrToNative(reason).c_str());
    }
}

void ConsoleShell::ShowLogPage() { std::fflush(out_); }

void ConsoleShell::Progress(int, int, const std::u16string& current) { current_ = current; }

}  // namespace morvane
