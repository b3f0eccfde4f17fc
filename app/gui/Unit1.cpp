#include "app/gui/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/OptionControls.h"
#include "app/SettingsFile.h"
#include "app/gui/Labels.h"
#include "app/gui/OptionPage.h"
#include "app/gui/Themes.h"
#include "app/gui/UiFont.h"
#include "support/Func_2.h"

namespace morvane {
namespace {

QString Q(const char16_t* s) { return QString::fromUtf16(s); }
QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }
std::u16string U(const QString& s) { return s.toStdU16String(); }

constexpr int kSettingsPage = 0;
constexpr int kLogPage = 1;
constexpr int kIntakeHint = 0;
constexpr int kIntakeProgress = 1;

// Local files among the URLs of a drop, in the order given. The path is
// taken from the URL's bytes: toLocalFile() would turn a name that is no
// UTF-8 (Shift_JIS from an archive made on Windows) into one that names no file.
std::vector<std::u16string> LocalFiles(const QMimeData* mime) {
    std::vector<std::u16string> paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
#ifndef _WIN32
        if (url.host().isEmpty()) {
            const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
            paths.push_back(NativeToStr(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
            continue;
        }
#endif
        paths.push_back(U(QDir::toNativeSeparators(url.toLocalFile())));
    }
    return paths;
}

}  // namespace

TForm1::TForm1(WindowSetup setup, QWidget* parent) : QMainWindow(parent), setup_(std::move(setup)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Q(kWindowCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(UiFont(13));
    shell_ = std::make_unique<QtShell>(*this);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(6, 4, 6, 2);
    column->setSpacing(4);
    column->addWidget(BuildDestination());
    column->addWidget(BuildIntake());
    column->addWidget(BuildPages(), 1);
    setCentralWidget(central);
    BuildStatusBar();
    setMinimumSize(420, 360);
    // Enter clicks the push button in focus, as Space does. There is no
    // default button: Enter in an edit clicks nothing.
    for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(true);

    options_->chooseColor = [this](int32_t& colour) { return shell_->ChooseColor(colour); };
    qApp->installEventFilter(this);
    FormCreate();
}

TForm1::~TForm1() {
    // A window destroyed without being closed still frees its drawing.
    if (JWW) JwwDataDestroy();
}

void TForm1::SetShell(std::unique_ptr<QtShell> shell) { shell_ = std::move(shell); }

std::u16string TForm1::TempFolder() const { return workingFolder_ ? workingFolder_->Path() : std::u16string(); }

std::u16string TForm1::FolderDialogStart(const std::u16string& start) const {
    return PathFolderExists(start) ? start : setup_.ProgramFolder;
}

// ---- Layout -----------------------------------------------------------------------

QWidget* TForm1::BuildDestination() {
    auto* group = new QGroupBox(Q(u"保存先(&F)"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    destination_ = group;
    destinationGroup_ = new QButtonGroup(this);
    const char16_t* captions[] = {nullptr, u"デスクトップ", u"マイドキュメント", u"元ファイルのフォルダ",
                                  u"指定フォルダ", u"毎回指定"};
    for (int i = 1; i <= 5; ++i) {
        radioFl_[i] = new QRadioButton(Q(captions[i]), group);
        radioFl_[i]->setObjectName(QStringLiteral("RadioButtonFl%1").arg(i));
        destinationGroup_->addButton(radioFl_[i], i);
        connect(radioFl_[i], &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) RadioButtonFl1Click();
        });
    }
    radioFl_[1]->setChecked(true);
    editFl1_ = new QLineEdit(group);
    editFl1_->setObjectName(QStringLiteral("EditFl1"));
    buttonFl1_ = new QPushButton(Q(u"参照"), group);
    buttonFl1_->setObjectName(QStringLiteral("ButtonFl1"));
    connect(buttonFl1_, &QPushButton::clicked, this, &TForm1::ButtonFl1Click);
    labelPreFolder_ = new PathLabel(group);
    labelPreFolder_->setObjectName(QStringLiteral("LabelPreFolder"));
    label1_ = new QLabel(group);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->hide();

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    grid->addWidget(radioFl_[1], 0, 0);
    grid->addWidget(radioFl_[2], 0, 1);
    grid->addWidget(radioFl_[3], 0, 2, 1, 2);
    grid->addWidget(radioFl_[4], 1, 0);
    grid->addWidget(editFl1_, 1, 1, 1, 2);
    grid->addWidget(buttonFl1_, 1, 3);
    grid->addWidget(radioFl_[5], 2, 0);
    grid->addWidget(labelPreFolder_, 2, 1, 1, 3);
    grid->setColumnStretch(2, 1);
    RadioButtonFl1Click();
    return group;
}

QWidget* TForm1::BuildIntake() {
    intake_ = new QStackedWidget(this);
    intake_->setObjectName(QStringLiteral("Panel1"));

    auto* hint = new QWidget(intake_);
    auto* hintColumn = new QVBoxLayout(hint);
    hintColumn->setContentsMargins(0, 0, 0, 0);
    hintColumn->setSpacing(2);
    auto* label2 = new QLabel(Q(u"エクスプローラ等からドラッグ＆ドロップするか、または、"), hint);
    label2->setObjectName(QStringLiteral("Label2"));
    auto* label3 = new ClickLabel(Q(u"ここをクリックして変換するファイルを選択して下さい。"), hint);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->setAlignment(Qt::AlignCenter);
    label3->setForegroundRole(QPalette::Link);
    QFont underlined = label3->font();
    underlined.setUnderline(true);
    label3->setFont(underlined);
    label3->setCursor(Qt::PointingHandCursor);
    label3->setFocusPolicy(Qt::StrongFocus);  // the only way to the open dialog without a mouse
    connect(label3, &ClickLabel::clicked, this, &TForm1::Label3Click);
    hintColumn->addWidget(label2);
    hintColumn->addWidget(label3);

    auto* running = new QWidget(intake_);
    auto* row = new QHBoxLayout(running);
    row->setContentsMargins(0, 0, 0, 0);
    progress_ = new QProgressBar(running);
    progress_->setObjectName(QStringLiteral("ProgressBar1"));
    progress_->setTextVisible(true);
    progress_->setAlignment(Qt::AlignCenter);
    auto* stop = new QPushButton(Q(u"中止"), running);
    stop->setObjectName(QStringLiteral("ButtonStop"));
    stop->setToolTip(Q(u"[ESC] 次のファイルの前で中断します"));
    connect(stop, &QPushButton::clicked, this, &TForm1::RequestStop);
    row->addWidget(progress_, 1);
    row->addWidget(stop);

    intake_->addWidget(hint);
    intake_->addWidget(running);
    intake_->setCurrentIndex(kIntakeHint);
    intake_->setFixedHeight(hint->sizeHint().height());
    return intake_;
}

QWidget* TForm1::BuildPages() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("PageControl1"));
    pages_->setTabPosition(QTabWidget::South);

    auto* settingsTab = new QWidget(pages_);
    settingsTab->setObjectName(QStringLiteral("TabSheet1"));
    auto* settingsColumn = new QVBoxLayout(settingsTab);
    settingsColumn->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(settingsTab);
    scroll->setObjectName(QStringLiteral("ScrollBox1"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(false);
    options_ = new OptionPage;
    scroll->setWidget(options_);
    scroll->verticalScrollBar()->setSingleStep(20);
    settingsColumn->addWidget(scroll);
    connect(options_->ThemeList(), &QComboBox::activated, this, &TForm1::ComboBoxSc1Select);

    auto* logTab = new QWidget(pages_);
    logTab->setObjectName(QStringLiteral("TabSheet2"));
    auto* logColumn = new QVBoxLayout(logTab);
    logColumn->setContentsMargins(0, 0, 0, 0);
    log_ = new QListWidget(logTab);
    log_->setObjectName(QStringLiteral("ListBox1"));
    log_->setFont(UiFont(12));
    log_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The mark of a failure no taller than a line.
    log_->setIconSize(QSize(log_->fontMetrics().ascent(), log_->fontMetrics().ascent()));
    // The lines can be copied (Ctrl+C or the context menu), say to pass on the
    // names of the files that failed.
    auto* copy = new QAction(Q(u"コピー(&C)"), log_);
    copy->setObjectName(QStringLiteral("LogCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    copy->setEnabled(false);
    connect(copy, &QAction::triggered, this, &TForm1::CopyLogSelection);
    connect(log_, &QListWidget::itemSelectionChanged, copy,
            [this, copy] { copy->setEnabled(log_->selectionModel()->hasSelection()); });
    auto* all = new QAction(Q(u"すべて選択(&A)"), log_);
    all->setObjectName(QStringLiteral("LogSelectAll"));
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetShortcut);
    connect(all, &QAction::triggered, log_, &QListWidget::selectAll);
    // A failed file's reason is its outcome line's tooltip; the keyboard
    // reaches no tooltip, so the line in hand shows it under the log.
    connect(log_, &QListWidget::currentItemChanged, this, &TForm1::ShowLogLineStatus);
    log_->addActions({copy, all});
    log_->setContextMenuPolicy(Qt::ActionsContextMenu);
    logColumn->addWidget(log_);
    // One line under the log (the status bar keeps its fixed text).
    logStatus_ = new PathLabel(logTab);
    logStatus_->setObjectName(QStringLiteral("LogStatus"));
    logStatus_->setContentsMargins(4, 0, 4, 0);
    logColumn->addWidget(logStatus_);

    pages_->addTab(settingsTab, Q(u"設定(&S)"));
    pages_->addTab(logTab, Q(u"ログ(&L)"));
    pages_->setCurrentIndex(kSettingsPage);
    return pages_;
}

void TForm1::BuildStatusBar() {
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    auto* text = new QLabel(Q(kStatusText), statusBar());
    text->setObjectName(QStringLiteral("StatusText"));
    statusBar()->addWidget(text, 1);
}

// ---- Lifecycle ----------------------------------------------------------------------

void TForm1::FormCreate() {
    if (std::optional<WorkingFolder> folder = WorkingFolder::Create(setup_.ProgramFolder))
        workingFolder_.emplace(std::move(*folder));
    AppSettings a;
    const bool read = OpenDatFile(setup_.SettingsFilePath, setup_.ProgramFolder, a);
    browseFolder1Start_ = FolderDialogStart(a.EditFl1);

    QComboBox* themes = options_->ThemeList();
    themes->addItems(ThemeNames());
    // A theme of the list is found whatever the letter case, and the name
    // keeps the spelling the settings file gave it.
    gstyle_ = Q(a.gstyle);
    if (FindThemeName(gstyle_).isEmpty() || !ApplyTheme(*qApp, gstyle_)) {
        gstyle_ = Q(kSystemThemeName);
        ApplyTheme(*qApp, gstyle_);
    }
    themes->setCurrentIndex(themes->findText(gstyle_, Qt::MatchFixedString));

    ShowSettings(a);
    // Without a settings file the swatches keep their design look.
    if (read) options_->RefreshAllSwatches();
    // The theme's metrics decide how wide the captions are; the window never
    // gets narrower than they need. The main window's own minimum leaves the
    // status bar's text out.
    setMinimumSize(minimumSize().expandedTo(minimumSizeHint()).expandedTo(
        {statusBar()->minimumSizeHint().width(), 0}));
    PlaceWindow(a);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm1::FormShow() {
    JwwDataCreate();
    // Files dropped anywhere on the window are handed over, also over an edit
    // (which would otherwise take the file's name as text).
    setAcceptDrops(true);
    for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->setAcceptDrops(false);
    queue_.Clear();
    for (const std::u16string& arg : setup_.Arguments) queue_.PickupFile(arg);
    if (queue_.FListN() > 0) StartRunLater();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The file in work is finished first; the window closes after the run.
        closeAfterRun_ = true;
        RequestStop();
        event->ignore();
        return;
    }
    runPending_ = false;
    FormClose();
    event->accept();
}

void TForm1::FormClose() {
    if (JWW) JwwDataDestroy();
    workingFolder_.reset();  // removes the folder when it is empty
    queue_.Clear();
    SaveSettings(CollectSettings());
}

void TForm1::JwwDataCreate() {
    ResetWriterDefaults();
    JWW = std::make_unique<TJwwData>();
    JWW->BindImageExp = true;
    JWW->BindImageExr = true;
    // Without a working folder the document has none: its images get no
    // files, and a drawing whose texts show one fails instead of being saved
    // without it (or with a file of that name from the current folder).
    if (workingFolder_) JWW->BindImageFolder = workingFolder_->Path();
}

void TForm1::JwwDataDestroy() {
    SubstitutionTable().clear();
    JwwDataFree(*JWW);
    JWW.reset();
}

// ---- Settings -------------------------------------------------------------------------

AppSettings TForm1::CollectSettings() const {
    AppSettings a;
    a.Fm1x = x();
    a.Fm1y = y();
    a.Fm1w = width();
    a.Fm1h = height();
    a.RadioButtonFl1 = radioFl_[1]->isChecked();
    a.RadioButtonFl2 = radioFl_[2]->isChecked();
    a.RadioButtonFl3 = radioFl_[3]->isChecked();
    a.RadioButtonFl4 = radioFl_[4]->isChecked();
    a.RadioButtonFl5 = radioFl_[5]->isChecked();
    a.EditFl1 = U(editFl1_->text());
    a.Label1 = U(label1_->text());
    a.Fidx = Fidx;
    a.LabelPreFolder = U(labelPreFolder_->text());
    a.gstyle = U(gstyle_);
    a.batch = options_->Collect();
    return a;
}

void TForm1::ShowSettings(const AppSettings& a) {
    // A settings file may leave every destination unchecked.
    destinationGroup_->setExclusive(false);
    const bool checked[] = {false, a.RadioButtonFl1, a.RadioButtonFl2, a.RadioButtonFl3, a.RadioButtonFl4,
                            a.RadioButtonFl5};
    for (int i = 1; i <= 5; ++i) radioFl_[i]->setChecked(checked[i]);
    destinationGroup_->setExclusive(true);
    editFl1_->setText(Q(a.EditFl1));
    label1_->setText(Q(a.Label1));
    Fidx = a.Fidx;
    labelPreFolder_->setText(Q(a.LabelPreFolder));
    labelPreFolder_->setToolTip(Q(a.LabelPreFolder));
    options_->Show(a.batch);
    RadioButtonFl1Click();
}

// Keeps the window reachable: a size below the minimum grows to it, and a place
// that no screen shows falls back to the default corner.
void TForm1::PlaceWindow(const AppSettings& a) {
    // No larger than the screen: a damaged settings file may ask for 100000
    // pixels a side, which no window system can back.
    QSize most(a.Fm1w, a.Fm1h);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) most = screen->availableGeometry().size();
    resize(std::max(std::min(a.Fm1w, most.width()), minimumWidth()),
           std::max(std::min(a.Fm1h, most.height()), minimumHeight()));
    QPoint place(a.Fm1x, a.Fm1y);
    const QRect wanted(place, size());
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(wanted);
        visible |= shown.width() >= 100 && shown.height() >= 50;
    }
    if (!visible) place = QPoint(AppSettings{}.Fm1x, AppSettings{}.Fm1y);
    move(place);
}

void TForm1::SaveSettings(const AppSettings& a) const {
    CreateSettingsFolder(setup_.SettingsFilePath);
    SaveDatFile(setup_.SettingsFilePath, a);
}

// ---- Controls -------------------------------------------------------------------------

void TForm1::RadioButtonFl1Click() {
    AppSettings a;
    a.RadioButtonFl4 = radioFl_[4] && radioFl_[4]->isChecked();
    const bool enabled = FolderEditEnabled(a);
    if (editFl1_) editFl1_->setEnabled(enabled);
    if (buttonFl1_) buttonFl1_->setEnabled(enabled);
}

void TForm1::ButtonFl1Click() {
    std::u16string chosen;
    if (!shell_->BrowseForFolder(browseFolder1Start_, chosen)) return;
    browseFolder1Start_ = chosen;
    editFl1_->setText(Q(AddTrailingSeparator(chosen)));
}

void TForm1::ComboBoxSc1Select(int index) {
    if (index >= 0) gstyle_ = options_->ThemeList()->itemText(index);
}

// ---- Intake and run ---------------------------------------------------------------------

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const std::vector<std::u16string> paths = LocalFiles(event->mimeData());
    if (running_ || paths.empty()) return;
    event->acceptProposedAction();
    HandOver(paths);
}

void TForm1::HandOver(const std::vector<std::u16string>& paths) {
    if (running_) return;
    queue_.Clear();
    for (const std::u16string& p : paths) queue_.PickupFile(p);
    if (queue_.FListN() > 0) StartRunLater();
}

void TForm1::Label3Click() {
    if (running_) return;
    std::vector<std::u16string> chosen;
    int32_t filterIndex = Fidx;
    if (!shell_->OpenFiles(U(label1_->text()), filterIndex, chosen) || chosen.empty()) return;
    label1_->setText(Q(AddTrailingSeparator(U(QFileInfo(Q(chosen.front())).absolutePath()))));
    Fidx = filterIndex;
    queue_.Clear();
    for (const std::u16string& p : chosen) queue_.PickupFile(p);
    if (queue_.FListN() > 0) RunProc();
}

// The drag source (a file manager) waits until the drop event returns, so the
// run starts from the event loop instead.
void TForm1::StartRunLater() {
    if (runPending_) return;
    runPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!runPending_) return;
            runPending_ = false;
            RunProc();
        },
        Qt::QueuedConnection);
}

void TForm1::RunProc() {
    if (running_ || !JWW || queue_.FListN() == 0) return;
    running_ = true;
    stopRequested_ = false;
    // Disabling the controls takes the focus away; it comes back afterwards.
    // The window's own focus widget, not the application's: a dialog that has
    // just closed (the open dialog) leaves the application none until the
    // window is active again.
    const QPointer<QWidget> focused = focusWidget();
    SetBusy(true);
    AppSettings a = CollectSettings();
    const RunSummary summary =
        morvane::RunProc(queue_, a, *JWW, *shell_, [this](const AppSettings& s) { SaveSettings(s); });
    // In a long log the outcomes are counted for the user.
    if (summary.converted + summary.failed > 0) {
        runSummary_ = Q(kOutcomeOk) + QStringLiteral("：%1件　").arg(summary.converted) + Q(kOutcomeFailed) +
                      QStringLiteral("：%1件").arg(summary.failed);
        ShowLogLineStatus(log_->currentItem());
    }
    // The folder picked for "毎回指定" and the boxes the applier cleared.
    ShowSettings(a);
    SetBusy(false);
    running_ = false;
    RestoreFocus(focused);
    if (closeAfterRun_) close();
}

void TForm1::SetBusy(bool busy) {
    destination_->setEnabled(!busy);
    options_->setEnabled(!busy);
    // An open context menu runs an event loop of its own, which would hold
    // the run until the menu closed; the log stays usable otherwise.
    log_->setContextMenuPolicy(busy ? Qt::PreventContextMenu : Qt::ActionsContextMenu);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QString());
    intake_->setCurrentIndex(busy ? kIntakeProgress : kIntakeHint);
}

// Back to the control that had the focus before the run, or to the log when
// the run put the log page over it.
void TForm1::RestoreFocus(QWidget* focused) {
    if (focused && focused->isVisible() && focused->isEnabled())
        focused->setFocus(Qt::OtherFocusReason);
    else if (pages_->currentIndex() == kLogPage)
        log_->setFocus(Qt::OtherFocusReason);
}

bool TForm1::StopRequested() {
    QCoreApplication::processEvents();
    return stopRequested_;
}

void TForm1::RequestStop() {
    if (running_ || runPending_) stopRequested_ = true;
}

// Escape anywhere in the window asks a running batch to stop before its next file.
bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (running_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            RequestStop();
            return true;
        }
    }
    // Ctrl+C in the log copies the selected lines (the copy action); with none
    // selected it copies nothing, where the list would copy its current line.
    if (watched == log_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// ---- Log and progress -------------------------------------------------------------------

void TForm1::LogClear() {
    runSummary_.clear();  // a new log: the counts of the run before no longer stand
    log_->clear();
    ShowLogLineStatus(nullptr);
}

void TForm1::LogAppend(const QString& line, const QString& reason) {
    auto* item = new QListWidgetItem(line, log_);
    // Only a failure has a reason: it stands out from the "変換ＯＫ" lines of a long log.
    if (!reason.isEmpty()) {
        item->setToolTip(reason);
        item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    }
    // The end of the log stays in view, but only a log in front is scrolled:
    // behind the settings page it keeps the size it had when last shown (a
    // hundred pixels by thirty before the first time), and once shown it was
    // left a line too far down, the first line hidden under a needless scroll
    // bar although the whole log fitted.
    if (log_->isVisible()) log_->scrollToItem(item);
}

// The line under the log: the reason of the failed file whose line is the
// current one, else the counts of the last run.
void TForm1::ShowLogLineStatus(QListWidgetItem* current) {
    const QString text = current && !current->toolTip().isEmpty() ? current->toolTip() : runSummary_;
    logStatus_->setText(text);
    logStatus_->setToolTip(text);  // whole, when the line is too narrow for it
}

// The selected lines in the order of the log, one line each.
void TForm1::CopyLogSelection() {
    QStringList lines;
    for (int i = 0; i < log_->count(); ++i)
        if (log_->item(i)->isSelected()) lines << log_->item(i)->text();
    if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

void TForm1::ShowLogPage() {
    pages_->setCurrentIndex(kLogPage);
    log_->scrollToBottom();
}

void TForm1::ShowProgress(int done, int total, const QString& current) {
    progress_->setRange(0, std::max(total, 1));
    progress_->setValue(std::clamp(done, 0, std::max(total, 1)));
    const QString name = QFileInfo(current).fileName();
    progress_->setFormat(name.isEmpty() ? QStringLiteral("%1 / %2").arg(done).arg(total)
                                        : QStringLiteral("%1 / %2  %3").arg(std::min(done + 1, total)).arg(total).arg(name));
    QCoreApplication::processEvents();
}

}  // namespace morvane
