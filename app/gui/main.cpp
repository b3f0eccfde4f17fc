// Morvane's window: every argument is a candidate drawing, converted when the
// window is shown.
#include <QApplication>
#include <QIcon>

#include "app/AppPaths.h"
#include "app/gui/StopSignals.h"
#include "app/gui/UiFont.h"
#include "app/gui/Unit1.h"
#include "support/Func_2.h"

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
    // From argv as the system gave it (QApplication has taken its own options
    // out): arguments() would turn a name that is no UTF-8 into one that names
    // no file.
    for (int i = 1; i < argc; ++i) setup.Arguments.push_back(morvane::NativeToStr(argv[i]));

    morvane::TForm1 form(std::move(setup));
    morvane::CloseOnStopSignals stopSignals(form);
    form.show();
    return app.exec();
}
