#include "storage/SplitLog.h"
#include "storage/CsvExport.h"
#include "storage/LogReader.h"

#include "tests/support/Doubles.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include "tests/support/FileSizeLimit.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

using namespace storage;
using testing_support::CFixedClock;
using testing_support::CRecordingPrompter;
using testing_support::CRecordingShell;
using testing_support::CScriptedFileDialogs;
using testing_support::CTempDir;

namespace {

std::vector<LogRow> ReadAll(const std::string& path) {
    std::vector<LogRow> rows;
    ReadLog(path, [&](const LogRow& r) { rows.push_back(r); });
    return rows;
}

std::string Pad(const std::string& s, size_t width) {
    return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
}

} // namespace

TEST(SplitLogTest, LineIsFixedWidthAtTheDocumentedOffsets) {
    CTempDir dir(true);
    CFixedClock clock;
    dir.Write("out/r_part0001.pdf", std::string(12345, 'x'));
    CSplitLog log(clock);
    ASSERT_TRUE(log.Open());
    log.Write(dir.File("out/r_part0001.pdf"), "/in/r");
    const std::string line = dir.Read("split.log");
    ASSERT_EQ(line.size(), 241u);
    EXPECT_EQ(line.substr(0, 23), "2006-03-07 14:05:09   \t");
    EXPECT_EQ(line.substr(23, 9), "12345   \t");
    EXPECT_EQ(line.substr(32, 81), Pad(dir.File("out/r_part0001.pdf"), 80) + "\t");
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   )");
    EXPECT_TRUE(std::regex_match(line.substr(113, 22), stamp)) << line.substr(113, 22);
    EXPECT_EQ(line[135], '\t');
    EXPECT_TRUE(std::regex_match(line.substr(136, 22), stamp));
    EXPECT_EQ(line.substr(158, 83), "\t" + Pad("/in/r.pdf", 80) + "\r\n");
}

TEST(SplitLogTest, MissingOutputAndBigSizesAreRecordedSoundly) {
    EXPECT_EQ(LogLine("t", 0, "/o.pdf", "", "", "/s.pdf").substr(0, 158),
              Pad("t", 22) + "\t0       \t" + Pad("/o.pdf", 80) + "\t" + std::string(22, ' ') +
                  "\t" + std::string(22, ' '));
    // Sizes past 2 GiB are written whole.
    EXPECT_EQ(LogLine("t", 5000000000LL, "/o", "", "", "").substr(23, 11), "5000000000\t");

    CTempDir dir(true);
    CFixedClock clock;
    CSplitLog log(clock);
    log.Open();
    log.Write(dir.File("never-written.pdf"), "/s");
    EXPECT_EQ(dir.Read("split.log").substr(23, 9), "0       \t");
}

TEST(SplitLogTest, ReaderGivesTheSixCellsAndLongPathsWhole) {
    CTempDir dir(true);
    const std::string longPath = "/" + std::string(100, 'p') + ".pdf";
    const std::string normal = LogLine("2006-03-07 14:05:09", 100, "/o/a.pdf", "c", "m", "/s.pdf");
    const std::string wide =
        LogLine("2006-03-07 14:05:09", 123456789, longPath, "c", "m", "/s.pdf");
    dir.Write("split.log", normal + wide + "last\tline");
    auto rows = ReadAll("split.log");
    ASSERT_EQ(rows.size(), 3u);
    const LogRow want{Pad("2006-03-07 14:05:09", 22) + " ",
                      "100      ",
                      Pad("/o/a.pdf", 80) + " ",
                      Pad("c", 22) + " ",
                      Pad("m", 22) + " ",
                      Pad("/s.pdf", 80) + " "};
    EXPECT_EQ(rows[0], want);
    EXPECT_EQ(rows[1][1], "123456789 ");
    EXPECT_EQ(rows[1][2], longPath + " ");
    EXPECT_EQ(rows[1][5], want[5]);
    EXPECT_EQ(rows[2], (LogRow{"last ", "line ", " ", " ", " ", " "}))
        << "a last line without LF keeps its last character";

    // A line feed in a name ends no row; a row wider than the reader keeps is ended all the
    // same by its CR LF.
    dir.Write("names.log", LogLine("2006-03-07 14:05:09", 1, "/o/a\nb.pdf", "c", "m", "/s.pdf") +
                               std::string(30000, 'w') + "\r\nnot a time\r\n");
    rows = ReadAll("names.log");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][2], Pad("/o/a\nb.pdf", 80) + " ");
    EXPECT_EQ(rows[2][0], "not a time ");

    EXPECT_FALSE(ReadLog(dir.File("absent.log"), [](const LogRow&) {}));
    dir.Write("empty.log", "");
    EXPECT_TRUE(ReadAll(dir.File("empty.log")).empty());
}

TEST(SplitLogTest, ViewerSortIsAscendingByText) {
    std::vector<LogRow> rows;
    for (const char* size : {"30 ", "100 ", "2000 ", "100 "})
        rows.push_back({"t ", size, "a ", "", "", ""});
    rows[3][2] = "b ";
    SortLogRows(rows, 1);
    std::vector<std::string> sizes;
    for (const LogRow& r : rows)
        sizes.push_back(r[1]);
    EXPECT_EQ(sizes, (std::vector<std::string>{"100 ", "100 ", "2000 ", "30 "}));
    SortLogRows(rows, 1);
    EXPECT_EQ(rows[2][1], "2000 ");
    SortLogRows(rows, 6); // no such column: nothing happens
    EXPECT_EQ(rows[3][1], "30 ");
}

TEST(SplitLogTest, ClearWhileLinesKeepComing) {
    CTempDir dir(true);
    CFixedClock clock;
    CSplitLog log(clock);
    log.Open();
    log.Write("/a.pdf", "/s1");
    log.Write("/b.pdf", "/s2");
    EXPECT_EQ(ReadAll("split.log").size(), 2u);
    log.Clear();
    EXPECT_TRUE(ReadAll("split.log").empty());
    log.Write("/c.pdf", "/s3");
    auto rows = ReadAll("split.log");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2].substr(0, 6), "/c.pdf");
    EXPECT_EQ(dir.Read("split.log").size(), 241u);
}

TEST(SplitLogTest, UnopenableLogRecordsNothingAndFailsNothing) {
    CTempDir dir(true);
    CFixedClock clock;
    CRecordingPrompter prompter;
    CSplitLog log(clock, dir.File("no/dir/split.log"));
    EXPECT_FALSE(log.Open(&prompter));
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{"Log File Error: Can't open split.log"});
    log.Write("/a.pdf", "/s"); // must not crash
    log.Clear();
}

TEST(CsvExportTest, BytesAreExactAndOnlyOddFieldsAreQuoted) {
    EXPECT_EQ(CsvField("plain text "), "plain text ");
    EXPECT_EQ(CsvField("a,b "), "\"a,b \"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");

    CTempDir dir(true);
    const std::string line = LogLine("2006-03-07 14:05:09", 100, "/o/a.pdf", "c", "m", "/s,x.pdf");
    dir.Write("split.log", line);
    CRecordingPrompter prompter;
    CScriptedFileDialogs dialogs;
    CRecordingShell shell;
    dialogs.answers = {"out.csv"};
    prompter.answers = {core::Answer::Yes};
    EXPECT_TRUE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(dialogs.titles, std::vector<std::string>{"Export Log to CSV file"});
    EXPECT_EQ(dir.Read("out.csv"),
              "Time,Bytes,Append File,Created Time,Modified Time,Source File\r\n" +
                  Pad("2006-03-07 14:05:09", 23) + ",100      ," + Pad("/o/a.pdf", 81) + "," +
                  Pad("c", 23) + "," + Pad("m", 23) + ",\"" + Pad("/s,x.pdf", 81) + "\"\r\n");
    EXPECT_EQ(prompter.Lines(),
              std::vector<std::string>{"Open File: Do you want to open file now in excel ?"});
    EXPECT_EQ(shell.opened, std::vector<std::string>{"out.csv"});
}

TEST(CsvExportTest, EmptyLogMissingLogAndUnwritableTarget) {
    CTempDir dir(true);
    CRecordingPrompter prompter;
    CScriptedFileDialogs dialogs;
    CRecordingShell shell;

    dialogs.answers = {"none.csv"};
    EXPECT_FALSE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(prompter.Lines().back(), "Log File Error: Can't open split.log");
    EXPECT_EQ(dir.Read("none.csv"), "") << "no target is created";

    dir.Write("split.log", "");
    dialogs.answers = {"empty.csv"};
    EXPECT_TRUE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(dir.Read("empty.csv"),
              "Time,Bytes,Append File,Created Time,Modified Time,Source File\r\n");
    EXPECT_TRUE(shell.opened.empty()) << "No leaves the file closed and unopened";

    dialogs.answers = {"no/dir/x.csv"};
    EXPECT_FALSE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(prompter.Lines().back(), "Log Write File Error: no/dir/x.csv");

    dir.Write("split.log", "a line\r\n");
    dialogs.answers = {"./split.log"};
    EXPECT_FALSE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(prompter.Lines().back(), "Log Write File Error: ./split.log");
    EXPECT_EQ(dir.Read("split.log"), "a line\r\n") << "the log is never exported over itself";

    dialogs.answers = {std::nullopt};
    size_t boxes = prompter.boxes.size();
    EXPECT_FALSE(ExportLogToCsv("split.log", dialogs, prompter, shell));
    EXPECT_EQ(prompter.boxes.size(), boxes) << "cancelling says nothing";
}

// A line cut short (a full disk, a killed run) must not swallow the next row.
TEST(SplitLogTest, UnendedLastLineIsEndedBeforeTheNextOne) {
    CTempDir dir(true);
    CFixedClock clock;
    const std::string line = LogLine("2006-03-07 14:05:09", 0, "/a.pdf", "", "", "/s.pdf");
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"", line},
        {"2006-03-07 14:0", "2006-03-07 14:0\r\n" + line},
        {"old\r", "old\r\r\n" + line},
        {"old\r\n", "old\r\n" + line},
        {"old\n", "old\n" + line},
    };
    for (const auto& c : cases) {
        dir.Write("split.log", c.before);
        CSplitLog log(clock);
        ASSERT_TRUE(log.Open());
        EXPECT_TRUE(log.Write("/a.pdf", "/s"));
        EXPECT_EQ(dir.Read("split.log"), c.after);
        EXPECT_TRUE(log.Write("/a.pdf", "/s"));
        EXPECT_EQ(dir.Read("split.log"), c.after + line) << "a whole line needs no mending";
        // Another program appends a line it does not end, between two of ours.
        std::ofstream(dir.File("split.log"), std::ios::app | std::ios::binary) << "theirs";
        EXPECT_TRUE(log.Write("/a.pdf", "/s"));
        EXPECT_EQ(dir.Read("split.log"), c.after + line + "theirs\r\n" + line);
    }
}

TEST(SplitLogTest, LineThatCannotBeWrittenIsAFailure) {
    CTempDir dir(true);
    CFixedClock clock;
    // A log near the file-size limit: the first line fits, the second does not.
    const std::string outcome = testing_support::InChildWithFileSizeLimit(300, [&] {
        CSplitLog log(clock);
        if (!log.Open())
            return std::string("not open");
        const bool first = log.Write("/a.pdf", "/s");
        const bool second = log.Write("/b.pdf", "/s");
        return std::string(first ? "written" : "failed") + (second ? " written" : " failed");
    });
    EXPECT_EQ(outcome, "written failed");
    auto rows = ReadAll("split.log");
    ASSERT_GE(rows.size(), 1u);
    EXPECT_EQ(rows[0][2].substr(0, 6), "/a.pdf");
}

TEST(CsvExportTest, FailedExportKeepsThePreviousFile) {
    CTempDir dir(true);
    std::string log;
    for (int i = 0; i < 20; ++i)
        log += LogLine("2006-03-07 14:05:09", i, "/o/a.pdf", "c", "m", "/s.pdf");
    dir.Write("split.log", log);
    dir.Write("out.csv", "old export");
    const std::string outcome = testing_support::InChildWithFileSizeLimit(log.size() + 100, [&] {
        CRecordingPrompter prompter;
        const bool written = WriteLogCsv("split.log", "out.csv", prompter);
        return std::string(written ? "written" : "failed ") + prompter.Lines().back();
    });
    EXPECT_EQ(outcome, "failed Log Write File Error: out.csv");
    EXPECT_EQ(dir.Read("out.csv"), "old export");
    EXPECT_EQ(testing_support::DirectoryListing(dir.Path()), "out.csv split.log");
}

// Runs appending to one log at once: a long line becomes visible page by page, and a look at
// the file's end between two pages of another run's line used to add an empty line.
TEST(SplitLogTest, ConcurrentRunsNeverLeaveEmptyLines) {
    CTempDir dir(true);
    std::vector<pid_t> runs;
    for (int run = 0; run < 4; ++run) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            CFixedClock clock;
            CSplitLog log(clock);
            const std::string path = "/" + std::string(6000, static_cast<char>('a' + run));
            bool ok = log.Open();
            for (int line = 0; ok && line < 1000; ++line)
                ok = log.Write(path, "/s");
            ::_exit(ok ? 0 : 1);
        }
        runs.push_back(pid);
    }
    for (pid_t pid : runs) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    const std::string log = dir.Read("split.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4000);
    EXPECT_EQ(log.find("\n\r\n"), std::string::npos);
}
