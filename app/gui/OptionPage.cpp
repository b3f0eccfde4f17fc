#include "app/gui/OptionPage.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/SettingsApplier.h"
#include "app/gui/Labels.h"
#include "app/gui/UiFont.h"
#include "support/Func_2.h"

namespace morvane {
namespace {

QString Q(const char16_t* s) { return QString::fromUtf16(s); }
QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

// Colour number n as the two digits of the control names ("EDR01", "La10").
QString Two(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

// The boxes that exclude each other, by control name.
struct NamedFlag {
    const char* name;
    BatchFlag flag;
};
// Property of every edit: the most characters that can be typed into it.
constexpr const char* kTypingLimit = "typingLimit";

constexpr NamedFlag kExclusiveBoxes[] = {
    {"CB04", &BatchSettings::CB04}, {"CB05", &BatchSettings::CB05}, {"CB06", &BatchSettings::CB06},
    {"CB07", &BatchSettings::CB07}, {"CB08", &BatchSettings::CB08}, {"CB09", &BatchSettings::CB09},
    {"CB12", &BatchSettings::CB12}, {"CB13", &BatchSettings::CB13}, {"CB14", &BatchSettings::CB14},
    {"CB15", &BatchSettings::CB15}, {"CB16", &BatchSettings::CB16}, {"CB17", &BatchSettings::CB17},
    {"CB18", &BatchSettings::CB18},
};

constexpr const char16_t* kPenHeads = u"線色１ 線色２ 線色３ 線色４ 線色５ 線色６ 線色７ 線色８";
constexpr const char16_t* kScreenColourHeads =
    u"線色１ 線色２ 線色３ 線色４ 線色５ 線色６ 線色７ 線色８ グレー 背景色";
constexpr const char16_t* kPrinterColourHeads =
    u"線色１ 線色２ 線色３ 線色４ 線色５ 線色６ 線色７ 線色８ グレー";
constexpr const char16_t* kSwatchDesignCaption = u"      ";  // six spaces
constexpr const char16_t* kSwatchInvalidCaption = u" ----";

QHBoxLayout* Row(int indent = 0) {
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    if (indent) row->addSpacing(indent);
    return row;
}

}  // namespace

OptionPage::OptionPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("OptionPage"));
    setFont(UiFont(13));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 4, 8, 4);
    page->setSpacing(1);
    BuildTheme(page);
    page->addWidget(Separator());
    BuildMemoAndPaper(page);
    page->addWidget(Separator());
    BuildFlags(page);
    page->addWidget(Separator());
    BuildScreenColours(page);
    page->addWidget(Separator());
    BuildPrinterColours(page);
    page->addWidget(Separator());
    BuildDrawOrder(page);
    page->addWidget(Separator());
    BuildTextBackground(page);
    page->addStretch(1);
    // The page keeps its design width; it grows taller only if a font needs it.
    setFixedSize(kWidth, std::max(kHeight, page->sizeHint().height()));
}

// ---- Building -------------------------------------------------------------------

QCheckBox* OptionPage::AddCheck(const QString& name, const QString& caption) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setFixedHeight(RowHeight() - 1);
    checks_.insert(name, box);
    for (const NamedFlag& f : kExclusiveBoxes)
        if (name == QLatin1String(f.name))
            connect(box, &QCheckBox::toggled, this, [this, flag = f.flag] { OptionBoxClicked(flag); });
    return box;
}

// `direct`: numbers typed half-width, without the input method.
QLineEdit* OptionPage::AddEdit(const QString& name, int maxLength, bool direct) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    edit->setProperty(kTypingLimit, maxLength);
    // A longer value from the settings file widens the edit to show it; once
    // the user edits, the typing limit comes back as the text shrinks.
    connect(edit, &QLineEdit::textEdited, edit, [edit, maxLength](const QString& text) {
        edit->setMaxLength(std::max(maxLength, static_cast<int>(text.size())));
    });
    edit->setFixedHeight(RowHeight());
    if (direct) {
        edit->setAttribute(Qt::WA_InputMethodEnabled, false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setFixedWidth(CellWidth());
    }
    edits_.insert(name, edit);
    return edit;
}

QWidget* OptionPage::Separator() {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// One column of the colour and width grids: wide enough for its head "線色１".
int OptionPage::CellWidth() const { return fontMetrics().horizontalAdvance(Q(u"線色１")) + 4; }

// The column of the row heads "赤", "緑", "青", kept in the width rows too so
// that all grids line up.
int OptionPage::RowHeadWidth() const { return fontMetrics().horizontalAdvance(Q(u"赤")) + 4; }

// Rows are as tall as a line of the font and no taller: the page holds 30 of them.
int OptionPage::RowHeight() const { return fontMetrics().height() + 3; }

void OptionPage::BuildTheme(QVBoxLayout* page) {
    auto* row = Row();
    auto* caption = new QLabel(Q(u"画面スタイル："), this);
    caption->setObjectName(QStringLiteral("Label7"));
    themeList_ = new QComboBox(this);
    themeList_->setObjectName(QStringLiteral("ComboBoxSc1"));
    themeList_->setMinimumWidth(200);
    auto* note = new QLabel(Q(u"※次回起動時に有効"), this);
    note->setObjectName(QStringLiteral("Label8"));
    row->addWidget(caption);
    row->addWidget(themeList_);
    row->addWidget(note);
    row->addStretch(1);
    page->addLayout(row);
}

void OptionPage::BuildMemoAndPaper(QVBoxLayout* page) {
    struct MemoRow {
        const char* box;
        const char* edit;
        const char16_t* caption;
    };
    for (const MemoRow& m : {MemoRow{"CB01", "ED01", u"メモ上段文字を変更する："},
                             MemoRow{"CB02", "ED02", u"メモ下段文字を変更する："}}) {
        auto* row = Row();
        row->addWidget(AddCheck(QLatin1String(m.box), Q(m.caption)));
        row->addWidget(AddEdit(QLatin1String(m.edit), 32, false), 1);
        page->addLayout(row);
    }
    auto* row = Row();
    row->addWidget(AddCheck(QStringLiteral("CB03"), Q(u"用紙サイズを変更する：")));
    cx01_ = new QComboBox(this);
    cx01_->setObjectName(QStringLiteral("CX01"));
    for (const char16_t* item : kPaperSizeItems) cx01_->addItem(Q(item));
    row->addWidget(cx01_);
    row->addStretch(1);
    row->addWidget(AddCheck(QStringLiteral("CB21"), Q(u"Unicode文字使用")));
    page->addLayout(row);
}

void OptionPage::BuildFlags(QVBoxLayout* page) {
    const std::pair<const char*, const char16_t*> flags[] = {
        {"CB04", u"「線幅を1/100mm単位とする」チェックをオフにする"},
        {"CB05", u"「線幅を1/100mm単位とする」チェックをオンにする"},
        {"CB06", u"「実点を画面描画時の指定半径で描画」のチェックをオフにする"},
        {"CB07", u"「実点を画面描画時の指定半径で描画」のチェックをオンにする"},
        {"CB08", u"「実点を指定半径(mm)でプリンタ出力」のチェックをオフにする"},
        {"CB09", u"「実点を指定半径(mm)でプリンタ出力」のチェックをオンにする"},
    };
    for (const auto& [name, caption] : flags) page->addWidget(AddCheck(QLatin1String(name), Q(caption)));
}

QLayout* OptionPage::BuildColourGrid(int first, int count, const QString& headName, const QString& heads) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(1);
    auto* head = new ColumnHeadLabel(heads, this);
    head->setObjectName(headName);
    grid->addWidget(head, 0, 1, 1, count);
    const std::pair<char, const char16_t*> rows[] = {{'R', u"赤"}, {'G', u"緑"}, {'B', u"青"}};
    QList<QWidget*> columns;
    for (int row = 0; row < 3; ++row) {
        auto* rowHead = new QLabel(Q(rows[row].second), this);
        rowHead->setFixedWidth(RowHeadWidth());
        grid->addWidget(rowHead, row + 1, 0);
        for (int i = 0; i < count; ++i) {
            const int n = first + i;
            QLineEdit* edit = AddEdit(QStringLiteral("ED") + QLatin1Char(rows[row].first) + Two(n), 4, true);
            edit->setProperty("tag", n);
            edit->installEventFilter(this);  // the swatch follows when the edit loses the focus
            grid->addWidget(edit, row + 1, i + 1);
            if (row == 0) columns << edit;
        }
    }
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        auto* swatch = new ClickLabel(Q(kSwatchDesignCaption), this);
        swatch->setObjectName(QStringLiteral("La") + Two(n));
        swatch->setProperty("tag", n);
        swatch->setFixedSize(CellWidth(), 16);
        swatch->setAlignment(Qt::AlignCenter);
        swatch->setAutoFillBackground(true);
        swatch->setFrameShape(QFrame::Box);
        swatch->setCursor(Qt::PointingHandCursor);
        // Tab reaches the swatches after the blue row, Enter or Space opens the
        // colour dialog.
        swatch->setFocusPolicy(Qt::StrongFocus);
        swatches_[n] = swatch;
        FillSwatch(n, Qt::black);
        swatch->setText(Q(kSwatchDesignCaption));
        connect(swatch, &ClickLabel::clicked, this, [this, n] { La01Click(n); });
        grid->addWidget(swatch, 4, i + 1);
    }
    head->setColumns(columns);
    grid->setColumnStretch(count + 1, 1);
    return grid;
}

QLayout* OptionPage::BuildWidthRow(int first, const QString& headName) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(1);
    auto* head = new ColumnHeadLabel(Q(kPenHeads), this);
    head->setObjectName(headName);
    grid->addWidget(head, 0, 1, 1, 8);
    auto* rowHead = new QLabel(this);  // empty, keeps the columns under those of the colours
    rowHead->setFixedWidth(RowHeadWidth());
    grid->addWidget(rowHead, 1, 0);
    QList<QWidget*> columns;
    for (int pen = 1; pen <= 8; ++pen) {
        QLineEdit* edit = AddEdit(QStringLiteral("ED%1").arg(first + pen - 1), 2, true);
        grid->addWidget(edit, 1, pen);
        columns << edit;
    }
    head->setColumns(columns);
    grid->setColumnStretch(9, 1);
    return grid;
}

void OptionPage::BuildScreenColours(QVBoxLayout* page) {
    auto* row = Row();
    row->addWidget(AddCheck(QStringLiteral("CB19"), Q(u"［画面要素］の線色を変更する")));
    row->addStretch(1);
    const std::tuple<const char*, const char16_t*, ColourPreset> presets[] = {
        {"Button1", u"背景白", ColourPreset::ScreenWhite},
        {"Button2", u"背景黒", ColourPreset::ScreenBlack},
        {"Button3", u"背景緑", ColourPreset::ScreenGreen},
    };
    for (const auto& [name, caption, preset] : presets) {
        auto* button = new QPushButton(Q(caption), this);
        button->setObjectName(QLatin1String(name));
        button->setFixedHeight(RowHeight());
        connect(button, &QPushButton::clicked, this, [this, p = preset] { FillPreset(p, 1, 10); });
        row->addWidget(button);
    }
    page->addLayout(row);
    page->addLayout(BuildColourGrid(1, 10, QStringLiteral("Label9"), Q(kScreenColourHeads)));
    page->addSpacing(4);
    page->addWidget(AddCheck(QStringLiteral("CB10"), Q(u"［画面要素］の線幅値を変更する")));
    page->addLayout(BuildWidthRow(11, QStringLiteral("Label10")));
}

void OptionPage::BuildPrinterColours(QVBoxLayout* page) {
    auto* row = Row();
    row->addWidget(AddCheck(QStringLiteral("CB20"), Q(u"［プリンタ出力要素］の線色を変更する")));
    row->addStretch(1);
    auto* button = new QPushButton(Q(u"背景白"), this);
    button->setObjectName(QStringLiteral("Button4"));
    button->setFixedHeight(RowHeight());
    connect(button, &QPushButton::clicked, this, [this] { FillPreset(ColourPreset::PrinterWhite, 11, 19); });
    row->addWidget(button);
    page->addLayout(row);
    page->addLayout(BuildColourGrid(11, 9, QStringLiteral("Label20"), Q(kPrinterColourHeads)));
    page->addSpacing(4);
    page->addWidget(AddCheck(QStringLiteral("CB11"), Q(u"［プリンタ出力要素］の線幅値を変更する")));
    page->addLayout(BuildWidthRow(21, QStringLiteral("Label21")));
}

void OptionPage::BuildDrawOrder(QVBoxLayout* page) {
    page->addWidget(AddCheck(QStringLiteral("CB12"), Q(u"「画像・ソリッドを最初に描画」のチェックをオフにする")));
    page->addWidget(AddCheck(QStringLiteral("CB13"), Q(u"「画像・ソリッドを最初に描画」のチェックをオンにする")));
    auto* row = Row(22);
    cx02_ = new QComboBox(this);
    cx02_->setObjectName(QStringLiteral("CX02"));
    cx02_->addItems({Q(u"「ソリッドを先に描画」オフ"), Q(u"「ソリッドを先に描画」オン")});
    row->addWidget(cx02_);
    row->addStretch(1);
    page->addLayout(row);
    page->addWidget(AddCheck(QStringLiteral("CB14"), Q(u"「文字(寸法・ブロック)を最後に描画」のチェックをオフにする")));
    page->addWidget(AddCheck(QStringLiteral("CB15"), Q(u"「文字(寸法・ブロック)を最後に描画」のチェックをオンにする")));
}

void OptionPage::BuildTextBackground(QVBoxLayout* page) {
    page->addWidget(AddCheck(QStringLiteral("CB16"), Q(u"「文字の輪郭/文字列範囲を背景色で描画」チェックをオフにする")));
    page->addWidget(AddCheck(QStringLiteral("CB17"), Q(u"「文字の輪郭を背景色で描画」のチェックをオンにする")));
    page->addWidget(AddCheck(QStringLiteral("CB18"), Q(u"「文字列範囲を背景色で描画」のチェックをオンにする")));
    auto* row = Row(22);
    auto* caption = new QLabel(Q(u"範囲増寸法(-1～10mm)："), this);
    caption->setObjectName(QStringLiteral("Label6"));
    QLineEdit* margin = AddEdit(QStringLiteral("ED30"), 6, true);
    margin->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("-0.000")) + 16);
    row->addWidget(caption);
    row->addWidget(margin);
    row->addStretch(1);
    page->addLayout(row);
}

// ---- Values -----------------------------------------------------------------------

BatchSettings OptionPage::Collect() const {
    BatchSettings s;
    auto text = [this](const char* name) { return edits_.value(QLatin1String(name))->text().toStdU16String(); };
#define MORVANE_COLLECT_FLAG(name) s.name = checks_.value(QStringLiteral(#name))->isChecked();
#define MORVANE_COLLECT_TEXT(name) s.name = text(#name);
#define MORVANE_COLLECT_COLOUR(nn) \
    s.EDR##nn = text("EDR" #nn), s.EDG##nn = text("EDG" #nn), s.EDB##nn = text("EDB" #nn);
    MORVANE_BATCH_FLAGS(MORVANE_COLLECT_FLAG)
    MORVANE_BATCH_TEXTS(MORVANE_COLLECT_TEXT)
    MORVANE_BATCH_COLOURS(MORVANE_COLLECT_COLOUR)
#undef MORVANE_COLLECT_FLAG
#undef MORVANE_COLLECT_TEXT
#undef MORVANE_COLLECT_COLOUR
    s.CX01 = cx01_->currentIndex();
    s.CX02 = cx02_->currentIndex();
    return s;
}

void OptionPage::Show(const BatchSettings& s) {
    showing_ = true;
    // The length limit is for typing: a longer value from the settings file
    // ("500" where two digits can be typed) stands as it is. setText would cut
    // it, and the cut value would be applied and saved.
    auto setText = [this](const char* name, const std::u16string& v) {
        QLineEdit* edit = edits_.value(QLatin1String(name));
        const QString text = Q(v);
        edit->setMaxLength(std::max(edit->property(kTypingLimit).toInt(), static_cast<int>(text.size())));
        edit->setText(text);
    };
#define MORVANE_SHOW_FLAG(name) checks_.value(QStringLiteral(#name))->setChecked(s.name);
#define MORVANE_SHOW_TEXT(name) setText(#name, s.name);
#define MORVANE_SHOW_COLOUR(nn) \
    setText("EDR" #nn, s.EDR##nn), setText("EDG" #nn, s.EDG##nn), setText("EDB" #nn, s.EDB##nn);
    MORVANE_BATCH_FLAGS(MORVANE_SHOW_FLAG)
    MORVANE_BATCH_TEXTS(MORVANE_SHOW_TEXT)
    MORVANE_BATCH_COLOURS(MORVANE_SHOW_COLOUR)
#undef MORVANE_SHOW_FLAG
#undef MORVANE_SHOW_TEXT
#undef MORVANE_SHOW_COLOUR
    cx01_->setCurrentIndex(s.CX01 >= 0 && s.CX01 < cx01_->count() ? s.CX01 : -1);
    cx02_->setCurrentIndex(s.CX02 >= 0 && s.CX02 < cx02_->count() ? s.CX02 : -1);
    showing_ = false;
}

// ---- Reactions ----------------------------------------------------------------------

void OptionPage::OptionBoxClicked(BatchFlag box) {
    if (showing_) return;
    BatchSettings s = Collect();
    morvane::OptionBoxClicked(s, box);
    showing_ = true;  // unchecking the partner needs no rule of its own
    for (const NamedFlag& f : kExclusiveBoxes) checks_.value(QLatin1String(f.name))->setChecked(s.*f.flag);
    showing_ = false;
}

bool OptionPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const int n = watched->property("tag").toInt();
        if (n >= 1 && n <= kColourCount) SetLabelColor(n);
    }
    return QWidget::eventFilter(watched, event);
}

void OptionPage::SetLabelColor(int n) {
    int32_t colour = 0;
    if (ColourOfEdits(Collect(), n, colour)) {
        const Rgb c = ColorToRgb(colour);
        FillSwatch(n, QColor(c.r, c.g, c.b));
    } else {
        MarkSwatchInvalid(n);
    }
}

void OptionPage::RefreshAllSwatches() {
    for (int n = 1; n <= kColourCount; ++n) SetLabelColor(n);
}

void OptionPage::FillSwatch(int n, const QColor& colour) {
    ClickLabel* swatch = swatches_[n];
    QPalette pal = swatch->palette();
    pal.setColor(QPalette::Window, colour);
    swatch->setPalette(pal);
    swatch->setBackgroundRole(QPalette::Window);
    swatch->setText(QString());
}

// The button face of the current palette, so that it follows the theme.
void OptionPage::MarkSwatchInvalid(int n) {
    ClickLabel* swatch = swatches_[n];
    swatch->setPalette(QPalette());
    swatch->setBackgroundRole(QPalette::Button);
    swatch->setForegroundRole(QPalette::ButtonText);
    swatch->setText(Q(kSwatchInvalidCaption));
}

void OptionPage::La01Click(int n) {
    ClickLabel* swatch = swatches_[n];
    const QColor current = swatch->palette().color(swatch->backgroundRole());
    int32_t colour = RgbToColor(current.red(), current.green(), current.blue());
    if (!chooseColor || !chooseColor(colour)) return;
    const Rgb c = ColorToRgb(colour);
    FillSwatch(n, QColor(c.r, c.g, c.b));
    edits_.value(QStringLiteral("EDR") + Two(n))->setText(QString::number(c.r));
    edits_.value(QStringLiteral("EDG") + Two(n))->setText(QString::number(c.g));
    edits_.value(QStringLiteral("EDB") + Two(n))->setText(QString::number(c.b));
}

void OptionPage::FillPreset(ColourPreset preset, int first, int last) {
    BatchSettings s = Collect();
    FillColourPreset(s, preset);
    for (int n = first; n <= last; ++n) {
        edits_.value(QStringLiteral("EDR") + Two(n))->setText(Q(s.Component('R', n)));
        edits_.value(QStringLiteral("EDG") + Two(n))->setText(Q(s.Component('G', n)));
        edits_.value(QStringLiteral("EDB") + Two(n))->setText(Q(s.Component('B', n)));
        SetLabelColor(n);
    }
}

}  // namespace morvane
