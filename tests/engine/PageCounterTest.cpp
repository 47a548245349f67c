#include "engine/PageCounter.h"
#include "engine/QpdfAutomation.h"

#include "tests/support/FileLimit.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/ScriptedAutomation.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace engine;
using namespace testing_support;

namespace {

struct Counting {
    CScriptedAutomation automation;
    CRecordingPrompter prompter;
    CNoPump pump;
    struct : ConnectionDialog {
        std::vector<std::string> events;
        void Show() override { events.push_back("show"); }
        void Hide() override { events.push_back("hide"); }
    } connection;
    core::CJobList list;
    CPageCounter counter{automation, prompter, pump, connection, &list};
};

} // namespace

TEST(PageCounterTest, MissingFileIsMinusOneSilentlyAndDeselects) {
    Counting c;
    c.list.InsertRow(0, "Yes", -1);
    EXPECT_EQ(c.counter.Count("/no/such/file.pdf", 0), -1);
    EXPECT_EQ(c.list.Text(0, core::kColSelected), "No");
    EXPECT_EQ(c.counter.Count("/no/such/file.pdf", -1), -1);
    EXPECT_TRUE(c.prompter.boxes.empty());
    EXPECT_TRUE(c.automation.calls.empty());
}

TEST(PageCounterTest, FailuresAndTheirMessages) {
    CTempDir dir;
    const std::string file = dir.Write("a.pdf", "%PDF");
    const struct {
        std::function<void(CScriptedAutomation&)> script;
        int32_t result;
        std::string message; // "" none
    } cases[] = {
        {[](auto&) {}, 10, ""},
        {[](auto& a) { a.FailCreation(App::kProgId, "x"); }, 0, kConnectFailedMessage},
        {[](auto& a) { a.FailCreation(AVDoc::kProgId, "x"); }, 0, "Failed to create AVDoc"},
        {[](auto& a) { a.Return("AVDoc.Open", 0); }, 0, "Error Opening File : " + file},
        {[](auto& a) { a.Return("AVDoc.Close", 0); }, 10, "Failed to get Close doc"},
        {[](auto& a) { a.sourcePages = 0; }, 0, "0 Pages found in file: " + file},
    };
    for (const auto& t : cases) {
        Counting c;
        t.script(c.automation);
        EXPECT_EQ(c.counter.Count(file, -1), t.result) << t.message;
        if (t.message.empty()) {
            EXPECT_TRUE(c.prompter.boxes.empty());
        } else {
            ASSERT_EQ(c.prompter.boxes.size(), 1u) << t.message;
            EXPECT_EQ(c.prompter.boxes[0].text.substr(0, t.message.size()), t.message);
            EXPECT_EQ(c.prompter.boxes[0].caption, "");
        }
        EXPECT_EQ(c.connection.events, (std::vector<std::string>{"show", "hide"}));
        EXPECT_TRUE(c.automation.CallsOf("App.Exit").empty()) << "a count never ends the app";
    }
}

TEST(PageCounterTest, RaisedErrorsAreLeftToTheCaller) {
    CTempDir dir;
    const std::string file = dir.Write("a.pdf", "%PDF");
    Counting c;
    c.automation.Throw("SourceDoc.GetNumPages", CScriptedAutomation::Raise::Other, "boom");
    EXPECT_THROW(c.counter.Count(file, -1), OtherAutomationError);
}

TEST(PageCounterTest, CountsRealFilesThroughQpdf) {
    CTempDir dir;
    WritePdf(dir.File("seven.pdf"), {.pages = 7});
    WriteNotAPdf(dir.File("text.pdf"));
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    CRecordingPrompter prompter;
    CNoPump pump;
    CNoConnectionDialog connection;
    CPageCounter counter(automation, prompter, pump, connection);
    EXPECT_EQ(counter.Count(dir.File("seven.pdf"), -1), 7);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(counter.Count(dir.File("text.pdf"), -1), 0);
    EXPECT_EQ(prompter.Lines(),
              std::vector<std::string>{": Error Opening File : " + dir.File("text.pdf")});
}

TEST(PageCounterTest, OnlyRegularFilesAreCounted) {
    CTempDir dir;
    const std::string fifo = dir.File("fifo.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir.File("zero.pdf");
    std::filesystem::create_symlink("/dev/zero", zero);
    std::filesystem::create_directory(dir.File("folder.pdf"));
    for (const std::string& path : {fifo, zero, dir.File("folder.pdf")}) {
        Counting c;
        c.list.InsertRow(0, "Yes", -1);
        EXPECT_EQ(c.counter.Count(path, 0), -1) << path;
        EXPECT_EQ(c.list.Text(0, core::kColSelected), "No") << path;
        EXPECT_TRUE(c.prompter.boxes.empty()) << path;
    }
}

TEST(PageCounterTest, AFileThatCannotBeOpenedNowIsNotMissing) {
    CTempDir dir;
    const std::string file = dir.Write("a.pdf", "%PDF");
    Counting c;
    c.list.InsertRow(0, "Yes", -1);
    // Once with descriptors to spare, so that the sanitizers' runtime has done its own
    // opening before none are left.
    ASSERT_EQ(c.counter.Count(file, 0), 10);
    int32_t result = 0;
    {
        CFileLimit noneLeft(0);
        result = c.counter.Count(file, 0);
    }
    EXPECT_NE(result, -1);
    EXPECT_EQ(c.list.Text(0, core::kColSelected), "Yes");
}
