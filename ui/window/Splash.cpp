#include "ui/window/Splash.h"

#include "ui/desktop/Artwork.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace ui {

CSplash::CSplash(QWidget* owner, std::chrono::milliseconds duration)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("dlg134"));
    setWindowTitle(QStringLiteral("Quillsever"));
    setAccessibleName(QStringLiteral("Quillsever"));
    setModal(true);

    const QPixmap picture = SplashPicture();
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("splashPicture"));
    label->setAccessibleName(QStringLiteral("Quillsever"));
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(QRect(QPoint(0, 0), picture.size()));
    setFixedSize(picture.size());

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(duration);
    connect(m_timer, &QTimer::timeout, this, [this] { done(1); });
}

void CSplash::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the window it belongs to, or on the screen when that is not shown.
    const QWidget* owner = parentWidget();
    const QRect area = owner && owner->isVisible() ? owner->frameGeometry()
                       : screen()                  ? screen()->availableGeometry()
                                                   : QRect();
    if (area.isValid())
        move(area.center() - rect().center());
    m_timer->start();
}

void CSplash::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        done(1);
        return;
    case Qt::Key_Escape:
        done(2);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void ScheduleSplash(QWidget* mainWindow) {
    QPointer<QWidget> owner(mainWindow);
    QTimer::singleShot(10, mainWindow, [owner] {
        if (!owner)
            return;
        CSplash splash(owner);
        splash.exec();
    });
}

} // namespace ui
