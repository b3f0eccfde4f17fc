// The platform services of the window: Qt's file, folder and colour dialogs,
// message boxes and the standard folders; the log, progress and stop requests
// go to the window. Tests derive from it to script the dialogs.
#pragma once

#include <QStringList>

#include "app/shell/Shell.h"

namespace morvane {

class TForm1;

class QtShell : public Shell {
public:
    explicit QtShell(TForm1& form) : form_(form) {}

    std::u16string DesktopFolder() override;
    std::u16string DocumentsFolder() override;
    bool BrowseForFolder(const std::u16string& start, std::u16string& chosen) override;
    bool OpenFiles(const std::u16string& initialFolder, int32_t& filterIndex,
                   std::vector<std::u16string>& chosen) override;
    bool ChooseColor(int32_t& colour) override;
    void ShowMessage(const std::u16string& text) override;

    bool EscapePressed() override;
    void LogClear() override;
    void LogAppend(const std::u16string& line, const std::u16string& reason) override;
    void ShowLogPage() override;
    void Progress(int done, int total, const std::u16string& current) override;

protected:
    TForm1& form_;
};

// The open dialog's filters as Qt writes them, in the order of the filter index.
QStringList OpenDialogFilters();

}  // namespace morvane
