#include "cli/BatchPlan.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using cli::CBatchPlan;
using testing_support::CRecordingPrompter;

namespace {

struct Job {
    std::string source = "/in/a.pdf";
    std::string parameters = "1s";
    std::string pages = "3";
    std::string splitTo = "/out";
    std::string selected = "Yes";
    std::string increment = "N";
    std::string names;
    std::string moveTo;
};

core::CJobList List(const std::vector<Job>& jobs) {
    core::CJobList list;
    for (const Job& job : jobs) {
        const int row = list.Count();
        list.InsertRow(row, job.selected, -1);
        list.SetText(row, core::kColFilename, job.source);
        list.SetText(row, core::kColSplitParameters, job.parameters);
        list.SetText(row, core::kColPages, job.pages);
        list.SetText(row, core::kColSplitTo, job.splitTo);
        list.SetText(row, core::kColIncrementName, job.increment);
        list.SetText(row, core::kColFileList, job.names);
        list.SetText(row, core::kColMoveTo, job.moveTo);
    }
    return list;
}

std::vector<std::string> ClashLines(const std::vector<Job>& jobs, int* outputs = nullptr,
                                    int* refused = nullptr) {
    CRecordingPrompter prompter;
    core::SetupOptions options;
    CBatchPlan plan(List(jobs), options, prompter);
    std::vector<std::string> lines;
    for (const auto& clash : plan.Clashes())
        lines.push_back(cli::ClashText(clash));
    for (const auto& lock : plan.Interlocks())
        lines.push_back(cli::ClashText(lock));
    if (outputs)
        *outputs = plan.Outputs();
    if (refused)
        *refused = plan.RefusedJobs();
    return lines;
}

} // namespace

TEST(BatchPlanTest, FindsPathsThatTwoJobsWouldTouch) {
    const struct {
        const char* what;
        std::vector<Job> jobs;
        std::vector<std::string> clashes;
    } cases[] = {
        {"different folders never clash",
         {{.parameters = "1s"}, {.parameters = "1s", .splitTo = "/out2"}},
         {}},
        {"one source split twice into one folder",
         {{.parameters = "1,2-3"}, {.parameters = "3,1"}},
         {"/out/a_page0001.pdf\tjob 1, range 1\tjob 2, range 2"}},
        {"two sources of one name from different folders",
         {{.source = "/in/a.pdf", .parameters = "2"}, {.source = "/in2/a.pdf", .parameters = "2"}},
         {"/out/a_page0002.pdf\tjob 1, range 1\tjob 2, range 1"}},
        {"a folder named two ways is one folder",
         {{.parameters = "1", .splitTo = "/out"}, {.parameters = "1", .splitTo = "/x/../out/"}},
         {"/out/a_page0001.pdf\tjob 1, range 1\tjob 2, range 1"}},
        {"an output that is a later job's source",
         {{.source = "/in/a.pdf",
           .parameters = "1",
           .splitTo = "/in",
           .increment = "Y",
           .names = "b"},
          {.source = "/in/a_partb.pdf"}},
         {"/in/a_partb.pdf\tjob 1, range 1\tjob 2, source"}},
        {"unselected and refused jobs write nothing",
         {{.parameters = "1"},
          {.parameters = "1", .selected = "No"},
          {.parameters = "1", .splitTo = ""}},
         {}},
        {"a job repeating its own range is its own business", {{.parameters = "1,1"}}, {}},
        {"a source moved away that a later job splits",
         {{.parameters = "1", .splitTo = "/o1", .moveTo = "/done"}, {.splitTo = "/o2"}},
         {"/in/a.pdf\tjob 1, moved\tjob 2, source"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClashLines(c.jobs), c.clashes) << c.what;
}

TEST(BatchPlanTest, CountsOutputsAndRefusedJobs) {
    int outputs = 0, refused = 0;
    ClashLines({{.parameters = "1s"},
                {.parameters = "odd", .pages = "5", .splitTo = "/o2"},
                {.splitTo = ""},
                {.parameters = "1,2", .increment = "Y", .names = "../x,y"}},
               &outputs, &refused);
    EXPECT_EQ(outputs, 6);
    EXPECT_EQ(refused, 2) << "no folder, and a name that is a path";
    EXPECT_EQ(cli::CountParts(List({{.parameters = "1s"},
                                    {.parameters = "odd", .pages = "5"},
                                    {.selected = "No"},
                                    {.parameters = ""}})),
              6);
}
