// A scripted Shell for tests: fixed folders, canned dialog answers, an Escape
// key pressed from a given test on, and a record of everything shown.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/shell/Shell.h"

namespace morvane {

class TestShell : public Shell {
public:
    std::u16string desktop, documents;
    std::optional<std::u16string> browseAnswer;  // none: the dialog is cancelled
    int escapeFromTest = -1;                     // EscapePressed is true from this call on (0-based)

    struct LogLine {
        std::u16string line, reason;
    };
    std::vector<LogLine> log;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> browseStarts;
    int logPageShown = 0;
    int progressCalls = 0;
    int escapeTests = 0;

    std::u16string DesktopFolder() override { return desktop; }
    std::u16string DocumentsFolder() override { return documents; }
    bool BrowseForFolder(const std::u16string& start, std::u16string& chosen) override {
        browseStarts.push_back(start);
        if (!browseAnswer) return false;
        chosen = *browseAnswer;
        return true;
    }
    bool OpenFiles(const std::u16string&, int32_t&, std::vector<std::u16string>&) override { return false; }
    bool ChooseColor(int32_t&) override { return false; }
    void ShowMessage(const std::u16string& text) override { messages.push_back(text); }
    bool EscapePressed() override {
        int n = escapeTests++;
        return escapeFromTest >= 0 && n >= escapeFromTest;
    }
    void LogClear() override { log.clear(); }
    void LogAppend(const std::u16string& line, const std::u16string& reason) override {
        log.push_back({line, reason});
    }
    void ShowLogPage() override { ++logPageShown; }
    void Progress(int, int, const std::u16string&) override { ++progressCalls; }

    std::vector<std::u16string> Lines() const {
        std::vector<std::u16string> out;
        for (const LogLine& l : log) out.push_back(l.line);
        return out;
    }
};

}  // namespace morvane
