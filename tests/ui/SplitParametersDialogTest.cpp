#include "ui/dialogs/SplitParametersDialog.h"
#include "ui/dialogs/DialogUnits.h"

#include "tests/support/RecordingPrompter.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <optional>

using testing_support::CRecordingPrompter;
using ui::CSplitParametersDialog;
using ui::SplitParametersFields;

namespace {

// One dialog object with a recording prompter and a folder chooser answering from a script.
struct Harness {
    CRecordingPrompter prompter;
    int helpCalls = 0;
    CSplitParametersDialog dialog{prompter, [this] { ++helpCalls; }};
    std::vector<std::string> chooserCalls; // "title|prompt|initial"
    std::optional<std::string> chooserAnswer;
    bool wasShown = false;

    Harness() {
        dialog.SetFolderChooser([this](const std::string& title, const std::string& prompt,
                                       const std::string& initial) {
            chooserCalls.push_back(title + "|" + prompt + "|" + initial);
            return chooserAnswer;
        });
        // Fields that pass the check for a ten-page file.
        SplitParametersFields& f = dialog.Fields();
        f.fileName = "/in/report.pdf";
        f.pages = 10;
        f.splitParameters = "1-3";
        f.splitTo = "/out";
    }

    template <typename T = QLineEdit> T* Ctl(int id) {
        T* widget = dialog.findChild<T*>(QStringLiteral("ctl%1").arg(id));
        if (!widget)
            qFatal("control %d missing", id);
        return widget;
    }
    QString Text(int id) { return Ctl(id)->text(); }
    void Type(int id, const QString& text) {
        Ctl(id)->clear();
        QTest::keyClicks(Ctl(id), text);
    }
    void Click(int id) { QTest::mouseClick(Ctl<QAbstractButton>(id), Qt::LeftButton); }

    // Opens the dialog; `whileOpen` runs once it is up, if it comes up. Whatever is still open
    // afterwards is cancelled, so that a test never hangs in a modal loop.
    int Open(bool alwaysShow, const std::function<void()>& whileOpen = {}) {
        wasShown = false;
        QTimer probe;
        probe.setSingleShot(true);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            wasShown = dialog.isVisible();
            if (whileOpen)
                whileOpen();
            if (dialog.isVisible())
                dialog.reject();
        });
        probe.start(0);
        return dialog.Open(alwaysShow);
    }

    QStringList Boxes() const {
        QStringList lines;
        for (const std::string& line : prompter.Lines())
            lines << QString::fromStdString(line);
        return lines;
    }
};

} // namespace

class SplitParametersDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void windowControlsAndKeyboardOrder() {
        Harness h;
        QCOMPARE(h.dialog.windowTitle(), QStringLiteral("Split Parameters"));
        QVERIFY(!h.dialog.windowIcon().isNull());
        QVERIFY(!(h.dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(h.dialog.windowFlags() & Qt::WindowSystemMenuHint));
        const QFont font = h.dialog.font();
        // The controls keep the layout's places; the preview only adds beside or below them.
        const QSize layout = ui::DialogUnitsToPixels(font, QRect(0, 0, 348, 210)).size();
        const QWidget* preview = h.dialog.findChild<QWidget*>(QStringLiteral("planPreview"));
        QVERIFY(preview->y() >= layout.height() || preview->x() >= layout.width());
        const struct {
            int id;
            QRect units;
            const char* name;
        } controls[] = {
            {1004, {77, 49, 208, 12}, "Split Parameters:"},
            {1007, {78, 68, 207, 12}, "Move to dir after split:"},
            {1009, {78, 86, 207, 12}, "Split to Directory:"},
            {1013, {78, 109, 207, 12}, "Use as out filenames:"},
            {1026, {14, 127, 72, 10}, "Keep Bookmarks:"},
            {1028, {256, 126, 29, 12}, "Skip pages:"},
            {1011, {18, 150, 140, 10}, "Incrementing number added to filename"},
            {1012, {193, 151, 111, 10}, "Page range added to filename"},
            {1027, {79, 165, 32, 12}, "Start increment at:"},
            {1029, {275, 166, 29, 12}, "Filename page offset:"},
            {1006, {135, 191, 77, 14}, "Save & Exit"},
            {1003, {294, 190, 46, 14}, "Cancel"},
            {1008, {288, 68, 38, 12}, "Browse"},
            {1010, {288, 86, 38, 12}, "Browse"},
            {1005, {78, 22, 207, 12}, "Filename:"},
            {1023, {288, 49, 38, 12}, "Help"},
            {1018, {288, 24, 24, 12}, "Pages"},
            {1019,
             {77, 4, 255, 10},
             "Use same parameters for future pdf's, this can be turned off in options menu."},
        };
        QList<int> ids;
        for (const auto& c : controls) {
            ids << c.id;
            QWidget* control = h.Ctl<QWidget>(c.id);
            QCOMPARE(control->accessibleName(), QString(c.name));
            const QRect expected = ui::DialogUnitsToPixels(font, c.units);
            const QRect actual = control->geometry();
            if (qobject_cast<QLineEdit*>(control) || qobject_cast<QPushButton*>(control)) {
                QCOMPARE(actual, expected);
                continue;
            }
            // A caption wider than its box in this font grows sideways, never up or down.
            QCOMPARE(actual.top(), expected.top());
            QCOMPARE(actual.height(), expected.height());
            QVERIFY(actual.left() <= expected.left() && actual.right() >= expected.right());
            QVERIFY(actual.width() >= qMin(control->sizeHint().width(), h.dialog.width() - 4));
        }
        // Tab visits them in the order above, starting at the split-parameter string.
        QList<int> order;
        QString first;
        h.Open(true, [&] {
            first = h.dialog.focusWidget()->objectName();
            QWidget* w = h.Ctl<QWidget>(1004);
            do {
                if (w->objectName().startsWith("ctl") && (w->focusPolicy() & Qt::TabFocus))
                    order << w->objectName().mid(3).toInt();
                w = w->nextInFocusChain();
            } while (w != h.Ctl<QWidget>(1004) && order.size() < 40);
        });
        QCOMPARE(first, QStringLiteral("ctl1004"));
        QCOMPARE(order, ids);
    }

    void openingSetsRadioAndBoxFromTheFlags() {
        const struct {
            const char* incrementName;
            const char* keepBookmarks;
            bool increment, box;
        } cases[] = {{"Y", "Y", true, true}, {"N", "N", false, false}, {"", "", false, true}};
        for (const auto& c : cases) {
            Harness h;
            h.dialog.Fields().incrementName = c.incrementName;
            h.dialog.Fields().keepBookmarks = c.keepBookmarks;
            bool increment = false, pageRange = false, box = false;
            QCOMPARE(h.Open(true,
                            [&] {
                                increment = h.Ctl<QRadioButton>(1011)->isChecked();
                                pageRange = h.Ctl<QRadioButton>(1012)->isChecked();
                                box = h.Ctl<QCheckBox>(1026)->isChecked();
                            }),
                     0);
            QCOMPARE(increment, c.increment);
            QCOMPARE(pageRange, !c.increment);
            QCOMPARE(box, c.box);
            QCOMPARE(h.dialog.Fields().incrementName, std::string(c.incrementName));
        }
    }

    void clicksSetTheNamingFlagsAndTheUseSameBox() {
        const struct {
            const char* incrementName;
            const char* usePagesName;
            QList<int> clicks;
            const char* storedIncrement;
            const char* storedUsePages;
            bool useSame;
        } cases[] = {
            {"Y", "N", {1012}, "N", "Y", false}, {"Y", "N", {1012, 1011}, "Y", "Y", false},
            {"Y", "N", {1011}, "Y", "N", false}, // already on: nothing changes
            {"N", "", {1012}, "N", "", false},   // already on
            {"N", "", {1011}, "Y", "", false},   // leaving page range sets nothing of it
            {"Y", "", {1019}, "Y", "", true},
        };
        for (const auto& c : cases) {
            Harness h;
            h.dialog.Fields().incrementName = c.incrementName;
            h.dialog.Fields().usePagesName = c.usePagesName;
            QCOMPARE(h.Open(true,
                            [&] {
                                for (int id : c.clicks)
                                    h.Click(id);
                                h.Click(1006);
                            }),
                     1);
            QCOMPARE(h.dialog.Fields().incrementName, std::string(c.storedIncrement));
            QCOMPARE(h.dialog.Fields().usePagesName, std::string(c.storedUsePages));
            QCOMPARE(h.dialog.Fields().useSame, c.useSame);
            QVERIFY(h.prompter.boxes.empty());
        }
    }

    void saveAndExitRunsTheCheck() {
        const struct {
            const char* splitTo;
            const char* parameters;
            int pages, skip, result;
            const char* box;
        } cases[] = {
            {"/out", "1,6-7,9-10", 12, 0, 1, nullptr},
            {"/out", "blank", 0, 0, 1, nullptr},
            {"", "blank", 5, 0, 0, "Error Destination: you must specify an destination directory"},
            {"/out", "", 5, 0, 0, "Error in parameters: no valid parameters"},
            {"/out", "7-3", 10, 0, 0, "Error in parameters: 7 is greater than 3"},
            {"/out", "5-20", 10, 0, 0, "Error in parameters: parameter: 20 higher than pages: 10"},
            {"/out", "1s", 4, -3, 0,
             "Error in parameters: error in parameters can't start or end at Zero"},
            {"/out", "5n", 10, 0, 0, ": Error in split n parameters, should be e.g. 1-2n"},
        };
        for (const auto& c : cases) {
            Harness h;
            h.dialog.Fields().pages = c.pages;
            h.dialog.Fields().skipPages = c.skip;
            bool stayedOpen = false;
            QString shownAfter;
            QCOMPARE(h.Open(true,
                            [&] {
                                h.Type(1009, c.splitTo);
                                h.Type(1004, c.parameters);
                                h.Click(1006);
                                stayedOpen = h.dialog.isVisible();
                                shownAfter = h.Text(1004);
                            }),
                     c.result);
            QCOMPARE(h.Boxes(), c.box ? QStringList{c.box} : QStringList{});
            QCOMPARE(stayedOpen, c.result == 0);
            QCOMPARE(shownAfter, QString(c.parameters));
            QCOMPARE(h.dialog.Fields().splitParameters, std::string(c.parameters));
        }
    }

    void autoAcceptWhenNotAlwaysShown() {
        Harness passes;
        passes.dialog.Fields().splitParameters = "1-3,4";
        QCOMPARE(passes.Open(false), 1);
        QVERIFY(!passes.wasShown);
        QVERIFY(passes.prompter.boxes.empty());
        // Save & Exit's own steps ran: the flags are spelled out.
        QCOMPARE(passes.dialog.Fields().incrementName, std::string("N"));
        QCOMPARE(passes.dialog.Fields().keepBookmarks, std::string("Y"));

        Harness beyond;
        beyond.dialog.Fields().splitParameters = "5-20";
        QCOMPARE(beyond.Open(false,
                             [&] {
                                 beyond.Type(1004, "5-10");
                                 beyond.Click(1006);
                             }),
                 1);
        QVERIFY(beyond.wasShown);
        QCOMPARE(beyond.Boxes(),
                 QStringList{"Error in parameters: parameter: 20 higher than pages: 10"});
        QCOMPARE(beyond.dialog.Fields().splitParameters, std::string("5-10"));
    }

    // A string longer than a line edit holds by default comes back whole.
    void longStringsAreKeptWhole() {
        Harness h;
        std::string singles = "1";
        for (int page = 2; page <= 10000; ++page)
            singles += "," + std::to_string(page);
        h.dialog.Fields().pages = 10000;
        h.dialog.Fields().splitParameters = singles;
        QCOMPARE(h.Open(false), 1);
        QCOMPARE(h.dialog.Fields().splitParameters, singles);
    }

    void cancelKeepsOnlyWhatAClickStored() {
        const struct {
            int click;
            const char* shownNextTime;
        } cases[] = {{1026, "9-10"}, {1019, "9-10"}, {1011, "9-10"}, {0, "1-3"}};
        for (const auto& c : cases) {
            Harness h;
            QCOMPARE(h.Open(true,
                            [&] {
                                h.Type(1004, "9-10");
                                if (c.click)
                                    h.Click(c.click);
                                h.Click(1003);
                            }),
                     0);
            QString next;
            h.Open(true, [&] { next = h.Text(1004); });
            QCOMPARE(next, QString(c.shownNextTime));
        }
    }

    void enterIsSaveAndExitEscapeCancels() {
        const struct {
            const char* parameters;
            int focus;
            Qt::Key key;
            int result;
            size_t boxes;
        } cases[] = {
            {"2-4", 1004, Qt::Key_Return, 1, 0}, {"4-2", 1004, Qt::Key_Return, 0, 1},
            {"", 1028, Qt::Key_Enter, 0, 1},     {"2-4", 1003, Qt::Key_Return, 0, 0},
            {"2-4", 1006, Qt::Key_Return, 1, 0}, {"2-4", 1004, Qt::Key_Escape, 0, 0},
        };
        for (const auto& c : cases) {
            Harness h;
            h.dialog.Fields().keepBookmarks = "";
            QCOMPARE(h.Open(true,
                            [&] {
                                h.Type(1004, c.parameters);
                                QWidget* target = h.Ctl<QWidget>(c.focus);
                                target->setFocus();
                                QTest::keyClick(target, c.key);
                            }),
                     c.result);
            QCOMPARE(h.prompter.boxes.size(), c.boxes);
            if (c.result == 1) {
                QCOMPARE(h.dialog.Fields().splitParameters, std::string(c.parameters));
                QCOMPARE(h.dialog.Fields().keepBookmarks, std::string("Y"));
            }
        }
    }

    void saveAndExitRefusesWhatTheRunRefuses() {
        Harness h;
        h.dialog.Fields().incrementName = "Y";
        h.dialog.Fields().fileList = "same,same";
        h.dialog.Fields().splitParameters = "1,2";
        QCOMPARE(h.Open(true, [&] { h.Click(1006); }), 0);
        QCOMPARE(h.Boxes().size(), 1);
        QVERIFY2(h.Boxes().front().startsWith(
                     "File Name Error: Two parts of this job would be saved as the "
                     "same file:"),
                 qPrintable(h.Boxes().front()));
    }

    // A number field without an integer: that field and the ones after it (increment start,
    // skip pages, keep-bookmarks box, file list, page offset) keep their stored values; the
    // check still runs and lets the dialog close.
    void nonIntegerKeepsThatFieldAndTheRest() {
        const struct {
            const char *incrementStart, *skip, *offset;
            int storedIncrementStart, storedSkip;
            const char* storedFileList;
            int storedOffset;
            size_t messages;
        } cases[] = {
            {"4", "2", "3", 4, 2, "new.csv", 3, 0},
            {" 4 ", "+2", "-3", 4, 2, "new.csv", -3, 0},
            {"abc", "2", "3", 1, 0, "old.csv", 5, 1},
            {"4", "1.5", "3", 4, 0, "old.csv", 5, 1},
            {"4", "", "3", 4, 0, "old.csv", 5, 1},
            {"4", "2", "x3", 4, 2, "new.csv", 5, 1},
            {"4", "2", "4294967296", 4, 2, "new.csv", 5, 1},
        };
        for (const auto& c : cases) {
            Harness h;
            SplitParametersFields& f = h.dialog.Fields();
            f.incrementStart = 1;
            f.pageOffset = 5;
            f.fileList = "old.csv";
            QString shownSkip;
            QCOMPARE(h.Open(true,
                            [&] {
                                h.Type(1004, "2-3");
                                h.Type(1027, c.incrementStart);
                                h.Type(1028, c.skip);
                                h.Type(1013, "new.csv");
                                h.Type(1029, c.offset);
                                h.Click(1006);
                                shownSkip = h.Text(1028);
                            }),
                     1);
            QCOMPARE(f.splitParameters, std::string("2-3"));
            QCOMPARE(f.incrementStart, c.storedIncrementStart);
            QCOMPARE(f.skipPages, c.storedSkip);
            QCOMPARE(f.fileList, std::string(c.storedFileList));
            QCOMPARE(f.pageOffset, c.storedOffset);
            QCOMPARE(shownSkip, QString::number(c.storedSkip));
            QCOMPARE(h.prompter.boxes.size(), c.messages);
            if (c.messages)
                QCOMPARE(h.Boxes().front(), QStringLiteral(": Please enter an integer."));
        }
    }

    void browseFillsTheFieldOnlyWhenChosen() {
        const struct {
            int button, field;
            const char* call;
            bool chosen;
        } cases[] = {
            {1008, 1007,
             "Move To Directory...|Please choose your directory to move to after split...|/typed",
             true},
            {1008, 1007,
             "Move To Directory...|Please choose your directory to move to after split...|/typed",
             false},
            {1010, 1009, "Split To Directory...|Please choose your directory to split to...|/typed",
             true},
            {1010, 1009, "Split To Directory...|Please choose your directory to split to...|/typed",
             false},
        };
        for (const auto& c : cases) {
            Harness h;
            if (c.chosen)
                h.chooserAnswer = "/chosen/folder";
            QString shown;
            h.Open(true, [&] {
                h.Type(c.field, "/typed");
                h.Click(c.button);
                shown = h.Text(c.field);
            });
            QCOMPARE(h.chooserCalls, std::vector<std::string>{c.call});
            QCOMPARE(shown, c.chosen ? QStringLiteral("/chosen/folder") : QStringLiteral("/typed"));
        }
    }

    void helpCallsTheInjectedService() {
        Harness h;
        h.Open(true, [&] { h.Click(1023); });
        QCOMPARE(h.helpCalls, 1);

        CRecordingPrompter prompter;
        CSplitParametersDialog withoutHelp(prompter, {});
        bool stillOpen = false;
        QTimer::singleShot(0, &withoutHelp, [&] {
            withoutHelp.findChild<QPushButton*>("ctl1023")->click();
            stillOpen = withoutHelp.isVisible();
        });
        QTimer::singleShot(0, &withoutHelp, [&] { withoutHelp.reject(); });
        QCOMPARE(withoutHelp.Open(true), 0);
        QVERIFY(stillOpen);
    }
};

QTEST_MAIN(SplitParametersDialogTest)
#include "SplitParametersDialogTest.moc"
