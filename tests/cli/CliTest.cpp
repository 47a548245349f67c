#include "cli/Cli.h"
#include "tests/cli/CliRun.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using testing_support::RunCli;
using Result = testing_support::CliResult;

TEST(CliTest, ExpandPrintsRangesUpToTheEndMark) {
    Result r = RunCli({"expand", "1s,2s", "--pages", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1-1\n2-2\n1-2\n");
    EXPECT_EQ(RunCli({"expand", "2s", "--pages", "5", "--skip", "1"}).out, "2-3\n4-5\n");
}

TEST(CliTest, CheckReportsOnStandardErrorWithCaption) {
    Result r = RunCli({"check", "15-12", "--pages", "10", "--to", "/out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in parameters: 15 is greater than 12\n");
    EXPECT_EQ(RunCli({"check", "1-3", "--pages", "10", "--to", "/out"}).status, 0);
    EXPECT_EQ(RunCli({"check", "1-3", "--pages", "10"}).err,
              "Error Destination: you must specify an destination directory\n")
        << "as the help says, the dialog's check needs the folder";

    Result step = RunCli({"check", "5n", "--pages", "10", "--to", "/out"});
    EXPECT_EQ(step.status, 1);
    EXPECT_EQ(step.err, "quillsever-cli: Error in split n parameters, should be e.g. 1-2n\n")
        << "a box without a caption carries the executable's name";
}

TEST(CliTest, UsageErrorsExitTwo) {
    for (auto words :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"expand", "1"},
                                               {"expand", "1", "--pages", "x"},
                                               {"check", "1", "--pages"},
                                               {"expand", "1", "--pages", "3", "--bogus"}}) {
        Result r = RunCli(words);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("Usage: quillsever-cli"), std::string::npos);
    }
    Result help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("expand PARAMS"), std::string::npos);
}

TEST(CliTest, EveryCommandTakesHelp) {
    for (const std::string& command : cli::CommandNames()) {
        if (command == "help")
            continue;
        Result r = RunCli({command, "x.spl", "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind("Usage: quillsever-cli " + command + " ", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "") << command;
    }
    EXPECT_NE(RunCli({"log", "-h"}).out.find("quillsever-cli log --merge"), std::string::npos);
    EXPECT_EQ(RunCli({"pages", "--", "-h"}).out, "-h\t-1\n") << "a file named -h";
}

TEST(CliTest, QuietPrintsNothingOnSuccess) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("doc.pdf"), {.pages = 2});
    Result r = RunCli({"split", "doc.pdf", "1s", "--to", "parts", "--quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
}

TEST(CliTest, JobsPrintsCellsAndSavesAsSaveAsDoes) {
    testing_support::CTempDir dir(true);
    dir.Write("in.spl", "~/in/a.pdf; 1-2; 7; x; ; /out; Y; ; N; ; 0; 0; 3\r\n/in/b.txt; 1; 2\n");
    Result r = RunCli({"jobs", "in.spl", "--save", "out.spl"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "No\t/in/a.pdf\t1-2\t7\tReady.\t\t/out\tY\t\tN\t\t0\t0\t3\n");
    EXPECT_EQ(r.err, "Split Parameters Saved OK: out.spl\n");
    EXPECT_EQ(dir.Read("out.spl"), "~/in/a.pdf; 1-2; 7; Ready.; ; /out; Y; ; N; ; 0; 0; 3\r\r\n");

    Result missing = RunCli({"jobs", "absent.spl"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Can't read split parameters file.: absent.spl\n");

    Result unwritable = RunCli({"jobs", "in.spl", "--save", "no/such/dir/out.spl"});
    EXPECT_EQ(unwritable.status, 1) << "a script must see that nothing was saved";
    EXPECT_EQ(unwritable.err, "Can't write to job file.: no/such/dir/out.spl\n");
}

TEST(CliTest, LogPrintsRowsAndExportsCsv) {
    testing_support::CTempDir dir(true);
    Result none = RunCli({"log"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "Log File Error: Can't open split.log\n");

    dir.Write("split.log", "2006-03-07 14:05:09   \t100     \t/o.pdf\tc\tm\t/s.pdf\r\n");
    Result r = RunCli({"log"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2006-03-07 14:05:09    \t100      \t/o.pdf \tc \tm \t/s.pdf \n");
    Result csv = RunCli({"log", "--csv", "log.csv"});
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.err, "") << "nothing to open from a terminal, so nothing is offered";
    EXPECT_EQ(dir.Read("log.csv"),
              "Time,Bytes,Append File,Created Time,Modified Time,Source File\r\n"
              "2006-03-07 14:05:09    ,100      ,/o.pdf ,c ,m ,/s.pdf \r\n");

    // Any byte but "/" may be in a file's name: a TAB or a line feed there still gives one row.
    std::filesystem::remove(dir.File("split.log"));
    testing_support::WritePdf(dir.File("a\tb\nc.pdf"), {.pages = 1});
    ASSERT_EQ(RunCli({"split", "a\tb\nc.pdf", "1", "--to", "o", "--quiet"}).status, 0);
    const std::string row = RunCli({"log"}).out, cells = row.substr(row.find("\to/") + 1);
    EXPECT_EQ(cells.substr(0, 82), "o/a\tb\nc_page0001.pdf" + std::string(60, ' ') + " \t") << row;
    EXPECT_EQ(cells.substr(130), "a\tb\nc.pdf" + std::string(71, ' ') + " \n") << row;
}

TEST(CliTest, PagesCountsEachFileAndJobsRecountsZeros) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("five.pdf"), {.pages = 5});
    testing_support::WriteNotAPdf(dir.File("text.pdf"));
    Result r = RunCli({"pages", "five.pdf", "missing.pdf", "text.pdf"});
    EXPECT_EQ(r.status, 1) << "two files could not be counted";
    EXPECT_EQ(r.out, "five.pdf\t5\nmissing.pdf\t-1\ntext.pdf\t0\n");
    EXPECT_EQ(r.err, "quillsever-cli: Error Opening File : text.pdf\n");

    dir.Write("j.spl", "five.pdf; 1s; 0\r\r\nfive.pdf; 1s; 9\r\r\nmissing.pdf; 1s; 0\r\r\n");
    Result jobs = RunCli({"jobs", "j.spl"});
    EXPECT_EQ(jobs.out, "Yes\tfive.pdf\t1s\t5\tReady.\t\t\t\t\t\t\t0\t0\t0\n"
                        "Yes\tfive.pdf\t1s\t9\tReady.\t\t\t\t\t\t\t0\t0\t0\n"
                        "No\tmissing.pdf\t1s\t-1\tNo File.\t\t\t\t\t\t\t0\t0\t0\n");
}

TEST(CliTest, RunSplitsAWholeBatchWithEveryNamingMode) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("in/a.pdf"), {.pages = 6});
    testing_support::WritePdf(dir.File("in/b.pdf"), {.pages = 4});
    testing_support::WritePdf(dir.File("in/c.pdf"), {.pages = 3});
    // Each file begins with a byte order mark, as editors and spreadsheets save them.
    const std::string mark = "\xEF\xBB\xBF";
    dir.Write("names.txt", mark + "first\r\nsecond\r\n");
    dir.Write("setup.ini", mark + "PREFIXSTR;-\nMASK;2\n");
    const std::string in = dir.File("in/");
    dir.Write("jobs.spl",
              mark + in + "a.pdf; 1-2,odd; 6; ; ; out; N; ; Y; ; 0; 1; 10\r\r\n" +  // skip, offset
                  in + "b.pdf; 2s; 4; ; moved; out; Y; ; N; a , b; 0; 0; 0\r\r\n" + // inline names
                  in + "c.pdf; 1s; 3; ; ; out; Y; ; Y; file:names.txt; 0; 0; 0\r\r\n" + "~" + in +
                  "c.pdf; 1; 3; ; ; out; Y; ; Y; ; 5; 0; 0\r\r\n" + // not selected
                  in + "gone.pdf; 1; 3; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n");
    std::filesystem::create_directory(dir.File("moved"));
    Result r = RunCli({"run", "jobs.spl", "--quiet"});
    EXPECT_EQ(r.status, 1) << "the missing source ends the run with a failure";
    EXPECT_EQ(r.err, "File Error: Input pdf file not found." + in + "gone.pdf\n" +
                         "quillsever-cli: Error Opening File : " + in + "gone.pdf\n");
    const std::vector<std::pair<std::string, std::vector<int>>> outputs{
        {"a_pages11-12.pdf", {1, 2}}, {"a_page12.pdf", {2}}, {"a_page14.pdf", {4}},
        {"a_page16.pdf", {6}},        {"b-a.pdf", {1, 2}},   {"b-b.pdf", {3, 4}},
        {"c-first.pdf", {1}},         {"c-second.pdf", {2}}, {"c-default_3.pdf", {3}},
    };
    for (const auto& [name, pages] : outputs)
        EXPECT_EQ(testing_support::PageMarkers(dir.File("out/" + name)), pages) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("out")),
                            std::filesystem::directory_iterator()),
              static_cast<long>(outputs.size()));
    EXPECT_TRUE(std::filesystem::exists(dir.File("moved/b.pdf")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("in/b.pdf")));

    Result log = RunCli({"log"});
    std::istringstream lines(log.out);
    std::string line;
    size_t i = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(i, outputs.size());
        const auto cells = line.substr(line.find('\t') + 1);
        EXPECT_NE(cells.find("out/" + outputs[i].first + " "), std::string::npos) << line;
        ++i;
    }
    EXPECT_EQ(i, outputs.size());
}

TEST(CliTest, SplitChecksItsParametersAndReportsProgress) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("doc.pdf"), {.pages = 3});
    Result r = RunCli(
        {"split", "doc.pdf", "1,2-3", "--to", "parts", "--increment", "--start", "7", "--trace"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "quillsever-cli: Debugging has been turned on, click 'OK' to this message.\n"
                     "job 1, range 1 of 2: parts/doc_part0007.pdf\n"
                     "job 1, range 2 of 2: parts/doc_part0008.pdf\n"
                     "Quillsever: Done.\n");
    EXPECT_EQ(testing_support::PageMarkers(dir.File("parts/doc_part0008.pdf")),
              (std::vector<int>{2, 3}));
    const std::string trace = dir.Read("debug.txt");
    EXPECT_EQ(trace.substr(0, 35), "Started Application version: 1.16\r\n");
    EXPECT_EQ(trace.substr(trace.size() - 14), "Done.\r\nClose\r\n");

    EXPECT_EQ(RunCli({"split", "doc.pdf", "4", "--to", "parts"}).err,
              "Error in parameters: parameter: 4 higher than pages: 3\n");
    EXPECT_EQ(RunCli({"split", "nope.pdf", "1", "--to", "parts"}).err,
              "File Error: Input pdf file not found.nope.pdf\n");
    EXPECT_EQ(RunCli({"split", "doc.txt", "1", "--to", "parts"}).status, 1);
    EXPECT_EQ(RunCli({"split", "doc.pdf", "1"}).status, 2);
    EXPECT_EQ(RunCli({"split", "doc.pdf", "1", "--to", "p", "--start", "x"}).status, 2);
}

// The run goes on after these, but a script must learn from the exit status that something
// was not done.
TEST(CliTest, RefusedJobsAndFailedMovesExitOne) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("a.pdf"), {.pages = 2});
    testing_support::WritePdf(dir.File("b.pdf"), {.pages = 2});
    std::filesystem::create_directory(dir.File("moved"));
    dir.Write("moved/a.pdf", "theirs");

    Result move = RunCli({"split", "a.pdf", "1", "--to", "parts", "--move-to", "moved", "--quiet"});
    EXPECT_EQ(move.status, 1);
    EXPECT_EQ(move.err, "Move Error: Can't move file: a.pdf\nto: moved/a.pdf\nA file of that "
                        "name is already there.\nThe file was left where it was.\n");
    EXPECT_EQ(dir.Read("moved/a.pdf"), "theirs");
    EXPECT_TRUE(std::filesystem::exists(dir.File("a.pdf")));

    Result names = RunCli(
        {"split", "b.pdf", "1,2", "--to", "parts", "--increment", "--names", "../esc1,../../esc2"});
    EXPECT_EQ(names.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("parts/b_part../esc1.pdf")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("esc1.pdf")));
    EXPECT_EQ(testing_support::DirectoryListing(dir.File("parts")), "a_page0001.pdf");

    dir.Write("jobs.spl", "b.pdf; 1; 2; ; ; ; N; ; Y; ; 0; 0; 0\r\r\n"
                          "b.pdf; 2; 2; ; ; parts; N; ; Y; ; 0; 0; 0\r\r\n");
    Result run = RunCli({"run", "jobs.spl", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error Destination: you must specify an destination directory\n");
    EXPECT_EQ(testing_support::DirectoryListing(dir.File("parts")),
              "a_page0001.pdf b_page0002.pdf");
}

// Redirected into a file on a full disk, what a command prints is lost: that is no success.
TEST(CliTest, OutputThatCannotBeWrittenIsAFailure) {
    std::ostream full(nullptr); // every write fails
    std::ostringstream err;
    EXPECT_EQ(cli::Run({"quillsever-cli", "expand", "1s", "--pages", "3"}, full, err), 1);
    EXPECT_EQ(err.str(), "quillsever-cli: Can't write the output\n");

    // Nor is a trace asked for and not written (a folder in its place; a disk that holds 41
    // parts of a page but not their trace); the run goes on all the same.
    for (const bool fullDisk : {false, true}) {
        testing_support::CTempDir dir(true);
        testing_support::WritePdf(dir.File("a.pdf"), {.pages = 1});
        std::filesystem::create_directory(dir.File(fullDisk ? "parts" : "debug.txt"));
        const std::string seen =
            testing_support::InChildWithFileSizeLimit(fullDisk ? 4000 : 1 << 30, [&] {
                std::string ranges = "1";
                for (int i = 0; fullDisk && i < 40; ++i)
                    ranges += ",1";
                const Result r = RunCli({"split", "a.pdf", ranges, "--to", "parts", "--trace"});
                return std::to_string(r.status) + r.err;
            });
        EXPECT_TRUE(seen.starts_with("1")) << seen;
        EXPECT_NE(seen.find(fullDisk ? "Can't write debug.txt" : "Can't open debug.txt"),
                  std::string::npos)
            << seen;
        EXPECT_EQ(testing_support::DirectoryListing(dir.File("parts")), "a_page0001.pdf");
    }
}

TEST(CliTest, VersionNamesTheProgram) {
    Result r = RunCli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quillsever-cli 1.16\n");
}

TEST(CliTest, ShardRunsEveryNthJobAndLogsWhereTold) {
    testing_support::CTempDir dir(true);
    std::string batch;
    for (int i = 0; i < 5; ++i) {
        const std::string name = "s" + std::to_string(i) + ".pdf";
        testing_support::WritePdf(dir.File(name), {.pages = 2});
        // The third job is not selected: it keeps its index all the same.
        batch += (i == 2 ? "~" : "") + name + "; 1; 2; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n";
    }
    dir.Write("jobs.spl", batch);
    Result r = RunCli({"run", "jobs.spl", "--shard", "1/2", "--log", "logs/one.log"});
    EXPECT_EQ(r.status, 1) << "the log folder does not exist";
    EXPECT_EQ(r.err.rfind("Log File Error: Can't open logs/one.log\n", 0), 0) << r.err;
    std::filesystem::create_directory(dir.File("logs"));
    r = RunCli({"run", "jobs.spl", "--shard", "1/2", "--log", "logs/one.log"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "job 2, range 1 of 1: out/s1_page0001.pdf\n"
                     "job 4, range 1 of 1: out/s3_page0001.pdf\n"
                     "Quillsever: Done.\n");
    EXPECT_EQ(testing_support::DirectoryListing(dir.File("out")),
              "s1_page0001.pdf s3_page0001.pdf");
    EXPECT_FALSE(std::filesystem::exists(dir.File("split.log")));
    const std::string log = dir.Read("logs/one.log");
    EXPECT_NE(log.find("out/s1_page0001.pdf"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);

    r = RunCli({"run", "jobs.spl", "--shard", "0/2", "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testing_support::DirectoryListing(dir.File("out")),
              "s0_page0001.pdf s1_page0001.pdf s3_page0001.pdf s4_page0001.pdf");
    Result merged = RunCli({"log", "--merge", "split.log", "logs/one.log"});
    EXPECT_EQ(merged.status, 0);
    EXPECT_EQ(merged.out.size(), log.size() + dir.Read("split.log").size());

    for (const char* bad : {"2/2", "1", "-1/2", "0/0", "1/2x", "a/b"}) {
        Result usage = RunCli({"run", "jobs.spl", "--shard", bad});
        EXPECT_EQ(usage.status, 2) << bad;
        EXPECT_NE(usage.err.find("--shard needs K/N"), std::string::npos) << bad;
    }
    EXPECT_EQ(RunCli({"log", "--merge"}).status, 2);
    Result absent = RunCli({"log", "--merge", "split.log", "nope.log"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err, "Log File Error: Can't open nope.log\n");
    EXPECT_EQ(absent.out, "");
}

TEST(CliTest, ClashingOutputsAreListedAndStopEveryShard) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("a.pdf"), {.pages = 3});
    std::filesystem::create_directory(dir.File("b"));
    testing_support::WritePdf(dir.File("b/a.pdf"), {.pages = 3});
    dir.Write("ok.spl", "a.pdf; 1s; 3; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n"
                        "b/a.pdf; 1s; 3; ; ; out2; N; ; Y; ; 0; 0; 0\r\r\n");
    Result fine = RunCli({"run", "ok.spl", "--check"});
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.out + fine.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out"))) << "a check writes nothing";

    dir.Write("clash.spl", "a.pdf; 1s; 3; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n"
                           "b/a.pdf; 3,1; 3; ; ; ./out; N; ; Y; ; 0; 0; 0\r\r\n");
    Result check = RunCli({"run", "clash.spl", "--check", "--shard", "0/2"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "out/a_page0001.pdf\tjob 1, range 1\tjob 2, range 2\n"
                         "out/a_page0003.pdf\tjob 1, range 3\tjob 2, range 1\n");

    const std::string report = "Output Clash: 2 path(s) written by one job would be written or "
                               "read by another:\n" +
                               check.out;
    Result shard = RunCli({"run", "clash.spl", "--shard", "1/2", "--quiet"});
    EXPECT_EQ(shard.status, 1);
    EXPECT_EQ(shard.err, report + "No shard of this batch runs until they differ.\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));

    // One process decides the order itself: it says so and runs as before.
    Result whole = RunCli({"run", "clash.spl", "--quiet"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.err, report + "The run goes on, job after job, as the batch says.\n");

    // A folder named through a link is the folder it leads to.
    std::filesystem::create_directory(dir.File("real"));
    std::filesystem::create_directory_symlink("real", dir.File("link"));
    dir.Write("linked.spl", "a.pdf; 1s; 3; ; ; real; N; ; Y; ; 0; 0; 0\r\r\n"
                            "b/a.pdf; 2; 3; ; ; link; N; ; Y; ; 0; 0; 0\r\r\n");
    Result linked = RunCli({"run", "linked.spl", "--check"});
    EXPECT_EQ(linked.out, "real/a_page0002.pdf\tjob 1, range 2\tjob 2, range 1\n");
    // A part's name may itself be a link, also in a folder of too many parts to look at
    // each of them on its own.
    testing_support::WritePdf(dir.File("long.pdf"), {.pages = 70});
    std::filesystem::create_directory(dir.File("many"));
    dir.Write("real/a_page0001.pdf", "an earlier run's part");
    std::filesystem::create_symlink("../real/a_page0001.pdf", dir.File("many/long_page0070.pdf"));
    dir.Write("file-link.spl", "long.pdf; 1s; 70; ; ; many; N; ; Y; ; 0; 0; 0\r\r\n"
                               "a.pdf; 1; 3; ; ; real; N; ; Y; ; 0; 0; 0\r\r\n");
    EXPECT_EQ(RunCli({"run", "file-link.spl", "--check"}).out,
              "many/long_page0070.pdf\tjob 1, range 70\tjob 2, range 1\n");

    dir.Write("refused.spl", "a.pdf; 1s; 3; ; ; ; N; ; Y; ; 0; 0; 0\r\r\n");
    Result refused = RunCli({"run", "refused.spl", "--check"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Error Destination: you must specify an destination directory\n")
        << "the run's own words for a job it would refuse";
    // Strings the window's dialog would not take: the run writes nothing for the first and
    // fails only when it reaches the second.
    dir.Write("strings.spl", "a.pdf; abc; 3; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n"
                             "a.pdf; 2-9; 3; ; ; out; N; ; Y; ; 0; 0; 0\r\r\n");
    Result strings = RunCli({"run", "strings.spl", "--check"});
    EXPECT_EQ(strings.status, 1);
    EXPECT_EQ(strings.err, "Error in parameters: no valid parameters\n"
                           "Error in parameters: parameter: 9 higher than pages: 3\n");
    // A name the file system does not take: the run would fail at that part.
    dir.Write("long.spl",
              "a.pdf; 1; 3; ; ; out; Y; ; Y; " + std::string(256, 'n') + "; 0; 0; 0\r\r\n");
    EXPECT_EQ(RunCli({"run", "long.spl", "--check"}).err,
              "quillsever-cli: Failed to save file: out/a_part" + std::string(256, 'n') + ".pdf\n");
}

// A large outline is read from a second parse of the source, one that holds indirect values
// from the source's own parse; either way each part keeps the bookmarks of its page.
TEST(CliTest, PartsKeepTheBookmarksOfTheirPagesFromALargeOutline) {
    using testing_support::DestKind;
    const DestKind kinds[] = {DestKind::Explicit, DestKind::GoTo, DestKind::NamedString,
                              DestKind::NamedName, DestKind::NamedAction};
    std::vector<testing_support::Bookmark> outline;
    for (int k = 0; k < 300; ++k)
        outline.push_back({"Item " + std::to_string(k), k % 4, kinds[k % 5]});
    for (bool indirect : {false, true}) {
        testing_support::CTempDir dir(true);
        testing_support::WritePdf(dir.File("doc.pdf"),
                                  {.pages = 4, .outline = outline, .indirectValues = indirect});
        ASSERT_EQ(RunCli({"split", "doc.pdf", "1s", "--to", "parts", "--quiet"}).status, 0);
        for (const auto& part : std::filesystem::directory_iterator(dir.File("parts"))) {
            const int page = testing_support::PageMarkers(part.path())[0] - 1;
            std::string expected, kept;
            for (int k = page; k < 300; k += 4)
                expected += "Item " + std::to_string(k) + "@0 ";
            for (const auto& entry : testing_support::ReadOutline(part.path()))
                kept += entry.title + "@" + std::to_string(entry.page) + " ";
            EXPECT_EQ(kept, expected) << part.path() << indirect;
        }
    }
}

// The parts are written by another thread than builds them: that one too refuses a part whose
// name is the job's source, under its own name or through a link, and the source stays whole.
TEST(CliTest, APartIsNeverWrittenOverItsOwnSource) {
    testing_support::CTempDir dir(true);
    testing_support::WritePdf(dir.File("page0001.pdf"), {.pages = 3});
    const std::string source = dir.Read("page0001.pdf");
    dir.Write("setup.ini", "DONTUSEORIGINALFILENAME\n");
    std::filesystem::create_directory(dir.File("linked"));
    std::filesystem::create_symlink("../page0001.pdf", dir.File("linked/page0001.pdf"));
    for (const char* to : {".", "linked"}) {
        Result r = RunCli({"split", "page0001.pdf", "1", "--to", to});
        EXPECT_EQ(r.status, 1) << to;
        EXPECT_EQ(r.err,
                  "quillsever-cli: Failed to save file: " + std::string(to) + "/page0001.pdf\n");
        EXPECT_EQ(dir.Read("page0001.pdf"), source) << to;
    }
    EXPECT_EQ(dir.Read("split.log"), "");
}
