#include "core/OutputNaming.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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

std::optional<std::string> Name(const Job& job, PageRange range, int k, int32_t offset = 0,
                                const SetupOptions& options = {},
                                CRecordingPrompter* prompter = nullptr,
                                const std::string& title = "report") {
    CJobList rows;
    rows.InsertRow(0, "Yes", -1);
    rows.SetText(0, kColSplitTo, job.dir);
    rows.SetText(0, kColIncrementName, job.increment);
    rows.SetText(0, kColFileList, job.list);
    rows.SetText(0, kColIncrementStart, job.start);
    CRecordingPrompter local;
    NullTrace trace;
    return BuildOutputPath(rows, 0, range, k, title, offset,
                           {options, prompter ? *prompter : local, trace});
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(Name({.list = c.list}, {1, 1}, c.k, 0, {}, nullptr, ""),
                  "/out/_part" + c.name + ".pdf")
            << c.list << " k=" << c.k;
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
