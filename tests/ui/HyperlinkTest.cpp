#include "ui/desktop/Hyperlink.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/desktop/HyperlinkAddresses.h"

#include "tests/support/RecordingPrompter.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using testing_support::CRecordingPrompter;

namespace {

void Hover(QWidget* w, bool over) {
    if (over) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(w, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(w, &leave);
    }
}

} // namespace

class HyperlinkTest : public QObject {
    Q_OBJECT
  private slots:
    void ColoursFollowOverAndVisited_data();
    void ColoursFollowOverAndVisited();
    void FailedClickBeepsAndReports();
    void TextAndAddressStandInForEachOther();
    void FitsItsTextByAlignment_data();
    void FitsItsTextByAlignment();
    void AboutBoxShowsProductAndLinks();
    void AboutBoxLinksStartUnvisited();
};

void HyperlinkTest::ColoursFollowOverAndVisited_data() {
    QTest::addColumn<int>("opened");
    QTest::addColumn<bool>("over");
    QTest::addColumn<QColor>("colour");
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    QTest::newRow("new") << 0 << false << QColor(100, 10, 14);
    QTest::newRow("new, pointer over") << 0 << true << highlight;
    QTest::newRow("opened") << 1 << false << QColor(200, 200, 200);
    QTest::newRow("opened, pointer over") << 1 << true << highlight;
    QTest::newRow("opened, then failed") << 2 << false << QColor(100, 10, 14);
}

void HyperlinkTest::ColoursFollowOverAndVisited() {
    QFETCH(int, opened);
    QFETCH(bool, over);
    QFETCH(QColor, colour);
    QWidget parent;
    auto* link = new ui::CHyperlink(QStringLiteral("visit us"), &parent);
    link->SetUrl(QStringLiteral("https://www.quillsever.example/"));
    int answer = 42;
    link->SetOpener([&](const std::string&) { return answer; });
    parent.show();
    if (opened >= 1)
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
    if (opened == 2) {
        answer = 31;
        link->Activate();
    }
    Hover(link, true);
    if (!over)
        Hover(link, false);
    QCOMPARE(link->Over(), over);
    QCOMPARE(link->TextColour(), colour);
    QCOMPARE(link->palette().color(QPalette::WindowText), colour);
    QCOMPARE(link->Visited(), opened == 1);
}

void HyperlinkTest::FailedClickBeepsAndReports() {
    ui::CHyperlink link(QStringLiteral("mail us"));
    CRecordingPrompter prompter;
    std::vector<std::string> opened;
    link.SetUrl(QStringLiteral("mailto:support@quillsever.example"));
    link.SetPrompter(&prompter);
    link.SetOpener([&](const std::string& a) {
        opened.push_back(a);
        return 26;
    });
    link.show();
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(opened, std::vector<std::string>{"mailto:support@quillsever.example"});
    QCOMPARE(
        prompter.Lines(),
        std::vector<std::string>{": Unable to open hyperlink:\n\nA sharing violation occurred. "});
    QVERIFY(!link.Visited());
    // A link reached with Tab opens with Space.
    QTest::keyClick(&link, Qt::Key_Space);
    QCOMPARE(opened.size(), size_t(2));
}

void HyperlinkTest::TextAndAddressStandInForEachOther() {
    ui::CHyperlink noUrl(QStringLiteral("https://a.example/"));
    noUrl.show();
    QCOMPARE(noUrl.Url(), QStringLiteral("https://a.example/"));
    QCOMPARE(noUrl.toolTip(), QStringLiteral("https://a.example/"));
    ui::CHyperlink noText;
    noText.SetUrl(QStringLiteral("https://b.example/"));
    noText.show();
    QCOMPARE(noText.text(), QStringLiteral("https://b.example/"));
    QVERIFY(noText.font().underline());
    QCOMPARE(noText.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(noText.accessibleName(), QStringLiteral("https://b.example/"));
    noText.SetUnderline(false);
    QVERIFY(!noText.font().underline());
    noText.SetUrl(QStringLiteral("https://c.example/"));
    QCOMPARE(noText.toolTip(), QStringLiteral("https://c.example/"));
}

void HyperlinkTest::FitsItsTextByAlignment_data() {
    QTest::addColumn<int>("alignment");
    QTest::newRow("left") << int(Qt::AlignLeft | Qt::AlignTop);
    QTest::newRow("right") << int(Qt::AlignRight | Qt::AlignTop);
    QTest::newRow("centred") << int(Qt::AlignCenter);
}

void HyperlinkTest::FitsItsTextByAlignment() {
    QFETCH(int, alignment);
    QWidget parent;
    parent.resize(600, 200);
    auto* link = new ui::CHyperlink(QStringLiteral("short"), &parent);
    link->setAlignment(Qt::Alignment(alignment));
    const QRect before(100, 50, 300, 40);
    link->setGeometry(before);
    parent.show();
    const QRect r = link->geometry();
    const int w = QFontMetrics(link->font()).horizontalAdvance(QStringLiteral("short"));
    QCOMPARE(r.width(), w);
    QCOMPARE(r.height(), QFontMetrics(link->font()).height());
    if (alignment & Qt::AlignRight)
        QCOMPARE(r.right(), before.right());
    else if (alignment & Qt::AlignHCenter)
        QVERIFY(qAbs(r.center().x() - before.center().x()) <= 1);
    else
        QCOMPARE(r.left(), before.left());
    if (alignment & Qt::AlignVCenter)
        QVERIFY(qAbs(r.center().y() - before.center().y()) <= 1);
    else
        QCOMPARE(r.top(), before.top());
}

void HyperlinkTest::AboutBoxShowsProductAndLinks() {
    CRecordingPrompter prompter;
    ui::CAboutDialog about(prompter, QIcon());
    QCOMPARE(about.windowTitle(), QStringLiteral("About Quillsever"));
    QStringList texts;
    for (QLabel* l : about.findChildren<QLabel*>())
        texts << l->text();
    QVERIFY(texts.contains(QStringLiteral("Quillsever Version v1.16")));
    const QString home = QString::fromStdString(ui::HomePageAddress());
    const QString support = QString::fromStdString(ui::SupportAddress());
    QCOMPARE(about.HomeLink().text(), home);
    QCOMPARE(about.MailLink().text(), QStringLiteral("email: ") + support);
    about.show();
    QCOMPARE(about.HomeLink().Url(), home);
    QCOMPARE(about.MailLink().Url(), QStringLiteral("mailto:") + support);
    QCOMPARE(about.MailLink().toolTip(), QStringLiteral("mailto:") + support);
    QVERIFY(about.HomeLink().font().underline() && about.MailLink().font().underline());
    auto* ok = about.findChild<QPushButton*>("okButton");
    QVERIFY(ok->isDefault());
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void HyperlinkTest::AboutBoxLinksStartUnvisited() {
    CRecordingPrompter prompter;
    std::vector<std::string> opened;
    auto opener = [&](const std::string& a) {
        opened.push_back(a);
        return 42;
    };
    {
        ui::CAboutDialog about(prompter, QIcon());
        about.HomeLink().SetOpener(opener);
        about.show();
        QTest::mouseClick(&about.HomeLink(), Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(about.HomeLink().Visited());
        QCOMPARE(about.HomeLink().TextColour(), QColor(200, 200, 200));
    }
    ui::CAboutDialog again(prompter, QIcon());
    again.show();
    QVERIFY(!again.HomeLink().Visited());
    QCOMPARE(again.HomeLink().TextColour(), QColor(100, 10, 14));
    QCOMPARE(opened, std::vector<std::string>{ui::HomePageAddress()});
    QVERIFY(prompter.boxes.empty());
}

QTEST_MAIN(HyperlinkTest)
#include "HyperlinkTest.moc"
