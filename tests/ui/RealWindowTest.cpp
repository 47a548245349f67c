// The real quillsever, run as a person runs it (its window modal through exec), driven by a
// preloaded agent that plays a script of keys, presses and answers: what the keys do, where
// F1 leads, how a run ends when its job fails, when it is cleared away, or when Escape comes.

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

constexpr int kPages = 40;

} // namespace

class RealWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void scripts_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("seen");   // lines the output holds, in this order
        QTest::addColumn<QStringList>("unseen"); // lines it must not hold
        QTest::addColumn<int>("minParts");
        QTest::addColumn<int>("maxParts");
        const QString job = "drop:book.pdf;fill:1s;";
        const QString run = job + "press:ctl1002;until:parts=3;";
        const QString done = "box: Quillsever: Done.";
        const QString unsaved = "box: quillsever: The job list has jobs that are not saved";
        QTest::newRow("Enter on a focused Close closes")
            << job + "key:Return@ctl1001" << 0 << QStringList{} << QStringList{done} << 0 << 0;
        QTest::newRow("F1 in the window, its dialogs and the Help button")
            << "key:F1@ctl1000;help;menu:cmd32792;key:F1@logList;help;press:closeButton;"
               "menu:cmdAbout;key:F1@okButton;help;press:okButton;drop:book.pdf;"
               "key:F1@ctl1004;help;press:ctl1023;help;press:ctl1003;key:Escape@ctl1000;"
               "answer:Yes"
            << 0 << QStringList{"help: main-window.html",      "help: log.html#view",
                                "help: index.html#about",      "help: split-parameters.html",
                                "help: split-parameters.html", unsaved}
            << QStringList{} << 0 << 0;
        QTest::newRow("Escape with nothing to lose closes")
            << "key:Escape@ctl1000" << 0 << QStringList{} << QStringList{"box:"} << 0 << 0;
        QTest::newRow("Escape during a run asks; No goes on")
            << run + "key:Escape@ctl1000;answer:No;until:idle;close" << 0
            << QStringList{"box: quillsever: A split is running.", done} << QStringList{} << kPages
            << kPages;
        QTest::newRow("Escape during a run asks; Yes closes as Close does")
            << run + "key:Escape@ctl1000;answer:Yes" << 1 << QStringList{} << QStringList{done} << 3
            << kPages - 1;
        QTest::newRow("a failed job says so and Close ends with 0")
            << job + "rm:book.pdf;press:ctl1002;until:idle;report;close" << 0
            << QStringList{"box: quillsever: Error Opening File", "row: book.pdf: Failed"}
            << QStringList{done} << 0 << 0;
        const QString leave = "press:ctl1003;key:Escape@ctl1000;answer:Yes";
        QTest::newRow("a proposal that finds nothing says why, to an assistive tool too")
            << "drop:book.pdf;press:propose;press:proposeStart;until:proposeStart;"
               "say:proposeOutcome;press:proposeClose;" +
                   leave
            << 0 << QStringList{"said: No top-level bookmark leads to a page of"} << QStringList{}
            << 0 << 0;
        QTest::newRow("a page-by-page note of a long file keeps its box in reach")
            << "drop:book.pdf;press:propose;set:proposeUnit=KiB;set:proposeSize=0.1;"
               "press:proposeStart;answer:OK;" +
                   leave
            << 0 << QStringList{"box: Propose Split Parameters: Page 1 alone makes a part"}
            << QStringList{"Page 40 alone"} << 0 << 0;
        QTest::newRow("closing a proposal stuck on a page closes, and so does the program")
            << "drop:book.pdf;press:propose;press:proposeAtText;"
               "set:proposePattern=((((.)*)*)*)*\\1z;press:proposeStart;key:Escape@proposeClose;" +
                   leave
            << 0 << QStringList{unsaved} << QStringList{} << 0 << 0;
        QTest::newRow("Load Batch File over unsaved jobs asks; No keeps them")
            << job + "menu:cmd32775;answer:No;report;close" << 0
            << QStringList{"Load a batch file in their place?", "row: book.pdf: Ready."}
            << QStringList{} << 0 << 0;
        QTest::newRow("Clear ALL during a run stops it after the part being written")
            << run + "menu:cmd32786;until:idle;close" << 0 << QStringList{} << QStringList{done}
            << 3 << kPages - 1;
    }
    void scripts() {
        QFETCH(QString, script);
        QFETCH(int, status);
        QFETCH(QStringList, seen);
        QFETCH(QStringList, unseen);
        QFETCH(int, minParts);
        QFETCH(int, maxParts);
        testing_support::CTempDir dir;
        testing_support::WritePdf(dir.File("book.pdf"), {.pages = kPages});
        std::ofstream(dir.File("setup.ini"), std::ios::binary) << "NOSPLASH\r\n";

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path()));
        environment.insert("LD_PRELOAD", BinaryDir() + "/tests/ui/libui_script_agent.so");
        // The agent is preloaded ahead of the sanitizer runtime the program links.
        environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        environment.insert("QS_SCRIPT", script);
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QString::fromStdString(dir.Path()));
        program.start(BinaryDir() + "/ui/quillsever", QStringList{});
        QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
        QVERIFY(program.waitForFinished(240000));
        const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == status, qPrintable(output));
        qsizetype at = 0;
        for (const QString& line : seen) {
            at = output.indexOf(line, at);
            QVERIFY2(at >= 0, qPrintable(line + " missing from:\n" + output));
        }
        for (const QString& line : unseen)
            QVERIFY2(!output.contains(line), qPrintable(output));

        // Whatever stopped the run, every part left is whole and nothing half-written is left.
        int parts = 0;
        if (std::filesystem::exists(dir.File("parts")))
            for (const auto& entry : std::filesystem::directory_iterator(dir.File("parts"))) {
                QVERIFY2(entry.path().extension() == ".pdf", entry.path().c_str());
                QVERIFY2(testing_support::QpdfCheckPasses(entry.path().string()),
                         entry.path().c_str());
                ++parts;
            }
        QVERIFY2(parts >= minParts && parts <= maxParts, qPrintable(QString::number(parts)));
    }
};

QTEST_MAIN(RealWindowTest)
#include "RealWindowTest.moc"
