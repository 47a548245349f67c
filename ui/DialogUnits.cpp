#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace ui {

namespace {

int Scale(int units, int base, int divisor) {
    // Rounded, as integer multiply-then-divide with halves away from zero.
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

} // namespace

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Half the width of the 52 letters over 26, rounded up: the average letter width.
    const int width = (alphabet / 26 + 1) / 2;
    return QSize(width > 0 ? width : 1, metrics.height() > 0 ? metrics.height() : 1);
}

QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits) {
    const QSize base = DialogBaseUnits(font);
    return QRect(Scale(dialogUnits.x(), base.width(), 4), Scale(dialogUnits.y(), base.height(), 8),
                 Scale(dialogUnits.width(), base.width(), 4),
                 Scale(dialogUnits.height(), base.height(), 8));
}

} // namespace ui
