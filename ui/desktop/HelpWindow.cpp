#include "ui/desktop/HelpWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

#ifndef QS_DATA_DIR
#define QS_DATA_DIR "/usr/local/share/quillsever"
#endif

namespace ui {

QStringList ManualFolderCandidates() {
    const QString programDir = QCoreApplication::applicationDirPath();
    return {programDir + QStringLiteral("/help"),
            programDir + QStringLiteral("/../share/quillsever/help"),
            QStringLiteral(QS_DATA_DIR "/help")};
}

QString ManualFolder(const QStringList& candidates) {
    for (const QString& folder : candidates) {
        if (QFileInfo(folder + QStringLiteral("/index.html")).isFile())
            return QDir(folder).canonicalPath();
    }
    return {};
}

QUrl ManualUrl(const QString& topic, const QString& folder) {
    if (folder.isEmpty())
        return {};
    QString page = topic.section(QLatin1Char('#'), 0, 0);
    const QString anchor = topic.section(QLatin1Char('#'), 1);
    if (page.isEmpty())
        page = QStringLiteral("index");
    if (!page.endsWith(QLatin1String(".html")))
        page += QStringLiteral(".html");
    // Only pages of the manual itself: a topic cannot lead out of its folder.
    if (page.contains(QLatin1Char('/')) || !QFileInfo(folder + QLatin1Char('/') + page).isFile())
        page = QStringLiteral("index.html");
    QUrl url = QUrl::fromLocalFile(folder + QLatin1Char('/') + page);
    if (!anchor.isEmpty())
        url.setFragment(anchor);
    return url;
}

CHelpWindow::CHelpWindow(QWidget* parent, QString folder)
    : QDialog(parent), m_folder(std::move(folder)) {
    setWindowTitle(QStringLiteral("Quillsever Help"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);
    resize(760, 560);

    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    auto* forward = new QPushButton(QStringLiteral("&Forward"), this);
    auto* home = new QPushButton(QStringLiteral("&Contents"), this);
    back->setObjectName(QStringLiteral("backButton"));
    forward->setObjectName(QStringLiteral("forwardButton"));
    home->setObjectName(QStringLiteral("homeButton"));
    back->setAccessibleName(QStringLiteral("Back"));
    forward->setAccessibleName(QStringLiteral("Forward"));
    home->setAccessibleName(QStringLiteral("Contents"));
    for (QPushButton* b : {back, forward, home})
        b->setAutoDefault(false);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setAccessibleName(QStringLiteral("Help text"));
    m_browser->setOpenExternalLinks(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(home);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);

    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(home, &QPushButton::clicked, this, [this] { ShowTopic({}); });
    // The title names the page shown, so that the window list and a screen reader say where
    // F1 or a link has led.
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString page = m_browser->documentTitle();
        setWindowTitle(page.isEmpty() ? QStringLiteral("Quillsever Help") : page);
    });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
}

void CHelpWindow::ShowTopic(const QString& topic) {
    const QUrl url = ManualUrl(topic, m_folder);
    if (url.isEmpty()) {
        setWindowTitle(QStringLiteral("Quillsever Help"));
        m_browser->setPlainText(QStringLiteral(
            "The Quillsever manual was not found. It belongs in the folder help beside the "
            "program, or in share/quillsever/help of the installation."));
        return;
    }
    m_browser->setSource(url);
}

namespace {

// Over the window that asked for it, but whole on its screen, title bar included: centred over
// a small window near the top, the manual would otherwise open with its title bar above the
// screen, where it can be neither seen nor dragged.
void PlaceOnScreen(QWidget& window, const QWidget* owner) {
    const QWidget* anchor = owner ? owner->window() : nullptr;
    const QScreen* screen = anchor && anchor->screen() ? anchor->screen() : window.screen();
    if (!screen)
        return;
    // Until the window manager has framed the window, its frame is a guess: a title bar of two
    // lines of text and thin borders.
    const int title = 2 * window.fontMetrics().height() + 4;
    const QRect area = screen->availableGeometry().adjusted(4, title, -4, -4);
    const QSize size = window.size().boundedTo(area.size());
    const QPoint centre = anchor ? anchor->frameGeometry().center() : area.center();
    QPoint at = centre - QPoint(size.width() / 2, size.height() / 2);
    at.setX(std::clamp(at.x(), area.left(), area.right() + 1 - size.width()));
    at.setY(std::clamp(at.y(), area.top(), area.bottom() + 1 - size.height()));
    window.setGeometry(QRect(at, size));
}

} // namespace

CHelpWindow& ShowHelp(QWidget* owner, const QString& topic) {
    static QPointer<CHelpWindow> ownerless;
    CHelpWindow* window =
        owner ? owner->findChild<CHelpWindow*>(QString(), Qt::FindDirectChildrenOnly)
              : ownerless.data();
    if (!window) {
        window = new CHelpWindow(owner);
        if (!owner) {
            window->setAttribute(Qt::WA_DeleteOnClose);
            ownerless = window;
        }
    }
    if (!window->isVisible())
        PlaceOnScreen(*window, owner);
    // Each dialog owns a help window of its own (a modal dialog blocks any other), but the user
    // sees one manual: the one shown before steps aside for this one, which takes its place.
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<CHelpWindow*>(top);
        if (!other || other == window || !other->isVisible())
            continue;
        window->setGeometry(other->geometry());
        other->hide();
    }
    window->ShowTopic(topic);
    window->show();
    window->raise();
    window->activateWindow();
    return *window;
}

} // namespace ui
