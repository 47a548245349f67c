#include "ui/desktop/QtFileDialogs.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/LogViewerDialog.h"
#include "ui/dialogs/LogViewerModel.h"

#include "storage/CsvExport.h"
#include "storage/SplitLog.h"
#include "tests/support/Doubles.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CRecordingShell;
using testing_support::CTempDir;

namespace {

const std::string kTime = "2006-03-07 14:05:09";

std::string Line(long long size, const std::string& output, const std::string& source) {
    return storage::LogLine(kTime, size, output, kTime, kTime, source);
}

// Column 1 of every row, without the padding.
QStringList Sizes(const ui::CLogViewerModel& model) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.index(r, 1).data().toString().trimmed();
    return out;
}

// Answers the next file dialog with a name in `folder` (typed as given) after noting what it
// showed.
struct DialogAnswer {
    QString title;
    QStringList filters;
    QString selectedFilter;
    QString suffix;
};
void AnswerNextFileDialog(DialogAnswer* seen, const QString& folder, const QString& name) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        seen->title = dialog->windowTitle();
        seen->filters = dialog->nameFilters();
        seen->selectedFilter = dialog->selectedNameFilter();
        seen->suffix = dialog->defaultSuffix();
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(folder);
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

} // namespace

class LogViewerTest : public QObject {
    Q_OBJECT
  private slots:
    void ShowsTheLinesInFileOrder();
    void HeaderClickSortsAscendingAsText_data();
    void HeaderClickSortsAscendingAsText();
    void SelectionMovesWithItsRow();
    void ClearEmptiesTheListOnly();
    void UnreadableLogIsReported();
    void DialogLooksAsDesigned();
    void EscapeAndCloseEndTheDialog();
    void CsvExportWritesAndAsks_data();
    void CsvExportWritesAndAsks();
};

void LogViewerTest::ShowsTheLinesInFileOrder() {
    CTempDir dir;
    const std::string log =
        dir.Write("split.log", Line(300, "/out/a_page0001.pdf", "/in/a.pdf") +
                                   Line(20, "/out/a_page0002.pdf", "/in/a.pdf"));
    CRecordingPrompter prompter;
    ui::CLogViewerDialog dialog(log, prompter);
    const ui::CLogViewerModel& model = dialog.Model();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 6);
    // Cells keep the written padding and carry one more space.
    QCOMPARE(model.index(0, 0).data().toString(), QString::fromStdString(kTime + "    "));
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("300      "));
    QCOMPARE(model.index(1, 2).data().toString(),
             QString::fromStdString("/out/a_page0002.pdf" + std::string(80 - 19, ' ') + " "));
    QCOMPARE(model.index(1, 5).data().toString().trimmed(), QStringLiteral("/in/a.pdf"));
    QVERIFY(prompter.boxes.empty());
}

void LogViewerTest::HeaderClickSortsAscendingAsText_data() {
    QTest::addColumn<int>("clicks");
    QTest::newRow("one click") << 1;
    QTest::newRow("two clicks stay ascending") << 2;
}

void LogViewerTest::HeaderClickSortsAscendingAsText() {
    QFETCH(int, clicks);
    CTempDir dir;
    const std::string log = dir.Write("split.log", Line(2000, "/o/b.pdf", "/i/x.pdf") +
                                                       Line(30, "/o/c.pdf", "/i/x.pdf") +
                                                       Line(100, "/o/a.pdf", "/i/x.pdf"));
    CRecordingPrompter prompter;
    ui::CLogViewerDialog dialog(log, prompter);
    dialog.show();
    QHeaderView* header = dialog.View().horizontalHeader();
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    // Sizes sort as texts: "100" before "2000" before "30".
    QCOMPARE(Sizes(dialog.Model()), (QStringList{"100", "2000", "30"}));
    QCOMPARE(dialog.Model().index(0, 2).data().toString().trimmed(), QStringLiteral("/o/a.pdf"));
    dialog.Model().SortByColumn(2);
    QCOMPARE(Sizes(dialog.Model()), (QStringList{"100", "2000", "30"}));
}

void LogViewerTest::SelectionMovesWithItsRow() {
    CTempDir dir;
    const std::string log =
        dir.Write("split.log", Line(3, "/o/c.pdf", "/i/x.pdf") + Line(1, "/o/a.pdf", "/i/x.pdf") +
                                   Line(2, "/o/b.pdf", "/i/x.pdf"));
    CRecordingPrompter prompter;
    ui::CLogViewerDialog dialog(log, prompter);
    dialog.View().selectRow(0); // "/o/c.pdf"
    dialog.Model().SortByColumn(2);
    const QModelIndexList selected = dialog.View().selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.front().row(), 2);
    QCOMPARE(dialog.Model().index(2, 2).data().toString().trimmed(), QStringLiteral("/o/c.pdf"));
}

void LogViewerTest::ClearEmptiesTheListOnly() {
    CTempDir dir;
    const std::string content = Line(3, "/o/c.pdf", "/i/x.pdf") + Line(1, "/o/a.pdf", "/i/x.pdf");
    const std::string log = dir.Write("split.log", content);
    CRecordingPrompter prompter;
    {
        ui::CLogViewerDialog dialog(log, prompter);
        dialog.show();
        QTest::mouseClick(dialog.findChild<QPushButton*>("clearButton"), Qt::LeftButton);
        QCOMPARE(dialog.Model().rowCount(), 0);
        QVERIFY(dialog.isVisible());
    }
    QCOMPARE(dir.Read("split.log"), content);
    ui::CLogViewerDialog reopened(log, prompter);
    QCOMPARE(reopened.Model().rowCount(), 2);
}

void LogViewerTest::UnreadableLogIsReported() {
    CTempDir dir;
    CRecordingPrompter prompter;
    ui::CLogViewerDialog dialog(dir.File("split.log"), prompter);
    QCOMPARE(prompter.Lines(), std::vector<std::string>{"Log File Error: Can't open split.log"});
    QCOMPARE(dialog.Model().rowCount(), 0);
    QCOMPARE(dialog.Model().columnCount(), 6);
}

void LogViewerTest::DialogLooksAsDesigned() {
    CTempDir dir;
    CRecordingPrompter prompter;
    ui::CLogViewerDialog dialog(dir.Write("split.log", ""), prompter);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("View Split Log"));
    QCOMPARE(dialog.objectName(), QStringLiteral("dlg150"));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    const QFontMetrics metrics(dialog.View().font());
    QCOMPARE(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));
    const QStringList headers{"Date/Time",     "File Size",     "Append File",
                              "Creation Time", "Modified Time", "Source File"};
    // It opens at its designed size; made larger, the paths get the room.
    dialog.show();
    QCOMPARE(dialog.size(), ui::DialogUnitsToPixels(dialog.font(), QRect(0, 0, 435, 180)).size());
    QHeaderView* header = dialog.View().horizontalHeader();
    const int path = header->sectionSize(2);
    dialog.resize(dialog.size() + QSize(400, 200));
    QTRY_COMPARE(header->sectionSize(2), path + 200);
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(dialog.Model().headerData(c, Qt::Horizontal).toString(), headers[c]);
        QVERIFY(header->sectionSize(c) >
                metrics.horizontalAdvance(c == 1 ? "123456789" : "2006-03-07 14:05:09"));
    }
    QVERIFY(dialog.View().horizontalHeader()->sectionsMovable());
    QVERIFY(dialog.View().showGrid());
    QCOMPARE(dialog.View().selectionBehavior(), QAbstractItemView::SelectRows);
    auto* close = dialog.findChild<QPushButton*>("closeButton");
    QCOMPARE(close->text(), QStringLiteral("&Close"));
    QVERIFY(close->isDefault());
    QCOMPARE(dialog.findChild<QPushButton*>("clearButton")->text(), QStringLiteral("Clear"));
    QCOMPARE(dialog.View().accessibleName(), QStringLiteral("Split log"));
}

void LogViewerTest::EscapeAndCloseEndTheDialog() {
    CTempDir dir;
    CRecordingPrompter prompter;
    const std::string log = dir.Write("split.log", Line(1, "/o/a.pdf", "/i/a.pdf"));
    ui::CLogViewerDialog byEscape(log, prompter);
    byEscape.show();
    QTest::keyClick(&byEscape.View(), Qt::Key_Escape);
    QVERIFY(!byEscape.isVisible());
    QCOMPARE(byEscape.result(), int(QDialog::Rejected));
    ui::CLogViewerDialog byEnter(log, prompter);
    byEnter.show();
    byEnter.View().setFocus();
    QTest::keyClick(&byEnter.View(), Qt::Key_Return);
    QVERIFY(!byEnter.isVisible());
    QCOMPARE(byEnter.result(), int(QDialog::Accepted));
}

void LogViewerTest::CsvExportWritesAndAsks_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("written");
    QTest::newRow("name without extension, Yes") << "export" << true << "export.csv";
    QTest::newRow("name with extension, No") << "log.csv" << false << "log.csv";
    QTest::newRow("cancelled") << "" << false << "";
}

void LogViewerTest::CsvExportWritesAndAsks() {
    QFETCH(QString, typed);
    QFETCH(bool, yes);
    QFETCH(QString, written);
    CTempDir dir(true);
    dir.Write("split.log", Line(12345, "/o/a.pdf", "/i/a.pdf"));
    std::filesystem::create_directory(dir.File("out"));
    CRecordingPrompter prompter;
    prompter.answers.push_back(yes ? core::Answer::Yes : core::Answer::No);
    CRecordingShell shell;
    ui::CQtFileDialogs dialogs;
    DialogAnswer seen;
    AnswerNextFileDialog(&seen, QString::fromStdString(dir.File("out")), typed);
    const bool exported = storage::ExportLogToCsv("split.log", dialogs, prompter, shell);
    QCOMPARE(seen.title, QStringLiteral("Export Log to CSV file"));
    QCOMPARE(seen.filters, (QStringList{"*.csv (*.csv)", "All Files *.* (*)"}));
    QCOMPARE(seen.selectedFilter, QStringLiteral("*.csv (*.csv)"));
    QCOMPARE(seen.suffix, QStringLiteral("csv"));
    // The dialog leaves the working directory where split.log is.
    QCOMPARE(std::filesystem::current_path().string(), dir.Path());
    if (written.isEmpty()) {
        QVERIFY(!exported);
        QVERIFY(prompter.boxes.empty());
        QVERIFY(std::filesystem::is_empty(dir.File("out")));
        return;
    }
    QVERIFY(exported);
    const std::string target = dir.File("out/" + written.toStdString());
    QCOMPARE(dir.Read("out/" + written.toStdString()),
             "Time,Bytes,Append File,Created Time,Modified Time,Source File\r\n" +
                 storage::CsvLine(storage::ParseLogLine(
                     std::string_view(Line(12345, "/o/a.pdf", "/i/a.pdf")).substr(0, 240))));
    QCOMPARE(prompter.Lines(),
             std::vector<std::string>{"Open File: Do you want to open file now in excel ?"});
    QCOMPARE(shell.opened, yes ? std::vector<std::string>{target} : std::vector<std::string>{});
}

QTEST_MAIN(LogViewerTest)
#include "LogViewerTest.moc"
