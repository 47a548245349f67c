#include "ui/preview/PlanPreview.h"
#include "ui/preview/PlanModel.h"
#include "ui/dialogs/SplitParametersDialog.h"
#include "ui/preview/ThumbnailRenderer.h"
#include "ui/preview/ThumbnailStrip.h"

#include "core/AddFile.h"
#include "engine/QpdfAutomation.h"
#include "engine/SplitRun.h"
#include "tests/support/Doubles.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CTempDir;
using ui::CSplitParametersDialog;

namespace {

struct Harness {
    CRecordingPrompter prompter;
    CSplitParametersDialog dialog{prompter, {}};
    core::SetupOptions options;

    Harness(const std::string& source, int32_t pages, const std::string& splitTo = "/out") {
        dialog.SetPlanContext(&options);
        ui::SplitParametersFields& f = dialog.Fields();
        f.fileName = source;
        f.pages = pages;
        f.splitParameters = "1";
        f.splitTo = splitTo;
    }
    QLineEdit* Edit(int id) {
        return dialog.findChild<QLineEdit*>(QStringLiteral("ctl%1").arg(id));
    }
    ui::CPlanPreview& Preview() { return *dialog.Preview(); }
    QString Summary() { return Preview().Summary()->text(); }
    // Types into a field and lets the plan catch up at once rather than after the pause.
    void Type(int id, const QString& text) {
        Edit(id)->clear();
        QTest::keyClicks(Edit(id), text);
        Preview().UpdateNow();
    }
    // Runs `whileOpen` with the dialog up, then cancels it.
    void WhileOpen(const std::function<void()>& whileOpen) {
        QTimer::singleShot(0, [&] {
            whileOpen();
            dialog.reject();
        });
        dialog.Open(true);
    }
};

// The paths a real split run writes for the job the dialog holds, in the order written.
std::vector<std::string> RunSplit(const CSplitParametersDialog& dialog,
                                  const core::SetupOptions& options, std::string* boxes) {
    const core::PlanJob job = dialog.PlanJobFromControls();
    core::CJobList list;
    core::AddFile(list, {},
                  {job.pages, job.source, 1, job.parameters, "", job.splitTo,
                   job.incrementNames ? "Y" : "N", "", "Y", job.fileList, job.incrementStart,
                   job.skip, job.offset});
    core::NullTrace trace;
    engine::CQpdfAutomation automation(trace);
    CRecordingPrompter prompter;
    engine::CNoPump pump;
    testing_support::CFixedClock clock;
    storage::CSplitLog log(clock);
    log.Open();
    engine::CNoConnectionDialog connection;
    std::vector<std::string> written;
    engine::SplitRunServices services{list, automation, prompter, pump,
                                      log,  trace,      options,  connection};
    services.outputWritten = [&](int, int, int, const std::string& path) {
        written.push_back(path);
    };
    engine::CSplitRun run(services);
    run.Press();
    for (const std::string& line : prompter.Lines())
        *boxes += line + "\n";
    return written;
}

} // namespace

class PlanPreviewTest : public QObject {
    Q_OBJECT

  private slots:
    // What the preview lists is what a run writes: same files, same order, for every naming
    // form, skip, offset and the setup options.
    void planIsWhatARunWrites() {
        const struct {
            const char* parameters;
            bool increment;
            const char* fileList;
            int32_t start, skip, offset;
            bool sourceName;
            int32_t width;
        } cases[] = {
            {"1,6-7,9-10", false, "", 0, 0, 0, true, 4},
            {"2s", false, "", 0, 1, 0, true, 4},
            {"odd,even", true, "", 100, 0, 0, true, 4},
            {"5-3n,2", false, "", 0, 0, -1, false, 0},
            {"1-3,1-3", false, "", 0, 0, 10, true, 2},
            {"3s", true, "alpha, beta", 0, 0, 0, true, 4},
            {"4s", true, "filecsv:names.csv,3,1", 0, 0, 0, true, 4},
            {"1-2,9", true, "file:lines.txt", 0, 0, 0, false, 4},
            {"1,2,3", true, "a,b,a", 0, 0, 0, true, 4}, // refused: the run writes nothing
            {"blank", false, "", 0, 0, 0, true, 4},
        };
        for (const auto& c : cases) {
            CTempDir dir(true);
            testing_support::WritePdf(dir.File("Book.pdf"), {.pages = 10});
            dir.Write("names.csv", "x,y,z\r\nq,,r\r\n");
            dir.Write("lines.txt", "first\nsecond\n");
            Harness h(dir.File("Book.pdf"), 10, dir.File("out"));
            h.options.useSourceName = c.sourceName;
            h.options.counterWidth = c.width;
            ui::SplitParametersFields& f = h.dialog.Fields();
            f.splitParameters = c.parameters;
            f.incrementName = c.increment ? "Y" : "N";
            f.fileList = c.fileList;
            f.incrementStart = c.start;
            f.skipPages = c.skip;
            f.pageOffset = c.offset;
            std::vector<std::string> planned;
            bool refused = false;
            h.WhileOpen([&] {
                for (const core::PlannedOutput& output : h.Preview().Plan()->Outputs())
                    planned.push_back(output.path);
                refused = h.Preview().Plan()->Refused();
            });
            std::string boxes;
            const std::vector<std::string> written = RunSplit(h.dialog, h.options, &boxes);
            if (refused) {
                QVERIFY2(written.empty(), c.parameters);
                QVERIFY2(!planned.empty(), "a clash still lists every output");
            } else {
                QCOMPARE(written, planned);
            }
            for (const std::string& path : written)
                QVERIFY2(std::filesystem::exists(path), path.c_str());
            QVERIFY(h.prompter.boxes.empty());
        }
    }

    // A string the check refuses shows the check's words in the summary, and no box.
    void refusedStringsShowTheChecksMessage() {
        Harness h("/in/report.pdf", 10);
        const struct {
            QString typed;
            QString summary;
        } cases[] = {
            {"7-3", "7 is greater than 3"},
            {"5-20", "parameter: 20 higher than pages: 10"},
            {"0", "no valid parameters"},
            {"5n", "Error in split n parameters, should be e.g. 1-2n"},
            {"1-4,7", "2 files, 5 pages covered, 5 pages in no file, 0 ranges overlap"},
        };
        h.WhileOpen([&] {
            for (const auto& c : cases) {
                h.Type(1004, c.typed);
                QCOMPARE(h.Summary(), c.summary);
            }
            // A skip that is no integer is taken as the stored one, and so are the fields after
            // it, as Save & Exit takes them.
            h.Type(1004, "1s");
            h.Type(1013, "ignored");
            h.Type(1029, "100");
            h.Type(1028, "x");
            QCOMPARE(h.Summary(),
                     QStringLiteral("10 files, 10 pages covered, 0 pages in no file, 0 ranges "
                                    "overlap"));
            QCOMPARE(h.Preview().Plan()->Outputs()[0].path,
                     std::string("/out/report_page0001.pdf"));
            h.Type(1009, "");
            QCOMPARE(h.Summary(), QStringLiteral("you must specify an destination directory"));
        });
        QVERIFY(h.prompter.boxes.empty());
    }

    // Folded, the preview takes one line and a summary; the dialog shrinks and still plans.
    void foldingKeepsTheSummary() {
        Harness h("/in/report.pdf", 10);
        h.WhileOpen([&] {
            const int unfolded = h.dialog.height();
            h.Preview().SetExpanded(false);
            QVERIFY(h.dialog.height() < unfolded);
            QVERIFY(!h.Preview().Strip()->isVisible());
            h.Type(1004, "1-5");
            QCOMPARE(
                h.Summary(),
                QStringLiteral("1 file, 5 pages covered, 5 pages in no file, 0 ranges overlap"));
            h.Preview().SetExpanded(true);
            QCOMPARE(h.dialog.height(), unfolded);
        });
    }

    // Typing waits for a pause before the plan follows, so every key is not a full plan.
    void typingIsPlannedAfterAPause() {
        Harness h("/in/report.pdf", 10);
        h.WhileOpen([&] {
            const auto before = h.Preview().Plan();
            h.Edit(1004)->end(false);
            QTest::keyClicks(h.Edit(1004), ",2");
            QCOMPARE(h.Preview().Plan(), before);
            QTRY_VERIFY(h.Preview().Plan() != before);
            QCOMPARE(h.Preview().Plan()->Outputs().size(), size_t{2});
        });
    }

    // Outputs that share a path are marked in the list, with the earlier output named.
    void repeatedPathsAreMarked() {
        Harness h("/in/report.pdf", 10);
        h.WhileOpen([&] {
            h.dialog.findChild<QRadioButton*>(QStringLiteral("ctl1011"))->setChecked(true);
            h.Type(1013, "a,b,a");
            h.Type(1004, "1,2,3,2");
            ui::CPlanModel& model = *h.Preview().Model();
            QCOMPARE(model.rowCount(), 4);
            QCOMPARE(model.Note(0), QString());
            QCOMPARE(model.Note(2), QStringLiteral("as output 1, other pages"));
            QCOMPARE(model.Note(3), QString());
            QVERIFY(model.data(model.index(2, 0), Qt::BackgroundRole).isValid());
            QVERIFY(!model.data(model.index(1, 0), Qt::BackgroundRole).isValid());
            QVERIFY(h.Summary().startsWith(QStringLiteral("Split em' refuses this job")));
            h.dialog.findChild<QRadioButton*>(QStringLiteral("ctl1012"))->setChecked(true);
            h.Preview().UpdateNow();
            QCOMPARE(model.Note(2), QString());
            QCOMPARE(model.Note(3), QStringLiteral("as output 2, written again"));
        });
    }

    // Pages come as pictures framed in their output's colour; click and shift-click (or Space
    // and Shift+Space) append their range to the string.
    void thumbnailsFrameAndPickPages() {
        CTempDir dir;
        testing_support::WritePdf(dir.File("six.pdf"), {.pages = 6});
        Harness h(dir.File("six.pdf"), 6);
        h.dialog.Fields().splitParameters = "2-3";
        h.WhileOpen([&] {
            ui::CThumbnailStrip& strip = *h.Preview().Strip();
            QTRY_VERIFY(strip.PageCount() == 6);
            QTRY_VERIFY(strip.Renderer().Cached(0) && strip.Renderer().Cached(1));
            const QImage shot = strip.viewport()->grab().toImage();
            // Just above the picture, inside its frame (the picture is centred in its box).
            const auto frameAt = [&](int page) {
                const QRect cell = strip.PageRect(page);
                const QRect box(cell.left() + (cell.width() - 78) / 2, cell.top() + 6, 78, 102);
                QRect picture(QPoint(), strip.Renderer().Cached(page - 1)->size());
                picture.moveCenter(box.center());
                return shot.pixelColor(picture.center().x(), picture.top() - 2);
            };
            QCOMPARE(frameAt(2).rgb(), ui::PartColour(0).rgb());
            QCOMPARE(frameAt(3).rgb(), ui::PartColour(0).rgb());
            QVERIFY(frameAt(1).rgb() != ui::PartColour(0).rgb());

            QTest::mouseClick(strip.viewport(), Qt::LeftButton, {}, strip.PageRect(4).center());
            QTest::mouseClick(strip.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              strip.PageRect(5).center());
            QCOMPARE(h.Edit(1004)->text(), QStringLiteral("2-3,4-5"));
            QTest::mouseClick(strip.viewport(), Qt::LeftButton, {}, strip.PageRect(3).center());
            QTest::mouseClick(strip.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              strip.PageRect(1).center());
            QCOMPARE(h.Edit(1004)->text(), QStringLiteral("2-3,4-5,1-3"));
            // A shift-click without a page picked first appends nothing.
            QTest::mouseClick(strip.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              strip.PageRect(2).center());
            QCOMPARE(h.Edit(1004)->text(), QStringLiteral("2-3,4-5,1-3"));
            strip.setCurrentIndex(strip.model()->index(5, 0));
            QTest::keyClick(&strip, Qt::Key_Space);
            QTest::keyClick(&strip, Qt::Key_Left);
            QTest::keyClick(&strip, Qt::Key_Space, Qt::ShiftModifier);
            QCOMPARE(h.Edit(1004)->text(), QStringLiteral("2-3,4-5,1-3,5-6"));
        });

        // Picking an output in the list brings its first page into view.
        CTempDir big;
        testing_support::WritePdf(big.File("long.pdf"), {.pages = 60});
        Harness far(big.File("long.pdf"), 60);
        far.dialog.Fields().splitParameters = "1,50-52";
        far.WhileOpen([&] {
            ui::CThumbnailStrip& strip = *far.Preview().Strip();
            QTRY_VERIFY(strip.PageCount() == 60);
            QVERIFY(!strip.viewport()->rect().contains(strip.PageRect(50).center()));
            QTreeView& list = *far.Preview().List();
            list.setCurrentIndex(list.model()->index(1, 0));
            QVERIFY(strip.viewport()->rect().contains(strip.PageRect(50).center()));
        });
    }

    // A source that cannot be shown gives a placeholder with the reason, and the plan stays.
    void unreadableOrEncryptedSourceShowsAPlaceholder() {
        CTempDir dir;
        testing_support::WritePdf(dir.File("locked.pdf"), {.pages = 3, .userPassword = "pw"});
        testing_support::WriteNotAPdf(dir.File("junk.pdf"));
        testing_support::WriteTruncatedPdf(dir.File("cut.pdf"), 3);
        const struct {
            std::string file;
            QString problem;
        } cases[] = {
            {"locked.pdf", "This file is protected by a password: its pages cannot be shown."},
            {"junk.pdf", "This file cannot be read as a PDF: its pages cannot be shown."},
            {"absent.pdf", "The file cannot be found, so its pages cannot be shown."},
        };
        for (const auto& c : cases) {
            Harness h(dir.File(c.file), 3);
            h.WhileOpen([&] {
                ui::CThumbnailStrip& strip = *h.Preview().Strip();
                QTRY_VERIFY(strip.PageCount() == 0);
                QCOMPARE(strip.Problem(), c.problem);
                QCOMPARE(h.Summary(),
                         QStringLiteral("1 file, 1 page covered, 2 pages in no file, 0 ranges "
                                        "overlap"));
            });
        }
        // The same name opened again after the file was replaced shows the new file.
        Harness later(dir.File("locked.pdf"), 3);
        later.WhileOpen([&] {
            QTRY_VERIFY(later.Preview().Strip()->PageCount() == 0);
            std::filesystem::remove(dir.File("locked.pdf"));
            testing_support::WritePdf(dir.File("locked.pdf"), {.pages = 5});
            later.Preview().UpdateNow();
            QTRY_VERIFY(later.Preview().Strip()->PageCount() == 5);
        });
        // A damaged file either shows its pages or says why; it never hangs the dialog.
        Harness cut(dir.File("cut.pdf"), 3);
        cut.WhileOpen([&] {
            ui::CThumbnailStrip& strip = *cut.Preview().Strip();
            QTRY_VERIFY(strip.PageCount() != -1);
            QVERIFY(strip.PageCount() > 0 || !strip.Problem().isEmpty());
        });
    }
};

QTEST_MAIN(PlanPreviewTest)
#include "PlanPreviewTest.moc"
