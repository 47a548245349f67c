// A batch split by several workers at once must end exactly as the same batch split by one:
// the same files byte for byte (parts, moved sources), the same log lines in the same order,
// the same messages, trace and exit status; a stopped run leaves only what a one-worker run
// could have left.
#include "tests/support/PdfBuilder.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::RunProgram;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file under `root` but the log, by its path relative to it.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().filename() != "split.log")
            files[fs::relative(entry.path(), root).string()] = Read(entry.path());
    return files;
}

// The log's lines without their three times: size, part and source, in order.
std::vector<std::string> LogEntries(const fs::path& log) {
    std::vector<std::string> entries;
    std::istringstream lines(Read(log));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        entries.push_back(fields.size() == 6 ? fields[1] + fields[2] + fields[5] : line);
    }
    return entries;
}

// Jobs of many shapes over two folders: a name list, a moved source, a job that is not
// selected, one refused for want of a folder, one writing into a folder inside another job's,
// and (`failing`) a missing source that ends the run halfway.
void MakeBatch(const fs::path& dir, int jobs, bool failing) {
    const char* params[] = {"1s", "odd", "1-2,3", "2s", "even", "1", "1-3n", "2-3", "3s", "1s"};
    std::string batch;
    for (int i = 0; i < jobs; ++i) {
        const std::string name = "in/doc" + std::to_string(i) + ".pdf";
        if (!(failing && i == 7))
            testing_support::WritePdf((dir / name).string(), {.pages = 3 + i % 5});
        const std::string folder = i == 4 ? "" : i == 11 ? "out-a/sub" : i % 2 ? "out-b" : "out-a";
        batch += (i == 5 ? "~" : "") + name + "; " + params[i % 10] + "; " +
                 std::to_string(3 + i % 5) + "; ; " + (i == 3 ? "moved" : "") + "; " + folder +
                 "; " + (i == 2 ? "Y" : "N") + "; ; " + (i % 3 ? "Y" : "N") + "; " +
                 (i == 2 ? "file:names.txt" : "") + "; 0; 0; 0\r\r\n";
    }
    fs::create_directories(dir / "moved");
    std::ofstream(dir / "names.txt", std::ios::binary) << "first\nsecond\n";
    std::ofstream(dir / "jobs.spl", std::ios::binary) << batch;
}

} // namespace

TEST(JobsTest, SeveralWorkersEndAsOne) {
    for (const bool failing : {false, true}) {
        testing_support::CTempDir dir;
        const fs::path one = fs::path(dir.Path()) / "one";
        const fs::path three = fs::path(dir.Path()) / "three";
        MakeBatch(one, 14, failing);
        MakeBatch(three, 14, failing);
        const auto a = RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--trace"}, one.string());
        const auto b =
            RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--trace", "--jobs", "3"}, three.string());
        EXPECT_EQ(a.status, 1) << "the refused job makes it 1 either way";
        EXPECT_EQ(b.status, a.status);
        EXPECT_EQ(b.err, a.err);
        EXPECT_NE(a.err.find(failing ? "Error Opening File" : "Quillsever: Done."),
                  std::string::npos)
            << a.err;
        EXPECT_EQ(Tree(three), Tree(one)) << "failing: " << failing;
        EXPECT_EQ(LogEntries(three / "split.log"), LogEntries(one / "split.log"));
        EXPECT_TRUE(fs::exists(one / "moved/doc3.pdf"));
    }
}

TEST(JobsTest, CtrlCLeavesWhatOneWorkerCouldHaveLeft) {
    testing_support::CTempDir dir;
    const fs::path root = dir.Path();
    MakeBatch(root, 120, false);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(root.c_str()) == 0)
            ::execl(QS_CLI_PATH, QS_CLI_PATH, "run", "jobs.spl", "--quiet", "--jobs", "2",
                    static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 2000 && LogEntries(root / "split.log").size() < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "a shell loop over batches must learn of the stop";
    EXPECT_EQ(WTERMSIG(status), SIGINT);

    // Every part on disk is logged, nothing is staged, and the parts are the first ones of a
    // whole run.
    const std::vector<std::string> stopped = LogEntries(root / "split.log");
    size_t parts = 0;
    for (const auto& [name, bytes] : Tree(root)) {
        EXPECT_EQ(name.find(".quillsever-"), std::string::npos) << name;
        parts += name.rfind("out-", 0) == 0;
    }
    EXPECT_EQ(parts, stopped.size());
    const fs::path whole = root / "whole";
    MakeBatch(whole, 120, false);
    ASSERT_EQ(RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--quiet"}, whole.string()).status, 1);
    std::vector<std::string> all = LogEntries(whole / "split.log");
    ASSERT_LE(stopped.size(), all.size());
    all.resize(stopped.size());
    EXPECT_EQ(stopped, all);
}

TEST(JobsTest, AJobReadsThePartAnEarlierJobWroteOverItsSource) {
    testing_support::CTempDir dir;
    const fs::path root = dir.Path();
    testing_support::WritePdf((root / "a.pdf").string(), {.pages = 5});
    testing_support::WritePdf((root / "out/a_pages0003-0005.pdf").string(), {.pages = 3});
    std::ofstream(root / "jobs.spl", std::ios::binary)
        << "a.pdf; 3-5; 5; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n"
           "out/a_pages0003-0005.pdf; 1s; 3; ; ; again; N; ; Y; ; 0; 0; 0\r\r\n";
    ASSERT_EQ(RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--quiet"}, root.string()).status, 0);
    const auto ref = RunProgram(
        {QS_CLI_PATH, "split", "out/a_pages0003-0005.pdf", "1s", "--to", "ref"}, root.string());
    ASSERT_EQ(ref.status, 0);
    EXPECT_EQ(Tree(root / "again"), Tree(root / "ref"));
}
