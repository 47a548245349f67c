#include "storage/BatchFile.h"
#include "storage/BatchCommands.h"

#include "tests/support/Doubles.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include "tests/support/FileSizeLimit.h"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace core;
using namespace storage;
using testing_support::CRecordingPrompter;
using testing_support::CScriptedFileDialogs;
using testing_support::CTempDir;

namespace {

struct Fixture {
    CTempDir dir{true};
    CJobList list;
    CRecordingPrompter prompter;
    CScriptedFileDialogs dialogs;
    std::vector<std::string> counted;
    std::vector<int> prompted;
    std::vector<std::string> titles;
    std::vector<int> itemCounts;
    CBatchCommands batch{list,
                         AddFileHooks{[this](const std::string& p, int) {
                                          counted.push_back(p);
                                          return 33;
                                      },
                                      {},
                                      [this](int row) { prompted.push_back(row); },
                                      {}},
                         prompter,
                         dialogs,
                         {[this](const std::string& t) { titles.push_back(t); },
                          [this](int n) { itemCounts.push_back(n); }}};

    void Add(NewJob job) { AddFile(list, {}, job); }
};

NewJob FullJob() {
    return {12, "/in/a.pdf", 0, "1-2,odd", "/moved", "/out", "Y", "N", "N", "x,y", 100, -3, 12};
}

} // namespace

TEST(BatchFileTest, RecordsAreByteExact) {
    Fixture f;
    f.Add(FullJob());
    NewJob second{5, "/in/b.PDF", 1, "1s", "", "/out", "", "", "", "", 0, 0, 0};
    f.Add(second);
    f.list.SetText(1, kColStatus, "Done");
    EXPECT_EQ(BatchFileText(f.list),
              "~/in/a.pdf; 1-2,odd; 12; Ready.; /moved; /out; Y; N; N; x,y; 100; -3; 12\r\r\n"
              "/in/b.PDF; 1s; 5; Done; ; /out; ; ; ; ; 0; 0; 0\r\r\n");
}

TEST(BatchFileTest, RoundTripKeepsEveryCellButStatus) {
    Fixture f;
    f.Add(FullJob());
    f.Add({250, "/in/b.pdf", 1, "5-10n", "", "/o u t", "N", "Y", "", "", 0, 7, -4});
    f.list.SetText(0, kColStatus, "Done");
    f.Add({-1, "/in/gone.pdf", 1, "1", "", "/out", "", "", "", "", 0, 0, 0});
    auto before = f.list;
    f.dialogs.answers = {"jobs.spl", "jobs.spl"};
    f.batch.SaveAs();
    const std::string bytes = f.dir.Read("jobs.spl");
    f.batch.Load();
    ASSERT_EQ(f.list.Count(), 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < kColumnCount; ++c)
            EXPECT_EQ(f.list.Text(r, c), c == kColStatus ? "Ready." : before.Text(r, c))
                << r << "," << c;
    EXPECT_TRUE(f.counted.empty()) << "only a page count of 0 is recounted";
    f.batch.Save();
    const size_t done = bytes.find("Done");
    EXPECT_EQ(f.dir.Read("jobs.spl"), bytes.substr(0, done) + "Ready." + bytes.substr(done + 4));
}

TEST(BatchFileTest, ReadsOddRecords) {
    const struct {
        const char* line;
        const char* file;
        const char* params;
        int32_t pages;
        const char* splitTo;
        int32_t offset;
        int32_t selected;
    } cases[] = {
        {"/a.pdf; 1; 4; x; ; /out; ; ; ; ; 0; 0; 12\r\r\n", "/a.pdf", "1", 4, "/out", 12, 1},
        // Hand-edited line ends keep their last field.
        {"/a.pdf; 1; 4; x; ; /out; ; ; ; ; 0; 0; 12\r\n", "/a.pdf", "1", 4, "/out", 12, 1},
        {"/a.pdf; 1; 4; x; ; /out; ; ; ; ; 0; 0; 12\n", "/a.pdf", "1", 4, "/out", 12, 1},
        {"/a.pdf; 1; 4; x; ; /out; ; ; ; ; 0; 0; 12", "/a.pdf", "1", 4, "/out", 12, 1},
        // Missing fields are empty or 0.
        {"~/a.pdf; 2-3\r\r\n", "/a.pdf", "2-3", 33, "", 0, 0},
        // A semicolon in a value splits it and shifts the later fields...
        {"/a.pdf;x; 1; 4; x; ; /out\r\r\n", "/a.pdf", "x", 1, "", 0, 1},
        // ...unless the written separators still give a whole record.
        {"/a;b.pdf; 1; 4; x; ; /out;old; ; ; ; ; 0; 0; 12\r\r\n", "/a;b.pdf", "1", 4, "/out;old",
         12, 1},
        // "; " inside a file or folder name is put back where the other fields keep their
        // written shape.
        {"/in/Smith; J.pdf; 1; 4; x; ; /out; N; ; Y; ; 0; 0; 12\r\r\n", "/in/Smith; J.pdf", "1", 4,
         "/out", 12, 1},
        {"/a; b; c.pdf; 1; 4; x; ; /out; old; N; ; Y; a; b; 0; 0; 12", "/a; b; c.pdf", "1", 4,
         "/out; old", 12, 1},
        // Leading spaces go, trailing ones stay.
        {"/a.pdf;    1 ; 4; x; ; /out \r\r\n", "/a.pdf", "1 ", 4, "/out ", 0, 1},
        {"~~/a.pdf; 1; 4x\r\r\n", "~/a.pdf", "1", 4, "", 0, 0},
    };
    for (const auto& c : cases) {
        Fixture f;
        AddBatchRecords(c.line, f.list, {[](const std::string&, int) { return 33; }});
        ASSERT_EQ(f.list.Count(), 1) << c.line;
        EXPECT_EQ(f.list.Text(0, kColFilename), c.file) << c.line;
        EXPECT_EQ(f.list.Text(0, kColSplitParameters), c.params) << c.line;
        EXPECT_EQ(f.list.Text(0, kColPages), std::to_string(c.pages)) << c.line;
        EXPECT_EQ(f.list.Text(0, kColSplitTo), c.splitTo) << c.line;
        EXPECT_EQ(f.list.Text(0, kColPageOffset), std::to_string(c.offset)) << c.line;
        EXPECT_EQ(f.list.Text(0, kColSelected), c.selected ? "Yes" : "No") << c.line;
    }
}

TEST(BatchFileTest, SkipsEmptyLinesAndRefusedNames) {
    Fixture f;
    AddFileHooks hooks{[](const std::string&, int) { return 9; },
                       {},
                       [&](int row) { f.prompted.push_back(row); },
                       {}};
    const std::string longPath = "/" + std::string(PATH_MAX, 'p') + ".pdf";
    const char cutByNul[] = "/in/report\0.pdf; 1\r\r\n/d.pdf; 1; 1; ; ; /out\0/x\r\r\n";
    AddBatchRecords("\r\r\n\n\r\n/a.txt; 1\r\r\n/a.pdf; ; 0\r\r\n" + longPath +
                        "; 1\r\r\n/b.pdf; 1; 1; ; ; " + longPath + "\r\r\n/c.pdf; 1; 1; " +
                        std::string(kMaxRecordBytes, ' ') + "\r\r\n" +
                        std::string(cutByNul, sizeof cutByNul - 1),
                    f.list, hooks);
    ASSERT_EQ(f.list.Count(), 1)
        << "paths longer than any path, endless records and NULs that cut a path are no jobs";
    EXPECT_EQ(f.list.Text(0, kColPages), "9");
    EXPECT_EQ(f.prompted, std::vector<int>{0}) << "an empty split string gets the prompt";
}

TEST(BatchCommandsTest, LoadAppendSaveAndTheirMessages) {
    Fixture f;
    f.dir.Write("three.spl", "/a.pdf; 1; 3\r\r\n/b.pdf; 1; 3\r\r\n/c.pdf; 1; 3\r\r\n");
    f.Add(FullJob());

    f.dialogs.answers = {"three.spl"};
    f.batch.Append();
    EXPECT_EQ(f.list.Count(), 4);
    EXPECT_EQ(f.dialogs.titles.back(), "Open Job File");
    EXPECT_EQ(f.titles.back(), "Quillsever  [three.spl]");
    EXPECT_EQ(f.itemCounts.back(), 4);

    f.batch.Save(); // the appended file now holds all four
    EXPECT_EQ(f.prompter.Lines().back(), "Split Parameters Saved OK: three.spl");
    f.dialogs.answers = {"three.spl"};
    f.batch.Load();
    EXPECT_EQ(f.list.Count(), 4);
    EXPECT_EQ(f.dialogs.titles.back(), "Open Split Batch File");

    f.dialogs.answers = {std::nullopt};
    f.batch.Load();
    EXPECT_EQ(f.list.Count(), 0) << "a cancelled load leaves the list empty";
    EXPECT_EQ(f.itemCounts.back(), 0);

    f.batch.Save();
    f.dialogs.answers = {"x.spl"};
    f.batch.SaveAs();
    EXPECT_EQ(f.prompter.Lines(), (std::vector<std::string>{"Split Parameters Saved OK: three.spl",
                                                            "Save Error!: No Files to Save",
                                                            "Save Error!: No Files to Save"}));
    EXPECT_EQ(f.dialogs.answers.size(), 1u) << "SaveAs on an empty list shows no dialog";
}

TEST(BatchCommandsTest, SaveDefaultsToDefaultSplAndFailuresAreReported) {
    Fixture f;
    f.Add(FullJob());
    EXPECT_TRUE(f.batch.Save());
    EXPECT_EQ(f.batch.BatchName(), "default.spl");
    EXPECT_EQ(f.prompter.Lines().back(), "Split Parameters Saved OK: default.spl");
    EXPECT_EQ(f.titles.back(), "Quillsever  [default.spl]");
    EXPECT_EQ(f.dir.Read("default.spl").substr(0, 10), "~/in/a.pdf");

    f.dialogs.answers = {"no/such/dir/x.spl"};
    EXPECT_FALSE(f.batch.SaveAs());
    EXPECT_EQ(f.prompter.Lines().back(), "Can't write to job file.: no/such/dir/x.spl");
    EXPECT_EQ(f.titles.back(), "Quillsever  [no/such/dir/x.spl]");

    f.dialogs.answers = {"missing.spl"};
    f.batch.Load();
    EXPECT_EQ(f.prompter.Lines().back(), "Can't read split parameters file.: missing.spl");
    EXPECT_EQ(f.titles.back(), "Quillsever  [missing.spl]");
    EXPECT_EQ(f.list.Count(), 0);
}

// A batch file written in place would be cut short by a full disk; the old one must survive.
TEST(BatchCommandsTest, FailedSaveKeepsThePreviousFile) {
    Fixture f;
    f.dir.Write("jobs.spl", "old jobs\r\r\n");
    NewJob job = FullJob();
    job.splitParameters = std::string(4000, '1');
    f.Add(job);
    f.dialogs.answers = {f.dir.File("jobs.spl")};
    const std::string outcome = testing_support::InChildWithFileSizeLimit(1000, [&] {
        const bool saved = f.batch.SaveAs();
        return (saved ? "saved " : "failed ") + f.prompter.Lines().back();
    });
    EXPECT_EQ(outcome, "failed Can't write to job file.: " + f.dir.File("jobs.spl"));
    EXPECT_EQ(f.dir.Read("jobs.spl"), "old jobs\r\r\n");
    EXPECT_EQ(testing_support::DirectoryListing(f.dir.Path()), "jobs.spl");
}

// A file of gigabytes chosen by mistake must not have to fit in memory; records after an
// endless line, one of them across two reads, still load.
TEST(BatchCommandsTest, HugeBatchFileIsReadAsItComes) {
    Fixture f;
    std::ofstream(f.dir.File("huge.spl"), std::ios::binary).seekp(64 << 20)
        << "\n"
        << std::string(65535, 'x') << "\n/b.pdf; 2; 3\r\r\n/c.pdf; 3; 3";
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    f.dialogs.answers = {"huge.spl"};
    EXPECT_TRUE(f.batch.Load());
    ::getrusage(RUSAGE_SELF, &after);
    ASSERT_EQ(f.list.Count(), 2);
    EXPECT_EQ(f.list.Text(1, kColSplitParameters), "3");
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 << 10) << "KiB more at the peak";
}

// Another user's link planted in a folder like /tmp is not followed into a file of ours, as
// the kernel would not follow it.
TEST(BatchCommandsTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
    Fixture f;
    f.Add(FullJob());
    const std::string mine = f.dir.Write("mine.txt", "keep"), link = f.dir.File("tmp/jobs.spl");
    ASSERT_EQ(::mkdir(f.dir.File("tmp").c_str(), 0), 0);
    ASSERT_EQ(::chmod(f.dir.File("tmp").c_str(), 01777), 0);
    ASSERT_EQ(::symlink(mine.c_str(), link.c_str()), 0);
    if (::lchown(link.c_str(), ::geteuid() + 4242, ::getegid() + 4242) != 0)
        GTEST_SKIP() << "only root can give a link to another user";
    f.dialogs.answers = {link};
    EXPECT_FALSE(f.batch.SaveAs());
    EXPECT_EQ(f.prompter.Lines().back(), "Can't write to job file.: " + link);
    EXPECT_EQ(f.dir.Read("mine.txt"), "keep");
}

TEST(BatchCommandsTest, BatchFileThatIsNoRegularFileIsMissing) {
    Fixture f;
    ASSERT_EQ(::mkfifo(f.dir.File("fifo.spl").c_str(), 0600), 0);
    f.dialogs.answers = {f.dir.File("fifo.spl")};
    EXPECT_FALSE(f.batch.Load()) << "must not wait for a writer";
    EXPECT_EQ(f.prompter.Lines().back(),
              "Can't read split parameters file.: " + f.dir.File("fifo.spl"));
}

// A batch file the user chose may be a link to where it really lives: saving writes there and
// keeps its mode. "default.spl" is the program's own name: a link there is refused.
TEST(BatchCommandsTest, ChosenLinksAreWrittenThroughTheDefaultNameIsNot) {
    Fixture f;
    f.Add(FullJob());
    const std::string victim = f.dir.Write("real.spl", "old\r\r\n");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("real.spl", f.dir.File("chosen.spl").c_str()), 0);
    f.dialogs.answers = {f.dir.File("chosen.spl")};
    EXPECT_TRUE(f.batch.SaveAs());
    EXPECT_EQ(f.dir.Read("real.spl").substr(0, 10), "~/in/a.pdf");
    struct stat st {};
    ASSERT_EQ(::lstat(f.dir.File("chosen.spl").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Fixture fresh;
    fresh.Add(FullJob());
    fresh.dir.Write("elsewhere", "kept");
    ASSERT_EQ(::symlink("elsewhere", fresh.dir.File("default.spl").c_str()), 0);
    EXPECT_FALSE(fresh.batch.Save());
    EXPECT_EQ(fresh.prompter.Lines().back(), "Can't write to job file.: default.spl");
    EXPECT_EQ(fresh.dir.Read("elsewhere"), "kept");
}
