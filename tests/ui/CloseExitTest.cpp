// The real quillsever, started as a process with an agent preloaded that uses its window like
// a person: closing the window while a job shows "Processing" ends the process with status 1,
// and every part written until then is whole; closing after the run ends it with status 0.

#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

QString BinaryDir() {
    const QString fromTest = qEnvironmentVariable("QS_BINARY_DIR");
    return fromTest.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : fromTest;
}

} // namespace

class CloseExitTest : public QObject {
    Q_OBJECT

  private slots:
    void closeDuringAndAfterARun_data() {
        QTest::addColumn<QString>("closeAt");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("allParts");
        QTest::newRow("while processing") << "Processing" << 1 << false;
        QTest::newRow("after the run") << "Done" << 0 << true;
    }
    void closeDuringAndAfterARun() {
        QFETCH(QString, closeAt);
        QFETCH(int, status);
        QFETCH(bool, allParts);
        testing_support::CTempDir dir;
        const int pages = 40;
        const std::string source = dir.File("book.pdf");
        testing_support::WritePdf(source, {.pages = pages});
        std::ofstream(dir.File("setup.ini"), std::ios::binary) << "NOSPLASH\r\n";
        const std::string out = dir.File("parts");

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("LD_PRELOAD", BinaryDir() + "/tests/ui/libui_test_agent.so");
        // The agent is preloaded ahead of the sanitizer runtime the program links.
        environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        environment.insert("QS_AGENT_PDF", QString::fromStdString(source));
        environment.insert("QS_AGENT_PARAMS", "1s");
        environment.insert("QS_AGENT_OUT", QString::fromStdString(out));
        environment.insert("QS_AGENT_CLOSE_AT", closeAt);
        environment.insert("QS_AGENT_MIN_PARTS", "3");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QString::fromStdString(dir.Path()));
        program.start(BinaryDir() + "/ui/quillsever", QStringList{});
        QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
        QVERIFY(program.waitForFinished(240000));
        const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
        QVERIFY2(output.contains("closing at: " + closeAt), qPrintable(output));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);

        int parts = 0;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            // Only finished parts: no temporary file is left beside them.
            QVERIFY2(entry.path().extension() == ".pdf", entry.path().c_str());
            QVERIFY2(testing_support::QpdfCheckPasses(entry.path().string()), entry.path().c_str());
            ++parts;
        }
        if (allParts) {
            QCOMPARE(parts, pages);
            QVERIFY(output.contains("box: Quillsever: Done."));
        } else {
            QVERIFY(parts >= 3 && parts < pages);
        }
    }
};

QTEST_MAIN(CloseExitTest)
#include "CloseExitTest.moc"
