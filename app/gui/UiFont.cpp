#include "app/gui/UiFont.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace morvane {

QFont UiFont(int pixelSize) {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const QString& f : {QStringLiteral(u"ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                                 QStringLiteral("Noto Sans CJK JP")})
            if (installed.contains(f, Qt::CaseInsensitive)) return f;
        return QGuiApplication::font().family();
    }();
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace morvane
