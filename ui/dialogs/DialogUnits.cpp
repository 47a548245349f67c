#include "ui/dialogs/DialogUnits.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <QtMath>

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

namespace {
constexpr const char* kHelpTopic = "qsHelpTopic";
}

void SetHelpTopic(QWidget& window, const QString& topic) {
    window.setProperty(kHelpTopic, topic);
}

QString HelpTopicOf(const QWidget* widget) {
    // A box or a file dialog over a dialog belongs to that dialog's topic.
    for (; widget; widget = widget->parentWidget()) {
        const QVariant topic = widget->property(kHelpTopic);
        if (topic.isValid())
            return topic.toString();
    }
    return {};
}

void FitOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The window is not framed yet: its frame is taken as a title bar of two lines of text and
    // thin borders.
    const int title = 2 * window.fontMetrics().height() + 4;
    const QSize room = screen->availableGeometry().size() - QSize(8, title + 4);
    const QSize size = window.size().boundedTo(room).expandedTo(window.minimumSize());
    if (size != window.size())
        window.resize(size);
}

void SetUpModalDialog(QDialog& dialog, const QString& dialogId, const QString& title) {
    dialog.setObjectName(dialogId);
    dialog.setWindowTitle(title);
    dialog.setModal(true);
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
}

QString WithoutAccessKeys(QString label) {
    label.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    label.remove(QLatin1Char('&'));
    label.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return label;
}

} // namespace ui
