// The window's commands through the real window's actions: each opens its dialog, writes its
// file or reaches the desktop (a fake xdg-open on PATH records what it was given).

#include "ui/window/WindowCommands.h"

#include "core/AddFile.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/desktop/HelpWindow.h"
#include "ui/desktop/HyperlinkAddresses.h"
#include "ui/window/MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QTextBrowser>
#include <QtTest>

#include <filesystem>

using testing_support::CModalDriver;
using testing_support::CRecordingPrompter;
using testing_support::CScriptedParameterDialog;
using testing_support::CTempDir;

namespace {

struct Fixture {
    CTempDir dir{true};
    CRecordingPrompter prompter;
    QByteArray oldPath = qgetenv("PATH");
    std::unique_ptr<ui::CMainWindow> window;
    std::unique_ptr<ui::CWindowCommands> commands;

    Fixture() {
        // Only our fake xdg-open is found; it notes its argument.
        std::filesystem::create_directories(dir.File("bin"));
        const std::string opener =
            dir.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.args\"\n");
        std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
        qputenv("PATH", QByteArray::fromStdString(dir.File("bin")));
        ui::MainWindowSetup setup;
        setup.prompter = &prompter;
        setup.makeDialog = [](ui::CMainWindow&) {
            return std::make_unique<CScriptedParameterDialog>();
        };
        setup.startWatchdog = false;
        setup.allowSplash = false;
        window = std::make_unique<ui::CMainWindow>(std::move(setup));
        commands = std::make_unique<ui::CWindowCommands>(*window);
        commands->Attach();
    }
    ~Fixture() { qputenv("PATH", oldPath); }

    void AddJob(const std::string& path) {
        core::NewJob job;
        job.fileName = path;
        job.pageCount = 3;
        job.splitParameters = "1";
        job.splitTo = dir.File("out");
        core::AddFile(window->List(), window->AddFileHooks(), job);
    }
    void Trigger(const char* name) {
        QAction* action = window->findChild<QAction*>(QLatin1String(name));
        QVERIFY2(action, name);
        action->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); // commands run queued
    }
    std::string Opened() const { return dir.Read("bin/xdg-open.args"); }
};

} // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT
  private slots:
    void ActionsOpenTheirDialogs_data();
    void ActionsOpenTheirDialogs();
    void SaveBatchWritesDefaultSplAndSetsTheCaption();
    void ClearLogEmptiesTheFile();
    void HomePageAndBugReportGoToTheDesktop();
    void HelpOpensTheManualAtTheWindowsTopic();
    void HelpInsideTheSetupDialogOpensItsTopic();
    void MainWindowLinkOpensTheHomePage();
};

void WindowCommandsTest::ActionsOpenTheirDialogs_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::newRow("Setup") << "cmd32798"
                           << "Setup";
    QTest::newRow("Load Batch File") << "cmd32775"
                                     << "Open Split Batch File";
    QTest::newRow("Append Batch File") << "cmd32776"
                                       << "Open Job File";
    QTest::newRow("SaveAs Batch File") << "cmd32778"
                                       << "Save Split Parameters File";
    QTest::newRow("View Log") << "cmd32792"
                              << "View Split Log";
    QTest::newRow("Export Log to CSV") << "cmd32805"
                                       << "Export Log to CSV file";
    QTest::newRow("About") << "cmdAbout"
                           << "About Quillsever";
}

void WindowCommandsTest::ActionsOpenTheirDialogs() {
    QFETCH(QString, action);
    QFETCH(QString, title);
    Fixture f;
    f.AddJob("/in/a.pdf");
    if (action == "cmd32775") // loading in place of unsaved jobs asks first
        f.prompter.answers.push_back(core::Answer::Yes);
    f.window->show();
    QStringList titles;
    CModalDriver driver([&](QWidget* modal) {
        titles << modal->windowTitle();
        QMetaObject::invokeMethod(modal, "reject");
        return true;
    });
    f.Trigger(action.toLatin1().constData());
    QCOMPARE(titles, QStringList{title});
    QCOMPARE(QDir::currentPath().toStdString(), f.dir.Path());
}

void WindowCommandsTest::SaveBatchWritesDefaultSplAndSetsTheCaption() {
    Fixture f;
    f.AddJob("/in/a.pdf");
    f.Trigger("cmd32777");
    QVERIFY(std::filesystem::exists(f.dir.File("default.spl")));
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Quillsever  [default.spl]"));
    QCOMPARE(f.prompter.Lines().back(), std::string("Split Parameters Saved OK: default.spl"));
}

void WindowCommandsTest::ClearLogEmptiesTheFile() {
    Fixture f;
    f.window->Log().Write(f.dir.File("missing.pdf"), "/in/a");
    QVERIFY(!f.dir.Read("split.log").empty());
    f.Trigger("cmd32793");
    QCOMPARE(f.dir.Read("split.log"), std::string());
    QVERIFY(f.prompter.boxes.empty());
}

void WindowCommandsTest::HomePageAndBugReportGoToTheDesktop() {
    Fixture f;
    // Nothing waits for the desktop's opener; what it is given arrives a moment later.
    f.Trigger("cmd32795");
    QTRY_COMPARE(f.Opened(), ui::HomePageAddress());
    f.Trigger("cmd32797");
    QTRY_VERIFY(f.Opened().starts_with("mailto:" + ui::SupportAddress() +
                                       "?subject=Quillsever&body=%0d%0d%0d%0d---"));
    QVERIFY(f.prompter.boxes.empty());
}

void WindowCommandsTest::HelpOpensTheManualAtTheWindowsTopic() {
    Fixture f;
    f.window->show();
    // Shortcuts reach only the active window.
    QApplication::setActiveWindow(f.window.get());
    QTest::keyClick(f.window.get(), Qt::Key_F1);
    auto* help = f.window->findChild<ui::CHelpWindow*>();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(help->Browser().source().toLocalFile().endsWith(
        QStringLiteral("/") + f.window->HelpTopic() + QStringLiteral(".html")));
    help->hide();
    f.Trigger("cmd32796");
    QVERIFY(help->isVisible());
    QVERIFY(help->Browser().source().toLocalFile().endsWith(QStringLiteral("/index.html")));
}

void WindowCommandsTest::HelpInsideTheSetupDialogOpensItsTopic() {
    Fixture f;
    f.window->show();
    QString shown;
    bool helpUsable = false; // the modal dialog blocks every window but its own children
    CModalDriver driver([&](QWidget* modal) {
        if (modal->objectName() != QLatin1String("dlg140"))
            return false;
        QApplication::setActiveWindow(modal);
        QTest::keyClick(modal, Qt::Key_F1);
        if (auto* help = modal->findChild<ui::CHelpWindow*>()) {
            shown = help->Browser().source().fileName();
            helpUsable = help->parentWidget() == modal;
        }
        QMetaObject::invokeMethod(modal, "reject");
        return true;
    });
    f.Trigger("cmd32798");
    QCOMPARE(shown, QStringLiteral("setup.html"));
    QVERIFY(helpUsable);
}

void WindowCommandsTest::MainWindowLinkOpensTheHomePage() {
    Fixture f;
    f.window->show();
    auto* link = f.window->findChild<QLabel*>("ctl1022");
    QVERIFY(link);
    QCOMPARE(link->toolTip().toStdString(), ui::HomePageAddress());
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
    QTRY_COMPARE(f.Opened(), ui::HomePageAddress());
    QVERIFY(f.prompter.boxes.empty());
}

QTEST_MAIN(WindowCommandsTest)
#include "WindowCommandsTest.moc"
