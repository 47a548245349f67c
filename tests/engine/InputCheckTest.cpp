#include "engine/InputCheck.h"
#include "engine/DebugTrace.h"
#include "engine/QpdfAutomation.h"

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

std::vector<std::string> Scan(const std::string& bytes, CRecordingPrompter* prompter = nullptr) {
    CTempDir dir;
    const std::string path = dir.Write("s.pdf", bytes);
    CRecordingPrompter local;
    CBookmarkTitles titles;
    EXPECT_TRUE(CheckInputAndCollectTitles(path, titles, prompter ? *prompter : local));
    return titles.Titles();
}

} // namespace

TEST(InputCheckTest, CollectsTitlesRightAfterCarriageReturns) {
    const struct {
        std::string bytes;
        std::vector<std::string> titles;
    } cases[] = {
        {"x\r/Title (Intro)\r\n", {"Intro"}},
        {"x\n/Title (After LF only)\n", {}},
        {"x\r<< /Title (Mid line) >>\r", {}},
        {"\r/Title (Cut \\(here\\) early)", {"Cut \\(here\\"}},
        {"\r/Title <FEFF0041>\r", {}},
        {"\r/Title (A)/Title (B)", {"A"}},
        {"\r/Title (no close" + std::string(600, ' ') + ")", {}},
        {"\r/Title (" + std::string(498, 'y') + ")", {std::string(254, 'y')}},
        {"\r/Title (Twice)\r/Title (Twice)", {"Twice", "Twice"}},
        {"\r/Title (a\0b)", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Scan(c.bytes), c.titles) << c.bytes.substr(0, 40);
}

TEST(InputCheckTest, WindowsAcrossReadBlocksAreSeenWhole) {
    // Titles straddling the scanner's 1 MiB blocks must be found exactly once.
    std::string bytes;
    std::vector<std::string> want;
    for (int i = 0; bytes.size() < (size_t{3} << 20); ++i) {
        bytes += std::string(static_cast<size_t>(4093 + i % 7), 'z');
        bytes += "\r/Title (T" + std::to_string(i) + ")";
        want.push_back("T" + std::to_string(i));
    }
    EXPECT_EQ(Scan(bytes), want);
}

TEST(InputCheckTest, LimitIsSaidOncePerJob) {
    std::string bytes;
    for (size_t i = 0; i < CBookmarkTitles::kLimit + 3; ++i)
        bytes += "\r/Title (t)";
    CRecordingPrompter prompter;
    EXPECT_EQ(Scan(bytes, &prompter).size(), CBookmarkTitles::kLimit);
    EXPECT_EQ(prompter.Lines(),
              std::vector<std::string>{"Limit Reached: Sorry you have reached a bookmark limit, "
                                       "can't delete bookmark above this limit"});
}

TEST(InputCheckTest, MissingFileIsReportedWithItsPath) {
    CRecordingPrompter prompter;
    CBookmarkTitles titles;
    titles.Add("stale");
    EXPECT_FALSE(CheckInputAndCollectTitles("/no/such.pdf", titles, prompter));
    EXPECT_EQ(titles.Count(), 0u);
    EXPECT_EQ(prompter.Lines(),
              std::vector<std::string>{"File Error: Input pdf file not found./no/such.pdf"});
}

TEST(InputCheckTest, OnlyRegularFilesAreRead) {
    CTempDir dir;
    const std::string fifo = dir.File("fifo.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir.File("zero.pdf");
    std::filesystem::create_symlink("/dev/zero", zero);
    for (const std::string& path : {fifo, zero}) {
        CRecordingPrompter prompter;
        CBookmarkTitles titles;
        EXPECT_FALSE(CheckInputAndCollectTitles(path, titles, prompter)) << path;
        EXPECT_EQ(prompter.Lines(),
                  std::vector<std::string>{"File Error: Input pdf file not found." + path});
    }
}

TEST(InputCheckTest, RemovalTakesOutEveryItemNamedByATitle) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(
        source,
        {.pages = 10,
         .outline = {
             {"Chapter one", 0, DestKind::Explicit, true, {{"Section 1.1", 1}, {"Section 1.2", 3}}},
             {"Chapter two", 5, DestKind::Explicit, true, {{"Deep", 6}}},
             {"Appendix", 9}}});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    auto view = automation.Create<AVDoc>();
    ASSERT_TRUE(view->Open(source, ""));
    auto part = automation.Create<PDDoc>();
    part->Create();
    ASSERT_TRUE(part->InsertPages(-1, *view->GetPDDoc(), 0, 10, true));
    CBookmarkTitles titles;
    for (const char* t : {"Section 1.1", "Missing", "Chapter two", "Chapter two"})
        titles.Add(t);
    struct : Pump {
        int pumps = 0;
        void PumpOnce() override { ++pumps; }
    } pump;
    RemoveBookmarks(automation, *part, titles, pump);
    EXPECT_EQ(pump.pumps, 4) << "the window is served before every title";
    ASSERT_TRUE(part->Save(33, dir.File("p.pdf")));
    EXPECT_EQ(ReadOutline(dir.File("p.pdf")),
              (std::vector<OutlineEntry>{{"Chapter one", 0, 0, true},
                                         {"Section 1.2", 3, 1, false},
                                         {"Appendix", 9, 0, false}}))
        << "a removed item takes the items below it along";

    CScriptedAutomation failing;
    failing.FailCreation(PDBookmark::kProgId, "no");
    RemoveBookmarks(failing, *part, titles, pump);
    EXPECT_EQ(failing.calls.size(), 1u) << "no bookmark object: nothing more, silently";
}

TEST(DebugTraceTest, WritesFlushedLinesBetweenStartAndClose) {
    CTempDir dir;
    CRecordingPrompter prompter;
    CDebugTrace trace(dir.File("debug.txt"));
    trace.Line("ignored while off\r\n");
    EXPECT_FALSE(trace.IsOn());
    trace.SwitchOn(prompter);
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{
                                    ": Debugging has been turned on, click 'OK' to this message."});
    trace.Line("Split parameters: 1s\r\n");
    EXPECT_EQ(dir.Read("debug.txt"),
              "Started Application version: 1.16\r\nSplit parameters: 1s\r\n")
        << "each line is on disk as soon as it is written";
    trace.SwitchOn(prompter);
    trace.End();
    EXPECT_EQ(dir.Read("debug.txt"), "Started Application version: 1.16\r\nClose\r\n");

    CDebugTrace nowhere(dir.File("no/dir/debug.txt"));
    nowhere.SwitchOn(prompter);
    nowhere.Line("x");
    nowhere.End();
    EXPECT_FALSE(nowhere.IsOn());
}
