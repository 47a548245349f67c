#include "ui/dialogs/AboutDialog.h"

#include "ui/desktop/Hyperlink.h"
#include "ui/desktop/HyperlinkAddresses.h"
#include "ui/dialogs/DialogUnits.h"

#include <QLabel>
#include <QPushButton>

namespace ui {

CAboutDialog::CAboutDialog(core::Prompter& prompter, const QIcon& icon, QWidget* parent)
    : QDialog(parent) {
    SetUpModalDialog(*this, QStringLiteral("dlg100"), QStringLiteral("About Quillsever"));
    SetHelpTopic(*this, QStringLiteral("index#about"));
    const QFont dialogFont = font();
    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(DialogUnitsToPixels(dialogFont, QRect(x, y, width, height)));
    };

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("icon"));
    picture->setAccessibleName(QStringLiteral("Quillsever icon"));
    const QRect iconRect = DialogUnitsToPixels(dialogFont, QRect(11, 17, 20, 20));
    const int side = std::min(iconRect.width(), iconRect.height());
    picture->setPixmap(icon.pixmap(side, side));
    picture->setGeometry(iconRect.x(), iconRect.y(), side, side);

    // Shown as is: the product line has no access key.
    auto* product = new QLabel(QStringLiteral("Quillsever Version v1.16"), this);
    product->setTextFormat(Qt::PlainText);
    place(product, 40, 10, 136, 9);
    auto* maker = new QLabel(QStringLiteral("Made by the Quillsever developers."), this);
    maker->setTextFormat(Qt::PlainText);
    place(maker, 40, 25, 148, 9);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setAccessibleName(QStringLiteral("OK"));
    ok->setDefault(true);
    place(ok, 182, 7, 46, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    const QString home = QString::fromStdString(HomePageAddress());
    const QString support = QString::fromStdString(SupportAddress());
    m_home = new CHyperlink(home, this);
    m_home->setObjectName(QStringLiteral("homeLink"));
    m_home->SetUrl(home);
    m_home->SetUnderline(true);
    m_home->SetPrompter(&prompter);
    place(m_home, 41, 40, 112, 9);
    m_mail = new CHyperlink(QStringLiteral("email: ") + support, this);
    m_mail->setObjectName(QStringLiteral("mailLink"));
    m_mail->SetUrl(QStringLiteral("mailto:") + support);
    m_mail->SetUnderline(true);
    m_mail->SetPrompter(&prompter);
    place(m_mail, 42, 52, 124, 9);

    setFixedSize(DialogUnitsToPixels(dialogFont, QRect(0, 0, 235, 73)).size());
    ok->setFocus();
}

} // namespace ui
