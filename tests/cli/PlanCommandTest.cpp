#include "cli/Cli.h"
#include "tests/cli/CliRun.h"

#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using testing_support::RunCli;
using Result = testing_support::CliResult;

// The plan of a split command line is what that line would write, and it writes nothing.
TEST(PlanCommandTest, PrintsWhatSplitWouldWriteAndWritesNothing) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("book.pdf"), {.pages = 6});
    const std::string out = dir.File("parts");
    const std::vector<std::string> naming{"--to", out, "--increment", "--start", "7"};

    std::vector<std::string> plan{"plan", dir.File("book.pdf"), "1-2,odd"};
    plan.insert(plan.end(), naming.begin(), naming.end());
    const Result r = RunCli(plan);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1-2\t" + out + "/book_part0007.pdf\n" +     //
                         "1-1\t" + out + "/book_part0008.pdf\n" + //
                         "3-3\t" + out + "/book_part0009.pdf\n" + //
                         "5-5\t" + out + "/book_part0010.pdf\n" +
                         "4 files, 4 pages covered, 2 pages in no file, 2 ranges overlap\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists("split.log"));

    // The same words given to split write exactly the planned files.
    std::vector<std::string> split{"split", dir.File("book.pdf"), "1-2,odd", "--quiet"};
    split.insert(split.end(), naming.begin(), naming.end());
    ASSERT_EQ(RunCli(split).status, 0);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(out))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"book_part0007.pdf", "book_part0008.pdf",
                                                 "book_part0009.pdf", "book_part0010.pdf"}));
}

TEST(PlanCommandTest, RefusalsAndClashesAreReportedWithExitOne) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("b.pdf"), {.pages = 4});

    const Result refused = RunCli({"plan", dir.File("b.pdf"), "3-9", "--to", "/out"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "Error in parameters: parameter: 9 higher than pages: 4\n");

    const Result clash = RunCli(
        {"plan", dir.File("b.pdf"), "1,2,3", "--to", "/out", "--increment", "--names", "x,y,x"});
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(clash.out, "1-1\t/out/b_partx.pdf\n"
                         "2-2\t/out/b_party.pdf\n"
                         "3-3\t/out/b_partx.pdf\tsame file as output 1\n"
                         "3 files, 3 pages covered, 1 page in no file, 0 ranges overlap, "
                         "1 name repeated\n");
    EXPECT_EQ(clash.err.rfind("File Name Error: Two parts of this job would be saved as the "
                              "same file:",
                              0),
              0u)
        << clash.err;

    EXPECT_EQ(RunCli({"plan", dir.File("b.pdf"), "1"}).status, 2) << "--to is needed";
    EXPECT_EQ(RunCli({"plan", dir.File("absent.pdf"), "1", "--to", "/out"}).err,
              "File Error: Input pdf file not found." + dir.File("absent.pdf") + "\n");
}

// A part whose path the file system does not take (a name, of the part or of a folder, or the
// whole path too long), or whose folder split cannot make, is where split stops: plan says so
// in split's words.
TEST(PlanCommandTest, PartsSplitCannotSaveFailAsSplitFails) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("b.pdf"), {.pages = 3});
    std::string deep = dir.File("");
    while (deep.size() < 4000)
        std::filesystem::create_directory(deep += std::string(200, 'd') + "/");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--to", dir.File("out"), "--names", "a," + std::string(255 - 10, 'n')}, 0},
        {{"--to", dir.File("out2"), "--names", "a," + std::string(256 - 10, 'n')}, 1},
        {{"--to", dir.File(std::string(256, 'f'))}, 1},
        {{"--to", dir.File("new/out")}, 1}, // split makes one folder, not two
        {{"--to", deep, "--names", "a," + std::string(99, 'n')}, 1},
    };
    for (const auto& [naming, status] : cases) {
        std::vector<std::string> words{"plan", dir.File("b.pdf"), "1,2,3", "--increment",
                                       "--quiet"};
        words.insert(words.end(), naming.begin(), naming.end());
        const Result plan = RunCli(words);
        EXPECT_EQ(plan.status, status) << naming[1] << "\n" << plan.err;
        EXPECT_EQ(std::count(plan.out.begin(), plan.out.end(), '\n'), 4);
        words.front() = "split";
        EXPECT_EQ(RunCli(words).err, plan.err);
    }
}
