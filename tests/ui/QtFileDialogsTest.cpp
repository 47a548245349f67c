#include "ui/desktop/QtFileDialogs.h"

#include "core/AddFile.h"
#include "storage/BatchCommands.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QFileDialog>
#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CTempDir;

namespace {

struct Seen {
    QString title;
    QStringList filters;
    QString selectedFilter;
    QString suffix;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    bool confirmsOverwrite = true;
};

// Answers the next file dialog: notes what it shows, then picks `name` in `folder` (or cancels
// when the name is empty). It also wanders into `elsewhere` first, as a user browsing would.
void AnswerNextFileDialog(Seen* seen, const QString& folder, const QString& name,
                          const QString& elsewhere = {}) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        seen->title = dialog->windowTitle();
        seen->filters = dialog->nameFilters();
        seen->selectedFilter = dialog->selectedNameFilter();
        seen->suffix = dialog->defaultSuffix();
        seen->mode = dialog->acceptMode();
        seen->fileMode = dialog->fileMode();
        seen->confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        if (!elsewhere.isEmpty())
            dialog->setDirectory(elsewhere);
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(folder);
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

const QStringList kBatchFilters{"*.spl (*.spl)", "All Files *.* (*)"};

struct Batch {
    CTempDir dir{true};
    core::CJobList list;
    CRecordingPrompter prompter;
    ui::CQtFileDialogs dialogs;
    std::vector<std::string> titles;
    std::vector<int> counts;
    storage::CBatchCommands commands{
        list, core::AddFileHooks{}, prompter, dialogs,
        storage::CBatchCommands::Hooks{[this](const std::string& t) { titles.push_back(t); },
                                       [this](int n) { counts.push_back(n); }}};

    void AddJob(const std::string& name) {
        core::NewJob job;
        job.pageCount = 3;
        job.fileName = name;
        job.splitParameters = "1s";
        job.splitTo = "/out";
        core::AddFile(list, {}, job);
    }
};

} // namespace

class QtFileDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void FiltersReadAsTheDialogShowsThem();
    void OpenCommandsShowTheirTitlesAndLoad_data();
    void OpenCommandsShowTheirTitlesAndLoad();
    void CancelledLoadLeavesAnEmptyList();
    void SaveAsAddsTheExtensionAndSetsTheCaption();
    void SaveWritesDefaultSplWithoutADialog();
};

void QtFileDialogsTest::FiltersReadAsTheDialogShowsThem() {
    QCOMPARE(ui::NameFilters({{"*.spl", "*.spl"}, {"All Files *.*", "*.*"}}), kBatchFilters);
    QCOMPARE(ui::NameFilters({}), QStringList{});
}

void QtFileDialogsTest::OpenCommandsShowTheirTitlesAndLoad_data() {
    QTest::addColumn<bool>("append");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("jobs");
    QTest::newRow("Load Batch File") << false << "Open Split Batch File" << 2;
    QTest::newRow("Append Batch File") << true << "Open Job File" << 3;
}

void QtFileDialogsTest::OpenCommandsShowTheirTitlesAndLoad() {
    QFETCH(bool, append);
    QFETCH(QString, title);
    QFETCH(int, jobs);
    Batch b;
    b.AddJob("/in/old.pdf");
    std::filesystem::create_directory(b.dir.File("jobs"));
    std::filesystem::create_directory(b.dir.File("other"));
    b.dir.Write("jobs/monthly.spl", "/in/a.pdf; 1s; 3; ; ; /out; ; ; ; ; 0; 0; 0\r\r\n"
                                    "~/in/b.pdf; 2s; 4; ; ; /out; ; ; ; ; 0; 0; 0\r\r\n");
    Seen seen;
    AnswerNextFileDialog(&seen, QString::fromStdString(b.dir.File("jobs")), "monthly.spl",
                         QString::fromStdString(b.dir.File("other")));
    QVERIFY(append ? b.commands.Append() : b.commands.Load());
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.filters, kBatchFilters);
    QCOMPARE(seen.selectedFilter, kBatchFilters.front());
    QCOMPARE(seen.mode, QFileDialog::AcceptOpen);
    QCOMPARE(seen.fileMode, QFileDialog::ExistingFile);
    QCOMPARE(b.list.Count(), jobs);
    QCOMPARE(b.list.Text(jobs - 1, core::kColSelected), std::string("No"));
    const std::string path = b.dir.File("jobs/monthly.spl");
    QCOMPARE(b.titles.back(), "Quillsever  [" + path + "]");
    QCOMPARE(b.counts.back(), jobs);
    // Browsing elsewhere in the dialog does not move the program's relative files.
    QCOMPARE(std::filesystem::current_path().string(), b.dir.Path());
}

void QtFileDialogsTest::CancelledLoadLeavesAnEmptyList() {
    Batch b;
    b.AddJob("/in/old.pdf");
    Seen seen;
    AnswerNextFileDialog(&seen, {}, {});
    QVERIFY(!b.commands.Load());
    QCOMPARE(b.list.Count(), 0);
    QCOMPARE(b.counts, std::vector<int>{0});
    QVERIFY(b.titles.empty());
}

void QtFileDialogsTest::SaveAsAddsTheExtensionAndSetsTheCaption() {
    Batch b;
    b.AddJob("/in/a.pdf");
    std::filesystem::create_directory(b.dir.File("jobs"));
    b.dir.Write("jobs/weekly.spl", "old");
    Seen seen;
    AnswerNextFileDialog(&seen, QString::fromStdString(b.dir.File("jobs")), "weekly");
    b.commands.SaveAs();
    QCOMPARE(seen.title, QStringLiteral("Save Split Parameters File"));
    QCOMPARE(seen.filters, kBatchFilters);
    QCOMPARE(seen.mode, QFileDialog::AcceptSave);
    QCOMPARE(seen.suffix, QStringLiteral("spl"));
    QVERIFY(!seen.confirmsOverwrite);
    const std::string path = b.dir.File("jobs/weekly.spl");
    QCOMPARE(b.commands.BatchName(), path);
    QCOMPARE(b.titles.back(), "Quillsever  [" + path + "]");
    QCOMPARE(b.prompter.Lines(), std::vector<std::string>{"Split Parameters Saved OK: " + path});
    QVERIFY(b.dir.Read("jobs/weekly.spl").starts_with("/in/a.pdf; 1s; 3; Ready.; "));
}

void QtFileDialogsTest::SaveWritesDefaultSplWithoutADialog() {
    Batch b;
    b.AddJob("/in/a.pdf");
    b.commands.Save();
    QCOMPARE(b.titles, std::vector<std::string>{"Quillsever  [default.spl]"});
    QVERIFY(std::filesystem::exists(b.dir.File("default.spl")));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

QTEST_MAIN(QtFileDialogsTest)
#include "QtFileDialogsTest.moc"
