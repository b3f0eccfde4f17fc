#include "app/gui/QtShell.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "app/gui/Unit1.h"
#include "app/shell/ConsoleShell.h"
#include "support/Func_2.h"

namespace morvane {
namespace {

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

// A filter's caption: the filter without the pattern list Qt reads behind it.
QString FilterCaption(const QString& filter) { return filter.left(filter.lastIndexOf(QStringLiteral(" ("))); }

}  // namespace

QStringList OpenDialogFilters() {
    return {QString::fromUtf16(u"Jw_cad 図面ファイル(win) (*.jww *.JWW *.Jww)"),
            QString::fromUtf16(u"全てのファイル(*.*) (*)")};
}

// The same folders as the command line finds (XDG_DESKTOP_DIR and
// XDG_DOCUMENTS_DIR first, which Qt's standard paths pass over), so that both
// programs save a run into one place.
std::u16string QtShell::DesktopFolder() { return XdgUserFolder("DESKTOP", "Desktop"); }

std::u16string QtShell::DocumentsFolder() { return XdgUserFolder("DOCUMENTS", "Documents"); }

// A remembered folder that is gone ("毎回指定" keeps the one chosen last)
// opens the dialog in the program folder.
bool QtShell::BrowseForFolder(const std::u16string& start, std::u16string& chosen) {
    const QString folder =
        QFileDialog::getExistingDirectory(&form_, QString::fromUtf16(u"変換後のファイルを保存するフォルダを指定して下さい"),
                                          Q(form_.FolderDialogStart(start)));
    if (folder.isEmpty()) return false;
    chosen = QDir::toNativeSeparators(folder).toStdU16String();
    return true;
}

bool QtShell::OpenFiles(const std::u16string& initialFolder, int32_t& filterIndex,
                        std::vector<std::u16string>& chosen) {
    QFileDialog dialog(&form_, QString::fromUtf16(u"変換元ファイルを指定"), Q(initialFolder));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = OpenDialogFilters();
    // The filters are listed by their captions alone ("Jw_cad 図面ファイル(win)"),
    // without Qt's pattern lists behind them.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(std::clamp<int>(filterIndex, 1, int(filters.size())) - 1));
    // The name box starts with one ideographic space: blank to the eye, and
    // replaced by whatever the user picks or types.
    dialog.selectFile(QString(QChar(0x3000)));
    if (dialog.exec() != QDialog::Accepted) return false;
    // Without the details the dialog may name the filter by its caption alone.
    const QString used = dialog.selectedNameFilter();
    for (int i = 0; i < filters.size(); ++i)
        if (used == filters[i] || used == FilterCaption(filters[i])) filterIndex = i + 1;
    chosen.clear();
    for (const QString& f : dialog.selectedFiles()) chosen.push_back(QDir::toNativeSeparators(f).toStdU16String());
    return true;
}

bool QtShell::ChooseColor(int32_t& colour) {
    const Rgb c = ColorToRgb(colour);
    const QColor picked = QColorDialog::getColor(QColor(c.r, c.g, c.b), &form_);
    if (!picked.isValid()) return false;
    colour = RgbToColor(picked.red(), picked.green(), picked.blue());
    return true;
}

void QtShell::ShowMessage(const std::u16string& text) {
    QMessageBox::information(&form_, QStringLiteral("Morvane"), Q(text), QMessageBox::Ok);
}

bool QtShell::EscapePressed() { return form_.StopRequested(); }

void QtShell::LogClear() { form_.LogClear(); }

void QtShell::LogAppend(const std::u16string& line, const std::u16string& reason) {
    form_.LogAppend(Q(line), Q(reason));
}

void QtShell::ShowLogPage() { form_.ShowLogPage(); }

void QtShell::Progress(int done, int total, const std::u16string& current) {
    form_.ShowProgress(done, total, Q(current));
}

}  // namespace morvane
