// The main window: destination, intake, the settings and log pages, and the
// life of the one drawing document that every batch run reuses. The window
// only shows and collects the settings and hands the work to the application
// core (settings file, option rules, batch run).
#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/BatchRun.h"
#include "app/gui/QtShell.h"
#include "doc/JwwUnit.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabWidget;

namespace morvane {

class OptionPage;
class PathLabel;

inline constexpr const char16_t* kWindowCaption = u"Morvane Ver.1.10";
inline constexpr const char16_t* kStatusText =
    u"※保存先フォルダに同じ名前のファイルが存在する場合は名前に枝番が付きます";

// Where the window keeps its files, and the command line's candidate drawings.
struct WindowSetup {
    std::u16string ProgramFolder;     // with a trailing separator
    std::u16string SettingsFilePath;  // read at creation, written at every run and at close
    std::vector<std::u16string> Arguments;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(WindowSetup setup, QWidget* parent = nullptr);
    ~TForm1() override;

    // Replaces the platform services (tests script the dialogs this way).
    void SetShell(std::unique_ptr<QtShell> shell);

    // A hand-over of files (drop): replaces the queue with the paths that
    // qualify and, when any did, starts a run once the current event is done.
    // Ignored while a run is going.
    void HandOver(const std::vector<std::u16string>& paths);
    bool Running() const { return running_; }

    // ---- Used by the shell during a run ----------------------------------------
    // Delivers pending input (Escape, the stop button, repaints), then tells
    // whether a stop was asked for.
    bool StopRequested();
    void RequestStop();
    void LogClear();
    void LogAppend(const QString& line, const QString& reason);
    void ShowLogPage();
    void ShowProgress(int done, int total, const QString& current);

    // The private working folder of the bound images (empty when none).
    std::u16string TempFolder() const;
    // Where a folder dialog opens when asked to open at `start`: there when it
    // is an existing folder, else in the program folder.
    std::u16string FolderDialogStart(const std::u16string& start) const;
    const QString& gstyle() const { return gstyle_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Lifecycle.
    void FormCreate();
    void FormShow();
    void FormClose();
    void JwwDataCreate();
    void JwwDataDestroy();

    // Layout.
    QWidget* BuildDestination();
    QWidget* BuildIntake();
    QWidget* BuildPages();
    void BuildStatusBar();

    // The window's state as the settings file holds it, and back.
    AppSettings CollectSettings() const;
    void ShowSettings(const AppSettings& a);
    void PlaceWindow(const AppSettings& a);
    void SaveSettings(const AppSettings& a) const;

    // Handlers.
    void RadioButtonFl1Click();
    void ButtonFl1Click();
    void Label3Click();
    void ComboBoxSc1Select(int index);
    void StartRunLater();
    void RunProc();
    void SetBusy(bool busy);
    void RestoreFocus(QWidget* focused);
    void CopyLogSelection();
    void ShowLogLineStatus(QListWidgetItem* current);

    WindowSetup setup_;
    std::unique_ptr<QtShell> shell_;
    std::optional<WorkingFolder> workingFolder_;
    std::unique_ptr<TJwwData> JWW;
    FileQueue queue_;
    QString gstyle_;
    QString runSummary_;  // the outcomes of the last run, shown under the log
    int32_t Fidx = 1;
    std::u16string browseFolder1Start_;

    bool shown_ = false;
    bool running_ = false;
    bool runPending_ = false;
    bool stopRequested_ = false;
    bool closeAfterRun_ = false;

    QRadioButton* radioFl_[6] = {};  // 1..5
    QButtonGroup* destinationGroup_ = nullptr;
    QLineEdit* editFl1_ = nullptr;
    QPushButton* buttonFl1_ = nullptr;
    PathLabel* labelPreFolder_ = nullptr;
    QLabel* label1_ = nullptr;
    QWidget* destination_ = nullptr;
    QStackedWidget* intake_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTabWidget* pages_ = nullptr;
    OptionPage* options_ = nullptr;
    QListWidget* log_ = nullptr;
    QLabel* logStatus_ = nullptr;  // under the log: a failed file's reason or the run's counts
};

}  // namespace morvane
