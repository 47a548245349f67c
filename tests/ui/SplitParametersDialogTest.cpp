#include "ui/SplitParametersDialog.h"
#include "ui/Dlu.h"

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

// One dialog object with a recording prompter and a chooser that answers from a script.
struct Harness {
    CRecordingPrompter prompter;
    int helpCalls = 0;
    CSplitParametersDialog dialog{prompter, [this] { ++helpCalls; }};
    struct ChooserCall {
        std::string title, prompt, initial;
    };
    std::vector<ChooserCall> chooserCalls;
    std::optional<std::string> chooserAnswer;
    bool wasShown = false;

    Harness() {
        dialog.SetFolderChooser([this](const std::string& title, const std::string& prompt,
                                       const std::string& initial) {
            chooserCalls.push_back({title, prompt, initial});
            return chooserAnswer;
        });
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

    // Opens the dialog; `whileOpen` runs once it is up, if it comes up. Anything still open
    // afterwards is cancelled, so a test never hangs on a modal loop.
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

    // Fields that pass the check for a ten-page file.
    void SetPassingFields() {
        SplitParametersFields& f = dialog.Fields();
        f.fileName = "/in/report.pdf";
        f.pages = 10;
        f.splitParameters = "1-3";
        f.splitTo = "/out";
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
    void windowHasTitleIconSizeAndNoCloseBox() {
        Harness h;
        QCOMPARE(h.dialog.windowTitle(), QStringLiteral("Split Parameters"));
        QVERIFY(!h.dialog.windowIcon().isNull());
        QVERIFY(!(h.dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(h.dialog.windowFlags() & Qt::WindowSystemMenuHint));
        QCOMPARE(h.dialog.size(), ui::DluRect(h.dialog.font(), QRect(0, 0, 348, 210)).size());
    }

    void controlsSitAtTheirDialogUnits_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QRect>("units");
        QTest::addColumn<QString>("name");
        QTest::newRow("1004") << 1004 << QRect(77, 49, 208, 12) << "Split Parameters:";
        QTest::newRow("1007") << 1007 << QRect(78, 68, 207, 12) << "Move to dir after split:";
        QTest::newRow("1009") << 1009 << QRect(78, 86, 207, 12) << "Split to Directory:";
        QTest::newRow("1013") << 1013 << QRect(78, 109, 207, 12) << "Use as out filenames:";
        QTest::newRow("1026") << 1026 << QRect(14, 127, 72, 10) << "Keep Bookmarks:";
        QTest::newRow("1028") << 1028 << QRect(256, 126, 29, 12) << "Skip pages:";
        QTest::newRow("1011") << 1011 << QRect(18, 150, 140, 10)
                              << "Incrementing number added to filename";
        QTest::newRow("1012") << 1012 << QRect(193, 151, 111, 10) << "Page range added to filename";
        QTest::newRow("1027") << 1027 << QRect(79, 165, 32, 12) << "Start increment at:";
        QTest::newRow("1029") << 1029 << QRect(275, 166, 29, 12) << "Filename page offset:";
        QTest::newRow("1006") << 1006 << QRect(135, 191, 77, 14) << "Save & Exit";
        QTest::newRow("1003") << 1003 << QRect(294, 190, 46, 14) << "Cancel";
        QTest::newRow("1008") << 1008 << QRect(288, 68, 38, 12) << "Browse";
        QTest::newRow("1010") << 1010 << QRect(288, 86, 38, 12) << "Browse";
        QTest::newRow("1005") << 1005 << QRect(78, 22, 207, 12) << "Filename:";
        QTest::newRow("1023") << 1023 << QRect(288, 49, 38, 12) << "Help";
        QTest::newRow("1018") << 1018 << QRect(288, 24, 24, 12) << "Pages";
        QTest::newRow("1019") << 1019 << QRect(77, 4, 255, 10)
                              << "Use same parameters for future pdf's, this can be turned off "
                                 "in options menu.";
    }
    void controlsSitAtTheirDialogUnits() {
        QFETCH(int, id);
        QFETCH(QRect, units);
        QFETCH(QString, name);
        Harness h;
        QWidget* control = h.Ctl<QWidget>(id);
        const QRect expected = ui::DluRect(h.dialog.font(), units);
        const QRect actual = control->geometry();
        if (qobject_cast<QLineEdit*>(control) || qobject_cast<QPushButton*>(control)) {
            QCOMPARE(actual, expected);
        } else {
            // A caption wider than its box in this font grows sideways, never up or down.
            QCOMPARE(actual.top(), expected.top());
            QCOMPARE(actual.height(), expected.height());
            QVERIFY(actual.left() <= expected.left() && actual.right() >= expected.right());
            QVERIFY(actual.width() >= qMin(control->sizeHint().width(), h.dialog.width() - 4));
        }
        QCOMPARE(control->accessibleName(), name);
    }

    void openingChecksRadioAndBox_data() {
        QTest::addColumn<QString>("incrementName");
        QTest::addColumn<QString>("keepBookmarks");
        QTest::addColumn<bool>("incrementChecked");
        QTest::addColumn<bool>("boxTicked");
        QTest::newRow("Y, Y") << "Y"
                              << "Y" << true << true;
        QTest::newRow("N, N") << "N"
                              << "N" << false << false;
        QTest::newRow("empty flags") << ""
                                     << "" << false << true;
        QTest::newRow("lower-case y") << "y"
                                      << "n" << false << true;
    }
    void openingChecksRadioAndBox() {
        QFETCH(QString, incrementName);
        QFETCH(QString, keepBookmarks);
        QFETCH(bool, incrementChecked);
        QFETCH(bool, boxTicked);
        Harness h;
        h.dialog.Fields().incrementName = incrementName.toStdString();
        h.dialog.Fields().keepBookmarks = keepBookmarks.toStdString();
        bool increment = false, pageRange = false, box = false;
        QCOMPARE(h.Open(true,
                        [&] {
                            increment = h.Ctl<QRadioButton>(1011)->isChecked();
                            pageRange = h.Ctl<QRadioButton>(1012)->isChecked();
                            box = h.Ctl<QCheckBox>(1026)->isChecked();
                        }),
                 0);
        QVERIFY(h.wasShown);
        QCOMPARE(increment, incrementChecked);
        QCOMPARE(pageRange, !incrementChecked);
        QCOMPARE(box, boxTicked);
        // Cancel stores nothing, the flags included.
        QCOMPARE(QString::fromStdString(h.dialog.Fields().incrementName), incrementName);
    }

    void radioClicksSetTheNamingFlags_data() {
        QTest::addColumn<QString>("incrementName");
        QTest::addColumn<QString>("usePagesName");
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("storedIncrement");
        QTest::addColumn<QString>("storedUsePages");
        QTest::newRow("page range") << "Y"
                                    << "N" << QList<int>{1012} << "N"
                                    << "Y";
        QTest::newRow("page range, then increment") << "Y"
                                                    << "N" << QList<int>{1012, 1011} << "Y"
                                                    << "Y";
        QTest::newRow("increment again, already on") << "Y"
                                                     << "N" << QList<int>{1011} << "Y"
                                                     << "N";
        QTest::newRow("page range again, already on") << "N"
                                                      << "" << QList<int>{1012} << "N"
                                                      << "";
        QTest::newRow("no click") << "Y"
                                  << "" << QList<int>{} << "Y"
                                  << "";
    }
    void radioClicksSetTheNamingFlags() {
        QFETCH(QString, incrementName);
        QFETCH(QString, usePagesName);
        QFETCH(QList<int>, clicks);
        QFETCH(QString, storedIncrement);
        QFETCH(QString, storedUsePages);
        Harness h;
        h.SetPassingFields();
        h.dialog.Fields().incrementName = incrementName.toStdString();
        h.dialog.Fields().usePagesName = usePagesName.toStdString();
        QCOMPARE(h.Open(true,
                        [&] {
                            for (int id : clicks)
                                h.Click(id);
                            h.Click(1006);
                        }),
                 1);
        QCOMPARE(QString::fromStdString(h.dialog.Fields().incrementName), storedIncrement);
        QCOMPARE(QString::fromStdString(h.dialog.Fields().usePagesName), storedUsePages);
        QVERIFY(h.prompter.boxes.empty());
    }

    void saveAndExitRunsTheCheck_data() {
        QTest::addColumn<QString>("splitTo");
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("passes") << "/out"
                                << "1,6-7,9-10" << 12 << 0 << 1 << QStringList{};
        QTest::newRow("blank passes") << "/out"
                                      << "blank" << 0 << 0 << 1 << QStringList{};
        QTest::newRow("blank without split-to")
            << ""
            << "blank" << 5 << 0 << 0
            << QStringList{"Error Destination: you must specify an destination directory"};
        QTest::newRow("empty string")
            << "/out"
            << "" << 5 << 0 << 0 << QStringList{"Error in parameters: no valid parameters"};
        QTest::newRow("reversed") << "/out"
                                  << "7-3" << 10 << 0 << 0
                                  << QStringList{"Error in parameters: 7 is greater than 3"};
        QTest::newRow("beyond pages")
            << "/out"
            << "5-20" << 10 << 0 << 0
            << QStringList{"Error in parameters: parameter: 20 higher than pages: 10"};
        QTest::newRow("negative skip")
            << "/out"
            << "1s" << 4 << -3 << 0
            << QStringList{"Error in parameters: error in parameters can't start or end at Zero"};
        QTest::newRow("step without step")
            << "/out"
            << "5n" << 10 << 0 << 0
            << QStringList{": Error in split n parameters, should be e.g. 1-2n"};
    }
    void saveAndExitRunsTheCheck() {
        QFETCH(QString, splitTo);
        QFETCH(QString, parameters);
        QFETCH(int, pages);
        QFETCH(int, skip);
        QFETCH(int, result);
        QFETCH(QStringList, boxes);
        Harness h;
        h.dialog.Fields().pages = pages;
        h.dialog.Fields().skipPages = skip;
        bool stayedOpen = false;
        QString shownAfter;
        QCOMPARE(h.Open(true,
                        [&] {
                            h.Type(1009, splitTo);
                            h.Type(1004, parameters);
                            h.Click(1006);
                            stayedOpen = h.dialog.isVisible();
                            shownAfter = h.Text(1004);
                        }),
                 result);
        QCOMPARE(h.Boxes(), boxes);
        QCOMPARE(stayedOpen, result == 0);
        QCOMPARE(shownAfter, parameters);
        // What was typed is the dialog object's, whether or not the check let it close.
        QCOMPARE(QString::fromStdString(h.dialog.Fields().splitParameters), parameters);
    }

    void autoAcceptWhenNotAlwaysShown_data() {
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("passes silently") << "1-3,4" << 1 << false << QStringList{};
        QTest::newRow("beyond the new file")
            << "5-20" << 0 << true
            << QStringList{"Error in parameters: parameter: 20 higher than pages: 10"};
    }
    void autoAcceptWhenNotAlwaysShown() {
        QFETCH(QString, parameters);
        QFETCH(int, result);
        QFETCH(bool, shown);
        QFETCH(QStringList, boxes);
        Harness h;
        h.SetPassingFields();
        h.dialog.Fields().splitParameters = parameters.toStdString();
        h.dialog.Fields().incrementName = "";
        h.dialog.Fields().keepBookmarks = "";
        QCOMPARE(h.Open(false), result);
        QCOMPARE(h.wasShown, shown);
        QCOMPARE(h.Boxes(), boxes);
        if (result == 1) {
            // Save & Exit's own steps ran: the flags are spelled out.
            QCOMPARE(h.dialog.Fields().incrementName, std::string("N"));
            QCOMPARE(h.dialog.Fields().keepBookmarks, std::string("Y"));
        }
    }

    void autoAcceptStaysOpenForCorrection() {
        Harness h;
        h.SetPassingFields();
        h.dialog.Fields().splitParameters = "5-20";
        QCOMPARE(h.Open(false,
                        [&] {
                            h.Type(1004, "5-10");
                            h.Click(1006);
                        }),
                 1);
        QCOMPARE(h.dialog.Fields().splitParameters, std::string("5-10"));
        QCOMPARE(h.prompter.boxes.size(), size_t(1));
    }

    void cancelKeepsWhatAClickStored_data() {
        QTest::addColumn<int>("click");
        QTest::addColumn<QString>("shownNextTime");
        QTest::newRow("typed, box ticked, cancelled") << 1026 << "9-10";
        QTest::newRow("typed, same-parameters ticked, cancelled") << 1019 << "9-10";
        QTest::newRow("typed, radio changed, cancelled") << 1011 << "9-10";
        QTest::newRow("typed and cancelled") << 0 << "1-3";
    }
    void cancelKeepsWhatAClickStored() {
        QFETCH(int, click);
        QFETCH(QString, shownNextTime);
        Harness h;
        h.SetPassingFields();
        QCOMPARE(h.Open(true,
                        [&] {
                            h.Type(1004, "9-10");
                            if (click)
                                h.Click(click);
                            h.Click(1003);
                        }),
                 0);
        QString next;
        h.Open(true, [&] { next = h.Text(1004); });
        QCOMPARE(next, shownNextTime);
    }

    void escapeCancels() {
        Harness h;
        h.SetPassingFields();
        QCOMPARE(h.Open(true, [&] { QTest::keyClick(h.Ctl(1004), Qt::Key_Escape); }), 0);
        QVERIFY(h.prompter.boxes.empty());
    }

    void enterPerformsSaveAndExit_data() {
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("boxCount");
        QTest::newRow("in the string, passing") << "2-4" << 1004 << 1 << 0;
        QTest::newRow("in the string, failing") << "4-2" << 1004 << 0 << 1;
        QTest::newRow("in a number field, failing") << "" << 1028 << 0 << 1;
        QTest::newRow("on Cancel") << "2-4" << 1003 << 0 << 0;
        QTest::newRow("on Save & Exit") << "2-4" << 1006 << 1 << 0;
    }
    void enterPerformsSaveAndExit() {
        QFETCH(QString, parameters);
        QFETCH(int, focus);
        QFETCH(int, result);
        QFETCH(int, boxCount);
        Harness h;
        h.SetPassingFields();
        h.dialog.Fields().incrementName = "Y";
        h.dialog.Fields().keepBookmarks = "";
        QCOMPARE(h.Open(true,
                        [&] {
                            h.Type(1004, parameters);
                            QWidget* target = h.Ctl<QWidget>(focus);
                            target->setFocus();
                            QTest::keyClick(target, Qt::Key_Return);
                        }),
                 result);
        QCOMPARE(int(h.prompter.boxes.size()), boxCount);
        if (result == 1) {
            QCOMPARE(h.dialog.Fields().splitParameters, parameters.toStdString());
            QCOMPARE(h.dialog.Fields().keepBookmarks, std::string("Y"));
        }
    }

    // A number field without an integer: that field and the ones after it (increment start,
    // skip pages, keep-bookmarks box, file list, page offset) keep their stored values.
    void nonIntegerKeepsThatFieldAndTheRest_data() {
        QTest::addColumn<QString>("incrementStart");
        QTest::addColumn<QString>("skip");
        QTest::addColumn<QString>("offset");
        QTest::addColumn<int>("storedIncrementStart");
        QTest::addColumn<int>("storedSkip");
        QTest::addColumn<QString>("storedFileList");
        QTest::addColumn<int>("storedOffset");
        QTest::addColumn<int>("messages");
        QTest::newRow("all integers") << "4"
                                      << "2"
                                      << "3" << 4 << 2 << "new.csv" << 3 << 0;
        QTest::newRow("blanks and sign") << " 4 "
                                         << "+2"
                                         << "-3" << 4 << 2 << "new.csv" << -3 << 0;
        QTest::newRow("increment start") << "abc"
                                         << "2"
                                         << "3" << 1 << 0 << "old.csv" << 5 << 1;
        QTest::newRow("skip pages") << "4"
                                    << "1.5"
                                    << "3" << 4 << 0 << "old.csv" << 5 << 1;
        QTest::newRow("page offset") << "4"
                                     << "2"
                                     << "x3" << 4 << 2 << "new.csv" << 5 << 1;
        QTest::newRow("empty") << "4"
                               << ""
                               << "3" << 4 << 0 << "old.csv" << 5 << 1;
        QTest::newRow("beyond 32 bits") << "4"
                                        << "2"
                                        << "4294967296" << 4 << 2 << "new.csv" << 5 << 1;
    }
    void nonIntegerKeepsThatFieldAndTheRest() {
        QFETCH(QString, incrementStart);
        QFETCH(QString, skip);
        QFETCH(QString, offset);
        QFETCH(int, storedIncrementStart);
        QFETCH(int, storedSkip);
        QFETCH(QString, storedFileList);
        QFETCH(int, storedOffset);
        QFETCH(int, messages);
        Harness h;
        h.SetPassingFields();
        SplitParametersFields& f = h.dialog.Fields();
        f.incrementStart = 1;
        f.skipPages = 0;
        f.pageOffset = 5;
        f.fileList = "old.csv";
        QString shownSkip;
        QCOMPARE(h.Open(true,
                        [&] {
                            h.Type(1004, "2-3");
                            h.Type(1027, incrementStart);
                            h.Type(1028, skip);
                            h.Type(1013, "new.csv");
                            h.Type(1029, offset);
                            h.Click(1006);
                            shownSkip = h.Text(1028);
                        }),
                 1); // the check still runs and passes
        QCOMPARE(f.splitParameters, std::string("2-3"));
        QCOMPARE(f.incrementStart, storedIncrementStart);
        QCOMPARE(f.skipPages, storedSkip);
        QCOMPARE(QString::fromStdString(f.fileList), storedFileList);
        QCOMPARE(f.pageOffset, storedOffset);
        QCOMPARE(shownSkip, QString::number(storedSkip));
        QCOMPARE(int(h.prompter.boxes.size()), messages);
        if (messages)
            QCOMPARE(h.Boxes().front(), QStringLiteral(": Please enter an integer."));
    }

    void useSameBoxIsReadBack_data() {
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("click");
        QTest::addColumn<bool>("after");
        QTest::newRow("ticked") << false << true << true;
        QTest::newRow("unticked") << true << true << false;
        QTest::newRow("left") << true << false << true;
    }
    void useSameBoxIsReadBack() {
        QFETCH(bool, before);
        QFETCH(bool, click);
        QFETCH(bool, after);
        Harness h;
        h.SetPassingFields();
        h.dialog.Fields().useSame = before;
        QCOMPARE(h.Open(true,
                        [&] {
                            if (click)
                                h.Click(1019);
                            h.Click(1006);
                        }),
                 1);
        QCOMPARE(h.dialog.Fields().useSame, after);
    }

    void browseFillsTheFieldOnlyWhenChosen_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<bool>("chosen");
        const QString moveTitle = "Move To Directory...";
        const QString movePrompt = "Please choose your directory to move to after split...";
        const QString splitTitle = "Split To Directory...";
        const QString splitPrompt = "Please choose your directory to split to...";
        QTest::newRow("move-to chosen") << 1008 << 1007 << moveTitle << movePrompt << true;
        QTest::newRow("move-to cancelled") << 1008 << 1007 << moveTitle << movePrompt << false;
        QTest::newRow("split-to chosen") << 1010 << 1009 << splitTitle << splitPrompt << true;
        QTest::newRow("split-to cancelled") << 1010 << 1009 << splitTitle << splitPrompt << false;
    }
    void browseFillsTheFieldOnlyWhenChosen() {
        QFETCH(int, button);
        QFETCH(int, field);
        QFETCH(QString, title);
        QFETCH(QString, prompt);
        QFETCH(bool, chosen);
        Harness h;
        if (chosen)
            h.chooserAnswer = "/chosen/folder";
        QString shown;
        h.Open(true, [&] {
            h.Type(field, "/typed");
            h.Click(button);
            shown = h.Text(field);
        });
        QCOMPARE(h.chooserCalls.size(), size_t(1));
        QCOMPARE(QString::fromStdString(h.chooserCalls[0].title), title);
        QCOMPARE(QString::fromStdString(h.chooserCalls[0].prompt), prompt);
        QCOMPARE(h.chooserCalls[0].initial, std::string("/typed"));
        QCOMPARE(shown, chosen ? QStringLiteral("/chosen/folder") : QStringLiteral("/typed"));
    }

    void helpCallsTheInjectedService() {
        Harness h;
        h.Open(true, [&] { h.Click(1023); });
        QCOMPARE(h.helpCalls, 1);

        CRecordingPrompter prompter;
        CSplitParametersDialog withoutHelp(prompter, {});
        bool stillOpen = false;
        QTimer::singleShot(0, &withoutHelp, [&] {
            QTest::mouseClick(withoutHelp.findChild<QPushButton*>("ctl1023"), Qt::LeftButton);
            stillOpen = withoutHelp.isVisible();
            withoutHelp.reject();
        });
        QCOMPARE(withoutHelp.Open(true), 0);
        QVERIFY(stillOpen);
    }

    void everyControlHasAnAccessibleName() {
        Harness h;
        const auto controls = h.dialog.findChildren<QWidget*>();
        int named = 0;
        for (QWidget* w : controls) {
            if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w))
                continue;
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            ++named;
        }
        QCOMPARE(named, 18);
    }
};

QTEST_MAIN(SplitParametersDialogTest)
#include "SplitParametersDialogTest.moc"
