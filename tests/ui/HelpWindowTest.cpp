#include "ui/desktop/HelpWindow.h"

#include "tests/support/TempDir.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest>

namespace {

// The manual the build put beside the program.
QString BuiltManual() {
    return QString::fromLocal8Bit(qgetenv("QS_BINARY_DIR")) + QStringLiteral("/ui/help");
}

} // namespace

class HelpWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void BuildPutsTheManualBesideTheProgram();
    void EveryLinkOfTheManualLeadsToAPage();
    void TopicsNamePages_data();
    void TopicsNamePages();
    void FolderIsTheFirstThatHoldsTheManual();
    void WindowNavigatesBackForwardAndHome();
};

void HelpWindowTest::BuildPutsTheManualBesideTheProgram() {
    QVERIFY(!qgetenv("QS_BINARY_DIR").isEmpty());
    for (const char* page : {"index", "getting-started", "split-parameters", "naming", "setup",
                             "batch-files", "log", "command-line", "main-window", "preview"})
        QVERIFY2(QFileInfo(BuiltManual() + "/" + page + ".html").isFile(), page);
}

void HelpWindowTest::EveryLinkOfTheManualLeadsToAPage() {
    const QDir folder(BuiltManual());
    const QRegularExpression href(QStringLiteral("href=\"([^\"#:]*)(#([^\"]*))?\""));
    for (const QString& name : folder.entryList({QStringLiteral("*.html")})) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        for (auto it = href.globalMatch(html); it.hasNext();) {
            const auto m = it.next();
            const QString target = m.captured(1).isEmpty() ? name : m.captured(1);
            QVERIFY2(QFileInfo(folder.filePath(target)).isFile(),
                     qPrintable(name + " -> " + m.captured(0)));
            QFile targetFile(folder.filePath(target));
            QVERIFY(targetFile.open(QIODevice::ReadOnly));
            if (!m.captured(3).isEmpty())
                QVERIFY2(QString::fromUtf8(targetFile.readAll())
                             .contains(QStringLiteral("id=\"") + m.captured(3) + "\""),
                         qPrintable(name + " -> " + m.captured(0)));
        }
    }
}

void HelpWindowTest::TopicsNamePages_data() {
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("anchor");
    QTest::newRow("contents") << ""
                              << "index.html"
                              << "";
    QTest::newRow("page") << "setup"
                          << "setup.html"
                          << "";
    QTest::newRow("page with extension") << "log.html"
                                         << "log.html"
                                         << "";
    QTest::newRow("anchor") << "naming#page-ranges"
                            << "naming.html"
                            << "page-ranges";
    QTest::newRow("unknown page") << "nothing-here"
                                  << "index.html"
                                  << "";
    QTest::newRow("outside the manual") << "../CMakeCache.txt"
                                        << "index.html"
                                        << "";
}

void HelpWindowTest::TopicsNamePages() {
    QFETCH(QString, topic);
    QFETCH(QString, page);
    QFETCH(QString, anchor);
    const QString folder = ui::ManualFolder({BuiltManual()});
    const QUrl url = ui::ManualUrl(topic, folder);
    QCOMPARE(url.toLocalFile(), folder + "/" + page);
    QCOMPARE(url.fragment(), anchor);
}

void HelpWindowTest::FolderIsTheFirstThatHoldsTheManual() {
    testing_support::CTempDir empty;
    const QString emptyFolder = QString::fromStdString(empty.Path());
    QCOMPARE(ui::ManualFolder({emptyFolder, BuiltManual()}), QDir(BuiltManual()).canonicalPath());
    QCOMPARE(ui::ManualFolder({emptyFolder}), QString());
    QVERIFY(ui::ManualUrl({}, QString()).isEmpty());
    // The program looks beside itself first, wherever it was started from.
    QVERIFY(
        ui::ManualFolderCandidates().front().startsWith(QCoreApplication::applicationDirPath()));
}

void HelpWindowTest::WindowNavigatesBackForwardAndHome() {
    ui::CHelpWindow window(nullptr, ui::ManualFolder({BuiltManual()}));
    window.show();
    window.ShowTopic(QStringLiteral("setup"));
    QVERIFY(window.Browser().source().toLocalFile().endsWith("/setup.html"));
    QVERIFY(window.Browser().toPlainText().contains(QStringLiteral("Mask counter")));
    auto* back = window.findChild<QPushButton*>("backButton");
    auto* forward = window.findChild<QPushButton*>("forwardButton");
    QVERIFY(!back->isEnabled());
    QTest::mouseClick(window.findChild<QPushButton*>("homeButton"), Qt::LeftButton);
    QVERIFY(window.Browser().source().toLocalFile().endsWith("/index.html"));
    QVERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(window.Browser().source().toLocalFile().endsWith("/setup.html"));
    QVERIFY(forward->isEnabled());
    QTest::mouseClick(forward, Qt::LeftButton);
    QVERIFY(window.Browser().source().toLocalFile().endsWith("/index.html"));

    ui::CHelpWindow missing(nullptr, QString());
    missing.ShowTopic(QStringLiteral("setup"));
    QVERIFY(missing.Browser().toPlainText().contains(QStringLiteral("not found")));
}

QTEST_MAIN(HelpWindowTest)
#include "HelpWindowTest.moc"
