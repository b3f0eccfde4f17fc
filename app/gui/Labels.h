// Label widgets of the window: a label that reports clicks (the colour
// swatches and the open-dialog link, which the keyboard reaches too), a label
// that shows a long folder elided in the middle, and a column-head label whose
// words sit over the columns of the edits below it.
#pragma once

#include <QLabel>
#include <QList>
#include <QPointer>

namespace morvane {

// Given a focus policy, it is also clicked by Enter or Space and shows the focus.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// text() is the whole folder; the painted text is elided to the width given.
class PathLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// text() holds the heads separated by spaces ("線色１ 線色２ ..."); word i is
// painted centred over columns[i], so the heads line up with the edits in any
// font.
class ColumnHeadLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void setColumns(QList<QWidget*> columns);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<QPointer<QWidget>> columns_;
};

}  // namespace morvane
