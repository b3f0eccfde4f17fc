// The settings page: every option control of the batch settings, laid out on
// a 512-pixel-wide page that scrolls. It shows and collects a BatchSettings
// and runs the controls that react at once (colour swatches, presets, colour
// dialog, option boxes that exclude each other); the rules themselves are the
// application core's.
#pragma once

#include <QHash>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "app/BatchSettings.h"
#include "app/OptionControls.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLayout;
class QLineEdit;
class QVBoxLayout;

namespace morvane {

class ClickLabel;

class OptionPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 512;
    static constexpr int kHeight = 880;
    static constexpr int kColourCount = 19;

    explicit OptionPage(QWidget* parent = nullptr);

    BatchSettings Collect() const;
    // Shows `s` as it stands: the boxes are set without the exclusion rule
    // (a stored set is already resolved) and the swatches are not refreshed.
    void Show(const BatchSettings& s);

    // Refreshes swatch n (1..19) from its three edits: the colour when all
    // three components are valid, else the button face with " ----".
    void SetLabelColor(int n);
    void RefreshAllSwatches();

    // The colour dialog: starts at the colour given, false when cancelled.
    std::function<bool(int32_t&)> chooseColor;

    QComboBox* ThemeList() const { return themeList_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildTheme(QVBoxLayout* page);
    void BuildMemoAndPaper(QVBoxLayout* page);
    void BuildFlags(QVBoxLayout* page);
    void BuildScreenColours(QVBoxLayout* page);
    void BuildPrinterColours(QVBoxLayout* page);
    void BuildDrawOrder(QVBoxLayout* page);
    void BuildTextBackground(QVBoxLayout* page);
    QLayout* BuildColourGrid(int first, int count, const QString& headName, const QString& heads);
    QLayout* BuildWidthRow(int first, const QString& headName);

    QCheckBox* AddCheck(const QString& name, const QString& caption);
    QLineEdit* AddEdit(const QString& name, int maxLength, bool direct);
    QWidget* Separator();
    int CellWidth() const;
    int RowHeadWidth() const;
    int RowHeight() const;

    void OptionBoxClicked(BatchFlag box);
    void La01Click(int n);
    void FillPreset(ColourPreset preset, int first, int last);
    void FillSwatch(int n, const QColor& colour);
    void MarkSwatchInvalid(int n);

    QHash<QString, QCheckBox*> checks_;
    QHash<QString, QLineEdit*> edits_;
    QComboBox* cx01_ = nullptr;
    QComboBox* cx02_ = nullptr;
    QComboBox* themeList_ = nullptr;
    ClickLabel* swatches_[kColourCount + 1] = {};
    bool showing_ = false;
};

}  // namespace morvane
