// The window on the offscreen platform: its controls, the controls that react
// at once, file intake and the run with its log, Escape, and the settings that
// survive a restart. Every window lives in a temporary program folder, and the
// dialogs are scripted through the shell.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QClipboard>
#include <QAction>
#include <QMimeData>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>

#include <unistd.h>

#include "app/gui/OptionPage.h"
#include "app/gui/QtShell.h"
#include "app/gui/StopSignals.h"
#include "app/gui/Themes.h"
#include "app/gui/Unit1.h"
#include "app/shell/ConsoleShell.h"

using namespace morvane;

namespace {

QString Q(const char16_t* s) { return QString::fromUtf16(s); }

// Dialogs answer from a script; everything else is the window's own shell.
class ScriptedShell : public QtShell {
public:
    ScriptedShell(TForm1& form, QString home) : QtShell(form), home_(std::move(home)) {}

    std::u16string DesktopFolder() override { return (home_ + "/desktop").toStdU16String(); }
    std::u16string DocumentsFolder() override { return (home_ + "/documents").toStdU16String(); }
    bool BrowseForFolder(const std::u16string& start, std::u16string& chosen) override {
        browseStarts << QString::fromStdU16String(start);
        if (folderAnswer.isEmpty()) return false;
        chosen = folderAnswer.toStdU16String();
        return true;
    }
    bool OpenFiles(const std::u16string&, int32_t& filterIndex, std::vector<std::u16string>& chosen) override {
        if (filesAnswer.isEmpty()) return false;
        for (const QString& f : filesAnswer) chosen.push_back(f.toStdU16String());
        filterIndex = filterAnswer;
        return true;
    }
    bool ChooseColor(int32_t& colour) override {
        if (colourAnswer < 0) return false;
        colour = colourAnswer;
        return true;
    }
    void ShowMessage(const std::u16string& text) override { messages << QString::fromStdU16String(text); }

    QString folderAnswer;
    QStringList filesAnswer;
    int32_t filterAnswer = 1;
    int32_t colourAnswer = -1;
    QStringList browseStarts;
    QStringList messages;

private:
    QString home_;
};

// One window in a temporary program folder.
struct Harness {
    explicit Harness(const QString& root, std::vector<std::u16string> args = {}, const QString& programFolder = {})
        : root(root) {
        QDir(root).mkpath("desktop");
        QDir(root).mkpath("documents");
        WindowSetup setup;
        setup.ProgramFolder = ((programFolder.isEmpty() ? root : programFolder) + "/").toStdU16String();
        setup.SettingsFilePath = SettingsPath().toStdU16String();
        setup.Arguments = std::move(args);
        form = std::make_unique<TForm1>(std::move(setup));
        auto scripted = std::make_unique<ScriptedShell>(*form, root);
        shell = scripted.get();
        form->SetShell(std::move(scripted));
    }
    QString SettingsPath() const { return root + "/morvane.dat"; }

    template <class T>
    T* Find(const QString& name) const {
        T* found = form->findChild<T*>(name);
        if (!found) qWarning("no control %s", qPrintable(name));
        return found;
    }
    QString Text(const QString& name) const { return Find<QLineEdit>(name)->text(); }
    void Type(const QString& name, const QString& text) const { Find<QLineEdit>(name)->setText(text); }
    bool Checked(const QString& name) const { return Find<QAbstractButton>(name)->isChecked(); }
    QStringList Log() const {
        QStringList lines;
        auto* list = Find<QListWidget>("ListBox1");
        for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
        return lines;
    }
    int Page() const { return Find<QTabWidget>("PageControl1")->currentIndex(); }
    // Lets a queued run start and waits until it has ended.
    bool WaitForRun() const {
        QTest::qWait(20);
        return QTest::qWaitFor([this] { return !form->Running(); }, 20000);
    }

    QString root;
    std::unique_ptr<TForm1> form;
    ScriptedShell* shell = nullptr;
};

QString Two(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

void LeaveEdit(QWidget* edit) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
}

QColor SwatchColour(QLabel* swatch) { return swatch->palette().color(swatch->backgroundRole()); }

// Contrast ratio of two colours by their relative luminance: 1 (the same
// brightness) to 21 (black on white).
double Contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast between two pictures of the same widget, pixel by pixel.
double MostChanged(const QImage& before, const QImage& after) {
    double most = 1;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y)
        for (int x = 0; x < std::min(before.width(), after.width()); ++x)
            most = std::max(most, Contrast(before.pixelColor(x, y), after.pixelColor(x, y)));
    return most;
}

// A real drawing saved by the CAD program, copied under the name given.
QString CopyDrawing(const QString& folder, const QString& name) {
    const QString source = QStringLiteral(MORVANE_CORPUS_DIR) + "/template-a.jww";
    if (!QFile::exists(source)) return {};
    const QString target = folder + "/" + name;
    QFile::remove(target);
    return QFile::copy(source, target) ? target : QString();
}

// A sample drawing with one bound image ("plan.png", referenced by a text),
// saved by the project's own writer as `target`.
bool SaveDrawingWithImage(const QString& folder, const QString& target) {
    const QString source = QStringLiteral(MORVANE_CORPUS_DIR) + "/template-a.jww";
    TJwwData doc;
    doc.BindImageFolder = (folder + "/").toStdU16String();
    if (!QFile::exists(source) || !doc.FileIn(source.toStdU16String())) return false;
    QFile image(folder + "/plan.png");
    if (!image.open(QIODevice::WriteOnly) || image.write("not really a png") <= 0) return false;
    image.close();
    TEntJwwMoji text;
    text.att.nPenStyle = 1;
    text.att.nPenColor = 1;
    text.nMojiShu = 1;
    text.dSizeX = text.dSizeY = 2.5;
    text.strFontName = u"ＭＳ ゴシック";
    text.str = u"^@BM%temp%plan.png,100,80,0,0,1,0";
    doc.EntMoji.push_back(text);
    doc.EntNo.push_back({4, doc.EntMojiN++});
    doc.Enthd.n1 = static_cast<int32_t>(doc.EntNo.size());
    doc.BindImage.push_back({u"plan.png", 0, false});
    doc.BindImageN = 1;
    doc.BindImageExp = doc.BindImageExr = true;
    return doc.FileOut(target.toStdU16String(), kMaxVersion);
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(bytes);
    return path;
}

// A queue of files in `folder` that are no drawings (each fails to load).
std::vector<std::u16string> BrokenQueue(const QString& folder, const QStringList& names) {
    std::vector<std::u16string> queue;
    for (const QString& name : names) queue.push_back(WriteFile(folder + "/" + name, "broken").toStdU16String());
    return queue;
}

void DropUrls(TForm1& form, const QList<QUrl>& urls, bool accepted = true) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
}

void Drop(TForm1& form, const QStringList& files, bool accepted = true) {
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    DropUrls(form, urls, accepted);
}

QStringList ReadLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    QStringList lines = text.split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

void WriteLines(const QString& path, const QStringList& lines) {
    WriteFile(path, "\xEF\xBB\xBF" + (lines.join("\r\n") + "\r\n").toUtf8());
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString Root() {
        static int n = 0;
        const QString root = dir_.path() + QStringLiteral("/w%1").arg(++n);
        QDir().mkpath(root);
        return root;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir_.isValid());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("maxLength");
        QTest::newRow("CB04") << "CB04" << Q(u"「線幅を1/100mm単位とする」チェックをオフにする") << 0 << 0;
        QTest::newRow("CB09") << "CB09" << Q(u"「実点を指定半径(mm)でプリンタ出力」のチェックをオンにする") << 0 << 0;
        QTest::newRow("CB16") << "CB16" << Q(u"「文字の輪郭/文字列範囲を背景色で描画」チェックをオフにする") << 0 << 0;
        QTest::newRow("CB21") << "CB21" << Q(u"Unicode文字使用") << 0 << 0;
        QTest::newRow("RadioButtonFl4") << "RadioButtonFl4" << Q(u"指定フォルダ") << 0 << 0;
        QTest::newRow("RadioButtonFl5") << "RadioButtonFl5" << Q(u"毎回指定") << 0 << 0;
        QTest::newRow("ButtonFl1") << "ButtonFl1" << Q(u"参照") << 0 << 0;
        QTest::newRow("Button3") << "Button3" << Q(u"背景緑") << 0 << 0;
        QTest::newRow("Button4") << "Button4" << Q(u"背景白") << 0 << 0;
        QTest::newRow("Label3") << "Label3" << Q(u"ここをクリックして変換するファイルを選択して下さい。") << 0 << 0;
        QTest::newRow("Label9") << "Label9"
                                << Q(u"線色１ 線色２ 線色３ 線色４ 線色５ 線色６ 線色７ 線色８ グレー 背景色") << 0 << 0;
        QTest::newRow("Label6") << "Label6" << Q(u"範囲増寸法(-1～10mm)：") << 0 << 0;
        QTest::newRow("La01") << "La01" << "      " << 1 << 0;
        QTest::newRow("La19") << "La19" << "      " << 19 << 0;
        QTest::newRow("EDR01") << "EDR01" << "" << 1 << 4;
        QTest::newRow("EDG10") << "EDG10" << "" << 10 << 4;
        QTest::newRow("EDB19") << "EDB19" << "" << 19 << 4;
        QTest::newRow("ED01") << "ED01" << "" << 0 << 32;
        QTest::newRow("ED18") << "ED18" << "" << 0 << 2;
        QTest::newRow("ED21") << "ED21" << "" << 0 << 2;
        QTest::newRow("ED30") << "ED30" << "" << 0 << 6;
        QTest::newRow("EditFl1") << "EditFl1" << "" << 0 << 32767;
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, tag);
        QFETCH(int, maxLength);
        Harness h(Root());
        QWidget* w = h.Find<QWidget>(name);
        QVERIFY(w);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) QCOMPARE(b->text(), caption);
        if (auto* l = qobject_cast<QLabel*>(w)) QCOMPARE(l->text(), caption);
        if (auto* e = qobject_cast<QLineEdit*>(w)) QCOMPARE(e->maxLength(), maxLength);
        QCOMPARE(w->property("tag").toInt(), tag);
    }

    // Everything a first start shows, without a settings file.
    void firstStart() {
        Harness h(Root());
        TForm1& f = *h.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Morvane Ver.1.10"));
        QCOMPARE(f.size(), QSize(560, 520));
        QCOMPARE(f.statusBar()->findChild<QLabel*>()->text(),
                 Q(u"※保存先フォルダに同じ名前のファイルが存在する場合は名前に枝番が付きます"));
        QCOMPARE(h.Find<QGroupBox>("GroupBox1")->title(), Q(u"保存先(&F)"));
        auto* pages = h.Find<QTabWidget>("PageControl1");
        QCOMPARE(pages->tabPosition(), QTabWidget::South);
        QCOMPARE(pages->tabText(0), Q(u"設定(&S)"));
        QCOMPARE(pages->tabText(1), Q(u"ログ(&L)"));
        QCOMPARE(pages->widget(0)->objectName(), QStringLiteral("TabSheet1"));
        QCOMPARE(pages->widget(1)->objectName(), QStringLiteral("TabSheet2"));
        QCOMPARE(h.Page(), 0);
        QVERIFY(h.Find<QWidget>("ListBox1"));
        auto* scroll = h.Find<QScrollArea>("ScrollBox1");
        QCOMPARE(scroll->widget()->size(), QSize(512, 880));

        auto* themes = h.Find<QComboBox>("ComboBoxSc1");
        QCOMPARE(themes->count(), 28);
        QCOMPARE(themes->itemText(0), QStringLiteral("Windows"));
        QCOMPARE(themes->itemText(27), QStringLiteral("Turquoise Gray"));
        QCOMPARE(themes->currentText(), QStringLiteral("Windows"));
        QCOMPARE(h.Find<QComboBox>("CX01")->count(), 12);
        QCOMPARE(h.Find<QComboBox>("CX01")->itemText(5), Q(u"２ Ａ"));
        QCOMPARE(h.Find<QComboBox>("CX02")->currentText(), Q(u"「ソリッドを先に描画」オフ"));

        QVERIFY(h.Checked("RadioButtonFl1"));
        QVERIFY(!h.Find<QWidget>("EditFl1")->isEnabled());
        QVERIFY(!h.Find<QWidget>("ButtonFl1")->isEnabled());
        QVERIFY(!h.Find<QWidget>("Label1")->isVisibleTo(&f));
        QCOMPARE(h.Find<QLabel>("LabelPreFolder")->text(), h.root + "/");
        for (int n = 1; n <= 19; ++n) {
            for (QString rgb : {"EDR", "EDG", "EDB"}) QCOMPARE(h.Find<QLineEdit>(rgb + Two(n))->property("tag").toInt(), n);
            auto* swatch = h.Find<QLabel>("La" + Two(n));
            QCOMPARE(SwatchColour(swatch), QColor(Qt::black));
            QCOMPARE(swatch->text(), QStringLiteral("      "));
        }
    }

    // Nothing is cut off: every control of the top area, the settings page
    // and the status bar is as wide as its text needs, also when the window
    // is made as small as it goes.
    void captionsFit_data() {
        QTest::addColumn<bool>("smallest");
        QTest::newRow("first start") << false;
        QTest::newRow("smallest") << true;
    }
    void captionsFit() {
        QFETCH(bool, smallest);
        Harness h(Root());
        h.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        if (smallest) {
            h.form->resize(1, 1);
            QTRY_COMPARE(h.form->size(), h.form->minimumSize());
        }
        for (QAbstractButton* b : h.form->findChildren<QAbstractButton*>()) {
            if (!b->isVisibleTo(h.form.get()) || b->text().isEmpty()) continue;
            QVERIFY2(b->width() >= b->minimumSizeHint().width(), qPrintable(b->objectName()));
        }
        for (QLabel* l : h.form->findChildren<QLabel*>()) {
            if (!l->isVisibleTo(h.form.get()) || l->objectName() == "LabelPreFolder" || l->text().isEmpty()) continue;
            QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()) || l->wordWrap(),
                     qPrintable(l->objectName() + ": " + l->text()));
        }
        auto* options = h.form->findChild<OptionPage*>();
        QVERIFY(options->childrenRect().bottom() <= options->height());
        QVERIFY(options->childrenRect().right() <= options->width());
    }

    void pairedBoxes_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QStringList>("unchecked");
        QTest::newRow("on after off") << QStringList{"CB04", "CB05"} << QStringList{"CB05"} << QStringList{"CB04"};
        QTest::newRow("off after on") << QStringList{"CB05", "CB04"} << QStringList{"CB04"} << QStringList{"CB05"};
        QTest::newRow("other pairs alone") << QStringList{"CB06", "CB09", "CB12", "CB15"}
                                           << QStringList{"CB06", "CB09", "CB12", "CB15"}
                                           << QStringList{"CB07", "CB08", "CB13", "CB14"};
        QTest::newRow("CB13 beats CB12") << QStringList{"CB12", "CB13"} << QStringList{"CB13"} << QStringList{"CB12"};
        QTest::newRow("triple, CB18 after CB16") << QStringList{"CB16", "CB18"} << QStringList{"CB18"}
                                                 << QStringList{"CB16", "CB17"};
        QTest::newRow("triple, CB17 after CB18") << QStringList{"CB18", "CB17"} << QStringList{"CB17"}
                                                 << QStringList{"CB16", "CB18"};
        QTest::newRow("unchecking clears nothing") << QStringList{"CB17", "CB17", "CB16"} << QStringList{"CB16"}
                                                   << QStringList{"CB17", "CB18"};
        QTest::newRow("boxes outside pairs") << QStringList{"CB01", "CB10", "CB19", "CB20"}
                                             << QStringList{"CB01", "CB10", "CB19", "CB20"} << QStringList{};
    }
    void pairedBoxes() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, checked);
        QFETCH(QStringList, unchecked);
        Harness h(Root());
        for (const QString& c : clicks) h.Find<QCheckBox>(c)->click();
        for (const QString& c : checked) QVERIFY2(h.Checked(c), qPrintable(c));
        for (const QString& c : unchecked) QVERIFY2(!h.Checked(c), qPrintable(c));
    }

    void swatchRefresh_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<QStringList>("rgb");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("300") << 3 << QStringList{"300", "0", "0"} << false << QColor();
        QTest::newRow("empty") << 12 << QStringList{"1", "", "3"} << false << QColor();
        QTest::newRow("negative") << 7 << QStringList{"-1", "0", "0"} << false << QColor();
        QTest::newRow("abc is 0") << 5 << QStringList{"10", "20", "abc"} << true << QColor(10, 20, 0);
        QTest::newRow("limits") << 19 << QStringList{"255", "0", "128"} << true << QColor(255, 0, 128);
    }
    void swatchRefresh() {
        QFETCH(int, n);
        QFETCH(QStringList, rgb);
        QFETCH(bool, valid);
        QFETCH(QColor, colour);
        Harness h(Root());
        auto* swatch = h.Find<QLabel>("La" + Two(n));
        const QString names[] = {"EDR" + Two(n), "EDG" + Two(n), "EDB" + Two(n)};
        for (int i = 0; i < 3; ++i) h.Type(names[i], rgb[i]);
        // Typing alone leaves the swatch as it was.
        QCOMPARE(SwatchColour(swatch), QColor(Qt::black));
        LeaveEdit(h.Find<QWidget>(names[1]));
        if (valid) {
            QCOMPARE(SwatchColour(swatch), colour);
            QCOMPARE(swatch->text(), QString());
        } else {
            QCOMPARE(SwatchColour(swatch), swatch->palette().color(QPalette::Button));
            QCOMPARE(swatch->text(), QStringLiteral(" ----"));
        }
        // The other swatches are untouched.
        QCOMPARE(h.Find<QLabel>(n == 1 ? "La02" : "La01")->text(), QStringLiteral("      "));
    }

    void presets() {
        Harness h(Root());
        auto edits = [&h] {
            QStringList texts;
            for (int n = 1; n <= 19; ++n)
                for (QString rgb : {"EDR", "EDG", "EDB"}) texts << h.Text(rgb + Two(n));
            return texts;
        };
        h.Find<QPushButton>("Button2")->click();
        const QStringList black = edits();
        QCOMPARE(black.mid(0, 3), (QStringList{"0", "255", "255"}));
        QCOMPARE(black.mid(27, 3), (QStringList{"0", "0", "0"}));
        QCOMPARE(black.mid(30, 3), (QStringList{"", "", ""}));  // printer colours untouched
        h.Find<QPushButton>("Button3")->click();
        QStringList green = edits();
        QCOMPARE(green.mid(27, 3), (QStringList{"0", "32", "0"}));
        for (int i = 0; i < black.size(); ++i)
            if (i < 27 || i >= 30) QCOMPARE(green[i], black[i]);
        QCOMPARE(SwatchColour(h.Find<QLabel>("La10")), QColor(0, 32, 0));
        QCOMPARE(SwatchColour(h.Find<QLabel>("La08")), QColor(160, 0, 0));
        QCOMPARE(h.Find<QLabel>("La11")->text(), QStringLiteral("      "));

        h.Find<QPushButton>("Button4")->click();
        QCOMPARE(h.Text("EDR15") + "," + h.Text("EDG15") + "," + h.Text("EDB15"), QStringLiteral("255,0,255"));
        QCOMPARE(SwatchColour(h.Find<QLabel>("La19")), QColor(128, 128, 128));
        QCOMPARE(h.Text("EDG10"), QStringLiteral("32"));
    }

    void colourDialog() {
        Harness h(Root());
        auto* swatch = h.Find<QLabel>("La10");
        h.shell->colourAnswer = -1;  // cancelled
        QTest::mouseClick(swatch, Qt::LeftButton);
        QCOMPARE(h.Text("EDR10"), QString());
        QCOMPARE(swatch->text(), QStringLiteral("      "));
        h.shell->colourAnswer = 255;  // pure red
        QTest::mouseClick(swatch, Qt::LeftButton);
        QCOMPARE(h.Text("EDR10") + "," + h.Text("EDG10") + "," + h.Text("EDB10"), QStringLiteral("255,0,0"));
        QCOMPARE(SwatchColour(swatch), QColor(255, 0, 0));
        QCOMPARE(swatch->text(), QString());
    }

    // Without a mouse: Tab goes from the blue row to the swatches and on to
    // the next box, Enter or Space opens the colour dialog, and the focus
    // stands out from whatever colour the swatch shows.
    void swatchesByKeyboard() {
        Harness h(Root());
        h.form->show();
        h.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
        auto focusName = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
        for (const auto& [first, last, next] : {std::tuple{1, 10, "CB10"}, std::tuple{11, 19, "CB11"}}) {
            h.Find<QWidget>("EDB" + Two(last))->setFocus();
            for (int n = first; n <= last; ++n) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QCOMPARE(focusName(), "La" + Two(n));
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(focusName(), QString(next));
        }
        h.Find<QWidget>("La11")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusName(), QStringLiteral("EDB19"));

        for (const auto& [n, key, rgb] : {std::tuple{10, Qt::Key_Return, 0x0000ff}, std::tuple{12, Qt::Key_Space, 0x00ff00},
                                          std::tuple{5, Qt::Key_Enter, 0x804020}}) {
            h.shell->colourAnswer = rgb;
            QTest::keyClick(h.Find<QWidget>("La" + Two(n)), key);
            const QString expected = QStringLiteral("%1,%2,%3").arg(rgb & 0xff).arg((rgb >> 8) & 0xff).arg(rgb >> 16);
            QCOMPARE(h.Text("EDR" + Two(n)) + "," + h.Text("EDG" + Two(n)) + "," + h.Text("EDB" + Two(n)), expected);
        }

        // The focus frame on a dark, a light and a bright fill, and on the
        // button face of an invalid colour.
        auto* swatch = h.Find<QLabel>("La01");
        for (const int colour : {0x000000, 0xffffff, 0x00ff00, 0xc0c000, -1}) {
            if (colour < 0) {
                h.Type("EDR01", "300");
                h.form->findChild<OptionPage*>()->SetLabelColor(1);
            } else {
                h.shell->colourAnswer = colour;
                QTest::keyClick(swatch, Qt::Key_Space);
            }
            h.Find<QWidget>("EDB10")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), swatch);
            const QImage focused = swatch->grab().toImage();
            QTest::keyClick(swatch, Qt::Key_Tab);
            const QImage unfocused = swatch->grab().toImage();
            QVERIFY2(MostChanged(unfocused, focused) >= 3, qPrintable(SwatchColour(swatch).name()));
        }
    }

    // With a dark theme a check box or radio button, checked or not, stands out
    // from the window, and the text of a disabled edit from its background.
    void darkThemesContrast() {
        struct Restore {
            ~Restore() { ApplyTheme(*qApp, Q(kSystemThemeName)); }
        } restore;
        QWidget page;
        auto* column = new QVBoxLayout(&page);
        const QList<QAbstractButton*> buttons{new QCheckBox("off"), new QCheckBox("on"), new QRadioButton("off"),
                                              new QRadioButton("on")};
        for (QAbstractButton* b : buttons) {
            b->setChecked(b->text() == "on");
            column->addWidget(b);
        }
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QStringList dark;
        for (const QString& theme : ThemeNames()) {
            QVERIFY(ApplyTheme(*qApp, theme));
            const QPalette palette = QApplication::palette();
            const QColor window = palette.color(QPalette::Window);
            if (window.lightness() >= 128) continue;
            dark << theme;
            QTRY_COMPARE(buttons[0]->palette().color(QPalette::Window), window);
            QVERIFY2(Contrast(palette.color(QPalette::Disabled, QPalette::Text),
                              palette.color(QPalette::Disabled, QPalette::Base)) >= 3,
                     qPrintable(theme));
            for (QAbstractButton* b : buttons) {
                QStyleOptionButton option;
                option.initFrom(b);
                const auto element = qobject_cast<QCheckBox*>(b) ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator;
                const QImage indicator = b->grab(b->style()->subElementRect(element, &option, b)).toImage();
                double most = 1;
                for (int y = 0; y < indicator.height(); ++y)
                    for (int x = 0; x < indicator.width(); ++x)
                        most = std::max(most, Contrast(indicator.pixelColor(x, y), window));
                QVERIFY2(most >= 3, qPrintable(theme + ", " + b->metaObject()->className() + " " + b->text() +
                                               QStringLiteral(": %1").arg(most, 0, 'f', 2)));
            }
        }
        QVERIFY(dark.contains("Carbon") && dark.contains("Metropolis UI Black"));
    }

    void destinationButtons() {
        Harness h(Root());
        auto* edit = h.Find<QLineEdit>("EditFl1");
        auto* browse = h.Find<QPushButton>("ButtonFl1");
        h.Find<QRadioButton>("RadioButtonFl4")->click();
        QVERIFY(edit->isEnabled() && browse->isEnabled());
        edit->setText("typed");
        for (QString other : {"RadioButtonFl1", "RadioButtonFl2", "RadioButtonFl3", "RadioButtonFl5"}) {
            h.Find<QRadioButton>(other)->click();
            QVERIFY2(!edit->isEnabled() && !browse->isEnabled(), qPrintable(other));
        }
        QCOMPARE(edit->text(), QStringLiteral("typed"));

        h.Find<QRadioButton>("RadioButtonFl4")->click();
        browse->click();  // cancelled: the edit keeps its text
        QCOMPARE(edit->text(), QStringLiteral("typed"));
        QCOMPARE(h.shell->browseStarts.value(0), h.root + "/");  // the program folder at first
        h.shell->folderAnswer = h.root + "/out";
        browse->click();
        QCOMPARE(edit->text(), h.root + "/out/");
        h.shell->folderAnswer.clear();
        browse->click();
        QCOMPARE(h.shell->browseStarts.value(2), h.root + "/out");  // starts at the folder accepted last
        // A folder that is gone (the one "毎回指定" remembers) opens the program folder.
        QCOMPARE(h.form->FolderDialogStart((h.root + "/gone/").toStdU16String()), (h.root + "/").toStdU16String());
        QCOMPARE(h.form->FolderDialogStart((h.root + "/desktop").toStdU16String()), (h.root + "/desktop").toStdU16String());
    }

    // A text file and a drawing named .JWW are dropped: only the drawing is
    // converted, the log shows its three lines and comes to the front.
    void dropConvertsTheDrawing() {
        Harness h(Root());
        const QString plan = CopyDrawing(h.root, "plan.JWW");
        if (plan.isEmpty()) QSKIP("no sample drawing");
        const QString text = WriteFile(h.root + "/notes.txt", "not a drawing");
        h.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        for (QLineEdit* e : h.form->findChildren<QLineEdit*>()) QVERIFY(!e->acceptDrops());  // drops reach the window
        Drop(*h.form, {text, plan});
        QVERIFY(h.WaitForRun());
        const QString saved = h.root + "/desktop/plan.JWW";
        QCOMPARE(h.Log(), (QStringList{plan, Q(u"→ ") + saved, Q(u"　…… 変換ＯＫ")}));
        QVERIFY(h.Find<QListWidget>("ListBox1")->item(2)->icon().isNull());  // only failures are marked
        QCOMPARE(h.Find<QLabel>("LogStatus")->text(), Q(u"変換ＯＫ：1件　変換失敗：0件"));
        QVERIFY(QFile::exists(saved));
        QCOMPARE(h.Page(), 1);
        QVERIFY(QFile::exists(h.SettingsPath()));  // written at the start of the run
        QVERIFY(h.Find<QWidget>("OptionPage")->isEnabled());

        // The lines are copied in the log's order, whatever order they were
        // picked in; with nothing selected there is nothing to copy.
        auto* log = h.Find<QListWidget>("ListBox1");
        auto* copyAction = log->findChild<QAction*>("LogCopy");
        QVERIFY(copyAction && log->actions().contains(copyAction) && !copyAction->isEnabled());
        QGuiApplication::clipboard()->setText("before");
        log->item(2)->setSelected(true);
        log->item(0)->setSelected(true);
        QVERIFY(copyAction->isEnabled());
        // The keys reach the log only in the active window (so on a real display too).
        h.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
        log->setFocus();
        QCOMPARE(QApplication::focusWidget(), log);
        QTest::keySequence(log, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), plan + Q(u"\n　…… 変換ＯＫ\n"));
        QTest::keySequence(log, QKeySequence::SelectAll);
        QCOMPARE(log->selectedItems().size(), 3);
        log->clearSelection();
        QVERIFY(!copyAction->isEnabled());
        QGuiApplication::clipboard()->setText("before");
        log->setCurrentRow(1, QItemSelectionModel::NoUpdate);  // a current line, but none selected
        QTest::keySequence(log, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        log->item(1)->setSelected(true);

        // The same drop again never overwrites: the next free name is taken.
        // The new log starts with nothing selected.
        Drop(*h.form, {plan});
        QVERIFY(h.WaitForRun());
        QVERIFY(log->selectedItems().isEmpty() && !copyAction->isEnabled());
        QCOMPARE(h.Log().value(1), Q(u"→ ") + h.root + "/desktop/plan~1.jww");

        // A name that is no UTF-8 (Shift_JIS, as unpacked from an archive made
        // on Windows) names the same file all the way to its copy.
        const QByteArray sjis = QByteArray("\x95\xBD\x96\xCA");
        const QByteArray sjisPath = QFile::encodeName(h.root) + "/" + sjis + ".jww";
        QVERIFY(::rename(QFile::encodeName(plan).constData(), sjisPath.constData()) == 0);
        DropUrls(*h.form, {QUrl::fromEncoded("file://" + sjisPath.toPercentEncoding("/"))});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().value(2), Q(u"　…… 変換ＯＫ"));
        const QByteArray copy = QFile::encodeName(h.root) + "/desktop/" + sjis + ".jww";
        QVERIFY(::access(copy.constData(), F_OK) == 0);
        // Qt's own removal of the test folder cannot name these two.
        ::unlink(copy.constData());
        ::unlink(sjisPath.constData());

        // Only files that do not qualify: no run, the log stays.
        Drop(*h.form, {text, h.root + "/missing.jww"});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().size(), 3);

        // Closing frees the drawing and removes the emptied working folder.
        const QString temp = QString::fromStdU16String(h.form->TempFolder());
        QVERIFY(QDir(temp).exists());
        h.form->close();
        QVERIFY(!QDir(temp).exists());
    }

    // The bound images of the last drawing live in the working folder until
    // the window closes, which deletes them and the folder.
    void closeRemovesImages() {
        Harness h(Root());
        QDir().mkpath(h.root + "/fixture");
        const QString drawing = h.root + "/with-image.jww";
        if (!SaveDrawingWithImage(h.root + "/fixture", drawing)) QSKIP("no sample drawing");
        h.form->show();
        h.form->HandOver({drawing.toStdU16String()});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().value(2), Q(u"　…… 変換ＯＫ"));
        const QString temp = QString::fromStdU16String(h.form->TempFolder());
        QVERIFY(QFile::exists(temp + "plan.png"));
        h.form->close();
        QVERIFY(!QFile::exists(temp + "plan.png"));
        QVERIFY(!QDir(temp).exists());
        QVERIFY(!QDir(h.root + "/TEMP").exists());
    }

    // No working folder to be had (program folder gone, TMPDIR a missing
    // folder): a drawing whose text shows a bound image fails, and the image
    // names never reach the current folder, whose file of that name is neither
    // saved into the copy nor deleted afterwards.
    void noWorkingFolder() {
        const QString root = Root();
        QDir().mkpath(root + "/fixture");
        QDir().mkpath(root + "/here");
        const QString drawing = root + "/with-image.jww";
        if (!SaveDrawingWithImage(root + "/fixture", drawing)) QSKIP("no sample drawing");
        const QString plain = CopyDrawing(root, "plain.jww");
        const QString mine = WriteFile(root + "/here/plan.png", "the user's own file");
        // Put back however the test ends: later tests need both.
        struct Restore {
            QByteArray tmpdir = qgetenv("TMPDIR");
            QString folder = QDir::currentPath();
            ~Restore() {
                QDir::setCurrent(folder);
                if (tmpdir.isNull()) qunsetenv("TMPDIR");
                else qputenv("TMPDIR", tmpdir);
            }
        } restore;
        qputenv("TMPDIR", (root + "/no/such/folder").toUtf8());
        QDir::setCurrent(root + "/here");
        {
            Harness h(root, {}, root + "/gone");
            h.form->show();
            QVERIFY(h.form->TempFolder().empty());
            h.form->HandOver({drawing.toStdU16String(), plain.toStdU16String()});
            QVERIFY(h.WaitForRun());
            QTRY_COMPARE(h.Log().size(), 6);
            QCOMPARE(h.Log().value(2), Q(u"　…… 変換失敗"));
            QCOMPARE(h.Log().value(5), Q(u"　…… 変換ＯＫ"));
            h.form->close();
        }
        QFile kept(mine);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("the user's own file"));
        QCOMPARE(QDir(root + "/here").entryList(QDir::Files), QStringList{"plan.png"});
    }

    // SIGTERM (logout, shutdown), SIGHUP or Ctrl-C closes the window as its
    // close box does: the settings are saved and the working folder goes; an
    // open dialog is closed first.
    void stopSignalClosesTheWindow() {
        for (const int sig : {SIGTERM, SIGHUP}) {
            Harness h(Root());
            h.form->show();
            const QString temp = QString::fromStdU16String(h.form->TempFolder());
            QVERIFY(!temp.isEmpty() && QFileInfo::exists(temp));
            QFile::remove(h.SettingsPath());
            CloseOnStopSignals stop(*h.form);
            if (sig == SIGHUP) {
                QDialog dialog(h.form.get());
                QTimer::singleShot(0, [sig] { ::raise(sig); });
                QCOMPARE(dialog.exec(), int(QDialog::Rejected));
            } else {
                ::raise(sig);
            }
            QTRY_VERIFY(!h.form->isVisible());
            QVERIFY(QFileInfo::exists(h.SettingsPath()));
            QVERIFY(!QFileInfo::exists(temp));
        }
    }

    // The window's own shell finds the desktop and documents folders as the
    // command line does, the environment's XDG folders first.
    void shellFoldersAsTheCommandLine() {
        Harness h(Root());
        QtShell real(*h.form);
        const QByteArray desktop = qgetenv("XDG_DESKTOP_DIR"), documents = qgetenv("XDG_DOCUMENTS_DIR");
        qputenv("XDG_DESKTOP_DIR", (h.root + "/desk/").toUtf8());
        qputenv("XDG_DOCUMENTS_DIR", (h.root + "/docs").toUtf8());
        const std::u16string gotDesktop = real.DesktopFolder(), gotDocuments = real.DocumentsFolder();
        for (auto [name, old] : {std::pair{"XDG_DESKTOP_DIR", desktop}, std::pair{"XDG_DOCUMENTS_DIR", documents}}) {
            if (old.isNull()) qunsetenv(name);
            else qputenv(name, old);
        }
        QCOMPARE(gotDesktop, (h.root + "/desk").toStdU16String());
        QCOMPARE(gotDocuments, (h.root + "/docs").toStdU16String());
        QCOMPARE(real.DesktopFolder(), XdgUserFolder("DESKTOP", "Desktop"));
    }

    // The files named on the command line are converted as the window is shown.
    void commandLineAtShow() {
        const QString root = Root();
        const QString a = CopyDrawing(root, "a.jww");
        if (a.isEmpty()) QSKIP("no sample drawing");
        const QString b = CopyDrawing(root, "b.Jww");
        const QString text = WriteFile(root + "/c.txt", "text");
        Harness h(root, {a.toStdU16String(), text.toStdU16String(), b.toStdU16String()});
        h.form->show();
        QVERIFY(h.WaitForRun());
        QTRY_COMPARE(h.Log().size(), 6);
        QCOMPARE(h.Log().value(2), Q(u"　…… 変換ＯＫ"));
        QCOMPARE(h.Log().value(5), Q(u"　…… 変換ＯＫ"));
        QCOMPARE(h.Page(), 1);
    }

    // The open dialog: cancelling does nothing; accepting remembers the folder
    // and the filter and converts the picked drawings.
    void openDialog() {
        Harness h(Root());
        const QString broken = WriteFile(h.root + "/broken.jww", "JwwData.");
        h.form->show();
        auto* link = h.Find<QLabel>("Label3");
        QTest::mouseClick(link, Qt::LeftButton);
        QVERIFY(h.WaitForRun());
        QVERIFY(h.Log().isEmpty());
        QCOMPARE(h.Page(), 0);

        h.shell->filesAnswer = {broken};
        h.shell->filterAnswer = 2;
        QTest::mouseClick(link, Qt::LeftButton);
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().value(2), Q(u"　…… 変換失敗"));
        // Why it failed is the outcome line's tooltip; the line is marked.
        // Reached by the keyboard, the line shows the reason under the log.
        auto* log = h.Find<QListWidget>("ListBox1");
        const QString reason = log->item(2)->toolTip();
        QVERIFY(!reason.isEmpty());
        QVERIFY(!log->item(2)->icon().isNull());
        // Otherwise the line under the log counts the outcomes of the run;
        // the status bar keeps its fixed text.
        const QString counts = Q(u"変換ＯＫ：0件　変換失敗：1件");
        auto message = [&] {
            return h.form->statusBar()->currentMessage().isEmpty() ? h.Find<QLabel>("LogStatus")->text()
                                                                    : QStringLiteral("status bar changed");
        };
        QCOMPARE(message(), counts);
        log->setFocus();
        log->setCurrentRow(0);
        QCOMPARE(message(), counts);
        QTest::keyClick(log, Qt::Key_End);
        QCOMPARE(log->currentRow(), 2);
        QCOMPARE(message(), reason);
        QTest::keyClick(log, Qt::Key_Up);
        QCOMPARE(message(), counts);
        QTest::keyClick(log, Qt::Key_Down);
        QCOMPARE(message(), reason);
        // A new run's log takes the old reason away.
        QTest::mouseClick(link, Qt::LeftButton);
        QVERIFY(h.WaitForRun());
        QCOMPARE(message(), counts);
        QCOMPARE(h.Find<QLabel>("Label1")->text(), h.root + "/");
        h.form->close();
        const QStringList lines = ReadLines(h.SettingsPath());
        QCOMPARE(lines.value(10), QStringLiteral("2"));
        QCOMPARE(lines.value(9), h.root + "/");
    }

    // Without a mouse: Tab reaches the link, Enter opens the open dialog and
    // the focus comes back to the link after the run. A run that puts the log
    // over the control in focus leaves the focus in the log.
    void keyboardOnly() {
        Harness h(Root());
        const QString broken = WriteFile(h.root + "/broken.jww", "JwwData.");
        h.form->show();
        h.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
        auto* link = h.Find<QLabel>("Label3");
        h.Find<QWidget>("RadioButtonFl1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), link);
        h.shell->filesAnswer = {broken};
        QTest::keyClick(link, Qt::Key_Return);
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().value(0), broken);
        QCOMPARE(QApplication::focusWidget(), link);

        h.Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
        h.Find<QWidget>("ED01")->setFocus();
        h.form->HandOver({broken.toStdU16String()});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Page(), 1);
        QCOMPARE(QApplication::focusWidget(), h.Find<QWidget>("ListBox1"));

        // The window's own open dialog takes the focus out of the window, and
        // the run starts before the window has it back: the link still gets it.
        h.Find<QRadioButton>("RadioButtonFl3")->click();  // no folder to ask the shell for
        h.form->SetShell(std::make_unique<QtShell>(*h.form));
        h.shell = nullptr;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(broken);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        link->setFocus(Qt::TabFocusReason);
        QTest::keyClick(link, Qt::Key_Return);
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().value(0), broken);
        QCOMPARE(h.form->focusWidget(), link);
    }

    // The log's context menu waits for the end of a run: open, it would hold
    // the run (and the stop or close that should end it) until it was closed.
    void logMenuOnlyWhenIdle() {
        Harness h(Root());
        const std::vector<std::u16string> queue = BrokenQueue(h.root, {"a.jww", "b.jww"});
        h.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        h.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
        auto* list = h.Find<QListWidget>("ListBox1");
        // Right-clicks the log; a menu that opens is closed again after a
        // while, and the texts of its entries are returned.
        auto rightClick = [&] {
            QStringList entries;
            QTimer::singleShot(200, [&] {
                if (QWidget* menu = QApplication::activePopupWidget()) {
                    for (QAction* a : menu->actions()) entries << a->text();
                    menu->close();
                }
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), list->viewport()->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(list->viewport(), &event);
            QTest::qWait(300);
            return entries;
        };
        QStringList duringRun{"not tried"};
        const auto connection = connect(list->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (list->count() == 1) QTimer::singleShot(0, [&] { duringRun = rightClick(); });
        });
        h.form->HandOver(queue);
        QVERIFY(h.WaitForRun());
        disconnect(connection);
        QCOMPARE(duringRun, QStringList());
        QCOMPARE(rightClick(), (QStringList{Q(u"コピー(&C)"), Q(u"すべて選択(&A)")}));
    }

    // Enter (either key) clicks the push button in focus, as Space does; in an
    // edit it clicks nothing, not even the button that had the focus before.
    void enterClicksTheFocusedButton() {
        Harness h(Root());
        QStringList drawings;
        for (QString name : {"a.jww", "b.jww"}) drawings << WriteFile(h.root + "/" + name, "broken");
        h.form->show();
        h.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
        h.Find<QRadioButton>("RadioButtonFl4")->click();
        auto press = [](QWidget* w, Qt::Key key) {
            w->setFocus(Qt::TabFocusReason);
            QTest::keyClick(w, key);
        };
        press(h.Find<QWidget>("Button2"), Qt::Key_Return);
        QCOMPARE(h.Text("EDG01"), QStringLiteral("255"));
        press(h.Find<QWidget>("Button4"), Qt::Key_Enter);
        QCOMPARE(h.Text("EDR15"), QStringLiteral("255"));
        press(h.Find<QWidget>("ButtonFl1"), Qt::Key_Return);
        QCOMPARE(h.shell->browseStarts.size(), 1);

        h.Find<QWidget>("Button1")->setFocus(Qt::TabFocusReason);
        h.Type("EDR01", "7");
        press(h.Find<QWidget>("EDR01"), Qt::Key_Return);
        press(h.Find<QWidget>("EditFl1"), Qt::Key_Enter);
        QCOMPARE(h.Text("EDR01"), QStringLiteral("7"));
        QCOMPARE(h.Text("EDG01"), QStringLiteral("255"));
        QCOMPARE(h.shell->browseStarts.size(), 1);

        // The stop button of a run: the file in work is finished, no other is begun.
        h.Find<QRadioButton>("RadioButtonFl3")->click();
        auto* list = h.Find<QListWidget>("ListBox1");
        const auto connection = connect(list->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (list->count() == 1) press(h.Find<QWidget>("ButtonStop"), Qt::Key_Return);
        });
        h.form->HandOver({drawings[0].toStdU16String(), drawings[1].toStdU16String()});
        QVERIFY(h.WaitForRun());
        disconnect(connection);
        QCOMPARE(h.Log().size(), 4);
        QCOMPARE(h.Log().value(3), Q(u"[ESC]を押しましたので中断します。"));
    }

    // The window's own open dialog: its title, the captions of its two
    // filters as the user reads them, the filter index it starts with, and a
    // file name of one ideographic space.
    void openDialogAsShown() {
        Harness h(Root());
        QtShell real(*h.form);
        QString title, fileName;
        QStringList filterCaptions;
        int shownFilter = -1;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            title = dialog->windowTitle();
            if (auto* types = dialog->findChild<QComboBox*>("fileTypeCombo")) {
                for (int i = 0; i < types->count(); ++i) filterCaptions << types->itemText(i);
                shownFilter = types->currentIndex();
            }
            if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) fileName = name->text();
            dialog->reject();
        });
        int32_t filterIndex = 2;
        std::vector<std::u16string> chosen;
        QVERIFY(!real.OpenFiles(h.root.toStdU16String(), filterIndex, chosen));
        QCOMPARE(title, Q(u"変換元ファイルを指定"));
        QCOMPARE(filterCaptions, (QStringList{Q(u"Jw_cad 図面ファイル(win)"), Q(u"全てのファイル(*.*)")}));
        QCOMPARE(shownFilter, 1);
        QCOMPARE(fileName, Q(u"\u3000"));

        // Accepted: the file picked and the filter in use, counted from 1.
        const QString drawing = WriteFile(h.root + "/a.jww", "whatever");
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!types || !name) return dialog->reject();
            types->setCurrentIndex(1);
            emit types->activated(1);
            name->setText("a.jww");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        filterIndex = 1;
        QVERIFY(real.OpenFiles(h.root.toStdU16String(), filterIndex, chosen));
        QCOMPARE(chosen, std::vector<std::u16string>{drawing.toStdU16String()});
        QCOMPARE(filterIndex, 2);
    }

    // After the first run, with the log page never shown before, the log shows
    // its end: the last line whole and above it as many lines as fit, from
    // the first line when the whole log fits.
    void logEndInView_data() {
        QTest::addColumn<int>("files");
        QTest::newRow("fits") << 5;
        QTest::newRow("a page and a line") << 6;
        QTest::newRow("long") << 20;
    }
    void logEndInView() {
        QFETCH(int, files);
        Harness h(Root());
        std::vector<std::u16string> queue;
        for (int i = 0; i < files; ++i)
            queue.push_back(WriteFile(h.root + QStringLiteral("/f%1.jww").arg(i), "broken").toStdU16String());
        h.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        h.form->HandOver(queue);
        QVERIFY(h.WaitForRun());
        auto* list = h.Find<QListWidget>("ListBox1");
        QCOMPARE(list->count(), 3 * files);
        const int height = list->viewport()->height();
        const QRect last = list->visualItemRect(list->item(list->count() - 1));
        QVERIFY(last.top() >= 0 && last.bottom() < height);
        const int top = list->indexAt(QPoint(1, 0)).row();
        QVERIFY(top >= 0);
        if (top == 0) {
            QCOMPARE(list->visualItemRect(list->item(0)).top(), 0);
        } else {
            // The line above the first one shown would not have fitted.
            QVERIFY2(height - 1 - last.bottom() < list->visualItemRect(list->item(top - 1)).height(),
                     qPrintable(QStringLiteral("first line shown %1, %2 pixels free below the last")
                                    .arg(top)
                                    .arg(height - 1 - last.bottom())));
        }
    }

    // "指定フォルダ" naming a missing folder: one message, and nothing else changes.
    void missingChosenFolder() {
        Harness h(Root());
        const QString drawing = WriteFile(h.root + "/a.jww", "whatever");
        h.form->show();
        h.Find<QRadioButton>("RadioButtonFl4")->click();
        h.Type("EditFl1", h.root + "/nowhere");
        h.form->LogAppend("earlier line", {});
        h.form->HandOver({drawing.toStdU16String()});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.shell->messages, QStringList{Q(u"指定したフォルダが見つかりません。\r\n") + h.root + "/nowhere/"});
        QCOMPARE(h.Log(), QStringList{"earlier line"});
        QCOMPARE(h.Page(), 0);
        QVERIFY(!QFile::exists(h.SettingsPath()));
    }

    // "毎回指定": the folder picked is shown beside the button and used.
    void folderAskedEachRun() {
        Harness h(Root());
        const QString drawing = WriteFile(h.root + "/a.jww", "whatever");
        h.form->show();
        h.Find<QRadioButton>("RadioButtonFl5")->click();
        h.form->HandOver({drawing.toStdU16String()});
        QVERIFY(h.WaitForRun());
        QVERIFY(h.Log().isEmpty());  // cancelled
        h.shell->folderAnswer = h.root + "/documents";
        h.form->HandOver({drawing.toStdU16String()});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Find<QLabel>("LabelPreFolder")->text(), h.root + "/documents/");
        QCOMPARE(h.Log().value(1), Q(u"→ ") + h.root + "/documents/a.jww");
    }

    void escapeStops() {
        Harness h(Root());
        QStringList drawings;
        for (QString name : {"a.jww", "b.jww", "c.jww"}) drawings << WriteFile(h.root + "/" + name, "broken");
        std::vector<std::u16string> queue;
        for (const QString& d : drawings) queue.push_back(d.toStdU16String());
        h.form->show();

        // Escape as the run starts: the test before the first file sees it.
        h.form->HandOver(queue);
        QCoreApplication::postEvent(h.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log(), QStringList{Q(u"[ESC]を押しましたので中断します。")});
        QCOMPARE(h.Page(), 1);

        // The stop button after the first file: that file is finished, no other is started.
        // A hand-over while the run is going is ignored.
        auto* list = h.Find<QListWidget>("ListBox1");
        auto* stop = h.Find<QPushButton>("ButtonStop");
        const auto connection = connect(list->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (list->count() != 3) return;
            h.form->HandOver({queue[2]});
            Drop(*h.form, {drawings[2]}, false);
            stop->click();
        });
        h.Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
        h.form->HandOver(queue);
        QVERIFY(h.WaitForRun());
        disconnect(connection);
        QTest::qWait(50);
        QCOMPARE(h.Log().size(), 4);
        QCOMPARE(h.Log().value(0), drawings[0]);
        QCOMPARE(h.Log().value(3), Q(u"[ESC]を押しましたので中断します。"));
        QCOMPARE(h.Page(), 1);

        // An Escape while idle does not stop the next run.
        QTest::keyClick(h.form.get(), Qt::Key_Escape);
        h.form->HandOver({queue[0]});
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().size(), 3);
    }

    // Close writes the settings with the final geometry; the next start
    // restores them, finding the theme whatever the letter case.
    void settingsSurviveARestart() {
        const QString root = Root();
        {
            Harness h(root);
            h.form->show();
            h.form->move(120, 90);
            h.form->resize(600, 540);
            h.Find<QRadioButton>("RadioButtonFl3")->click();
            h.Find<QCheckBox>("CB05")->click();
            h.Find<QCheckBox>("CB17")->click();
            h.Type("ED01", Q(u"上段メモ"));
            h.Type("ED11", "99");
            h.Type("EDR02", "12");
            h.Find<QComboBox>("CX01")->setCurrentIndex(5);
            auto* themes = h.Find<QComboBox>("ComboBoxSc1");
            const QColor window = QApplication::palette().color(QPalette::Window);
            emit themes->activated(themes->findText("Luna"));
            QCOMPARE(h.form->gstyle(), QStringLiteral("Luna"));
            QCOMPARE(QApplication::palette().color(QPalette::Window), window);  // applies at the next start
            const std::u16string temp = h.form->TempFolder();
            QVERIFY(QDir(QString::fromStdU16String(temp)).exists());
            h.form->close();
            QVERIFY(!QDir(QString::fromStdU16String(temp)).exists());
        }
        QStringList lines = ReadLines(root + "/morvane.dat");
        QCOMPARE(lines.size(), 113);
        QCOMPARE(lines.mid(0, 4), (QStringList{"120", "90", "600", "540"}));
        lines[111] = "lUNA";
        WriteLines(root + "/morvane.dat", lines);
        {
            Harness h(root);
            QCOMPARE(h.form->pos(), QPoint(120, 90));
            QCOMPARE(h.form->size(), QSize(600, 540));
            QVERIFY(h.Checked("RadioButtonFl3"));
            QVERIFY(h.Checked("CB05") && !h.Checked("CB04") && h.Checked("CB17"));
            QCOMPARE(h.Text("ED01"), Q(u"上段メモ"));
            QCOMPARE(h.Text("ED11"), QStringLiteral("99"));
            QCOMPARE(h.Find<QComboBox>("CX01")->currentIndex(), 5);
            // The swatches are refreshed from the file: colour 2 is incomplete.
            QCOMPARE(h.Find<QLabel>("La02")->text(), QStringLiteral(" ----"));
            QCOMPARE(h.Find<QComboBox>("ComboBoxSc1")->currentText(), QStringLiteral("Luna"));
            // The name found keeps the spelling it was read with.
            QCOMPARE(h.form->gstyle(), QStringLiteral("lUNA"));
            auto* themed = qobject_cast<QProxyStyle*>(QApplication::style());
            QVERIFY(themed);
            QCOMPARE(themed->baseStyle()->name().toLower(), QStringLiteral("fusion"));
            QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(0xec, 0xe9, 0xd8));
            h.form->close();
        }
        lines = ReadLines(root + "/morvane.dat");
        QCOMPARE(lines.value(111), QStringLiteral("lUNA"));
        lines[111] = "No Such Theme";
        WriteLines(root + "/morvane.dat", lines);
        {
            Harness h(root);
            QCOMPARE(h.Find<QComboBox>("ComboBoxSc1")->currentText(), QStringLiteral("Windows"));
            h.form->close();
        }
        QCOMPARE(ReadLines(root + "/morvane.dat").value(111), QStringLiteral("Windows"));
    }

    // A settings file that leaves no destination checked, and a window size and
    // place no screen can show.
    void oddSettingsFile() {
        const QString root = Root();
        QStringList lines(113, "0");
        lines[0] = "-5000";
        lines[1] = "-5000";
        lines[2] = "0";
        lines[3] = "0";
        WriteLines(root + "/morvane.dat", lines);
        Harness h(root);
        for (int i = 1; i <= 5; ++i) QVERIFY(!h.Checked(QStringLiteral("RadioButtonFl%1").arg(i)));
        QVERIFY(!h.Find<QWidget>("EditFl1")->isEnabled());
        QVERIFY(h.form->width() >= h.form->minimumWidth() && h.form->width() > 0);
        QCOMPARE(h.form->pos(), QPoint(50, 50));
    }

    // A size no screen can show is cut to the screen; a value longer than its
    // edit lets one type stands as it is, and is saved so.
    void oversizedSettings() {
        const QString root = Root();
        QStringList lines(113, "0");
        lines[2] = "100000";
        lines[3] = "100000";
        lines[34] = "500";  // ED21: two digits can be typed
        lines[35] = "501";
        WriteLines(root + "/morvane.dat", lines);
        Harness h(root);
        const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
        QVERIFY(h.form->width() <= std::max(screen.width(), h.form->minimumWidth()));
        QVERIFY(h.form->height() <= std::max(screen.height(), h.form->minimumHeight()));
        QCOMPARE(h.Find<QLineEdit>("ED21")->text(), QString("500"));
        QCOMPARE(h.Find<QLineEdit>("ED22")->text(), QString("501"));
        h.form->close();
        const QStringList saved = ReadLines(h.SettingsPath());
        QCOMPARE(saved.value(34), QString("500"));
        QCOMPARE(saved.value(35), QString("501"));

        // Once edited, the edit takes no more than its typing limit again.
        auto* ed22 = h.Find<QLineEdit>("ED22");
        ed22->selectAll();
        QTest::keyClick(ed22, Qt::Key_Backspace);
        QTest::keyClicks(ed22, "123456");
        QCOMPARE(ed22->text(), QString("12"));
    }

    // Closing during a run stops it before the next file and closes afterwards.
    void closeDuringRun() {
        Harness h(Root());
        const std::vector<std::u16string> queue = BrokenQueue(h.root, {"a.jww", "b.jww"});
        h.form->show();
        auto* list = h.Find<QListWidget>("ListBox1");
        connect(list->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (list->count() == 1) h.form->close();
        });
        h.form->HandOver(queue);
        QVERIFY(h.WaitForRun());
        QCOMPARE(h.Log().size(), 4);
        QVERIFY(!h.form->isVisible());
        QVERIFY(QFile::exists(h.SettingsPath()));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
