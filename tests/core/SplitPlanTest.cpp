#include "core/SplitPlan.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using core::CSplitPlan;
using core::PlanJob;

namespace {

PlanJob Job(std::string parameters, int32_t pages, int32_t skip = 0) {
    PlanJob job;
    job.source = "/in/report.pdf";
    job.parameters = std::move(parameters);
    job.splitTo = "/out";
    job.pages = pages;
    job.skip = skip;
    return job;
}

std::vector<std::string> Paths(const CSplitPlan& plan) {
    std::vector<std::string> paths;
    for (const auto& output : plan.Outputs())
        paths.push_back(output.path);
    return paths;
}

} // namespace

// The counts a user reads before splitting: a wrong one would hide a gap or a double page.
TEST(SplitPlanTest, SummaryCountsFilesCoverageGapsAndOverlaps) {
    const struct {
        std::string parameters;
        int32_t pages;
        int32_t skip;
        std::string summary;
    } cases[] = {
        {"1,6-7,9-10", 12, 0, "3 files, 5 pages covered, 7 pages in no file, 0 ranges overlap"},
        {"1s", 3, 0, "3 files, 3 pages covered, 0 pages in no file, 0 ranges overlap"},
        {"1s,2s", 2, 0, "3 files, 2 pages covered, 0 pages in no file, 3 ranges overlap"},
        {"1-5,5-8,10", 10, 0, "3 files, 9 pages covered, 1 page in no file, 2 ranges overlap"},
        {"2s", 5, 1, "2 files, 4 pages covered, 1 page in no file, 0 ranges overlap"},
        {"odd,even", 4, 0, "4 files, 4 pages covered, 0 pages in no file, 0 ranges overlap"},
        {"1-3,1-3", 4, 0,
         "2 files, 3 pages covered, 1 page in no file, 2 ranges overlap, 1 name repeated"},
        {"blank", 4, 0, "0 files, 0 pages covered, 4 pages in no file, 0 ranges overlap"},
    };
    for (const auto& c : cases) {
        const CSplitPlan plan = CSplitPlan::Make(Job(c.parameters, c.pages, c.skip), {});
        EXPECT_FALSE(plan.Refused()) << c.parameters << ": " << plan.Refusal();
        EXPECT_EQ(plan.Summary(), c.summary) << c.parameters;
    }
}

// The strip frames each page by the first output that holds it and counts the others.
TEST(SplitPlanTest, CoverOfAPageNamesItsFirstOutputAndHowMany) {
    const CSplitPlan plan = CSplitPlan::Make(Job("4-6,1-2,5,9", 10), {});
    const struct {
        int32_t page;
        int parts;
        int firstPart;
    } pages[] = {{1, 1, 1}, {2, 1, 1},  {3, 0, -1}, {4, 1, 0},   {5, 2, 0},
                 {6, 1, 0}, {7, 0, -1}, {9, 1, 3},  {10, 0, -1}, {11, 0, -1}};
    for (const auto& p : pages) {
        const core::PageCover cover = plan.CoverOf(p.page);
        EXPECT_EQ(cover.parts, p.parts) << "page " << p.page;
        EXPECT_EQ(cover.firstPart, p.firstPart) << "page " << p.page;
    }
}

// A refused string shows the check's own words instead of a plan.
TEST(SplitPlanTest, RefusedStringsCarryTheChecksMessage) {
    const struct {
        std::string parameters;
        std::string splitTo;
        std::string refusal;
        std::string caption;
    } cases[] = {
        {"7-3", "/out", "7 is greater than 3", "Error in parameters"},
        {"5-20", "/out", "parameter: 20 higher than pages: 10", "Error in parameters"},
        {"0-2n", "/out", "error in parameters can't start or end at Zero", "Error in parameters"},
        {"x", "/out", "no valid parameters", "Error in parameters"},
        {"5n", "/out", "Error in split n parameters, should be e.g. 1-2n", ""},
        {"1-3", "", "you must specify an destination directory", "Error Destination"},
    };
    for (const auto& c : cases) {
        PlanJob job = Job(c.parameters, 10);
        job.splitTo = c.splitTo;
        const CSplitPlan plan = CSplitPlan::Make(job, {});
        EXPECT_EQ(plan.Refusal(), c.refusal) << c.parameters;
        EXPECT_EQ(plan.RefusalCaption(), c.caption) << c.parameters;
        EXPECT_TRUE(plan.Outputs().empty()) << c.parameters;
    }
}

// Two outputs with one path: the later is marked with the earlier's number, and a clash of
// different pages refuses the job as the run would, while every output is still listed.
TEST(SplitPlanTest, RepeatedPathsAreMarkedAndDifferentPagesRefuse) {
    PlanJob job = Job("1-2,3,4", 5);
    job.incrementNames = true;
    job.fileList = "a,b,a";
    const CSplitPlan plan = CSplitPlan::Make(job, {});
    ASSERT_EQ(plan.Outputs().size(), 3u);
    EXPECT_EQ(Paths(plan),
              (std::vector<std::string>{"/out/report_parta.pdf", "/out/report_partb.pdf",
                                        "/out/report_parta.pdf"}));
    EXPECT_EQ(plan.Outputs()[0].sameAs, -1);
    EXPECT_EQ(plan.Outputs()[2].sameAs, 0);
    EXPECT_TRUE(plan.Refused());
    EXPECT_EQ(plan.RefusalCaption(), "File Name Error");
    EXPECT_EQ(plan.RepeatedPaths(), 1);

    const CSplitPlan same = CSplitPlan::Make(Job("2,2", 5), {});
    EXPECT_FALSE(same.Refused()) << "the same pages twice are written twice, nothing is lost";
    EXPECT_EQ(same.Outputs()[1].sameAs, 0);
}

// Lists are read as the run reads them; a list the run could not read is refused with the
// reader's words, a name that is a path with the run's refusal.
TEST(SplitPlanTest, NameListsAreReadAsTheRunReadsThem) {
    testing_support::CTempDir dir;
    dir.Write("names.txt", "alpha\r\nbeta\r\n");
    PlanJob job = Job("1s", 3);
    job.incrementNames = true;
    job.fileList = "file:" + dir.File("names.txt");
    EXPECT_EQ(Paths(CSplitPlan::Make(job, {})),
              (std::vector<std::string>{"/out/report_partalpha.pdf", "/out/report_partbeta.pdf",
                                        "/out/report_partdefault_3.pdf"}));

    job.fileList = "file:" + dir.File("missing.txt");
    EXPECT_EQ(CSplitPlan::Make(job, {}).Refusal(),
              "Unable to read file list: " + dir.File("missing.txt"));

    job.fileList = "ok,../escape";
    const CSplitPlan escape = CSplitPlan::Make(job, {});
    EXPECT_EQ(escape.RefusalCaption(), "File List Error");
    EXPECT_TRUE(escape.Outputs().empty());
}

// Twenty thousand ranges: counted exactly, none dropped.
TEST(SplitPlanTest, AFullRangeListIsPlannedWhole) {
    const CSplitPlan plan = CSplitPlan::Make(Job("1s", 19998), {});
    ASSERT_EQ(plan.Outputs().size(), 19998u);
    EXPECT_EQ(plan.Outputs().back().path, "/out/report_page19998.pdf");
    EXPECT_EQ(plan.PagesUncovered(), 0);
    EXPECT_EQ(plan.RepeatedPaths(), 0);
    EXPECT_EQ(CSplitPlan::Make(Job("1s", 19999), {}).Refusal(),
              "Too many page ranges (at most 19998).");
}
