#include "ui/WindowCommandsUnits.h"

#if !__has_include("ui/DialogUnits.h")
#include <QFontMetrics>

namespace ui {

QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits) {
    const QFontMetrics metrics(font);
    // The average width of the letters, as dialog units have always been measured.
    const int baseX = (metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           26 +
                       1) /
                      2;
    const int baseY = metrics.height();
    auto x = [&](int v) { return v * baseX / 4; };
    auto y = [&](int v) { return v * baseY / 8; };
    return {x(dialogUnits.x()), y(dialogUnits.y()), x(dialogUnits.width()),
            y(dialogUnits.height())};
}

} // namespace ui
#endif
