#include "app/gui/Labels.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <cmath>

namespace morvane {

namespace {

// Relative luminance of an sRGB colour: 0 for black, 1 for white.
double Luminance(const QColor& c) {
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

}  // namespace

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat()) emit clicked();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void ClickLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    if (autoFillBackground()) {
        // A filled label (a colour swatch): the style's faint focus frame gets
        // lost in some fills, so a dotted frame in black or in white, whichever
        // stands out more from the fill, is drawn inside the border. Like the
        // style's frame it shows once the keyboard has moved the focus.
        if (!window()->testAttribute(Qt::WA_KeyboardFocusChange)) return;
        QPainter p(this);
        const QColor fill = palette().color(backgroundRole());
        p.setPen(QPen(Luminance(fill) > 0.18 ? Qt::black : Qt::white, 1, Qt::DotLine));
        p.drawRect(contentsRect().adjusted(1, 1, -2, -2));
        return;
    }
    QStylePainter p(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = style()->itemTextRect(fontMetrics(), contentsRect(), int(alignment()), isEnabled(), text())
                     .adjusted(-2, 0, 2, 0);
    p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

QSize PathLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize PathLabel::sizeHint() const { return {fontMetrics().averageCharWidth() * 20, fontMetrics().height()}; }

void PathLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width());
    style()->drawItemText(&p, r, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

void ColumnHeadLabel::setColumns(QList<QWidget*> columns) {
    columns_.clear();
    for (QWidget* w : columns) columns_ << w;
    update();
}

QSize ColumnHeadLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize ColumnHeadLabel::sizeHint() const { return minimumSizeHint(); }

void ColumnHeadLabel::paintEvent(QPaintEvent* event) {
    if (columns_.isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    const QStringList words = text().split(u' ', Qt::SkipEmptyParts);
    for (int i = 0; i < words.size() && i < columns_.size(); ++i) {
        QWidget* column = columns_[i];
        if (!column) continue;
        const int centre = column->mapTo(window(), column->rect().center()).x() -
                           mapTo(window(), QPoint(0, 0)).x();
        const int w = fontMetrics().horizontalAdvance(words[i]);
        p.drawText(QRect(centre - w / 2 - 1, 0, w + 2, height()), Qt::AlignCenter, words[i]);
    }
}

}  // namespace morvane
