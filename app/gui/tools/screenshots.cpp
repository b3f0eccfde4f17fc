// Takes the documentation's pictures of the window: the settings page, and the
// log page after converting a few sample drawings. Everything happens in a
// temporary folder; the pictures go to the folder given (default: docs).
//   QT_QPA_PLATFORM=offscreen morvane_screenshots [folder [whole-page.png]]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>

#include "app/gui/UiFont.h"
#include "app/gui/Unit1.h"

namespace {

// The standard folders of the shell, moved into the temporary folder.
class SandboxShell : public morvane::QtShell {
public:
    SandboxShell(morvane::TForm1& form, QString root) : QtShell(form), root_(std::move(root)) {}
    std::u16string DesktopFolder() override { return root_.toStdU16String(); }
    std::u16string DocumentsFolder() override { return root_.toStdU16String(); }

private:
    QString root_;
};

bool Save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    qInfo("%s %s", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(morvane::UiFont(13));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    QTemporaryDir sandbox;
    if (!sandbox.isValid()) return 1;

    morvane::WindowSetup setup;
    setup.ProgramFolder = (sandbox.path() + "/").toStdU16String();
    setup.SettingsFilePath = (sandbox.path() + "/morvane.dat").toStdU16String();
    morvane::TForm1 form(std::move(setup));
    form.SetShell(std::make_unique<SandboxShell>(form, sandbox.path()));
    form.show();
    bool ok = Save(form, out + "/window-settings.png");
    if (argc > 2) ok &= Save(*form.findChild<QWidget*>(QStringLiteral("OptionPage")), QString::fromLocal8Bit(argv[2]));

    const QDir corpus(QStringLiteral(MORVANE_CORPUS_DIR));
    std::vector<std::u16string> drawings;
    for (const QString& name : corpus.entryList({"*.jww"}, QDir::Files, QDir::Name).mid(0, 6))
        drawings.push_back(corpus.filePath(name).toStdU16String());
    form.HandOver(drawings);
    QElapsedTimer clock;
    clock.start();
    do QApplication::processEvents(QEventLoop::AllEvents, 50);
    while ((form.Running() || form.findChild<QTabWidget*>()->currentIndex() == 0) && clock.elapsed() < 60000);
    ok &= Save(form, out + "/window-log.png");
    form.close();
    return ok ? 0 : 1;
}
