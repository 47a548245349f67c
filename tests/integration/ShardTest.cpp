// One batch run whole, and the same batch run as three shards by GNU parallel (the recipe the
// README gives): the parts must be the same files, byte for byte, and the merged shard logs
// must record every part once, in whole lines.
#include "tests/support/PdfBuilder.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using testing_support::RunProgram;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file under `root`, by its path relative to it.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = Read(entry.path());
    return files;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Ten jobs of different shapes over two output folders; the sixth is not selected.
void MakeBatch(const fs::path& dir) {
    const char* params[] = {"1s", "odd", "1-2,3", "2s", "even", "1", "1-3n", "2-3", "3s", "1s"};
    std::string batch;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "in/doc" + std::to_string(i) + ".pdf";
        testing_support::WritePdf((dir / name).string(), {.pages = 3 + i % 4});
        batch += (i == 5 ? "~" : "") + name + "; " + params[i] + "; 0; ; ; " +
                 (i % 2 ? "out-b" : "out-a") + "; " + (i == 9 ? "Y" : "N") +
                 "; ; Y; ; 0; 0; 0\r\r\n";
    }
    std::ofstream(dir / "jobs.spl", std::ios::binary) << batch;
}

} // namespace

TEST(ShardTest, ThreeShardsUnderParallelMatchOneWholeRun) {
    ASSERT_TRUE(testing_support::HaveProgram("parallel"))
        << "GNU parallel is needed (scripts/setup.sh installs it)";
    testing_support::CTempDir dir;
    const fs::path whole = fs::path(dir.Path()) / "whole";
    const fs::path sharded = fs::path(dir.Path()) / "sharded";
    MakeBatch(whole);
    MakeBatch(sharded);

    const auto one = RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--quiet"}, whole.string());
    ASSERT_EQ(one.status, 0) << one.err;
    const auto check =
        RunProgram({QS_CLI_PATH, "run", "jobs.spl", "--check", "--shard", "0/3"}, sharded.string());
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    const auto shards = RunProgram({"parallel", "--will-cite", "--quote", "--jobs", "2", "--halt",
                                    "never", QS_CLI_PATH, "run", "jobs.spl", "--quiet", "--shard",
                                    "{}/3", "--log", "shard{}.log", ":::", "0", "1", "2"},
                                   sharded.string());
    ASSERT_EQ(shards.status, 0) << shards.out << shards.err;
    EXPECT_FALSE(fs::exists(sharded / "split.log")) << "each shard logs only where told";

    auto wholeParts = Tree(whole / "out-a");
    auto shardParts = Tree(sharded / "out-a");
    for (const auto& [name, bytes] : Tree(whole / "out-b"))
        wholeParts["b/" + name] = bytes;
    for (const auto& [name, bytes] : Tree(sharded / "out-b"))
        shardParts["b/" + name] = bytes;
    EXPECT_EQ(wholeParts.size(), 19u);
    ASSERT_EQ(shardParts.size(), wholeParts.size());
    for (const auto& [name, bytes] : wholeParts) {
        ASSERT_TRUE(shardParts.count(name)) << name;
        EXPECT_TRUE(shardParts[name] == bytes) << name << " differs";
    }

    const auto merged =
        RunProgram({QS_CLI_PATH, "log", "--merge", "shard0.log", "shard1.log", "shard2.log"},
                   sharded.string());
    ASSERT_EQ(merged.status, 0) << merged.err;
    const std::vector<std::string> lines = Lines(merged.out);
    EXPECT_EQ(lines.size(), wholeParts.size());
    std::vector<std::string> shardLines;
    for (const char* log : {"shard0.log", "shard1.log", "shard2.log"})
        for (const std::string& line : Lines(Read(sharded / log)))
            shardLines.push_back(line);
    auto sortedMerged = lines;
    std::sort(sortedMerged.begin(), sortedMerged.end());
    std::sort(shardLines.begin(), shardLines.end());
    EXPECT_EQ(sortedMerged, shardLines) << "the merge neither adds, drops nor changes a byte";
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return a.substr(0, 19) < b.substr(0, 19);
    }));
    for (const auto& [name, bytes] : wholeParts) {
        const std::string path =
            (name.rfind("b/", 0) == 0 ? "out-b/" + name.substr(2) : "out-a/" + name) + " ";
        const auto count = std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find("\t" + path) != std::string::npos;
        });
        EXPECT_EQ(count, 1) << path;
    }
    for (const std::string& line : lines)
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n") << line;
}

// The README's recipe with split.log itself among the logs merged into it would read back
// what it appends and never end (a file-size limit stops it if it does).
TEST(ShardTest, MergeIntoOneOfItsInputsIsRefused) {
    testing_support::CTempDir dir;
    const std::string log(1 << 20, '\n'); // more than any output buffer holds
    std::ofstream(fs::path(dir.Path()) / "split.log", std::ios::binary) << log;
    const auto merged = RunProgram(
        {"/bin/sh", "-c", "ulimit -f 40000; exec \"$0\" log --merge ./split.log >> split.log",
         QS_CLI_PATH},
        dir.Path());
    EXPECT_EQ(merged.status, 1);
    EXPECT_EQ(merged.err, "Log File Error: Can't merge ./split.log into itself: write the merged "
                          "lines to another file\n");
    EXPECT_TRUE(Read(fs::path(dir.Path()) / "split.log") == log) << "the log is as it was";
}
