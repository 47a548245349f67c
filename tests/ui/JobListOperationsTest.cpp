// The job list commands on a list, with the dialog replaced by a script: drops and the
// parameter prompt, update, the toggle, moves, deletion, sorting and recounting.

#include "ui/window/JobListOperations.h"

#include "core/AddFile.h"
#include "core/Trace.h"
#include "engine/PageCounter.h"
#include "engine/QpdfAutomation.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowTestSupport.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

using testing_support::CRecordingPrompter;
using testing_support::CScriptedParameterDialog;
using testing_support::CTempDir;

namespace {

// A list with its operations; pages are "counted" as 5 unless a test counts for real.
struct Fixture {
    core::CJobList list;
    CRecordingPrompter prompter;
    CScriptedParameterDialog dialog;
    core::SetupOptions options;
    int itemCountShown = -1;
    std::vector<bool> checkMarks;
    ui::CJobListOperations ops{Services()};

    ui::CJobListOperations::Services Services() {
        ui::CJobListOperations::Services s{list, prompter, dialog, options};
        s.countPages = [](const std::string&, int) { return 5; };
        s.showItemCount = [this] { itemCountShown = list.Count(); };
        s.showAlwaysShow = [this](bool on) { checkMarks.push_back(on); };
        return s;
    }

    // Rows "a".."e" (or the given names) with their parameters given, so no dialog opens.
    void AddRows(const std::vector<std::string>& names) {
        for (const auto& name : names) {
            core::NewJob job;
            job.fileName = "/in/" + name + ".pdf";
            job.pageCount = 3;
            job.splitParameters = "1";
            core::AddFile(list, ops.Hooks(), job);
        }
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        for (int i = 0; i < list.Count(); ++i)
            texts.push_back(list.Text(i, column));
        return texts;
    }
    std::vector<int> Highlighted() const {
        std::vector<int> rows;
        for (int i = 0; i < list.Count(); ++i)
            if (list.Row(i).highlighted)
                rows.push_back(i);
        return rows;
    }
};

using Names = std::vector<std::string>;
using Rows = std::vector<int>;

} // namespace

Q_DECLARE_METATYPE(Names)
Q_DECLARE_METATYPE(Rows)

class JobListOperationsTest : public QObject {
    Q_OBJECT

  private slots:
    void dropsOpenTheDialogInDropOrder() {
        CTempDir dir;
        const std::string a = dir.Write("a.pdf", "x"), b = dir.Write("b.pdf", "x"),
                          c = dir.Write("c.PDF", "x");
        dir.Write("notes.txt", "x");
        std::filesystem::create_directory(dir.File("folder.pdf"));
        Fixture f;
        f.ops.SetAlwaysShow(true);
        f.dialog.replies = {{1, [](auto& d) { d.splitParameters = "1-2"; }}, {0}, {1}};
        f.ops.DropFiles(
            {a, dir.File("folder.pdf"), b, dir.File("notes.txt"), dir.File("missing.pdf"), c});

        QCOMPARE(f.dialog.openings.size(), size_t{3});
        QCOMPARE(f.dialog.openings[0].fileName, a);
        QCOMPARE(f.dialog.openings[1].fileName, b);
        QCOMPARE(f.dialog.openings[2].fileName, c);
        QVERIFY(f.dialog.openings[0].alwaysShow);
        QCOMPARE(f.dialog.openings[1].pages, 5);
        // The cancelled second job keeps an empty string; the third takes the kept fields.
        QCOMPARE(f.Column(core::kColSplitParameters), (Names{"1-2", "", "1-2"}));
        QCOMPARE(f.itemCountShown, 3);
    }

    void aLongPathIsTakenWhole() {
        CTempDir dir;
        std::string folder = dir.Path();
        while (folder.size() < 400)
            folder += "/" + std::string(60, 'd');
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/long.pdf";
        std::ofstream(path) << "x";
        Fixture f;
        f.ops.DropFiles({path});
        QCOMPARE(f.list.Count(), 1);
        QCOMPARE(f.list.Text(0, core::kColFilename), path);
    }

    void withTheFlagClearTheDialogIsAskedToAcceptByItself() {
        Fixture f;
        f.ops.SetAlwaysShow(false);
        f.dialog.replies = {{1}};
        f.options.defaultSplitToSource = true;
        f.dialog.fields.splitTo = "/elsewhere";
        f.AddRows({});
        core::NewJob job;
        job.fileName = "/data/in/report.pdf";
        core::AddFile(f.list, f.ops.Hooks(), job);
        QCOMPARE(f.dialog.openings.size(), size_t{1});
        QVERIFY(!f.dialog.openings[0].alwaysShow);
        // The default-split option puts the job's outputs beside its source.
        QCOMPARE(f.dialog.openings[0].fields.splitTo, std::string("/data/in"));
        QCOMPARE(f.list.Text(0, core::kColSplitTo), std::string("/data/in"));
    }

    void acceptedFieldsAreWrittenIntoTheRow() {
        Fixture f;
        f.dialog.replies = {{1, [](auto& d) {
                                 d.splitParameters = "odd";
                                 d.moveTo = "/done";
                                 d.splitTo = "/out";
                                 d.incrementName = "Y";
                                 d.usePagesName = "N";
                                 d.keepBookmarks = "N";
                                 d.fileList = "a,b";
                                 d.incrementStart = 7;
                                 d.skipPages = 2;
                                 d.pageOffset = -3;
                             }}};
        core::NewJob job;
        job.fileName = "/in/x.pdf";
        core::AddFile(f.list, f.ops.Hooks(), job);
        const Names expected{"Yes", "/in/x.pdf", "odd", "5",   "Ready.", "/done", "/out",
                             "Y",   "N",         "N",   "a,b", "7",      "2",     "-3"};
        Names row;
        for (int c = 0; c < core::kColumnCount; ++c)
            row.push_back(f.list.Text(0, c));
        QCOMPARE(row, expected);
    }

    void useSameParametersClearsTheFlagAndItsCheckMark() {
        Fixture f;
        f.ops.SetAlwaysShow(true);
        f.checkMarks.clear();
        f.dialog.replies = {{1, [](auto& d) { d.useSame = true; }}};
        core::NewJob job;
        job.fileName = "/in/x.pdf";
        core::AddFile(f.list, f.ops.Hooks(), job);
        QVERIFY(!f.ops.AlwaysShow());
        QCOMPARE(f.checkMarks, (std::vector<bool>{false}));
    }

    void updateItemShowsTheDialogEvenWithTheFlagClear() {
        Fixture f;
        f.AddRows({"a", "b"});
        f.list.SetText(1, core::kColSkipPages, "4");
        f.list.SetText(1, core::kColPages, "12");
        f.ops.SetAlwaysShow(false);
        f.list.SetHighlight(1, true);
        f.dialog.replies = {{1, [](auto& d) { d.splitParameters = "2-3"; }}};
        f.ops.UpdateSelection();
        QCOMPARE(f.dialog.openings.size(), size_t{1});
        QVERIFY(f.dialog.openings[0].alwaysShow);
        QCOMPARE(f.dialog.openings[0].fileName, std::string("/in/b.pdf"));
        QCOMPARE(f.dialog.openings[0].fields.skipPages, 4);
        QCOMPARE(f.dialog.openings[0].pages, 12);
        QVERIFY(!f.ops.AlwaysShow());
        QCOMPARE(f.Column(core::kColSplitParameters), (Names{"1", "2-3"}));
    }

    void updateOrDeleteWithoutAHighlightSaysSo() {
        Fixture f;
        f.AddRows({"a"});
        f.ops.UpdateItem();
        f.ops.DeleteSelection();
        QCOMPARE(f.prompter.Lines(),
                 (Names{": Please select item first", ": Please select item first"}));
        QCOMPARE(f.list.Count(), 1);
        QCOMPARE(f.itemCountShown, 1);
        QVERIFY(f.dialog.openings.empty());
    }

    void cancelledUpdateChangesNothing() {
        Fixture f;
        f.AddRows({"a"});
        f.list.SetHighlight(0, true);
        f.dialog.replies = {{0, [](auto& d) { d.splitParameters = "9"; }}};
        f.ops.UpdateItem();
        QCOMPARE(f.list.Text(0, core::kColSplitParameters), std::string("1"));
    }

    void moves_data() {
        QTest::addColumn<bool>("down");
        QTest::addColumn<Rows>("highlighted");
        QTest::addColumn<Names>("order");
        QTest::addColumn<Rows>("highlightedAfter");
        QTest::newRow("up on the top row")
            << false << Rows{0} << Names{"a", "b", "c", "d", "e"} << Rows{};
        QTest::newRow("up on the third of five")
            << false << Rows{2} << Names{"a", "c", "b", "d", "e"} << Rows{1};
        QTest::newRow("down on the last row")
            << true << Rows{4} << Names{"a", "b", "c", "d", "e"} << Rows{};
        QTest::newRow("down moves only the first highlighted")
            << true << Rows{1, 3} << Names{"a", "c", "b", "d", "e"} << Rows{2};
        QTest::newRow("nothing highlighted")
            << false << Rows{} << Names{"a", "b", "c", "d", "e"} << Rows{};
    }
    void moves() {
        QFETCH(bool, down);
        QFETCH(Rows, highlighted);
        QFETCH(Names, order);
        QFETCH(Rows, highlightedAfter);
        Fixture f;
        f.AddRows({"a", "b", "c", "d", "e"});
        for (int i = 0; i < 5; ++i)
            f.list.SetText(i, core::kColSkipPages, std::to_string(i));
        for (int row : highlighted)
            f.list.SetHighlight(row, true);
        down ? f.ops.MoveDown() : f.ops.MoveUp();
        Names names;
        for (int i = 0; i < f.list.Count(); ++i) {
            names.push_back(f.list.Text(i, core::kColFilename).substr(4, 1));
            // The whole row travels: its other cells went with its name.
            QCOMPARE(f.list.Text(i, core::kColSkipPages),
                     std::to_string(f.list.Text(i, core::kColFilename)[4] - 'a'));
        }
        QCOMPARE(names, order);
        QCOMPARE(f.Highlighted(), highlightedAfter);
    }

    void deleteRemovesExactlyTheHighlightedRows() {
        Fixture f;
        f.AddRows({"a", "b", "c", "d", "e"});
        for (int row : {0, 2, 3})
            f.list.SetHighlight(row, true);
        f.ops.DeleteSelection();
        QCOMPARE(f.Column(core::kColFilename), (Names{"/in/b.pdf", "/in/e.pdf"}));
        QCOMPARE(f.itemCountShown, 2);
        QVERIFY(f.prompter.boxes.empty());
    }

    void clearAllEmptiesTheList() {
        Fixture f;
        f.AddRows({"a", "b"});
        f.ops.ClearAll();
        QCOMPARE(f.list.Count(), 0);
        QCOMPARE(f.itemCountShown, 0);
    }

    void sorts_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<Names>("values");
        QTest::addColumn<Names>("sorted");
        QTest::newRow("pages compare as text")
            << int(core::kColPages) << Names{"9", "10", "100", "2"} << Names{"10", "100", "2", "9"};
        QTest::newRow("capital Z before small a")
            << int(core::kColFilename) << Names{"/in/alpha.pdf", "/in/Zeta.pdf", "/in/beta.pdf"}
            << Names{"/in/Zeta.pdf", "/in/alpha.pdf", "/in/beta.pdf"};
        QTest::newRow("bytes, not letters")
            << int(core::kColSplitParameters) << Names{"\xc3\xa9", "z", "A"}
            << Names{"A", "z", "\xc3\xa9"};
    }
    void sorts() {
        QFETCH(int, column);
        QFETCH(Names, values);
        QFETCH(Names, sorted);
        Fixture f;
        f.AddRows(Names(values.size(), "x"));
        for (int i = 0; i < f.list.Count(); ++i) {
            f.list.SetText(i, column, values[static_cast<size_t>(i)]);
            f.list.SetText(i, core::kColFileList, values[static_cast<size_t>(i)]);
        }
        f.ops.Sort(column);
        QCOMPARE(f.Column(column), sorted);
        // Rows moved whole, and a second click sorts ascending again.
        QCOMPARE(f.Column(core::kColFileList), sorted);
        f.ops.Sort(column);
        QCOMPARE(f.Column(column), sorted);
    }

    void doubleClickTogglesSelected() {
        Fixture f;
        f.AddRows({"a", "b"});
        f.list.SetText(1, core::kColSelected, "No");
        f.ops.ToggleSelected(); // nothing highlighted: nothing happens
        QCOMPARE(f.Column(core::kColSelected), (Names{"Yes", "No"}));
        f.list.SetHighlight(1, true);
        f.ops.ToggleSelected();
        QCOMPARE(f.list.Text(1, core::kColSelected), std::string("Yes"));
        QCOMPARE(f.list.Text(1, core::kColStatus), std::string("Ready."));
        f.ops.ToggleSelected();
        QCOMPARE(f.list.Text(1, core::kColSelected), std::string("No"));
        QCOMPARE(f.list.Text(1, core::kColStatus), std::string(""));
    }

    void refreshRecountsEveryRow() {
        CTempDir dir;
        const std::string kept = dir.File("kept.pdf"), gone = dir.File("gone.pdf");
        testing_support::WritePdf(kept, {.pages = 3});
        testing_support::WritePdf(gone, {.pages = 4});
        core::NullTrace trace;
        engine::CQpdfAutomation automation(trace);
        engine::CNoPump pump;
        engine::CNoConnectionDialog connection;
        Fixture f;
        engine::CPageCounter counter(automation, f.prompter, pump, connection, &f.list);
        ui::CJobListOperations::Services s = f.Services();
        s.countPages = [&](const std::string& path, int row) { return counter.Count(path, row); };
        ui::CJobListOperations ops(s);
        for (const std::string& name : {kept, gone}) {
            core::NewJob job;
            job.fileName = name;
            job.pageCount = 1;
            job.splitParameters = "1";
            core::AddFile(f.list, ops.Hooks(), job);
        }
        std::filesystem::remove(gone);
        // A name without ".pdf" is never added; a row holding one is made by hand here.
        f.list.InsertRow(2, "Yes", -1);
        f.list.SetText(2, core::kColFilename, "/in/notes.txt");
        ops.RefreshPageCounts();
        QCOMPARE(f.Column(core::kColPages), (Names{"3", "-1", "Unknown"}));
        QCOMPARE(f.Column(core::kColStatus), (Names{"Ready", "No File.", "Ready"}));
        QCOMPARE(f.Column(core::kColSelected), (Names{"Yes", "No", "Yes"}));
        QVERIFY(f.prompter.boxes.empty());
    }
};

QTEST_MAIN(JobListOperationsTest)
#include "JobListOperationsTest.moc"
