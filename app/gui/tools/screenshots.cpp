// Takes the documentation's pictures of the window: the settings page, and the
// log page after converting a few sample drawings. Everything happens in a
// temporary folder; the pictures go to the folder given (default: docs).
//   QT_QPA_PLATFORM=offscreen morvane_screenshots [folder [whole-page.png]]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
    QTemporaryDir sandbox(QDir::tempPath() + "/morvane-XXXXXX");
    if (!sandbox.isValid()) return 1;
    const QString desktop = sandbox.path() + "/Desktop";
    const QString drawings = sandbox.path() + QString::fromUtf16(u"/図面");
    QDir().mkpath(desktop);
    QDir().mkpath(drawings);

    morvane::WindowSetup setup;
    setup.ProgramFolder = (sandbox.path() + "/").toStdU16String();
    setup.SettingsFilePath = (sandbox.path() + "/morvane.dat").toStdU16String();
    morvane::TForm1 form(std::move(setup));
    form.SetShell(std::make_unique<SandboxShell>(form, desktop));
    form.show();
    bool ok = Save(form, out + "/window-settings.png");
    if (argc > 2) ok &= Save(*form.findChild<QWidget*>(QStringLiteral("OptionPage")), QString::fromLocal8Bit(argv[2]));

    // A few sample drawings and one damaged file, as a user would drop them.
    const QDir corpus(QDir::cleanPath(QStringLiteral(MORVANE_CORPUS_DIR)));
    std::vector<std::u16string> queue;
    for (const char16_t* name : {u"木造平面例.jww", u"敷地図.jww", u"サンプル.jww"}) {
        const QString target = drawings + "/" + QString::fromUtf16(name);
        if (QFile::copy(corpus.filePath(QString::fromUtf16(name)), target)) queue.push_back(target.toStdU16String());
    }
    QFile damaged(drawings + QString::fromUtf16(u"/途中で切れた図面.jww"));
    if (damaged.open(QIODevice::WriteOnly) && damaged.write("JwwData.") > 0) queue.push_back(damaged.fileName().toStdU16String());
    damaged.close();
    form.HandOver(queue);
    QElapsedTimer clock;
    clock.start();
    do QApplication::processEvents(QEventLoop::AllEvents, 50);
    while ((form.Running() || form.findChild<QTabWidget*>()->currentIndex() == 0) && clock.elapsed() < 60000);
    ok &= Save(form, out + "/window-log.png");
    form.close();
    return ok ? 0 : 1;
}
