#include "ui/dialogs/FolderChooser.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CTempDir;
using ui::CFolderChooser;

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "@" in a case stands for the scratch folder, which holds the folder "sub" and the file "f".
QString Resolve(const CTempDir& dir, const QString& pattern) {
    QString path = pattern;
    path.replace(QLatin1Char('@'), Q(dir.Path()));
    return path;
}

void MakeScratch(const CTempDir& dir) {
    std::filesystem::create_directory(dir.File("sub"));
    dir.Write("f", "x");
}

bool IsFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

} // namespace

class FolderChooserTest : public QObject {
    Q_OBJECT

  private slots:
    void showsTitleAndPrompt() {
        CRecordingPrompter prompter;
        CFolderChooser chooser(prompter, "Move To Directory...",
                               "Please choose your directory to move to after split...", {});
        QCOMPARE(chooser.windowTitle(), QStringLiteral("Move To Directory..."));
        QCOMPARE(chooser.findChild<QLabel*>("prompt")->text(),
                 QStringLiteral("Please choose your directory to move to after split..."));
        QVERIFY(!chooser.EditBox()->accessibleName().isEmpty());
        QVERIFY(!chooser.Tree()->accessibleName().isEmpty());
        QCOMPARE(chooser.EditBox()->objectName(), QStringLiteral("ctl14148"));
    }

    void initialFolderFillsTheBox() {
        const struct {
            const char *initial, *box;
        } cases[] = {{"@/sub", "@/sub"}, {"@/sub/new", "@/sub/new"}, {"", "@"}};
        for (const auto& c : cases) {
            CTempDir dir(true);
            MakeScratch(dir);
            CRecordingPrompter prompter;
            CFolderChooser chooser(prompter, {}, "prompt", Resolve(dir, c.initial));
            QCOMPARE(QDir::cleanPath(chooser.EditBox()->text()),
                     QDir::cleanPath(Resolve(dir, c.box)));
            QVERIFY(chooser.OkButton()->isEnabled());
        }
    }

    void treeSelectionFillsTheBoxAndOkReturnsIt() {
        CTempDir dir;
        MakeScratch(dir);
        CRecordingPrompter prompter;
        CFolderChooser chooser(prompter, {}, "prompt", Q(dir.Path()));
        QVERIFY(chooser.SelectFolder(Q(dir.File("sub"))));
        QCOMPARE(chooser.EditBox()->text(), Q(dir.File("sub")));
        QTimer::singleShot(0, &chooser, [&] { chooser.OkButton()->click(); });
        QCOMPARE(chooser.Choose(), 1);
        QCOMPARE(chooser.Path(), Q(dir.File("sub")));
        QVERIFY(prompter.boxes.empty());
    }

    void okFollowsTheBox() {
        CRecordingPrompter prompter;
        CFolderChooser chooser(prompter, {}, "prompt", {});
        chooser.EditBox()->clear();
        QVERIFY(!chooser.OkButton()->isEnabled());
        QTest::keyClicks(chooser.EditBox(), "/");
        QVERIFY(chooser.OkButton()->isEnabled());
        QTest::keyClick(chooser.EditBox(), Qt::Key_Backspace);
        QVERIFY(!chooser.OkButton()->isEnabled());
    }

    void cancelReturnsNothing() {
        CRecordingPrompter prompter;
        CFolderChooser chooser(prompter, {}, "prompt", {});
        QTimer::singleShot(0, &chooser, [&] { chooser.reject(); });
        QCOMPARE(chooser.Choose(), -1);
        QVERIFY(chooser.Path().isEmpty());
    }

    // The messages themselves are the folder check's (tested with it); here: what OK does.
    void okChecksTheTypedPath() {
        const int yes = int(core::Answer::Yes), no = int(core::Answer::No);
        const struct {
            const char* typed;
            QList<int> answers;
            size_t boxes;
            bool accepted, existsAfter;
        } cases[] = {
            {"@/sub", {}, 0, true, true},
            {"folder", {}, 1, false, false},
            {"@/new folder", {no}, 1, false, false},
            {"@/new folder", {yes}, 1, true, true},
            {"@/no/new", {yes}, 2, false, false},
        };
        for (const auto& c : cases) {
            CTempDir dir;
            MakeScratch(dir);
            const QString path = Resolve(dir, c.typed);
            CRecordingPrompter prompter;
            for (int a : c.answers)
                prompter.answers.push_back(core::Answer(a));
            CFolderChooser chooser(prompter, {}, "prompt", Q(dir.Path()));
            chooser.show();
            chooser.EditBox()->setText(path);
            chooser.OkButton()->click();
            QCOMPARE(chooser.isVisible(), !c.accepted);
            QCOMPARE(chooser.Path(), c.accepted ? path : QString());
            QCOMPARE(prompter.boxes.size(), c.boxes);
            QCOMPARE(IsFolder(path), c.existsAfter);
            // A refused path stays in the box for correction.
            QCOMPARE(chooser.EditBox()->text(), path);
        }
    }
};

QTEST_MAIN(FolderChooserTest)
#include "FolderChooserTest.moc"
