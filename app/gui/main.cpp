// Morvane's window: every argument is a candidate drawing, converted when the
// window is shown.
#include <QApplication>
#include <QIcon>

#include "app/AppPaths.h"
#include "app/gui/UiFont.h"
#include "app/gui/Unit1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.10"));
    QApplication::setDesktopFileName(QStringLiteral("morvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("morvane")));
    QApplication::setFont(morvane::UiFont(13));

    std::u16string programFile = morvane::ProgramFilePath();
    if (programFile.empty()) programFile = QCoreApplication::applicationFilePath().toStdU16String();
    morvane::WindowSetup setup;
    setup.ProgramFolder = morvane::ProgramFolderOf(programFile);
    setup.SettingsFilePath = morvane::SettingsFilePathFor(programFile);
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) setup.Arguments.push_back(args[i].toStdU16String());

    morvane::TForm1 form(std::move(setup));
    form.show();
    return app.exec();
}
