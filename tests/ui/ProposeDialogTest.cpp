#include "ui/dialogs/ProposeDialog.h"
#include "ui/dialogs/SplitParametersDialog.h"
#include "ui/preview/PlanPreview.h"

#include "propose/SafeName.h"

#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <set>

using testing_support::CTempDir;

namespace {

// Runs `step` on the Propose dialog once it is up (inside the Split Parameters dialog's modal
// loop, as the window runs them), then leaves both dialogs (by Save & Exit when `save`), so a
// test never hangs.
void WithProposeDialog(ui::CSplitParametersDialog& parameters,
                       const std::function<void(ui::CProposeDialog&)>& step, bool save = false) {
    QTimer poll;
    poll.setInterval(10);
    bool opened = false;
    QPointer<ui::CProposeDialog> open; // gone once the proposal is in the fields
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* propose = qobject_cast<ui::CProposeDialog*>(QApplication::activeModalWidget());
        if (propose && !opened) {
            opened = true;
            open = propose;
            step(*propose);
        } else if (!open && opened) {
            poll.stop();
            if (save)
                parameters.findChild<QPushButton*>(QStringLiteral("ctl1006"))->click();
            parameters.reject();
        }
    });
    poll.start();
    QTimer::singleShot(0, &parameters, [&] {
        parameters.findChild<QPushButton*>(QStringLiteral("propose"))->click();
    });
    parameters.Open(true);
}

template <typename T> T* Find(QWidget& dialog, const QString& accessibleName) {
    for (T* widget : dialog.findChildren<T*>())
        if (widget->accessibleName() == accessibleName)
            return widget;
    qFatal("no %s", qPrintable(accessibleName));
}

void ProposeAtBookmarks(ui::CProposeDialog& propose) {
    Find<QRadioButton>(propose, "At bookmarks, down to level")->click();
    Find<QPushButton>(propose, "Propose")->click();
}

} // namespace

class ProposeDialogTest : public QObject {
    Q_OBJECT

  private slots:
    // A proposal fills the string, writes the names where the job's list takes them whole
    // and turns incrementing names on; the preview shows the new parts at once.
    void bookmarksFillTheStringAndTheNames() {
        CTempDir dir(true);
        testing_support::WritePdf(
            dir.File("book.pdf"),
            {.pages = 6, .outline = {{"Preface, and thanks", 1}, {"Two", 3}}});
        testing_support::CRecordingPrompter prompter;
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.Fields().fileName = dir.File("book.pdf");
        dialog.Fields().pages = 6;
        dialog.Fields().splitTo = dir.File("out");
        dialog.Fields().incrementName = "N";
        WithProposeDialog(dialog, ProposeAtBookmarks, true);
        QCOMPARE(dialog.findChild<QLineEdit*>("ctl1004")->text(), QStringLiteral("1,2-3,4-6"));
        const std::string names = std::filesystem::current_path() / "book.names.txt";
        QCOMPARE(dialog.findChild<QLineEdit*>("ctl1013")->text().toStdString(), "file:" + names);
        QVERIFY(dialog.findChild<QRadioButton*>("ctl1011")->isChecked());
        QCOMPARE(QString::fromStdString(dir.Read("book.names.txt")),
                 QStringLiteral("\r\nPreface, and thanks\r\nTwo\r\n"));
        QCOMPARE(dialog.Preview()->Plan()->Outputs().size(), size_t{3});

        // A proposal without names leaves the old proposal's names behind.
        WithProposeDialog(dialog, [](ui::CProposeDialog& propose) {
            Find<QRadioButton>(propose, "Parts of at most")->click();
            Find<QPushButton>(propose, "Propose")->click();
        });
        QCOMPARE(dialog.findChild<QLineEdit*>("ctl1004")->text(), QStringLiteral("1-6"));
        QCOMPARE(dialog.findChild<QLineEdit*>("ctl1013")->text(), QString());
    }

    // Proposed names that no comma, space or length bends reach the parts through a batch run
    // from another folder; a names file that was there before a cancelled proposal stays.
    void namesReachThePartsOfABatchRunElsewhere() {
        CTempDir dir(true), elsewhere;
        const std::string longTitle(300, 'L');
        testing_support::WritePdf(dir.File("book.pdf"), {.pages = 4,
                                                         .outline = {{"Preface, and thanks", 0},
                                                                     {" Leading space", 1},
                                                                     {"Ünïcødé ☃", 2},
                                                                     {longTitle, 3}}});
        testing_support::CRecordingPrompter prompter;
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.Fields().fileName = dir.File("book.pdf");
        dialog.Fields().pages = 4;
        dialog.Fields().splitTo = dir.File("out");
        WithProposeDialog(dialog, ProposeAtBookmarks, true);
        const ui::SplitParametersFields& f = dialog.Fields();
        dir.Write("jobs.spl", f.fileName + "; " + f.splitParameters + "; 4; ; ; " + f.splitTo +
                                  "; " + f.incrementName + "; ; Y; " + f.fileList +
                                  "; 0; 0; 0\r\r\n");
        QProcess run;
        run.setWorkingDirectory(QString::fromStdString(elsewhere.Path()));
        run.start(qEnvironmentVariable("QS_BINARY_DIR") + "/cli/quillsever-cli",
                  {"run", QString::fromStdString(dir.File("jobs.spl")), "--quiet"});
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
        std::set<std::string> parts;
        for (const auto& part : std::filesystem::directory_iterator(dir.File("out")))
            parts.insert(part.path().filename().string());
        const std::string cut(propose::kMaxNameBytes, 'L');
        QCOMPARE(parts, (std::set<std::string>{
                            "book_partPreface, and thanks.pdf", "book_part Leading space.pdf",
                            "book_partÜnïcødé ☃.pdf", "book_part" + cut + ".pdf"}));

        WithProposeDialog(dialog, ProposeAtBookmarks);
        QVERIFY(std::filesystem::remove(dir.File("book.names.txt")));
        dialog.Fields().fileList.clear();
        WithProposeDialog(dialog, ProposeAtBookmarks);
        QVERIFY(!std::filesystem::exists(dir.File("book.names.txt")));
        QCOMPARE(f.fileList, std::string());
    }

    // Reading a long file shows how far it has come, keeps the window answering, and Stop
    // ends it with the fields as they were.
    void longWorkShowsProgressAndStops() {
        CTempDir dir(true);
        testing_support::WritePdf(dir.File("scan.pdf"), {.pages = 400});
        testing_support::CRecordingPrompter prompter;
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.Fields().fileName = dir.File("scan.pdf");
        dialog.Fields().pages = 400;
        dialog.Fields().splitParameters = "1-2";
        dialog.Fields().splitTo = dir.File("out");
        int progressSeen = 0;
        QString outcome;
        WithProposeDialog(dialog, [&](ui::CProposeDialog& propose) {
            Find<QRadioButton>(propose, "At blank pages, which go into no part")->click();
            Find<QPushButton>(propose, "Propose")->click();
            auto* bar = Find<QProgressBar>(propose, "Pages read");
            QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0 && bar->maximum() == 400, 20000);
            progressSeen = bar->value();
            Find<QPushButton>(propose, "Stop")->click();
            QTRY_VERIFY_WITH_TIMEOUT(!propose.Running(), 20000);
            outcome = propose.findChild<QLabel*>("proposeOutcome")->text();
            propose.reject();
        });
        QVERIFY(progressSeen > 0 && progressSeen < 400);
        QCOMPARE(outcome, QStringLiteral("Stopped; nothing was proposed."));
        QCOMPARE(dialog.findChild<QLineEdit*>("ctl1004")->text(), QStringLiteral("1-2"));
    }
};

QTEST_MAIN(ProposeDialogTest)
#include "ProposeDialogTest.moc"
