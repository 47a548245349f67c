#include "core/JobList.h"
#include "core/AddFile.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

struct Fixture {
    CJobList list;
    std::vector<std::string> counted;
    std::vector<int> prompted;
    int repaints = 0;
    int32_t countResult = 12;
    AddFileHooks hooks{
        [this](const std::string& path, int row) {
            counted.push_back(path);
            if (countResult == -1)
                list.SetText(row, kColSelected, "No");
            return countResult;
        },
        [](const std::string&) { return 3; },
        [this](int row) { prompted.push_back(row); },
        [this] { ++repaints; },
    };
};

NewJob Job(std::string name, int32_t pages = 0, std::string params = "1s") {
    NewJob j;
    j.fileName = std::move(name);
    j.pageCount = pages;
    j.splitParameters = std::move(params);
    return j;
}

} // namespace

TEST(AddFileTest, AcceptsOnlyNamesHoldingPdfInExactCase) {
    const struct {
        const char* name;
        int result;
    } cases[] = {
        {"/in/a.pdf", kAddFileAdded},   {"/in/a.PDF", kAddFileAdded},
        {"/in/a.Pdf", kAddFileRefused}, {"/in/a.pdf.bak", kAddFileAdded},
        {"/in/a.txt", kAddFileRefused}, {"", kAddFileRefused},
    };
    for (const auto& c : cases) {
        Fixture f;
        EXPECT_EQ(AddFile(f.list, f.hooks, Job(c.name, 5)), c.result) << c.name;
        EXPECT_EQ(f.list.Count(), c.result == kAddFileAdded ? 1 : 0) << c.name;
    }
}

TEST(AddFileTest, FillsEveryCellInOrder) {
    Fixture f;
    NewJob j{250, "/in/r.pdf", 0, "1-2", "/moved", "/out", "Y", "N", "N", "a,b", 100, -3, 7};
    ASSERT_EQ(AddFile(f.list, f.hooks, j), kAddFileAdded);
    const std::array<std::string, kColumnCount> want{"No",     "/in/r.pdf", "1-2", "250", "Ready.",
                                                     "/moved", "/out",      "Y",   "N",   "N",
                                                     "a,b",    "100",       "-3",  "7"};
    EXPECT_EQ(f.list.Row(0).cells, want);
    EXPECT_EQ(f.list.Row(0).icon, 3);
    EXPECT_TRUE(f.counted.empty()) << "a given page count is never recounted";
    EXPECT_TRUE(f.prompted.empty());
    EXPECT_EQ(f.repaints, 1);
}

TEST(AddFileTest, CountsUnknownPagesAndMarksMissingFiles) {
    Fixture f;
    f.countResult = -1;
    AddFile(f.list, f.hooks, Job("/gone.pdf"));
    EXPECT_EQ(f.list.Text(0, kColPages), "-1");
    EXPECT_EQ(f.list.Text(0, kColStatus), "No File.");
    EXPECT_EQ(f.list.Text(0, kColSelected), "No");

    f.countResult = 0; // the automation could not count: stays "Ready."
    AddFile(f.list, f.hooks, Job("/odd.pdf"));
    EXPECT_EQ(f.list.Text(1, kColPages), "0");
    EXPECT_EQ(f.list.Text(1, kColStatus), "Ready.");
    EXPECT_EQ(f.counted.size(), 2u);
}

TEST(AddFileTest, SelectedOnlyForOneAndPromptsOnlyWithoutParameters) {
    Fixture f;
    for (int32_t sel : {1, 0, 2, -1}) {
        NewJob j = Job("/a.pdf", 3, sel == 1 ? "" : "1");
        j.selected = sel;
        AddFile(f.list, f.hooks, j);
    }
    EXPECT_EQ(f.list.Text(0, kColSelected), "Yes");
    for (int r = 1; r < 4; ++r)
        EXPECT_EQ(f.list.Text(r, kColSelected), "No");
    EXPECT_EQ(f.prompted, std::vector<int>{0});
}

TEST(JobListTest, HighlightFocusAndExchangeTravelWithRows) {
    CJobList list;
    std::vector<JobListChange::Kind> seen;
    list.SetListener([&](const JobListChange& c) { seen.push_back(c.kind); });
    for (int i = 0; i < 4; ++i) {
        list.InsertRow(i, "Yes", i);
        list.SetText(i, kColFilename, "f" + std::to_string(i));
    }
    EXPECT_EQ(list.FirstHighlighted(), -1);
    list.SetHighlight(2, true);
    list.SetHighlight(3, true);
    list.SetFocus(2);
    EXPECT_EQ(list.FirstHighlighted(), 2);
    EXPECT_EQ(list.HighlightedCount(), 2);

    list.ExchangeRows(0, 2);
    EXPECT_EQ(list.Text(0, kColFilename), "f2");
    EXPECT_EQ(list.Row(0).icon, 2);
    EXPECT_TRUE(list.Row(0).highlighted);
    EXPECT_FALSE(list.Row(2).highlighted);
    EXPECT_EQ(list.Focused(), 0);

    list.DeleteRow(0);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Focused(), -1);
    EXPECT_EQ(list.Text(7, kColFilename), "") << "reads past the end are empty, not a crash";
    list.DeleteAll();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(seen.back(), JobListChange::Reset);
}
