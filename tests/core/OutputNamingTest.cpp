#include "core/OutputNaming.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace core;
using testing_support::CRecordingPrompter;
using testing_support::CTempDir;

namespace {

struct Job {
    std::string dir = "/out";
    std::string increment = "Y";
    std::string list;
    std::string start = "0";
};

CJobList OneRow(const Job& job) {
    CJobList rows;
    rows.InsertRow(0, "Yes", -1);
    rows.SetText(0, kColSplitTo, job.dir);
    rows.SetText(0, kColIncrementName, job.increment);
    rows.SetText(0, kColFileList, job.list);
    rows.SetText(0, kColIncrementStart, job.start);
    return rows;
}

OutputPlan Plan(const Job& job, const std::vector<PageRange>& ranges, CRecordingPrompter& prompter,
                const SetupOptions& options = {}, int32_t offset = 0) {
    return PlanOutputPaths(OneRow(job), 0, ranges, "report", offset, options, prompter);
}

std::optional<std::string> Name(const Job& job, PageRange range, int k, int32_t offset = 0,
                                const SetupOptions& options = {},
                                CRecordingPrompter* prompter = nullptr,
                                const std::string& title = "report",
                                CNameListCache* lists = nullptr) {
    CJobList rows;
    rows.InsertRow(0, "Yes", -1);
    rows.SetText(0, kColSplitTo, job.dir);
    rows.SetText(0, kColIncrementName, job.increment);
    rows.SetText(0, kColFileList, job.list);
    rows.SetText(0, kColIncrementStart, job.start);
    CRecordingPrompter local;
    NullTrace trace;
    return BuildOutputPath(rows, 0, range, k, title, offset,
                           {options, prompter ? *prompter : local, trace, lists});
}

} // namespace

TEST(OutputNamingTest, EightFormsWithDefaults) {
    SetupOptions noSource;
    noSource.useSourceName = false;
    const struct {
        Job job;
        PageRange range;
        int k;
        int32_t offset;
        bool useSource;
        const char* path;
    } cases[] = {
        {{}, {1, 1}, 1, 0, true, "/out/report_part0001.pdf"},
        {{}, {4, 9}, 3, 0, true, "/out/report_part0003.pdf"},
        {{.start = "100"}, {1, 1}, 1, 0, true, "/out/report_part0100.pdf"},
        {{.start = "-5"}, {1, 1}, 1, 0, true, "/out/report_part0001.pdf"},
        {{}, {1, 1}, 1, 0, false, "/out/_part0001.pdf"},
        {{.list = "001,002,003"}, {1, 1}, 2, 0, true, "/out/report_part002.pdf"},
        {{.list = "001,002,003"}, {1, 1}, 4, 0, true, "/out/report_partdefault_4.pdf"},
        {{.list = "001,002"}, {1, 1}, 1, 0, false, "/out/_part001.pdf"},
        {{.list = " a , b "}, {1, 1}, 2, 0, true, "/out/report_partb.pdf"},
        {{.list = ",,a,,b,"}, {1, 1}, 2, 0, true, "/out/report_partb.pdf"},
        {{.increment = "N"}, {5, 5}, 1, 0, true, "/out/report_page0005.pdf"},
        {{.increment = ""}, {6, 7}, 1, 0, true, "/out/report_pages0006-0007.pdf"},
        {{.increment = "y"}, {6, 7}, 1, 0, true, "/out/report_pages0006-0007.pdf"},
        {{.increment = "N"}, {1, 2}, 1, 10, true, "/out/report_pages0011-0012.pdf"},
        {{.increment = "N"}, {5, 5}, 1, -4, true, "/out/report_page0001.pdf"},
        {{.increment = "N"}, {5, 5}, 1, 0, false, "/out/page0005.pdf"},
        {{.increment = "N"}, {6, 7}, 1, 0, false, "/out/pages0006-0007.pdf"},
        {{.dir = "/out/"}, {1, 1}, 1, 0, true, "/out/report_part0001.pdf"},
        {{.dir = "//server/out/"}, {1, 1}, 1, 0, true, "//server/out//report_part0001.pdf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Name(c.job, c.range, c.k, c.offset, c.useSource ? SetupOptions{} : noSource),
                  c.path);
}

TEST(OutputNamingTest, CounterWidthFollowsPrintfPrecision) {
    const struct {
        int32_t width;
        int64_t number;
        const char* text;
    } cases[] = {{4, 3, "0003"},   {0, 3, "3"},    {0, 0, ""},
                 {4, -2, "-0002"}, {-3, 7, "7  "}, {2, 12345, "12345"}};
    // A hand-edited width is clamped: no name of gigabytes, and the most negative width still
    // means left-justified rather than wrapping round.
    const std::string zeros31(31, '0'), spaces31(31, ' ');
    const struct {
        int32_t width;
        std::string text;
    } clamped[] = {{2147483647, zeros31 + "7"}, {100000000, zeros31 + "7"},
                   {33, zeros31 + "7"},         {-2147483647 - 1, "7" + spaces31},
                   {-33, "7" + spaces31},       {-32, "7" + spaces31}};
    for (const auto& c : clamped)
        EXPECT_EQ(CounterText(c.width, 7), c.text) << c.width;
    for (const auto& c : cases)
        EXPECT_EQ(CounterText(c.width, c.number), c.text) << c.width << " " << c.number;

    SetupOptions w0;
    w0.counterWidth = 0;
    EXPECT_EQ(Name({}, {1, 1}, 3, 0, w0), "/out/report_part3.pdf");
    EXPECT_EQ(Name({.increment = "N"}, {5, 5}, 1, -5, w0), "/out/report_page.pdf");
}

TEST(OutputNamingTest, NamesFromLineAndCsvFiles) {
    CTempDir dir;
    const std::string names = dir.Write("names.txt", "alpha\r\nbeta\r\n");
    const std::string empty = dir.Write("empty.txt", "");
    const std::string csv = dir.Write("data.csv", "x,y,z\r\nx,,z\r\n");
    const std::string longLine = dir.Write("long.txt", std::string(600, 'q') + "\nshort\n");
    // As editors and spreadsheets save them, with a byte order mark first.
    const std::string marked = dir.Write("marked.txt", "\xEF\xBB\xBF"
                                                       "alpha\r\n");
    const std::string markedCsv = dir.Write("marked.csv", "\xEF\xBB\xBFx,y\r\n");
    const struct {
        std::string list;
        int k;
        std::string name;
    } cases[] = {
        {"file:" + names, 1, "alpha"},
        {"file:" + names, 2, "beta"},
        {"file:" + names, 3, "default_3"},
        {"file:" + empty, 1, "default_1"},
        {"filecsv:" + csv + ",3,1", 1, "xz"},
        {"filecsv:" + csv + ",2,2", 1, "yy"},
        {"filecsv:" + csv + ",2", 2, "z"},
        {"filecsv:" + csv + ",1,1", 1, "x"},
        {"file:" + longLine, 2, std::string(89, 'q')},
        {"file:" + longLine, 3, "short"},
        {"file:" + marked, 1, "alpha"},
        {"filecsv:" + markedCsv + ",1,2", 1, "xy"},
    };
    // A job's cache must name exactly as reading the file each time does.
    CNameListCache lists;
    for (const auto& c : cases)
        for (CNameListCache* cache : {static_cast<CNameListCache*>(nullptr), &lists})
            EXPECT_EQ(Name({.list = c.list}, {1, 1}, c.k, 0, {}, nullptr, "", cache),
                      "/out/_part" + c.name + ".pdf")
                << c.list << " k=" << c.k << (cache ? " cached" : "");
    EXPECT_EQ(lists.Reads(), 6) << "each list file read once";
}

// A long job names thousands of outputs from one list: it is read once, but read again as
// soon as it changes on disk (size or time), and a list gone mid-job is said to be unreadable.
TEST(OutputNamingTest, CachedListIsReadOnceWhileUnchanged) {
    CTempDir dir;
    std::string text;
    for (int i = 1; i <= 300; ++i)
        text += "name" + std::to_string(i) + "\n";
    const std::string path = dir.Write("names.txt", text);
    const Job job{.list = "file:" + path};
    CNameListCache lists;
    for (int k = 1; k <= 300; ++k)
        ASSERT_EQ(Name(job, {1, 1}, k, 0, {}, nullptr, "", &lists),
                  "/out/_partname" + std::to_string(k) + ".pdf");
    EXPECT_EQ(lists.Reads(), 1);

    dir.Write("names.txt", "other\n");
    EXPECT_EQ(Name(job, {1, 1}, 1, 0, {}, nullptr, "", &lists), "/out/_partother.pdf");
    EXPECT_EQ(lists.Reads(), 2) << "another size";

    dir.Write("names.txt", "again\n");
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(Name(job, {1, 1}, 1, 0, {}, nullptr, "", &lists), "/out/_partagain.pdf")
        << "same size, another time";

    std::remove(path.c_str());
    CRecordingPrompter prompter;
    EXPECT_EQ(Name(job, {1, 1}, 1, 0, {}, &prompter, "", &lists), std::nullopt);
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{": Unable to read file list: " + path});
}

TEST(OutputNamingTest, UnreadableListFailsWithItsMessage) {
    CTempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"file:" + dir.File("missing.txt"), dir.File("missing.txt")},
        {"filecsv:" + dir.File("missing.csv") + ",2", dir.File("missing.csv")},
    };
    for (const auto& [list, path] : cases) {
        CRecordingPrompter prompter;
        EXPECT_EQ(Name({.list = list}, {1, 1}, 1, 0, {}, &prompter), std::nullopt);
        EXPECT_EQ(prompter.Lines(),
                  std::vector<std::string>{": Unable to read file list: " + path});
    }
}

TEST(OutputNamingTest, TracesTheListOnlyForIncrementingNames) {
    struct : Trace {
        bool IsOn() const override { return true; }
        void Line(std::string_view t) override { lines.emplace_back(t); }
        std::vector<std::string> lines;
    } trace;
    CJobList rows;
    rows.InsertRow(0, "Yes", -1);
    rows.SetText(0, kColIncrementName, "Y");
    rows.SetText(0, kColFileList, "a,b");
    CRecordingPrompter prompter;
    SetupOptions options;
    BuildOutputPath(rows, 0, {1, 1}, 1, "t", 0, {options, prompter, trace});
    rows.SetText(0, kColIncrementName, "N");
    BuildOutputPath(rows, 0, {1, 1}, 1, "t", 0, {options, prompter, trace});
    EXPECT_EQ(trace.lines, std::vector<std::string>{"m_listFilenames: a,b\r\n"});
}

// The plan reads each list once; the run names each output as it goes. They must agree, or the
// checks of the plan would be made on other names than the ones written.
TEST(OutputPlanTest, PlanGivesTheNamesTheRunWillBuild) {
    CTempDir dir;
    const std::string names = dir.Write("names.txt", "alpha\r\nbeta\r\n" + std::string(600, 'q'));
    const std::string csv = dir.Write("data.csv", "x,y,z\r\nx,,z\r\n");
    const std::vector<PageRange> ranges{{1, 1}, {2, 3}, {4, 4}, {5, 9}, {10, 10}};
    SetupOptions w0;
    w0.counterWidth = 0;
    const struct {
        Job job;
        SetupOptions options;
        int32_t offset;
    } cases[] = {
        {{}},
        {{.start = "7"}},
        {{.increment = "N"}, {}, 3},
        {{.increment = "N"}, w0, -1},
        {{.list = " a , b ,c,,d"}},
        {{.list = "file:" + names}},
        {{.list = "filecsv:" + csv + ",3,1"}},
    };
    for (const auto& c : cases) {
        CRecordingPrompter prompter;
        const OutputPlan plan = Plan(c.job, ranges, prompter, c.options, c.offset);
        ASSERT_EQ(plan.result, OutputPlan::Result::Ok) << c.job.list;
        ASSERT_EQ(plan.paths.size(), ranges.size());
        for (size_t i = 0; i < ranges.size(); ++i)
            EXPECT_EQ(plan.paths[i],
                      Name(c.job, ranges[i], static_cast<int>(i + 1), c.offset, c.options))
                << c.job.list << " output " << i + 1;
        EXPECT_TRUE(prompter.Lines().empty());
    }
}

TEST(OutputPlanTest, NamesThatArePathsAreRefusedBeforeAnythingIsNamed) {
    CTempDir dir;
    const std::string tab = dir.Write("tab.txt", "ok\nbad\tname\n");
    const std::string csv = dir.Write("data.csv", "a,sub/x\n");
    const std::string nameText = "Names may not hold /, .., line feeds, tabs or NUL characters.";
    const struct {
        std::string list;
        std::string shown;
    } cases[] = {
        {"../esc1,../../esc2", "../esc1"},
        {"fine,a/b", "a/b"},
        {"..", ".."},
        {"file:" + tab, "bad\\tname"},
        {"filecsv:" + csv + ",1,2", "asub/x"},
        {std::string("nul\0byte", 8), "nul\\0byte"},
        {"line\nfeed", "line\\nfeed"},
    };
    for (const auto& c : cases) {
        CRecordingPrompter prompter;
        const OutputPlan plan = Plan({.list = c.list}, {{1, 1}, {2, 2}}, prompter);
        EXPECT_EQ(plan.result, OutputPlan::Result::Refused) << c.list;
        EXPECT_EQ(prompter.Lines(),
                  std::vector<std::string>{"File List Error: This name from the file list is a "
                                           "path, not a file name: \"" +
                                           c.shown + "\"\n" + nameText})
            << c.list;
        // Naming at the moment of saving refuses it as well (the file may change in between).
        CRecordingPrompter later;
        const int k = c.list == "fine,a/b" || c.list.starts_with("file:") ? 2 : 1;
        EXPECT_EQ(Name({.list = c.list}, {1, 1}, k, 0, {}, &later), std::nullopt) << c.list;
    }
    // "..." and ".x" are ordinary names; a short list still gives default names.
    CRecordingPrompter prompter;
    EXPECT_EQ(Plan({.list = "...,.x"}, {{1, 1}, {2, 2}, {3, 3}}, prompter).paths,
              (std::vector<std::string>{"/out/report_part....pdf", "/out/report_part.x.pdf",
                                        "/out/report_partdefault_3.pdf"}));
}

TEST(OutputPlanTest, CsvColumnsMustExist) {
    CTempDir dir;
    const std::string csv = dir.Write("data.csv", "a,b\nc,d,e\n");
    const struct {
        std::string columns;
        std::string problem; // empty: accepted
    } cases[] = {
        {",3", ""}, // only the second line has it: that line's name is e, the first one's empty
        {",0", "column 0 of " + csv + ", but columns count from 1."},
        {",-2", "column -2 of " + csv + ", but columns count from 1."},
        {",4", "column 4 of " + csv + ", but no line of it has that many columns."},
        {",1,x", "column 0 of " + csv + ", but columns count from 1."},
    };
    for (const auto& c : cases) {
        CRecordingPrompter prompter;
        const OutputPlan plan = Plan({.list = "filecsv:" + csv + c.columns}, {{1, 1}}, prompter);
        if (c.problem.empty()) {
            EXPECT_EQ(plan.result, OutputPlan::Result::Ok) << c.columns;
            EXPECT_TRUE(prompter.Lines().empty()) << c.columns;
        } else {
            EXPECT_EQ(plan.result, OutputPlan::Result::Refused) << c.columns;
            EXPECT_EQ(
                prompter.Lines(),
                std::vector<std::string>{"File List Error: The file list asks for " + c.problem})
                << c.columns;
        }
    }
}

TEST(OutputPlanTest, DifferentPagesUnderOneNameAreRefused) {
    SetupOptions noSource;
    noSource.useSourceName = false;
    const std::string tail = ".\nNothing of this job was written.";
    const struct {
        Job job;
        std::vector<PageRange> ranges;
        std::string message; // empty: accepted
    } cases[] = {
        {{.list = "a,b,a"},
         {{1, 1}, {2, 2}, {3, 5}},
         "/out/report_parta.pdf\nonce with page 1 and once with pages 3-5"},
        {{.list = " , "},
         {{1, 1}, {2, 2}},
         "/out/report_part.pdf\nonce with page 1 and once with page 2"},
        {{.increment = "N"}, {{1, 3}, {1, 3}}, ""}, // the same pages twice: one file, as asked
        {{.increment = "N"}, {{1, 3}, {4, 6}}, ""},
        {{.list = "x,y"}, {{1, 1}, {2, 2}, {3, 3}}, ""}, // default_3 differs from both
    };
    for (const auto& c : cases) {
        CRecordingPrompter prompter;
        const OutputPlan plan = Plan(c.job, c.ranges, prompter);
        if (c.message.empty()) {
            EXPECT_EQ(plan.result, OutputPlan::Result::Ok) << c.job.list;
            EXPECT_TRUE(prompter.Lines().empty());
        } else {
            EXPECT_EQ(plan.result, OutputPlan::Result::Refused) << c.job.list;
            EXPECT_EQ(prompter.Lines(),
                      std::vector<std::string>{
                          "File Name Error: Two parts of this job would be saved as the same "
                          "file:\n" +
                          c.message + tail});
        }
    }
}

TEST(OutputPlanTest, UnreadableOrSpecialListFilesAreLeftToTheNaming) {
    CTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const std::string& list : {"file:" + dir.File("missing"), "file:" + dir.File("fifo"),
                                    "filecsv:" + dir.File("fifo") + ",1"}) {
        CRecordingPrompter prompter;
        EXPECT_EQ(Plan({.list = list}, {{1, 1}}, prompter).result,
                  OutputPlan::Result::ListUnreadable)
            << list;
        EXPECT_TRUE(prompter.Lines().empty()) << "the naming of the first part says it";
        EXPECT_EQ(Name({.list = list}, {1, 1}, 1, 0, {}, &prompter), std::nullopt);
        EXPECT_EQ(prompter.Lines().size(), 1u);
    }
}
