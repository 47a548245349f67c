#include "ui/dialogs/ConnectionNotice.h"

#include "ui/dialogs/DialogUnits.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace ui {

CConnectionNotice::~CConnectionNotice() {
    Hide();
}

void CConnectionNotice::Show() {
    Hide();
    auto* window = new QDialog(m_owner, Qt::Dialog | Qt::WindowTitleHint);
    window->setObjectName(QStringLiteral("dlg137"));
    window->setWindowTitle(QString::fromUtf8(kConnectionTitle));
    window->setAccessibleName(window->windowTitle());
    window->setModal(false);
    const QFont font = window->font();
    window->setFixedSize(DialogUnitsToPixels(font, QRect(0, 0, 139, 53)).size());

    auto* first = new QLabel(QString::fromUtf8(kConnectingText), window);
    first->setAccessibleName(first->text());
    first->setGeometry(DialogUnitsToPixels(font, QRect(7, 7, 125, 8)));
    auto* second = new QLabel(QString::fromUtf8(kConnectingHint), window);
    second->setAccessibleName(second->text());
    second->setWordWrap(true);
    second->setGeometry(DialogUnitsToPixels(font, QRect(7, 20, 125, 26)));
    // Kept hidden: the notice is never closed by the user, only by the end of the creation.
    auto* close = new QPushButton(QStringLiteral("CLOSE"), window);
    close->setObjectName(QStringLiteral("ctl8"));
    close->setAccessibleName(close->text());
    close->hide();

    m_window = window;
    window->show();
    // Mapped and painted now: the creation that follows blocks the event loop. Input waits,
    // so nothing the user does can slip in before the creation starts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    window->repaint();
}

void CConnectionNotice::Hide() {
    if (!m_window)
        return;
    QDialog* window = m_window;
    m_window = nullptr;
    window->hide();
    window->deleteLater();
}

} // namespace ui
