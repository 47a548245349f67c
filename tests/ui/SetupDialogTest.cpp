#include "ui/dialogs/SetupDialog.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CTempDir;

namespace {

struct Fixture {
    CTempDir dir;
    core::SetupOptions options;
    CRecordingPrompter prompter;
    std::string path = dir.File("setup.ini");
    ui::CSetupDialog dialog{options, prompter, nullptr, path};

    QLineEdit* Edit(const char* name) { return dialog.findChild<QLineEdit*>(name); }
    QCheckBox* Check(const char* name) { return dialog.findChild<QCheckBox*>(name); }
    QPushButton* Button(const char* name) { return dialog.findChild<QPushButton*>(name); }
    bool FileExists() const { return std::filesystem::exists(path); }
};

} // namespace

class SetupDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void FieldsShowTheOptions_data();
    void FieldsShowTheOptions();
    void SaveAndExitWritesTheFieldsAndCloses();
    void CancelAfterACheckBoxKeepsTheNewValuesOutOfTheFile_data();
    void CancelAfterACheckBoxKeepsTheNewValuesOutOfTheFile();
    void EnterTakesTheFieldsWithoutWritingTheFile();
    void EnterOnTheSaveButtonSaves();
    void EmptyCounterWidthKeepsTheRestAndStillSaves();
    void EnterWithAnEmptyCounterWidthStaysOpen();
    void AnOverlongCounterWidthIsNoInteger();
    void UnwritableFileIsReportedAndTheDialogCloses();
    void ControlsAreLabelledAndNamed();
    void TypedTextsReadBackTheSameAtTheNextStart();
};

void SetupDialogTest::FieldsShowTheOptions_data() {
    QTest::addColumn<int>("which");
    QTest::newRow("defaults") << 0;
    QTest::newRow("every option changed") << 1;
}

void SetupDialogTest::FieldsShowTheOptions() {
    QFETCH(int, which);
    CTempDir dir;
    CRecordingPrompter prompter;
    core::SetupOptions options;
    if (which == 1)
        options = {"P x", false, "_end", -3, true, true, "pg", "pgs", "--"};
    const core::SetupOptions before = options;
    ui::CSetupDialog dialog(options, prompter, nullptr, dir.File("setup.ini"));
    QCOMPARE(dialog.findChild<QLineEdit*>("prefixEdit")->text().toStdString(), options.prefix);
    QCOMPARE(dialog.findChild<QCheckBox*>("useSourceNameCheck")->isChecked(),
             options.useSourceName);
    QCOMPARE(dialog.findChild<QLineEdit*>("endEdit")->text().toStdString(), options.endText);
    QCOMPARE(dialog.findChild<QLineEdit*>("counterWidthEdit")->text().toInt(),
             options.counterWidth);
    QCOMPARE(dialog.findChild<QCheckBox*>("noSplashCheck")->isChecked(), options.noSplash);
    QCOMPARE(dialog.findChild<QCheckBox*>("defaultSplitCheck")->isChecked(),
             options.defaultSplitToSource);
    QCOMPARE(dialog.findChild<QLineEdit*>("singlePageEdit")->text().toStdString(),
             options.singlePageText);
    QCOMPARE(dialog.findChild<QLineEdit*>("rangeEdit")->text().toStdString(), options.rangeText);
    QCOMPARE(dialog.findChild<QLineEdit*>("delimiterEdit")->text().toStdString(),
             options.delimiter);
    // Taking the unchanged fields gives back the same options (a negative width included).
    QVERIFY(dialog.TakeFields());
    QVERIFY(options == before);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Setup"));
}

void SetupDialogTest::SaveAndExitWritesTheFieldsAndCloses() {
    Fixture f;
    f.Edit("prefixEdit")->setText("-p");
    f.Edit("endEdit")->setText("_e");
    f.Edit("counterWidthEdit")->setText("2");
    f.Check("useSourceNameCheck")->setChecked(false);
    f.Check("noSplashCheck")->setChecked(true);
    f.Edit("delimiterEdit")->setText("+");
    QTest::mouseClick(f.Button("saveButton"), Qt::LeftButton);
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.options.prefix, std::string("-p"));
    QCOMPARE(f.options.counterWidth, 2);
    QCOMPARE(f.dir.Read("setup.ini"), std::string("PREFIXSTR;-p\nENDSTR;_e\nPAGERANGETEXT;page\n"
                                                  "PAGERANGESTEXT;pages\nMASK;2\nDELIMITER;+\n"
                                                  "NOSPLASH\nDONTUSEORIGINALFILENAME\n"));
    QVERIFY(f.prompter.boxes.empty());
}

void SetupDialogTest::CancelAfterACheckBoxKeepsTheNewValuesOutOfTheFile_data() {
    QTest::addColumn<QString>("check");
    QTest::addColumn<bool>("escape");
    QTest::newRow("default split, Cancel") << "defaultSplitCheck" << false;
    QTest::newRow("no splash, Escape") << "noSplashCheck" << true;
    QTest::newRow("source name, Cancel") << "useSourceNameCheck" << false;
}

void SetupDialogTest::CancelAfterACheckBoxKeepsTheNewValuesOutOfTheFile() {
    QFETCH(QString, check);
    QFETCH(bool, escape);
    Fixture f;
    f.dialog.show();
    f.Edit("prefixEdit")->setText("_new");
    QCheckBox* box = f.dialog.findChild<QCheckBox*>(check);
    const bool wanted = !box->isChecked();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 8, box->height() / 2));
    QCOMPARE(box->isChecked(), wanted);
    if (escape)
        QTest::keyClick(&f.dialog, Qt::Key_Escape);
    else
        QTest::mouseClick(f.Button("cancelButton"), Qt::LeftButton);
    QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
    QCOMPARE(f.options.prefix, std::string("_new"));
    const core::SetupOptions& o = f.options;
    const bool inMemory = check == "defaultSplitCheck" ? o.defaultSplitToSource
                          : check == "noSplashCheck"   ? o.noSplash
                                                       : o.useSourceName;
    QCOMPARE(inMemory, wanted);
    QVERIFY(!f.FileExists());
}

void SetupDialogTest::EnterTakesTheFieldsWithoutWritingTheFile() {
    Fixture f;
    f.dialog.show();
    f.Edit("rangeEdit")->setFocus();
    f.Edit("rangeEdit")->setText("pp");
    QTest::keyClick(f.Edit("rangeEdit"), Qt::Key_Return);
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.options.rangeText, std::string("pp"));
    QVERIFY(!f.FileExists());
}

void SetupDialogTest::EnterOnTheSaveButtonSaves() {
    Fixture f;
    f.dialog.show();
    // The focus starts on Save & Exit, so Enter at once saves.
    QCOMPARE(f.dialog.focusWidget(), f.Button("saveButton"));
    QTest::keyClick(f.Button("saveButton"), Qt::Key_Return);
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.dir.Read("setup.ini"), core::SetupOptionsText(core::SetupOptions{}));
}

void SetupDialogTest::EmptyCounterWidthKeepsTheRestAndStillSaves() {
    Fixture f;
    f.Edit("prefixEdit")->setText("_before");
    f.Edit("counterWidthEdit")->setText("");
    f.Edit("rangeEdit")->setText("_after");
    f.Check("noSplashCheck")->setChecked(true);
    QTest::mouseClick(f.Button("saveButton"), Qt::LeftButton);
    QCOMPARE(f.prompter.Lines(), std::vector<std::string>{": Please enter an integer."});
    // Fields exchanged before the width are taken, the width and those after it are not.
    QCOMPARE(f.options.prefix, std::string("_before"));
    QCOMPARE(f.options.counterWidth, 4);
    QCOMPARE(f.options.rangeText, std::string("pages"));
    QCOMPARE(f.options.noSplash, false);
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.dir.Read("setup.ini"), core::SetupOptionsText(f.options));
}

void SetupDialogTest::EnterWithAnEmptyCounterWidthStaysOpen() {
    Fixture f;
    f.dialog.show();
    f.Edit("counterWidthEdit")->setText("");
    f.Edit("endEdit")->setFocus();
    QTest::keyClick(f.Edit("endEdit"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(f.prompter.Lines(), std::vector<std::string>{": Please enter an integer."});
    QVERIFY(f.dialog.isVisible());
    QCOMPARE(f.dialog.focusWidget(), f.Edit("counterWidthEdit"));
    QVERIFY(!f.FileExists());
}

void SetupDialogTest::AnOverlongCounterWidthIsNoInteger() {
    Fixture f;
    f.Edit("counterWidthEdit")->setText("99999999999");
    QVERIFY(!f.dialog.TakeFields());
    QCOMPARE(f.options.counterWidth, 4);
    // The field takes digits only.
    f.Edit("counterWidthEdit")->clear();
    QTest::keyClicks(f.Edit("counterWidthEdit"), "1a-2");
    QCOMPARE(f.Edit("counterWidthEdit")->text(), QStringLiteral("12"));
}

void SetupDialogTest::UnwritableFileIsReportedAndTheDialogCloses() {
    CTempDir dir;
    core::SetupOptions options;
    CRecordingPrompter prompter;
    ui::CSetupDialog dialog(options, prompter, nullptr, dir.File("missing/setup.ini"));
    dialog.findChild<QLineEdit*>("prefixEdit")->setText("_kept");
    QTest::mouseClick(dialog.findChild<QPushButton*>("saveButton"), Qt::LeftButton);
    QCOMPARE(prompter.Lines(), std::vector<std::string>{": can't save to setup.ini"});
    QCOMPARE(options.prefix, std::string("_kept"));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void SetupDialogTest::ControlsAreLabelledAndNamed() {
    Fixture f;
    QStringList labels;
    for (QLabel* l : f.dialog.findChildren<QLabel*>())
        labels << l->text();
    for (const char* text : {"Prefix part filenames with text:", "End part filenames with text:",
                             "Mask counter with n Zeros:", "Page range added to filename:",
                             "Page ranges added to filename:", "Prefix filename delimiter:"})
        QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
    QCOMPARE(f.Button("saveButton")->text(), QStringLiteral("Save && Exit"));
    QCOMPARE(f.Button("cancelButton")->text(), QStringLiteral("&Cancel"));
    for (QWidget* w : f.dialog.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w))
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }
    QCOMPARE(f.Edit("prefixEdit")->accessibleName(),
             QStringLiteral("Prefix part filenames with text"));
    QCOMPARE(f.Button("saveButton")->accessibleName(), QStringLiteral("Save & Exit"));
    QVERIFY(!f.Button("saveButton")->isDefault() && !f.Button("cancelButton")->isDefault());
    QCOMPARE(f.dialog.objectName(), QStringLiteral("dlg140"));
}

// What the session names its parts with is what setup.ini gives back at the next start.
void SetupDialogTest::TypedTextsReadBackTheSameAtTheNextStart() {
    Fixture f;
    QTest::keyClicks(f.Edit("prefixEdit"), QStringLiteral(";x"));
    QTest::mouseClick(f.Button("saveButton"), Qt::LeftButton);
    core::SetupOptions next;
    core::LoadSetupOptions(next, f.path);
    QCOMPARE(next.prefix, f.options.prefix);
}

QTEST_MAIN(SetupDialogTest)
#include "SetupDialogTest.moc"
