#include "ui/Dlu.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>
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

namespace {

// The room a control has to either side on its own line: up to the nearest sibling that shares
// any of its rows, the inside of a frame that holds it, or the window's edge.
std::pair<int, int> RoomAround(const QWidget* control, const QList<QWidget*>& siblings,
                               int windowWidth) {
    constexpr int gap = 2;
    const QRect r = control->geometry();
    int left = gap, right = windowWidth - gap;
    for (const QWidget* other : siblings) {
        if (other == control || !other->isVisibleTo(control->parentWidget()))
            continue;
        const QRect o = other->geometry();
        if (o.bottom() < r.top() || o.top() > r.bottom())
            continue;
        if (qobject_cast<const QGroupBox*>(other) && o.contains(r.center())) {
            left = qMax(left, o.left() + 2 * gap);
            right = qMin(right, o.right() - 2 * gap);
            continue;
        }
        if (o.left() >= r.right())
            right = qMin(right, o.left() - gap);
        else if (o.right() <= r.left())
            left = qMax(left, o.right() + gap);
    }
    return {left, right};
}

} // namespace

void LetTextsFit(QWidget* window) {
    QList<QWidget*> siblings;
    for (QObject* child : window->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
            siblings << w;
    for (QWidget* control : siblings) {
        const bool textual = qobject_cast<QLabel*>(control) ||
                             (qobject_cast<QAbstractButton*>(control) &&
                              control->metaObject()->className() != QByteArray("QPushButton"));
        if (!textual)
            continue;
        const int needed = control->sizeHint().width();
        QRect r = control->geometry();
        if (needed <= r.width())
            continue;
        const auto [left, right] = RoomAround(control, siblings, window->width());
        r.setRight(qMin(right, r.left() + needed - 1));
        if (r.width() < needed)
            r.setLeft(qMax(left, r.right() - needed + 1));
        control->setGeometry(r);
    }
}

} // namespace ui
