// Screen styles of the window. "Windows" is the platform's own style and
// palette; every other name is the Fusion style with a palette of its own
// (and, when the palette is dark, indicator frames that stand out from it).
// The choice is stored by name and takes effect at the next start.
#pragma once

#include <QString>
#include <QStringList>

class QApplication;

namespace morvane {

inline constexpr const char16_t* kSystemThemeName = u"Windows";

// "Windows" first, then the named themes in their fixed order.
QStringList ThemeNames();

// The entry of ThemeNames() equal to name without regard to case, or an empty
// string when there is none.
QString FindThemeName(const QString& name);

// Applies the theme to the whole application; false (and nothing changed) for
// a name that is not in the list. Remembers the platform's own style the first
// time it runs, so that "Windows" can restore it later.
bool ApplyTheme(QApplication& app, const QString& name);

}  // namespace morvane
