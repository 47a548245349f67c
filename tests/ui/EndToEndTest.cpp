// The real window, offscreen, as a person uses it: two PDFs dropped on it, the Split
// Parameters dialog filled for each, "Split em'" pressed; then the parts on disk, their lines
// in split.log and the rows' statuses.

#include "ui/window/MainWindow.h"

#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowTestSupport.h"

#include <QAction>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <sstream>

class EndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void dropFillSplit() {
        testing_support::CTempDir dir(true);
        const std::string a = dir.File("alpha.pdf"), b = dir.File("beta.pdf");
        testing_support::WritePdf(a, {.pages = 4});
        testing_support::WritePdf(b, {.pages = 3});
        const std::string out = dir.File("parts");

        testing_support::CRecordingPrompter prompter;
        ui::MainWindowSetup setup;
        setup.prompter = &prompter;
        setup.allowSplash = false;
        ui::CMainWindow window(std::move(setup));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QStringList shownFor;
        testing_support::CModalDriver fill([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("dlg129") || !modal->isVisible())
                return false;
            shownFor << modal->findChild<QLineEdit*>(QStringLiteral("ctl1005"))->text();
            modal->findChild<QLineEdit*>(QStringLiteral("ctl1004"))->setText("1-2,3");
            modal->findChild<QLineEdit*>(QStringLiteral("ctl1009"))
                ->setText(QString::fromStdString(out));
            modal->findChild<QPushButton*>(QStringLiteral("ctl1006"))->click();
            return true;
        });

        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(a)),
                       QUrl::fromLocalFile(QString::fromStdString(b))});
        const QPointF at = window.Table()->geometry().center();
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &drop);
        QTRY_COMPARE(window.List().Count(), 2);
        QTRY_COMPARE(fill.handled, 2);
        QCOMPARE(shownFor, (QStringList{QString::fromStdString(a), QString::fromStdString(b)}));
        QCOMPARE(window.ItemCountBox()->text(), QStringLiteral("2"));
        QCOMPARE(window.List().Text(0, core::kColPages), std::string("4"));
        QCOMPARE(window.List().Text(1, core::kColSplitParameters), std::string("1-2,3"));

        window.SplitButton()->click();
        QCOMPARE(prompter.Lines().back(), std::string("Quillsever: Done."));

        const std::vector<std::pair<std::string, std::vector<int>>> parts{
            {out + "/alpha_pages0001-0002.pdf", {1, 2}},
            {out + "/alpha_page0003.pdf", {3}},
            {out + "/beta_pages0001-0002.pdf", {1, 2}},
            {out + "/beta_page0003.pdf", {3}}};
        for (const auto& [path, pages] : parts) {
            QVERIFY2(std::filesystem::exists(path), path.c_str());
            QCOMPARE(testing_support::PageMarkers(path), pages);
        }
        std::ifstream logFile(dir.File("split.log"), std::ios::binary);
        std::stringstream log;
        log << logFile.rdbuf();
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);)
            lines.push_back(line);
        QCOMPARE(lines.size(), parts.size());
        for (size_t i = 0; i < parts.size(); ++i) {
            QVERIFY2(lines[i].find(parts[i].first) != std::string::npos, lines[i].c_str());
            QVERIFY(lines[i].find(i < 2 ? dir.File("alpha") : dir.File("beta")) !=
                    std::string::npos);
        }
        QCOMPARE(window.List().Text(0, core::kColStatus), std::string("Done"));
        QCOMPARE(window.List().Text(1, core::kColStatus), std::string("Done"));
        QCOMPARE(window.SplitButton()->text(), QStringLiteral("Split em'"));
        delete data;
    }

    // With "Always show parameters box for each file" off, the next file takes the previous
    // file's parameters without the dialog waiting for anyone.
    void withTheFlagOffTheNextFileIsAcceptedSilently() {
        testing_support::CTempDir dir(true);
        const std::string a = dir.File("a.pdf"), b = dir.File("b.pdf");
        testing_support::WritePdf(a, {.pages = 4});
        testing_support::WritePdf(b, {.pages = 4});
        testing_support::CRecordingPrompter prompter;
        ui::MainWindowSetup setup;
        setup.prompter = &prompter;
        setup.allowSplash = false;
        setup.startWatchdog = false;
        ui::CMainWindow window(std::move(setup));
        testing_support::CModalDriver fill([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("dlg129") || !modal->isVisible())
                return false;
            modal->findChild<QLineEdit*>(QStringLiteral("ctl1004"))->setText("2-3");
            modal->findChild<QLineEdit*>(QStringLiteral("ctl1009"))
                ->setText(QString::fromStdString(dir.File("out")));
            modal->findChild<QPushButton*>(QStringLiteral("ctl1006"))->click();
            return true;
        });
        window.DropPaths({a});
        QCOMPARE(fill.handled, 1);
        window.Action(32802)->trigger();
        QVERIFY(!window.Action(32802)->isChecked());
        window.DropPaths({b});
        QCOMPARE(fill.handled, 1);
        QCOMPARE(window.List().Text(1, core::kColSplitParameters), std::string("2-3"));
        QCOMPARE(window.List().Text(1, core::kColSplitTo), dir.File("out"));
        QVERIFY(prompter.boxes.empty());
    }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
