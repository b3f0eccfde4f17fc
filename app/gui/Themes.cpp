#include "app/gui/Themes.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace morvane {
namespace {

// One row per named theme: the colours a palette is derived from. A theme is
// dark when its window colour is dark; the accent is the selection colour.
struct ThemeColours {
    const char16_t* name;
    QRgb window;
    QRgb text;
    QRgb base;
    QRgb button;
    QRgb accent;
};

constexpr ThemeColours kThemes[] = {
    {u"Amakrits", 0x2b2421, 0xe8dcd2, 0x1f1a18, 0x3a302b, 0xc8643c},
    {u"Amethyst Kamri", 0xe9e3f0, 0x2a2233, 0xffffff, 0xddd3ea, 0x8a56b8},
    {u"Aqua Graphite", 0x2d3033, 0xe0e6ea, 0x222528, 0x3a3e42, 0x2fb5c9},
    {u"Aqua Light Slate", 0xdfe5ea, 0x1e2a33, 0xffffff, 0xccd6de, 0x2aa6c4},
    {u"Auric", 0x2a2a2e, 0xece6d6, 0x1e1e22, 0x38383e, 0xd4a017},
    {u"Carbon", 0x262626, 0xe6e6e6, 0x1a1a1a, 0x333333, 0xe8872a},
    {u"Charcoal Dark Slate", 0x2f3538, 0xdde3e6, 0x23282a, 0x3b4245, 0x6b8ba4},
    {u"Cobalt XEMedia", 0x1f2a44, 0xe4ecf8, 0x16203a, 0x2a3858, 0x3f7fe0},
    {u"Cyan Dusk", 0x2a3440, 0xe0ecf2, 0x1f2832, 0x36424f, 0x22b8cf},
    {u"Cyan Night", 0x1b1f27, 0xdfe8ee, 0x12161c, 0x262c36, 0x00bcd4},
    {u"Emerald Light Slate", 0xdfe5e8, 0x1d2a2e, 0xffffff, 0xcdd8dc, 0x2e9e6a},
    {u"Golden Graphite", 0x303030, 0xece8de, 0x242424, 0x3d3d3d, 0xd9a62e},
    {u"Iceberg Classico", 0xe6f0f6, 0x1a2a36, 0xffffff, 0xd4e4ee, 0x4a90c2},
    {u"Lavender Classico", 0xece8f4, 0x2b2538, 0xffffff, 0xddd6ec, 0x9370c8},
    {u"Light", 0xf3f3f3, 0x1e1e1e, 0xffffff, 0xe6e6e6, 0x3a7bd5},
    {u"Luna", 0xece9d8, 0x000000, 0xffffff, 0xe3e0cf, 0x316ac5},
    {u"Metropolis UI Black", 0x0e0e0e, 0xf0f0f0, 0x000000, 0x1e1e1e, 0x1e90ff},
    {u"Metropolis UI Blue", 0x1c3f6e, 0xf0f6ff, 0x14305a, 0x2a5288, 0x5ab0ff},
    {u"Metropolis UI Dark", 0x2b2b2b, 0xf0f0f0, 0x1f1f1f, 0x3a3a3a, 0x1ba1e2},
    {u"Metropolis UI Green", 0x1e4d2b, 0xeef8f0, 0x163d21, 0x2a6139, 0x8bc34a},
    {u"Obsidian", 0x1e2126, 0xd8dde3, 0x15171b, 0x2a2e34, 0x5c7a99},
    {u"Ruby Graphite", 0x2e2e30, 0xece4e4, 0x222224, 0x3b3b3e, 0xc0283c},
    {u"Sapphire Kamri", 0xe3e9f2, 0x1b2638, 0xffffff, 0xd2dcec, 0x1f5fbf},
    {u"Silver", 0xe8e8ea, 0x1a1a1a, 0xffffff, 0xd9d9dc, 0x707a88},
    {u"Slate Classico", 0xe1e4e8, 0x1f262e, 0xffffff, 0xcfd4da, 0x5a6f87},
    {u"Smokey Quartz Kamri", 0xe8e2dc, 0x2c2520, 0xfbf8f5, 0xdcd3ca, 0x8c6e58},
    {u"Turquoise Gray", 0xe4e7e8, 0x1e2628, 0xffffff, 0xd3d9da, 0x1aa39a},
};

bool IsDark(const QColor& c) { return c.lightness() < 128; }

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

QPalette MakePalette(const ThemeColours& t) {
    const QColor window(t.window), text(t.text), base(t.base), button(t.button), accent(t.accent);
    const bool dark = IsDark(window);
    QPalette p(button, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, Mix(base, window, 0.5));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, Mix(text, base, 0.5));
    p.setColor(QPalette::BrightText, dark ? Qt::white : Qt::black);
    p.setColor(QPalette::Light, button.lighter(dark ? 130 : 115));
    p.setColor(QPalette::Midlight, button.lighter(dark ? 115 : 107));
    p.setColor(QPalette::Mid, button.darker(dark ? 115 : 125));
    p.setColor(QPalette::Dark, button.darker(dark ? 140 : 160));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, accent.lightness() > 160 ? Qt::black : Qt::white);
    // Links stay blue, as bright as the background needs.
    p.setColor(QPalette::Link, dark ? QColor(0x6c, 0xb4, 0xff) : QColor(0x00, 0x00, 0xff));
    p.setColor(QPalette::LinkVisited, dark ? QColor(0xc0, 0x9c, 0xff) : QColor(0x80, 0x00, 0x80));
    const QColor disabled = Mix(text, window, 0.55);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Highlight, Mix(accent, window, 0.5));
    return p;
}

// Fusion draws the frame of a check box or radio button indicator in a shade of
// the window colour, which a dark window swallows: an empty box could not be
// told from the page. On a dark palette the frame is drawn again over Fusion's,
// halfway between the text and the window colour, which stands out from both
// the window and the indicator's fill. A frame in the focus colour stays.
class ThemeStyle : public QProxyStyle {
public:
    explicit ThemeStyle(QStyle* fusion) : QProxyStyle(fusion) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton) return;
        const QColor window = option->palette.color(QPalette::Window);
        if (!IsDark(window) || (option->state & State_HasFocus && option->state & State_KeyboardFocusChange))
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Mix(option->palette.color(QPalette::Text), window, 0.5));
        painter->setBrush(Qt::NoBrush);
        // The square and the circle of Fusion's frames, so that they are covered.
        const QRect& r = option->rect;
        if (element == PE_IndicatorCheckBox) {
            painter->translate(0.5, 0.5);
            painter->drawRect(r.adjusted(0, 0, -1, -1));
        } else {
            const qreal radius = (r.width() + (r.width() + 1) % 2) / 2.0 - 1;
            painter->drawEllipse(QPointF(r.center() + QPoint(1, 1)), radius, radius);
        }
        painter->restore();
    }
};

// The style and palette the platform gave the application, kept for "Windows".
struct SystemLook {
    QString styleName;
    QPalette palette;
};

const SystemLook& RememberSystemLook(QApplication& app) {
    static const SystemLook look{app.style()->name(), app.palette()};
    return look;
}

}  // namespace

QStringList ThemeNames() {
    QStringList names{QString::fromUtf16(kSystemThemeName)};
    for (const auto& t : kThemes) names << QString::fromUtf16(t.name);
    return names;
}

QString FindThemeName(const QString& name) {
    for (const QString& n : ThemeNames())
        if (n.compare(name, Qt::CaseInsensitive) == 0) return n;
    return {};
}

bool ApplyTheme(QApplication& app, const QString& name) {
    const SystemLook& system = RememberSystemLook(app);
    const QString found = FindThemeName(name);
    if (found.isEmpty()) return false;
    if (found == QString::fromUtf16(kSystemThemeName)) {
        QApplication::setStyle(system.styleName);
        QApplication::setPalette(system.palette);
        return true;
    }
    for (const auto& t : kThemes) {
        if (found != QString::fromUtf16(t.name)) continue;
        QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
        if (!fusion) return false;
        QApplication::setStyle(new ThemeStyle(fusion));
        QApplication::setPalette(MakePalette(t));
        return true;
    }
    return false;
}

}  // namespace morvane
