// One window per user and working directory: a later start's files reach the first window, and
// they are added as a drop would add them, never while another prompt is open.
#include "ui/desktop/SingleInstance.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using ui::CSingleInstance;

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void ArgumentsGiveFilesInOrderAndVersion() {
        const QString cwd = QDir::currentPath();
        const struct {
            QStringList arguments;
            bool version;
            QStringList files;
        } cases[] = {
            {{"quillsever"}, false, {}},
            {{"quillsever", "b.pdf", "/in/a.pdf"}, false, {cwd + "/b.pdf", "/in/a.pdf"}},
            {{"quillsever", "--version"}, true, {}},
            {{"quillsever", "--", "--version"}, false, {cwd + "/--version"}},
        };
        for (const auto& c : cases) {
            const ui::StartupArguments parsed = ui::ParseStartupArguments(c.arguments);
            QCOMPARE(parsed.version, c.version);
            QCOMPARE(parsed.files, c.files);
        }
    }

    void KeyIsTheUserAndTheWorkingDirectory() {
        QTemporaryDir a, b;
        QVERIFY(QDir(a.path()).mkdir("sub"));
        const QString key = CSingleInstance::ServerNameFor(a.path());
        QCOMPARE(CSingleInstance::ServerNameFor(a.path() + "/sub/.."), key);
        QVERIFY(CSingleInstance::ServerNameFor(b.path()) != key);
        QVERIFY(CSingleInstance::ServerNameFor(a.path() + "/sub") != key);
        QVERIFY(key.endsWith(".socket"));
        QVERIFY2(key.size() < 100, "a local socket path must stay short");
    }

    void ASecondStartHandsItsFilesToTheFirst() {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance.socket");
        CSingleInstance first(name, nullptr);
        QVERIFY(first.Listen());
        QSignalSpy received(&first, &CSingleInstance::FilesReceived);

        // The later start blocks until the window answers, so it runs beside the window's
        // event loop, as it would in its own process.
        bool taken = false;
        std::thread second([&] {
            CSingleInstance other(name, nullptr);
            taken = other.HandOver({"/in/a.pdf", "/in/b c.pdf"});
        });
        QTRY_COMPARE(received.count(), 1);
        second.join();
        QVERIFY(taken);
        QCOMPARE(received.at(0).at(0).toStringList(), (QStringList{"/in/a.pdf", "/in/b c.pdf"}));
    }

    void WithoutAWindowTheStartOpensItsOwnEvenOverALeftSocket() {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance.socket");
        CSingleInstance alone(name, nullptr);
        QVERIFY(!alone.HandOver({"/in/a.pdf"}));
        // A window that crashed leaves its socket file behind.
        QFile left(name);
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.close();
        QVERIFY(!alone.HandOver({"/in/a.pdf"}));
        QVERIFY(alone.Listen());
    }

    void FilesWaitForAnOpenPromptToClose() {
        QWidget window;
        window.show();
        QDialog prompt(&window);
        prompt.setModal(true);
        prompt.show();
        QTRY_COMPARE(QApplication::activeModalWidget(), &prompt);
        std::vector<std::vector<std::string>> drops;
        ui::AddFilesWhenIdle(
            &window, {"/in/a.pdf", "/in/b.pdf"},
            [&](const std::vector<std::string>& paths) { drops.push_back(paths); });
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QVERIFY2(drops.empty(), "nothing is added above an open prompt");
        prompt.accept();
        QTRY_COMPARE(drops.size(), size_t{1});
        QCOMPARE(drops[0], (std::vector<std::string>{"/in/a.pdf", "/in/b.pdf"}));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
