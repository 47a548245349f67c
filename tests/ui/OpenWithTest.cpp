// The real quillsever as a file manager starts it: "quillsever %F" adds the files as jobs, in
// order, each with its parameter prompt; a second start gives its files to the window already
// open for that user and folder and ends.

#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <QProcess>
#include <QtTest>

#include <fstream>

namespace {

QString BinaryDir() {
    const QString fromTest = qEnvironmentVariable("QS_BINARY_DIR");
    return fromTest.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : fromTest;
}

QString Program() {
    return BinaryDir() + "/ui/quillsever";
}

// The window offscreen, without a splash, with its socket in a runtime folder of the test's own.
void Prepare(QProcess& program, const testing_support::CTempDir& dir, bool agent, int jobs = 0) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.File("runtime")));
    if (agent) {
        environment.insert("LD_PRELOAD", BinaryDir() + "/tests/ui/libui_openwith_agent.so");
        // The agent is preloaded ahead of the sanitizer runtime the program links.
        environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        environment.insert("QS_OPENWITH_JOBS", QString::number(jobs));
        environment.insert("QS_OPENWITH_PARAMS", "1s");
        environment.insert("QS_OPENWITH_OUT", QString::fromStdString(dir.File("parts")));
    }
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QString::fromStdString(dir.Path()));
}

void MakeFolder(const testing_support::CTempDir& dir) {
    std::ofstream(dir.File("setup.ini"), std::ios::binary) << "NOSPLASH\r\n";
    // A runtime folder is the user's alone, or Qt complains about it.
    const QString runtime = QString::fromStdString(dir.File("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

// Reads the program's output until `line` has come or the program ended.
QString OutputUntil(QProcess& program, const QString& line) {
    QString output;
    while (!output.contains(line) && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(1000);
        output += QString::fromLocal8Bit(program.readAllStandardOutput());
    }
    return output;
}

} // namespace

class OpenWithTest : public QObject {
    Q_OBJECT

  private slots:
    void filesOnTheCommandLineBecomeJobsInOrder() {
        testing_support::CTempDir dir;
        MakeFolder(dir);
        testing_support::WritePdf(dir.File("b.pdf"), {.pages = 3});
        testing_support::WritePdf(dir.File("a.pdf"), {.pages = 5});
        QProcess program;
        Prepare(program, dir, true, 2);
        program.start(Program(), {"b.pdf", QString::fromStdString(dir.File("a.pdf"))});
        QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
        QVERIFY(program.waitForFinished(240000));
        const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
        QCOMPARE(program.exitCode(), 0);
        const QString b = QString::fromStdString(dir.File("b.pdf"));
        const QString a = QString::fromStdString(dir.File("a.pdf"));
        QVERIFY2(output.contains("prompts: 2\njob: " + b + "\t1s\t3\njob: " + a + "\t1s\t5\n"),
                 qPrintable(output));
    }

    void aSecondStartHandsItsFileToTheFirstWindow() {
        testing_support::CTempDir dir;
        MakeFolder(dir);
        testing_support::WritePdf(dir.File("c.pdf"), {.pages = 4});
        QProcess first;
        Prepare(first, dir, true, 1);
        first.start(Program(), QStringList{});
        QVERIFY2(first.waitForStarted(), qPrintable(first.errorString()));
        QString output = OutputUntil(first, "ready\n");
        QVERIFY2(output.contains("ready\n"), qPrintable(output));

        QProcess second;
        Prepare(second, dir, false);
        second.start(Program(), {"c.pdf"});
        QVERIFY2(second.waitForStarted(), qPrintable(second.errorString()));
        const bool ended = second.waitForFinished(60000);
        if (!ended)
            second.kill(); // it opened a window of its own
        QVERIFY2(ended, "the second start must end, not open another window");
        QCOMPARE(second.exitCode(), 0);

        QVERIFY(first.waitForFinished(240000));
        output += QString::fromLocal8Bit(first.readAllStandardOutput());
        QCOMPARE(first.exitCode(), 0);
        QVERIFY2(output.contains("prompts: 1\njob: " + QString::fromStdString(dir.File("c.pdf")) +
                                 "\t1s\t4\n"),
                 qPrintable(output));
    }

    void versionIsPrintedWithoutAWindow() {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(Program(), {"--version"});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()),
                 QString("quillsever 1.16\n"));
    }
};

QTEST_MAIN(OpenWithTest)
#include "OpenWithTest.moc"
