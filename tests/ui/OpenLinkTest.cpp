#include "ui/desktop/OpenLink.h"
#include "ui/desktop/XdgShell.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <QtTest>

#include <filesystem>

using testing_support::CRecordingPrompter;
using testing_support::CTempDir;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

using Args = std::vector<std::string>;

// PATH, XDG_DATA_HOME and XDG_DATA_DIRS pointing into a scratch folder for one test, so that
// only the fake programs written there are found.
struct FakeDesktop {
    CTempDir dir;
    QByteArray oldPath = qgetenv("PATH");
    QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    QByteArray oldDataDirs = qgetenv("XDG_DATA_DIRS");

    FakeDesktop() {
        std::filesystem::create_directories(dir.File("bin"));
        qputenv("PATH", QByteArray::fromStdString(dir.File("bin")));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.File("home")));
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(dir.File("system")));
    }
    ~FakeDesktop() {
        qputenv("PATH", oldPath);
        qputenv("XDG_DATA_HOME", oldDataHome);
        qputenv("XDG_DATA_DIRS", oldDataDirs);
    }
    std::string Program(const std::string& name, const std::string& script,
                        std::filesystem::perms perms = std::filesystem::perms::owner_all) {
        const std::string path = dir.Write("bin/" + name, "#!/bin/sh\n" + script + "\n");
        std::filesystem::permissions(path, perms);
        return path;
    }
};

} // namespace

class OpenLinkTest : public QObject {
    Q_OBJECT
  private slots:
    void ErrorTextsForEveryCode_data();
    void ErrorTextsForEveryCode();
    void ReportSaysUnableToOpen();
    void XdgOpenOutcomes_data();
    void XdgOpenOutcomes();
    void ExecArgumentsUnquote_data();
    void ExecArgumentsUnquote();
    void FallbackCommandPlacesTheAddressForTheFieldCode_data();
    void FallbackCommandPlacesTheAddressForTheFieldCode();
    void DesktopEntryExecReadsTheMainGroup();
    void FallbackStartsTheRegisteredBrowser();
    void FallbackFailuresKeepTheirCodes();
    void ShellOpensAndStartsWithArgumentVectors();
    void AFailureIsToldOnceWhileItsBoxIsUp();
};

void OpenLinkTest::ErrorTextsForEveryCode_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "The operating system is out\nof memory or resources.";
    QTest::newRow("2") << 2 << "The specified file was not found.";
    QTest::newRow("3") << 3 << "The specified path was not found.";
    QTest::newRow("5") << 5 << "The operating system denied\naccess to the specified file.";
    QTest::newRow("8") << 8 << "There was not enough memory to complete the operation.";
    QTest::newRow("11") << 11
                        << "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    QTest::newRow("26") << 26 << "A sharing violation occurred. ";
    QTest::newRow("27") << 27 << "The filename association is\nincomplete or invalid.";
    QTest::newRow("28") << 28
                        << "The DDE transaction could not\nbe completed because the request "
                           "timed out.";
    QTest::newRow("29") << 29 << "The DDE transaction failed.";
    QTest::newRow("30") << 30
                        << "The DDE transaction could not\nbe completed because other DDE "
                           "transactions\nwere being processed.";
    QTest::newRow("31") << 31
                        << "There is no application associated\nwith the given filename "
                           "extension.";
    QTest::newRow("32") << 32 << "The specified dynamic-link library was not found.";
    QTest::newRow("unlisted 4") << 4 << "Unknown Error (4) occurred.";
    QTest::newRow("unlisted -1") << -1 << "Unknown Error (-1) occurred.";
}

void OpenLinkTest::ErrorTextsForEveryCode() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(ui::LinkErrorText(code)), text);
}

void OpenLinkTest::ReportSaysUnableToOpen() {
    CRecordingPrompter prompter;
    ui::ReportLinkError(prompter, 31);
    QCOMPARE(prompter.boxes.size(), size_t(1));
    QCOMPARE(prompter.boxes[0].text, std::string("Unable to open hyperlink:\n\nThere is no "
                                                 "application associated\nwith the given "
                                                 "filename extension."));
    QCOMPARE(prompter.boxes[0].caption, std::string());
}

void OpenLinkTest::XdgOpenOutcomes_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("result");
    QTest::newRow("opened") << "exit 0" << true << ui::kLinkOpened;
    QTest::newRow("syntax error") << "exit 1" << true << -1;
    QTest::newRow("file missing") << "exit 2" << true << 2;
    QTest::newRow("no program for it") << "exit 3" << true << 31;
    QTest::newRow("handler failed") << "exit 4" << true << 31;
    QTest::newRow("killed") << "kill -9 $$" << true << -(128 + 9);
    QTest::newRow("not executable") << "exit 0" << false << 5;
    QTest::newRow("not installed") << "" << true << 2;
}

void OpenLinkTest::XdgOpenOutcomes() {
    QFETCH(QString, script);
    QFETCH(bool, executable);
    QFETCH(int, result);
    FakeDesktop desktop;
    if (!script.isEmpty())
        desktop.Program("xdg-open", "echo \"$1\" > \"$0.args\"\n" + script.toStdString(),
                        executable ? std::filesystem::perms::owner_all
                                   : std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);
    // No xdg-mime: the fall-back finds nothing and the opener's own code stands.
    QCOMPARE(ui::OpenLink("https://www.quillsever.example/a b?x=1&y=2"), result);
    if (!script.isEmpty() && executable)
        QCOMPARE(desktop.dir.Read("bin/xdg-open.args"),
                 std::string("https://www.quillsever.example/a b?x=1&y=2\n"));
}

void OpenLinkTest::ExecArgumentsUnquote_data() {
    QTest::addColumn<QString>("exec");
    QTest::addColumn<Args>("args");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "firefox %u" << Args{"firefox", "%u"} << true;
    QTest::newRow("runs of spaces") << "  a   b  " << Args{"a", "b"} << true;
    QTest::newRow("quoted with spaces")
        << R"("/opt/My Browser/run" --x "%u")" << Args{"/opt/My Browser/run", "--x", "%u"} << true;
    QTest::newRow("escapes inside quotes")
        << R"(b "say \"hi\\\\\" \$HOME \`x\`")" << Args{"b", R"(say "hi\" $HOME `x`)"} << true;
    QTest::newRow("string escapes")
        << R"(a\sb "c\sd" e\tf)" << Args{"a", "b", "c d", "e\tf"} << true;
    QTest::newRow("adjacent quoted part") << R"(--name="a b"c)" << Args{"--name=a bc"} << true;
    QTest::newRow("empty quoted argument") << R"(a "" b)" << Args{"a", "", "b"} << true;
    QTest::newRow("unterminated quote") << R"(a "b)" << Args{} << false;
}

void OpenLinkTest::ExecArgumentsUnquote() {
    QFETCH(QString, exec);
    QFETCH(Args, args);
    QFETCH(bool, valid);
    auto got = ui::ExecArguments(exec.toStdString());
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(*got, args);
}

void OpenLinkTest::FallbackCommandPlacesTheAddressForTheFieldCode_data() {
    QTest::addColumn<QString>("exec");
    QTest::addColumn<Args>("command");
    const std::string a = "https://x.example/?q=1&r=2";
    QTest::newRow("%u") << "browser --new-window %u" << Args{"browser", "--new-window", a};
    QTest::newRow("%U in place") << "browser %U --later" << Args{"browser", a, "--later"};
    QTest::newRow("%f") << "viewer %f" << Args{"viewer", a};
    QTest::newRow("%F inside an argument") << "viewer --file=%F x" << Args{};
    QTest::newRow("%u inside a shell command") << R"(sh -c "exec browser %u")" << Args{};
    QTest::newRow("no field code") << "browser --private" << Args{"browser", "--private", a};
    QTest::newRow("quoted program and code")
        << R"("/opt/My Browser/run" "%u")" << Args{"/opt/My Browser/run", a};
    QTest::newRow("other codes dropped, %% kept")
        << "browser %i --p=50%% %c %u" << Args{"browser", "--p=50%", a};
    QTest::newRow("only a field code") << "%u" << Args{};
    QTest::newRow("unknown code") << "browser %z %u" << Args{};
    QTest::newRow("broken quoting") << R"(browser "%u)" << Args{};
}

void OpenLinkTest::FallbackCommandPlacesTheAddressForTheFieldCode() {
    QFETCH(QString, exec);
    QFETCH(Args, command);
    auto got = ui::FallbackCommand(exec.toStdString(), "https://x.example/?q=1&r=2");
    QCOMPARE(got.value_or(Args{}), command);
}

void OpenLinkTest::DesktopEntryExecReadsTheMainGroup() {
    QCOMPARE(
        ui::DesktopEntryExec("# comment\n[Desktop Action new]\nExec=wrong %u\n"
                             "[Desktop Entry]\r\nName=B\r\nExec[de]=no\r\nExec = right %u\r\n"),
        std::optional<std::string>("right %u"));
    QCOMPARE(ui::DesktopEntryExec("[Desktop Entry]\nName=B\n"), std::nullopt);
}

void OpenLinkTest::FallbackStartsTheRegisteredBrowser() {
    FakeDesktop desktop;
    desktop.Program("xdg-open", "exit 3");
    desktop.Program("xdg-mime", "[ \"$*\" = 'query default text/html' ] && "
                                "echo 'vendor-web.desktop;other.desktop'");
    const std::string browser =
        desktop.Program("my browser", "printf '%s\\n' \"$@\" > \"$0.args\"");
    // The desktop id's dash may stand for a folder.
    desktop.dir.Write("system/applications/vendor/web.desktop",
                      "[Desktop Entry]\nType=Application\nExec=\"" + browser + "\" --new-tab %u\n");
    QVERIFY(ui::FindDesktopFile("vendor-web.desktop").has_value());
    for (const char* outside : {"../web.desktop", "..desktop", "vendor/web.desktop", ".hidden"})
        QVERIFY2(!ui::FindDesktopFile(outside), outside);
    const int result = ui::OpenLink("https://www.quillsever.example/#top");
    QVERIFY(result > 32);
    // The browser runs on its own; its note appears once it has started.
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(desktop.dir.Read("bin/my browser.args")),
                              QStringLiteral("--new-tab\nhttps://www.quillsever.example/#top\n"),
                              20000);
}

void OpenLinkTest::FallbackFailuresKeepTheirCodes() {
    FakeDesktop desktop;
    desktop.Program("xdg-open", "exit 3");
    desktop.Program("xdg-mime", "echo missing.desktop");
    QCOMPARE(ui::OpenLink("https://www.quillsever.example/"), ui::kLinkNoAssociation);
    desktop.dir.Write("home/applications/missing.desktop",
                      "[Desktop Entry]\nExec=" + desktop.dir.File("bin/absent") + " %u\n");
    QCOMPARE(ui::OpenLink("https://www.quillsever.example/"), ui::kLinkFileNotFound);
}

// The shell opens without waiting for the opener: it says so only when the opener has failed.
void OpenLinkTest::ShellOpensAndStartsWithArgumentVectors() {
    FakeDesktop desktop;
    desktop.Program("xdg-open", "printf '%s' \"$1\" > \"$0.args\"; "
                                "while [ ! -e \"$0.go\" ]; do /bin/sleep 0.05; done; exit 3");
    CRecordingPrompter prompter;
    ui::CXdgShell shell;
    shell.SetPrompter(&prompter);
    QVERIFY(shell.Open("/srv/a dir/a;b.csv"));
    QTRY_COMPARE(QString::fromStdString(desktop.dir.Read("bin/xdg-open.args")),
                 QStringLiteral("/srv/a dir/a;b.csv"));
    QVERIFY(prompter.boxes.empty());
    desktop.dir.Write("bin/xdg-open.go", "");
    QTRY_COMPARE(prompter.Lines(),
                 std::vector<std::string>{": Unable to open hyperlink:\n\n" +
                                          ui::LinkErrorText(ui::kLinkNoAssociation)});
    QVERIFY(shell.Open("-x.csv"));
    QTRY_COMPARE(QString::fromStdString(desktop.dir.Read("bin/xdg-open.args")),
                 QStringLiteral("./-x.csv"));
    QVERIFY(!shell.Start({"no-such-program-here"}));
    const std::string marker = desktop.dir.File("started");
    desktop.Program("touch-it", "printf '%s' \"$1\" > \"$2\"");
    QVERIFY(shell.Start({"touch-it", "a 'quoted' $x", marker}));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(desktop.dir.Read("started")),
                              QStringLiteral("a 'quoted' $x"), 20000);
}

void OpenLinkTest::AFailureIsToldOnceWhileItsBoxIsUp() {
    FakeDesktop desktop; // no browser either: xdg-mime is missing
    desktop.Program("xdg-open", "exit 3");
    QObject context;
    int told = 0;
    ui::OpenLinkAsync("https://www.quillsever.example/", &context, [&](int) {
        QEventLoop box; // read past the five seconds the browser's query may take
        QTimer::singleShot(5500, &box, &QEventLoop::quit);
        if (++told == 1)
            box.exec();
    });
    QTRY_VERIFY_WITH_TIMEOUT(told > 0, 20000);
    QCOMPARE(told, 1);
}

QTEST_MAIN(OpenLinkTest)
#include "OpenLinkTest.moc"
