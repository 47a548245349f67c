#include "ui/Dlu.h"

#include <QFontMetrics>
#include <QtMath>

namespace ui {

QSize DluBase(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

QRect DluRect(const QFont& font, const QRect& dialogUnits) {
    const QSize base = DluBase(font);
    const auto across = [&](int v) { return qRound(v * base.width() / 4.0); };
    const auto down = [&](int v) { return qRound(v * base.height() / 8.0); };
    return QRect(across(dialogUnits.x()), down(dialogUnits.y()), across(dialogUnits.width()),
                 down(dialogUnits.height()));
}

} // namespace ui
