// The window's Japanese-capable UI font at a pixel size: "ＭＳ ゴシック" where it
// is installed, else Noto Sans CJK JP, else the platform's default family.
#pragma once

#include <QFont>

namespace morvane {

QFont UiFont(int pixelSize);

}  // namespace morvane
