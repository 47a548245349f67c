#include "engine/SplitRun.h"

#include "core/AddFile.h"
#include "core/Files.h"
#include "core/Text.h"
#include "engine/PageCounter.h"
#include "engine/QpdfAutomation.h"
#include "storage/LogReader.h"
#include "tests/support/Doubles.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/ScriptedAutomation.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace engine;
using namespace testing_support;
using core::kColStatus;
using Raise = CScriptedAutomation::Raise;

namespace {

// A pump that can act at its n-th dispatch, as the user would between two steps.
class ScriptedPump final : public Pump {
  public:
    void PumpOnce() override {
        ++count;
        auto it = at.find(count);
        if (it != at.end())
            it->second();
    }
    int count = 0;
    std::map<int, std::function<void()>> at;
};

// Records every box, and lets a test act while one is up, as the user can while a box waits.
class BoxesPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override {
        if (whileShown)
            std::exchange(whileShown, {})();
        return recorder.Show(text, caption, buttons, icon);
    }
    CRecordingPrompter recorder;
    std::function<void()> whileShown; // once, at the next box
};

struct Fixture {
    CTempDir dir{true};
    core::CJobList list;
    CScriptedAutomation automation;
    BoxesPrompter boxes;
    CRecordingPrompter& prompter = boxes.recorder;
    ScriptedPump pump;
    CFixedClock clock;
    storage::CSplitLog log{clock};
    CRecordingTrace trace;
    core::SetupOptions options;
    CNoConnectionDialog connection;
    std::vector<std::string> labels;
    std::vector<int> writtenRows; // the rows the run named for each output it wrote
    std::unique_ptr<Automation> real;
    CSplitRun run{{list,
                   automation,
                   boxes,
                   pump,
                   log,
                   trace,
                   options,
                   connection,
                   [this](const std::string& l) { labels.push_back(l); },
                   {},
                   [this](int row, int, int, const std::string&) { writtenRows.push_back(row); }}};

    Fixture() {
        trace.on = false;
        log.Open();
    }

    // A job on a source file that exists (its bytes do not matter to the scripted automation).
    void Add(const std::string& params, std::string name = "src.pdf", std::string moveTo = "",
             std::string increment = "N", std::string keep = "Y", std::string fileList = "") {
        const std::string path = dir.Write(name, "%PDF-1.4\r/Title (Mark)\r");
        core::AddFile(
            list, {},
            {20, path, 1, params, moveTo, dir.File("out"), increment, "", keep, fileList, 0, 0, 0});
    }
    // A job added and then moved up to `row`, as a user would with Move Up.
    void AddAt(int row, const std::string& params, const std::string& name) {
        Add(params, name);
        for (int r = list.Count() - 1; r > row; --r)
            list.ExchangeRows(r, r - 1);
    }
    // The files saved, as names relative to the temporary folder, in the order written.
    std::vector<std::string> Saved() const {
        std::vector<std::string> out;
        const std::string prefix = "NewDoc.Save(33, " + dir.Path() + "/";
        for (const std::string& call : automation.CallsOf("NewDoc.Save"))
            out.push_back(call.substr(prefix.size(), call.size() - prefix.size() - 1));
        return out;
    }
    // "name: status" for every row, top to bottom.
    std::vector<std::string> Rows() const {
        std::vector<std::string> out;
        for (int r = 0; r < list.Count(); ++r)
            out.push_back(core::FileTitle(list.Text(r, core::kColFilename)) + ": " +
                          list.Text(r, kColStatus));
        return out;
    }
    std::vector<std::string> Boxes() const { return prompter.Lines(); }
};

} // namespace

TEST(SplitRunTest, PressOnEmptyListDoesNothing) {
    Fixture f;
    f.run.Press();
    EXPECT_TRUE(f.automation.calls.empty());
    EXPECT_TRUE(f.labels.empty());
    EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::None);
}

TEST(SplitRunTest, NoSelectedJobStillConnectsAndEndsNormally) {
    Fixture f;
    f.Add("1");
    f.list.SetText(0, core::kColSelected, "No");
    f.Add("");
    f.run.Press();
    EXPECT_EQ(
        f.automation.calls,
        (std::vector<std::string>{"Create(AcroExch.App)", "Create(AcroExch.AVDoc)",
                                  "Create(AcroExch.PDDoc)", "App.CloseAllDocs()", "App.Exit()"}));
    EXPECT_EQ(f.Boxes(), std::vector<std::string>{"Quillsever: Done."});
    EXPECT_EQ(f.labels, (std::vector<std::string>{"Stop", "Split em'"}));
    EXPECT_EQ(f.list.Text(0, kColStatus), "Ready.");
}

TEST(SplitRunTest, OneRangeWritesItsPagesLogsTheOutputAndLeavesNothingOpen) {
    Fixture f;
    f.Add("5-7");
    f.run.Press();
    const std::string out = f.dir.File("out/src_pages0005-0007.pdf");
    EXPECT_EQ(f.Saved(), std::vector<std::string>{"out/src_pages0005-0007.pdf"});
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(f.automation.CallsOf("NewDoc.InsertPages"),
              std::vector<std::string>{"NewDoc.InsertPages(-1, SourceDoc, 4, 3, 1)"})
        << "pages 5 to 7 and nothing else go into the part";
    // Every source opened is closed again and the session is given back at the end.
    EXPECT_EQ(f.automation.CallsOf("AVDoc.Open").size(),
              f.automation.CallsOf("AVDoc.Close").size());
    EXPECT_EQ(f.automation.calls.back(), "App.Exit()");
    EXPECT_EQ(f.list.Text(0, kColStatus), "Done");
    EXPECT_EQ(f.Boxes(), std::vector<std::string>{"Quillsever: Done."});
    std::vector<storage::LogRow> rows;
    storage::ReadLog("split.log", [&](const storage::LogRow& r) { rows.push_back(r); });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(core::TrimSpaces(rows[0][2]), out);
    EXPECT_EQ(core::TrimSpaces(rows[0][5]), f.dir.File("src.pdf"));
    EXPECT_EQ(rows[0][0].substr(0, 19), "2006-03-07 14:05:09");
}

TEST(SplitRunTest, EveryFailureHasItsMessageAndEnd) {
    const std::string pagesError = "Acrobat Error! error deleting pages from source PDF\nPlease "
                                   "make sure Acrobat is running NOT Adobe Reader";
    const struct {
        const char* name;
        std::function<void(CScriptedAutomation&, Fixture&)> script;
        std::string message;           // "caption: text"
        std::vector<std::string> tail; // the calls after the failing one
    } cases[] = {
        {"F1",
         [](auto& a, auto&) { a.FailCreation(App::kProgId, "x"); },
         std::string(": ") + kConnectFailedMessage,
         {}},
        {"F2",
         [](auto& a, auto&) { a.FailCreation(AVDoc::kProgId, "x"); },
         ": Failed to create AVDoc",
         {}},
        {"F3",
         [](auto& a, auto&) { a.FailCreation(PDDoc::kProgId, "Class not registered", 1); },
         ": Failed to create new PDDoc, Class not registered",
         {}},
        {"F4",
         [](auto& a, auto&) { a.Return("AVDoc.Open", 0); },
         ": Error Opening File : SRC",
         {"App.CloseAllDocs()"}},
        {"F5",
         [](auto& a, auto&) { a.Return("NewDoc.InsertPages", 0); },
         ": Error! can't insert pages 4-3\nPlease make sure Acrobat is running NOT Adobe Reader",
         {"App.CloseAllDocs()"}},
        {"F6a",
         [](auto& a, auto&) {
             a.sourcePages = 20;
             a.Return("NewDoc.GetNumPages", 20)
                 .Throw("NewDoc.DeletePages", Raise::Automation, "Bad page range");
         },
         "Pages Error: Bad page range",
         {}},
        {"F6b",
         [](auto& a, auto&) {
             a.sourcePages = 20;
             a.Return("NewDoc.GetNumPages", 20).Throw("NewDoc.DeletePages", Raise::Other, "?");
         },
         ": " + pagesError,
         {}},
        {"F7",
         [](auto&, Fixture& f) {
             f.list.SetText(0, core::kColFileList, "file:nope.txt"),
                 f.list.SetText(0, core::kColIncrementName, "Y");
         },
         ": Unable to read file list: nope.txt",
         {"App.CloseAllDocs()", "App.Exit()"}},
        {"F8",
         [](auto& a, auto&) { a.Return("NewDoc.Save", 0); },
         ": Failed to save file: OUT",
         {"App.CloseAllDocs()"}},
        {"F9 new",
         [](auto& a, auto&) { a.Return("NewDoc.Close", 0); },
         ": Failed to get Close doc",
         {"App.CloseAllDocs()"}},
        {"F9 view",
         [](auto& a, auto&) { a.Return("AVDoc.Close", 0); },
         ": Failed to get Close doc",
         {"App.CloseAllDocs()"}},
        {"F10",
         [](auto& a, auto&) { a.FailCreation(PDDoc::kProgId, "Out of memory", 2); },
         ": Failed to create new PDDoc, Out of memory",
         {}},
        {"F11",
         [](auto& a, auto&) { a.Throw("SourceDoc.GetNumPages", Raise::Other, "Busy"); },
         ": Busy",
         {}},
        {"F11 empty",
         [](auto& a, auto&) { a.Throw("AVDoc.GetPDDoc", Raise::Automation, ""); },
         ": The PDF engine reported an error without a description.",
         {}},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.Add("5-7");
        c.script(f.automation, f);
        f.run.Press();
        std::string message = c.message;
        for (auto [from, to] :
             {std::pair{std::string("SRC"), f.dir.File("src.pdf")},
              std::pair{std::string("OUT"), f.dir.File("out/src_pages0005-0007.pdf")}}) {
            size_t at = message.find(from);
            if (at != std::string::npos)
                message.replace(at, from.size(), to);
        }
        EXPECT_EQ(f.Boxes(), std::vector<std::string>{message}) << c.name;
        EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::Failed) << c.name;
        EXPECT_EQ(f.labels.back(), "Split em'") << c.name;
        const std::string name = c.name;
        const bool reachedRow = name != "F1" && name != "F2" && name != "F3";
        EXPECT_EQ(f.list.Text(0, kColStatus), reachedRow ? "Failed" : "Ready.") << c.name;
        const auto& calls = f.automation.calls;
        std::vector<std::string> tail(calls.end() - std::min(calls.size(), c.tail.size()),
                                      calls.end());
        EXPECT_EQ(tail, c.tail) << c.name;
        if (c.tail.empty() && !calls.empty()) {
            EXPECT_NE(calls.back(), "App.CloseAllDocs()") << c.name;
        }
    }
}

TEST(SplitRunTest, WholeCopyRepairCutsBackToTheRange) {
    const struct {
        const char* params;
        int newPages;
        std::vector<std::string> deletes;
    } cases[] = {
        {"5-7", 20, {"NewDoc.DeletePages(7, 19)", "NewDoc.DeletePages(0, 3)"}},
        {"1-3", 20, {"NewDoc.DeletePages(3, 19)"}},
        {"5-7", 3, {}},
        {"5-7", 19, {}}, // more than asked but not the whole source: left alone
    };
    for (const auto& c : cases) {
        Fixture f;
        f.automation.sourcePages = 20;
        f.automation.Return("NewDoc.GetNumPages", c.newPages);
        f.Add(c.params);
        f.run.Press();
        EXPECT_EQ(f.automation.CallsOf("NewDoc.DeletePages"), c.deletes) << c.params;
        EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::AllDone);
    }
}

TEST(SplitRunTest, TraceTellsWhatEachRangeDidAndWhereItWent) {
    Fixture f;
    f.trace.on = true;
    f.Add("1,3-4", "src.pdf", "", "Y", "Y", "a,b");
    f.run.Press();
    const auto& lines = f.trace.lines;
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n") << line;
    EXPECT_EQ(lines.front(), "Split parameters: 1,3-4\r\n");
    EXPECT_EQ(lines.back(), "Done.\r\n");
    auto has = [&](const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    };
    // Per range: the pages put into the part and the file it became, which exists.
    EXPECT_EQ(has("insert pages: "),
              (std::vector<std::string>{"insert pages: 1, 1\r\n", "insert pages: 3, 2\r\n"}));
    const std::vector<std::string> outs{f.dir.File("out/src_parta.pdf"),
                                        f.dir.File("out/src_partb.pdf")};
    EXPECT_EQ(has("outfile: "), (std::vector<std::string>{"outfile: " + outs[0] + "\r\n",
                                                          "outfile: " + outs[1] + "\r\n"}));
    for (const std::string& out : outs)
        EXPECT_TRUE(std::filesystem::exists(out)) << out;
    EXPECT_EQ(has("Opened file: ").size(), 2u) << "the source is opened once per range";

    Fixture quiet; // with the trace off, nothing is written and nothing extra is asked
    quiet.Add("1,3-4");
    quiet.run.Press();
    EXPECT_TRUE(quiet.trace.lines.empty());
    EXPECT_EQ(quiet.automation.CallsOf("NewDoc.GetNumPages").size(), 2u);
}

TEST(SplitRunTest, StopBeforeARangeAndAfterAJob) {
    {
        Fixture f; // pressed during the first range: the second range never starts
        f.Add("1,2");
        f.automation.Before(
            "NewDoc.Save", [&] { f.run.Press(); }, 1);
        f.run.Press();
        EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::StoppedBeforeRange);
        EXPECT_EQ(f.list.Text(0, kColStatus), "Stopped");
        EXPECT_EQ(f.automation.CallsOf("NewDoc.Save").size(), 1u);
        EXPECT_TRUE(f.automation.CallsOf("App.Exit").empty());
        EXPECT_TRUE(f.Boxes().empty());
        EXPECT_EQ(f.labels, (std::vector<std::string>{"Stop", "Split em'"}));
    }
    {
        Fixture f; // pressed during a job's last range: the job finishes, moves and is "Done"
        f.Add("1", "a.pdf", f.dir.Path() + "/moved");
        f.Add("1", "b.pdf");
        std::filesystem::create_directory(f.dir.File("moved"));
        f.automation.Before(
            "NewDoc.Save", [&] { f.run.Press(); }, 1);
        f.run.Press();
        EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::StoppedAfterJob);
        EXPECT_EQ(f.list.Text(0, kColStatus), "Done");
        EXPECT_EQ(f.list.Text(1, kColStatus), "Ready.");
        EXPECT_TRUE(std::filesystem::exists(f.dir.File("moved/a.pdf")));
        EXPECT_EQ(f.automation.calls.back(), "App.CloseAllDocs()");
        EXPECT_TRUE(f.Boxes().empty());
    }
}

TEST(SplitRunTest, RowsAddedOrDeletedWhileRunningAreHonoured) {
    Fixture f;
    f.Add("1", "a.pdf");
    f.Add("1", "b.pdf");
    f.Add("1", "c.pdf");
    // While the first job runs, the user deletes the last row and adds another.
    f.automation.Before(
        "NewDoc.Save",
        [&] {
            f.list.DeleteRow(2);
            f.Add("2", "d.pdf");
        },
        1);
    f.run.Press();
    EXPECT_EQ(f.list.Count(), 3);
    EXPECT_EQ(
        f.automation.CallsOf("NewDoc.Save"),
        (std::vector<std::string>{"NewDoc.Save(33, " + f.dir.File("out/a_page0001.pdf") + ")",
                                  "NewDoc.Save(33, " + f.dir.File("out/b_page0001.pdf") + ")",
                                  "NewDoc.Save(33, " + f.dir.File("out/d_page0002.pdf") + ")"}));
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(f.list.Text(r, kColStatus), "Done");

    Fixture g; // every row deleted mid-job: the part being written is the job's last
    g.Add("1,2,3", "a.pdf", g.dir.File("moved"));
    g.automation.Before(
        "NewDoc.Save", [&] { g.list.DeleteAll(); }, 1);
    g.run.Press();
    EXPECT_EQ(g.automation.CallsOf("NewDoc.Save").size(), 1u);
    EXPECT_EQ(g.run.LastEnd(), CSplitRun::End::StoppedAfterJob);
    EXPECT_TRUE(g.Boxes().empty()) << "no \"Done.\" for a list the user cleared";
    EXPECT_TRUE(std::filesystem::exists(g.dir.File("a.pdf"))) << "the source stays put";
}

TEST(SplitRunTest, TheRunFollowsItsJobWhenRowsChangeMidRun) {
    const struct {
        const char* name;
        std::vector<std::string> jobs; // one range each, in these files
        int duringSave;                // the edit comes just before this save
        std::function<void(Fixture&)> edit;
        std::vector<std::string> saved;
        std::vector<std::string> rows;
        std::vector<int> writtenRows;
    } cases[] = {
        {"delete the running row",
         {"a", "b", "c"},
         1,
         [](Fixture& f) { f.list.DeleteRow(0); },
         {"out/a_page0001.pdf", "out/b_page0001.pdf", "out/c_page0001.pdf"},
         {"b.pdf: Done", "c.pdf: Done"},
         {-1, 0, 1}},
        {"swap the running row with the next",
         {"a", "b", "c"},
         1,
         [](Fixture& f) { f.list.ExchangeRows(0, 1); },
         // b now sits above the running job, as a row inserted there would: not in this press
         {"out/a_page0001.pdf", "out/c_page0001.pdf"},
         {"b.pdf: Ready.", "a.pdf: Done", "c.pdf: Done"},
         {1, 2}},
        {"a job already run moved below the running one",
         {"a", "b", "c"},
         2,
         [](Fixture& f) { f.list.ExchangeRows(0, 2); },
         {"out/a_page0001.pdf", "out/b_page0001.pdf"},
         {"c.pdf: Ready.", "b.pdf: Done", "a.pdf: Done"},
         {0, 1}},
        {"swap two rows below the running one",
         {"a", "b", "c"},
         1,
         [](Fixture& f) { f.list.ExchangeRows(1, 2); },
         {"out/a_page0001.pdf", "out/c_page0001.pdf", "out/b_page0001.pdf"},
         {"a.pdf: Done", "c.pdf: Done", "b.pdf: Done"},
         {0, 1, 2}},
        {"insert a row above",
         {"a", "b"},
         1,
         [](Fixture& f) { f.AddAt(0, "1", "x.pdf"); },
         {"out/a_page0001.pdf", "out/b_page0001.pdf"},
         {"x.pdf: Ready.", "a.pdf: Done", "b.pdf: Done"},
         {1, 2}},
        {"stop while a row is inserted above",
         {"a", "b"},
         1,
         [](Fixture& f) {
             f.list.ExchangeRows(0, 1);
             f.run.Press();
             f.Add("1,2", "y.pdf");
         },
         {"out/a_page0001.pdf"},
         {"b.pdf: Ready.", "a.pdf: Done", "y.pdf: Ready."},
         {1}},
    };
    for (const auto& c : cases) {
        Fixture f;
        for (const std::string& job : c.jobs)
            f.Add("1", job + ".pdf");
        f.automation.Before(
            "NewDoc.Save", [&] { c.edit(f); }, c.duringSave);
        f.run.Press();
        EXPECT_EQ(f.Saved(), c.saved) << c.name;
        EXPECT_EQ(f.Rows(), c.rows) << c.name;
        EXPECT_EQ(f.writtenRows, c.writtenRows) << c.name;
    }
}

TEST(SplitRunTest, StoppedIsShownOnTheJobsRowWhereverItMoved) {
    Fixture f;
    f.Add("1,2", "a.pdf");
    f.automation.Before(
        "NewDoc.Save",
        [&] {
            f.run.Press();
            f.AddAt(0, "1", "x.pdf");
        },
        1);
    f.run.Press();
    EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::StoppedBeforeRange);
    EXPECT_EQ(f.Rows(), (std::vector<std::string>{"x.pdf: Ready.", "a.pdf: Stopped"}));
}

TEST(SplitRunTest, OutputsLandWhereTheJobSaidWhenRowsChangeMidRun) {
    Fixture f;
    f.Add("1,2", "a.pdf");
    f.automation.Before(
        "NewDoc.Save",
        [&] {
            // A row with other folders and naming arrives above the job, and the job's own row
            // is edited: neither may redirect the outputs of the job under way.
            f.AddAt(0, "3", "x.pdf");
            f.list.SetText(0, core::kColSplitTo, f.dir.File("elsewhere"));
            f.list.SetText(0, core::kColIncrementName, "Y");
            f.list.SetText(0, core::kColFileList, "p,q");
            f.list.SetText(1, core::kColSplitTo, f.dir.File("changed"));
            f.list.SetText(1, core::kColPageOffset, "100");
        },
        1);
    f.run.Press();
    EXPECT_EQ(f.Saved(), (std::vector<std::string>{"out/a_page0001.pdf", "out/a_page0002.pdf"}));
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("elsewhere")));
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("changed")));
}

TEST(SplitRunTest, EditsWhileTheInputCheckShowsItsBoxDoNotReachTheJob) {
    Fixture f;
    f.Add("1", "a.pdf");
    std::filesystem::remove(f.dir.File("a.pdf")); // the input check says so in a box
    f.boxes.whileShown = [&] {
        f.AddAt(0, "1", "x.pdf");
        f.list.SetText(0, core::kColPageOffset, "100");
    };
    f.run.Press();
    EXPECT_EQ(f.Saved(), std::vector<std::string>{"out/a_page0001.pdf"});
    EXPECT_EQ(f.Rows(), (std::vector<std::string>{"x.pdf: Ready.", "a.pdf: Done"}));
}

TEST(SplitRunTest, MovesKeepTheSourceUnlessTheMoveIsComplete) {
    Fixture f;
    std::filesystem::create_directory(f.dir.File("done"));
    f.Add("1", "a.pdf", f.dir.File("done"));
    f.Add("1", "b.pdf", f.dir.File("missing-dir"));
    f.Add("1", "c.pdf", f.dir.Path()); // its own directory: nothing to do
    f.Add("blank", "d.pdf", f.dir.File("done"));
    f.run.Press();
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("a.pdf")));
    EXPECT_TRUE(std::filesystem::exists(f.dir.File("done/a.pdf")));
    EXPECT_TRUE(std::filesystem::exists(f.dir.File("b.pdf")));
    EXPECT_TRUE(std::filesystem::exists(f.dir.File("c.pdf")));
    EXPECT_TRUE(std::filesystem::exists(f.dir.File("done/d.pdf"))) << "a blank job only moves";
    EXPECT_EQ(f.automation.CallsOf("NewDoc.Save").size(), 3u);
    EXPECT_EQ(f.Boxes(),
              (std::vector<std::string>{"Move Error: Can't move file: " + f.dir.File("b.pdf") +
                                            "\nto: " + f.dir.File("missing-dir/b.pdf") +
                                            "\nThe file was left where it was.",
                                        "Quillsever: Done."}));
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(f.list.Text(r, kColStatus), "Done");
    EXPECT_TRUE(f.run.HadFailures()) << "a terminal run must be able to say so";
}

// Two sources of one name from different folders: the second must not replace the first.
TEST(SplitRunTest, MoveNeverReplacesAFileOfTheSameName) {
    std::vector<std::string> folders{"done"};
    // Across file systems the move copies; a RAM disk is one when the temporary folder is not.
    struct stat shm {
    }, tmp{};
    CTempDir probe;
    const bool otherDevice = ::stat("/dev/shm", &shm) == 0 && ::access("/dev/shm", W_OK) == 0 &&
                             ::stat(probe.Path().c_str(), &tmp) == 0 && shm.st_dev != tmp.st_dev;
    if (otherDevice) {
        char pattern[] = "/dev/shm/qs-test-XXXXXX";
        if (::mkdtemp(pattern))
            folders.push_back(pattern);
    }
    for (const std::string& folder : folders) {
        Fixture f;
        const std::string done = folder == "done" ? f.dir.File("done") : folder;
        std::filesystem::create_directories(done);
        const std::string big(3 << 20, 'b'); // more than one chunk of the copy
        f.Add("1", "a.pdf", done);
        f.dir.Write("a.pdf", big);
        f.Add("1", "b.pdf", done);
        f.dir.Write("b.pdf", big + "end");
        std::ofstream(done + "/a.pdf", std::ios::binary) << "theirs";
        f.run.Press();
        EXPECT_EQ(f.Boxes(),
                  (std::vector<std::string>{"Move Error: Can't move file: " + f.dir.File("a.pdf") +
                                                "\nto: " + done + "/a.pdf" +
                                                "\nA file of that name is already there." +
                                                "\nThe file was left where it was.",
                                            "Quillsever: Done."}))
            << folder;
        EXPECT_EQ(f.dir.Read("a.pdf"), big) << folder;
        std::ifstream theirs(done + "/a.pdf", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), {}), "theirs") << folder;
        EXPECT_FALSE(std::filesystem::exists(f.dir.File("b.pdf"))) << folder;
        std::ifstream moved(done + "/b.pdf", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), big + "end") << folder;
        EXPECT_EQ(DirectoryListing(done), "a.pdf b.pdf") << "no temporary file left " << folder;
        EXPECT_TRUE(f.run.HadFailures());
        if (folder != "done")
            std::filesystem::remove_all(folder);
    }
}

// Each refusal happens before the job's first part: nothing of it is written, the row says
// "Failed" and the next job is split as usual.
TEST(SplitRunTest, RefusedJobsWriteNothingAndTheNextJobGoesOn) {
    const struct {
        const char* name;
        std::function<void(Fixture&)> setUp;
        std::string box;
    } cases[] = {
        {"no split-to folder", [](Fixture& f) { f.list.SetText(0, core::kColSplitTo, ""); },
         "Error Destination: you must specify an destination directory"},
        {"too many ranges",
         [](Fixture& f) {
             f.list.SetText(0, core::kColSplitParameters, "1s");
             f.list.SetText(0, core::kColPages, "25000");
         },
         "Error in parameters: Too many page ranges (at most 19998)."},
        {"names that are paths",
         [](Fixture& f) {
             f.list.SetText(0, core::kColIncrementName, "Y");
             f.list.SetText(0, core::kColFileList, "ok,../../esc2");
         },
         "File List Error: This name from the file list is a path, not a file name: "
         "\"../../esc2\"\nNames may not hold /, .., line feeds, tabs or NUL characters."},
        {"one name for different pages",
         [](Fixture& f) {
             f.list.SetText(0, core::kColIncrementName, "Y");
             f.list.SetText(0, core::kColFileList, "same,same");
         },
         "File Name Error: Two parts of this job would be saved as the same file:\n" +
             std::string("OUT/a_partsame.pdf\nonce with page 1 and once with page 2.\n") +
             "Nothing of this job was written."},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.Add("1,2", "a.pdf", f.dir.File("moved"));
        std::filesystem::create_directory(f.dir.File("moved"));
        f.Add("1", "b.pdf");
        c.setUp(f);
        f.run.Press();
        std::string box = c.box;
        if (auto at = box.find("OUT"); at != std::string::npos)
            box.replace(at, 3, f.dir.File("out"));
        EXPECT_EQ(f.Boxes(), (std::vector<std::string>{box, "Quillsever: Done."})) << c.name;
        EXPECT_EQ(
            f.automation.CallsOf("NewDoc.Save"),
            std::vector<std::string>{"NewDoc.Save(33, " + f.dir.File("out/b_page0001.pdf") + ")"})
            << c.name;
        EXPECT_EQ(f.list.Text(0, kColStatus), "Failed") << c.name;
        EXPECT_EQ(f.list.Text(1, kColStatus), "Done") << c.name;
        EXPECT_TRUE(std::filesystem::exists(f.dir.File("a.pdf"))) << "a refused job's source stays";
        EXPECT_EQ(f.run.LastEnd(), CSplitRun::End::AllDone);
        EXPECT_TRUE(f.run.HadFailures()) << c.name;
    }
    Fixture clean;
    clean.Add("1,2");
    clean.run.Press();
    EXPECT_FALSE(clean.run.HadFailures());
}

// A full disk under split.log: the parts are written, the log line is not; one box says so.
TEST(SplitRunTest, LogThatCannotBeWrittenIsReportedOncePerRun) {
    Fixture f;
    f.dir.Write("full.log", "0123456789"); // already as large as the child's files may grow
    const std::string seen = testing_support::InChildWithFileSizeLimit(10, [&] {
        storage::CSplitLog full(f.clock, f.dir.File("full.log"));
        if (!full.Open())
            return std::string("not open");
        CSplitRun run(
            {f.list, f.automation, f.prompter, f.pump, full, f.trace, f.options, f.connection});
        f.Add("1,2");
        f.Add("3", "other.pdf");
        std::string out;
        for (int press = 0; press < 2; ++press) {
            f.prompter.boxes.clear();
            run.Press();
            for (const std::string& box : f.Boxes())
                out += box + "\n";
            out += run.HadFailures() ? "failures\n" : "clean\n";
        }
        return out + std::to_string(f.automation.CallsOf("NewDoc.Save").size());
    });
    const std::string once = "Log File Error: Can't write to " + f.dir.File("full.log") +
                             ": the parts are saved, but from " +
                             f.dir.File("out/src_page0001.pdf") +
                             " on they are missing from the log.\nQuillsever: Done.\nfailures\n";
    EXPECT_EQ(seen, once + once + "6");
}

TEST(SplitRunTest, MissingSourceIsReportedTwice) {
    Fixture f;
    f.Add("1");
    std::filesystem::remove(f.dir.File("src.pdf"));
    f.automation.Return("AVDoc.Open", 0);
    f.run.Press();
    EXPECT_EQ(f.Boxes(), (std::vector<std::string>{
                             "File Error: Input pdf file not found." + f.dir.File("src.pdf"),
                             ": Error Opening File : " + f.dir.File("src.pdf")}));
}

TEST(SplitRunTest, BookmarksAreRemovedByTitleWhenNotKept) {
    Fixture f;
    f.automation.bookmarkTitles = {"Mark"};
    f.Add("1,2", "src.pdf", "", "N", "N");
    f.run.Press();
    EXPECT_EQ(f.automation.CallsOf("Bookmark."),
              (std::vector<std::string>{"Bookmark.GetByTitle(Mark)", "Bookmark.Destroy()",
                                        "Bookmark.GetByTitle(Mark)", "Bookmark.Destroy()"}));
    EXPECT_EQ(f.automation.CallsOf("NewDoc.InsertPages")[0],
              "NewDoc.InsertPages(-1, SourceDoc, 0, 1, 0)");
}

TEST(SplitRunTest, OutputOverItsOwnSourceIsAFailedSave) {
    Fixture f;
    f.Add("1", "page0001.pdf");
    f.list.SetText(0, core::kColSplitTo, f.dir.Path());
    f.options.useSourceName = false;
    f.run.Press();
    EXPECT_EQ(f.Boxes(),
              std::vector<std::string>{": Failed to save file: " + f.dir.File("page0001.pdf")});
    EXPECT_TRUE(f.automation.CallsOf("NewDoc.Save").empty());
}

TEST(SplitRunTest, EndToEndThroughQpdf) {
    CTempDir dir(true);
    WritePdf(dir.File("book.pdf"),
             {.pages = 9,
              .outline = {{"One", 0, DestKind::Explicit, true, {{"One.a", 1}}},
                          {"Two", 4, DestKind::GoTo}}});
    WritePdf(dir.File("Other.PDF"), {.pages = 4});
    core::CJobList list;
    core::AddFile(list, {},
                  {9, dir.File("book.pdf"), 1, "1-2,5,odd", "", dir.File("parts"), "N", "", "Y", "",
                   0, 0, 0});
    core::AddFile(
        list, {},
        {4, dir.File("Other.PDF"), 1, "2s", "", dir.File("parts"), "Y", "", "N", "", 7, 0, 0});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    CRecordingPrompter prompter;
    CNoPump pump;
    CFixedClock clock;
    storage::CSplitLog log(clock);
    log.Open();
    core::SetupOptions options;
    CNoConnectionDialog connection;
    CSplitRun run({list, automation, prompter, pump, log, trace, options, connection});
    run.Press();
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{"Quillsever: Done."});
    const std::string parts = dir.File("parts/");
    const struct {
        std::string name;
        std::vector<int> pages;
        size_t bookmarks;
    } outputs[] = {
        {"book_pages0001-0002.pdf", {1, 2}, 2}, {"book_page0005.pdf", {5}, 1},
        {"book_page0001.pdf", {1}, 1},          {"book_page0003.pdf", {3}, 0},
        {"book_page0005.pdf", {5}, 1},          {"book_page0007.pdf", {7}, 0},
        {"book_page0009.pdf", {9}, 0},          {"Other.PDF_part0007.pdf", {1, 2}, 0},
        {"Other.PDF_part0008.pdf", {3, 4}, 0},
    };
    for (const auto& o : outputs) {
        ASSERT_TRUE(std::filesystem::exists(parts + o.name)) << o.name;
        EXPECT_EQ(PageMarkers(parts + o.name), o.pages) << o.name;
        EXPECT_EQ(ReadOutline(parts + o.name).size(), o.bookmarks) << o.name;
    }
    std::vector<storage::LogRow> rows;
    storage::ReadLog("split.log", [&](const storage::LogRow& r) { rows.push_back(r); });
    ASSERT_EQ(rows.size(), std::size(outputs));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(core::TrimSpaces(rows[i][2]), parts + outputs[i].name);
        EXPECT_GT(core::LeadingInt(rows[i][1]), 0);
    }
    EXPECT_EQ(core::TrimSpaces(rows[7][5]), dir.File("Other.PDF.pdf"));
    EXPECT_EQ(list.Text(0, kColStatus), "Done");
    EXPECT_EQ(list.Text(1, kColStatus), "Done");
    EXPECT_EQ(automation.ParseCount(), 2) << "each source parsed once for all its parts";
}

// A full disk mid-run: the part is not saved under its name (an earlier file of that name
// survives), nothing is logged for it, and the run ends with "Failed to save file".
TEST(SplitRunTest, PartThatCannotBeWrittenEndsTheRunAsAFailedSave) {
    CTempDir dir(true);
    WritePdf(dir.File("book.pdf"), {.pages = 3, .paddingBytes = 20000});
    std::filesystem::create_directory(dir.File("parts"));
    dir.Write("parts/book_page0002.pdf", "an earlier part");
    core::CJobList list;
    core::AddFile(
        list, {},
        {3, dir.File("book.pdf"), 1, "1-3,2", "", dir.File("parts"), "N", "", "Y", "", 0, 0, 0});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    CRecordingPrompter prompter;
    CNoPump pump;
    CFixedClock clock;
    storage::CSplitLog log(clock);
    log.Open();
    core::SetupOptions options;
    CNoConnectionDialog connection;
    CSplitRun run({list, automation, prompter, pump, log, trace, options, connection});
    // The first part (three pages) does not fit under the limit.
    const std::string outcome = InChildWithFileSizeLimit(30000, [&] {
        run.Press();
        std::string text = run.LastEnd() == CSplitRun::End::Failed ? "failed" : "not failed";
        for (const auto& line : prompter.Lines())
            text += "|" + line;
        return text + "|" + list.Text(0, kColStatus);
    });
    EXPECT_EQ(outcome, "failed|: Failed to save file: " +
                           dir.File("parts/book_pages0001-0003.pdf") + "|Failed");
    EXPECT_EQ(DirectoryListing(dir.File("parts")), "book_page0002.pdf");
    EXPECT_EQ(dir.Read("parts/book_page0002.pdf"), "an earlier part");
    EXPECT_EQ(dir.Read("split.log"), "") << "nothing logged for a part that is not there";
}

TEST(SplitRunTest, LogClearedMidRunTakesTheLaterLines) {
    Fixture f;
    f.Add("1,2,3");
    f.automation.Before(
        "NewDoc.Save", [&] { f.log.Clear(); }, 2);
    f.run.Press();
    std::vector<storage::LogRow> rows;
    storage::ReadLog("split.log", [&](const storage::LogRow& r) { rows.push_back(r); });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(core::TrimSpaces(rows[0][2]), f.dir.File("out/src_page0002.pdf"));
    EXPECT_EQ(core::TrimSpaces(rows[1][2]), f.dir.File("out/src_page0003.pdf"));
}

// Adding a job counts its pages and the run then splits it, as `split` does: while the session
// lives (the command holds it), both are served by one parse; the parts, named from a list,
// share one output document.
TEST(SplitRunTest, CountAndRunShareOneParse) {
    CTempDir dir(true);
    WritePdf(dir.File("book.pdf"), {.pages = 40});
    std::string names;
    for (int i = 1; i <= 40; ++i)
        names += "n" + std::to_string(i) + "\n";
    dir.Write("names.txt", names);
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    const auto held = automation.Create<App>();
    CRecordingPrompter prompter;
    CNoPump pump;
    CNoConnectionDialog connection;
    CPageCounter counter(automation, prompter, pump, connection);
    core::CJobList list;
    ASSERT_EQ(core::AddFile(list, {[&](const std::string& path, int row) {
                                return counter.Count(path, row);
                            }},
                            {0, dir.File("book.pdf"), 1, "1s", "", dir.File("parts"), "Y", "", "Y",
                             "file:" + dir.File("names.txt"), 0, 0, 0}),
              core::kAddFileAdded);
    EXPECT_EQ(list.Text(0, core::kColPages), "40");
    CFixedClock clock;
    storage::CSplitLog log(clock);
    log.Open();
    core::SetupOptions options;
    options.useSourceName = false;
    CSplitRun run({list, automation, prompter, pump, log, trace, options, connection});
    run.Press();
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{"Quillsever: Done."});
    EXPECT_EQ(automation.ParseCount(), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.File("parts/_partn40.pdf")));
    EXPECT_EQ(PageMarkers(dir.File("parts/_partn17.pdf")), std::vector<int>{17});
    EXPECT_LE(automation.DocumentsBuilt(), 2) << "one output document serves the parts";
}
