#include "core/SplitParameters.h"

#include "tests/support/RecordingPrompter.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

std::vector<PageRange> RunExpansion(const std::string& text, int32_t pages, int32_t skip = 0) {
    CJobList list;
    list.InsertRow(0, "Yes", -1);
    list.SetText(0, kColPages, std::to_string(pages));
    list.SetText(0, kColSkipPages, std::to_string(skip));
    CRangeList ranges;
    NullTrace trace;
    SplitParameters(list, text, 0, ranges, trace);
    return ranges.Ranges();
}

std::string Show(const std::vector<PageRange>& ranges) {
    std::string s;
    for (const PageRange& r : ranges)
        s += (s.empty() ? "" : " ") + std::to_string(r.first) + "-" + std::to_string(r.last);
    return s;
}

} // namespace

TEST(SplitParametersTest, ExpandsEveryForm) {
    const struct {
        const char* text;
        int32_t pages;
        int32_t skip;
        const char* ranges;
    } cases[] = {
        {"1,6-7,9-10", 12, 0, "1-1 6-7 9-10"},
        {"5-10n", 30, 0, "5-5 15-15 25-25"},
        {"5-10n", 25, 0, "5-5 15-15 25-25"},
        {"1-2n", 6, 0, "1-1 3-3 5-5"},
        {"1s", 3, 0, "1-1 2-2 3-3"},
        {"2s", 5, 0, "1-2 3-4 5-5"},
        {"2s", 5, 1, "2-3 4-5"},
        {"1s,2s", 2, 0, "1-1 2-2 1-2"},
        {"odd", 5, 0, "1-1 3-3 5-5"},
        {"even", 5, 0, "2-2 4-4"},
        {"odd", 6, 1, "2-2 4-4 6-6"},
        {"even", 6, 1, "3-3 5-5"},
        {"even", 1, 0, ""},
        {"odd,even", 4, 0, "1-1 3-3 2-2 4-4"},
        {"1,,2", 5, 0, "1-1 2-2"},
        {"1,2,", 5, 0, "1-1 2-2"},
        {",1", 5, 0, "1-1"},
        {"6 - 7", 9, 0, "6-7"},
        {"-5", 9, 0, "5-5"},
        {"5-", 9, 0, "5-5"},
        {"5-0", 9, 0, "5-5"},
        {"0,0-5,ODD,x", 9, 0, ""},
        {"3-odd", 5, 0, "1-1 3-3 5-5"},
        {"2-3s", 7, 0, "1-3 4-6 7-7"},
        {"5-10n-3", 30, 0, "5-5 15-15 25-25"},
        {"1-3,1-3", 5, 0, "1-3 1-3"},
        {"2s ", 5, 0, "2-2"},
        {" 2s", 5, 0, "1-2 3-4 5-5"},
        {"1-2N", 5, 0, "1-2"},
        {"50-2n", 10, 0, ""},
        {"0-2n", 6, 0, ""},   // (0,0) comes first: the run stops at once
        {"7-3", 5, 0, "7-3"}, // plain ranges are taken as written
        {"20", 5, 0, "20-20"},
        {"5-7-9", 10, 0, "5-7"}, // a third number is ignored, not a range of its own
        {"5-7-9,2", 10, 0, "5-7 2-2"},
        {"1s", -1, 0, ""}, // an unreadable file gets no generated ranges
        {"3,odd", 0, 0, "3-3"},
        {"", 5, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show(RunExpansion(c.text, c.pages, c.skip)), c.ranges)
            << '"' << c.text << "\" P=" << c.pages << " S=" << c.skip;
}

TEST(SplitParametersTest, ItemsThatWouldNeverEndYieldNothing) {
    // A chunk size of 0 or a step of 0 used to loop for ever.
    for (const char* text : {"0s", "s", "odds", "evens", "5-0n", "1-none", "5n", "blank"})
        EXPECT_EQ(Show(RunExpansion(text, 10)), "") << text;
    EXPECT_EQ(Show(RunExpansion("0s,3", 10)), "3-3");
}

TEST(SplitParametersTest, ExpansionStopsAtCapacity) {
    auto ranges = RunExpansion("1s", 50000);
    ASSERT_EQ(ranges.size(), static_cast<size_t>(CRangeList::kCapacity));
    EXPECT_EQ(ranges.back(), (PageRange{CRangeList::kCapacity, CRangeList::kCapacity}));
    // A page count near the 32-bit limit must neither wrap nor take for ever.
    EXPECT_EQ(RunExpansion("1-1000000n", INT32_MAX).size(), 2148u);
    EXPECT_EQ(RunExpansion("odd", INT32_MAX).size(), static_cast<size_t>(CRangeList::kCapacity));
}

TEST(SplitParametersTest, CountIsPositionAfterLastRange) {
    CJobList list;
    list.InsertRow(0, "Yes", -1);
    list.SetText(0, kColPages, "12");
    CRangeList ranges;
    struct : Trace {
        bool IsOn() const override { return true; }
        void Line(std::string_view t) override { lines.emplace_back(t); }
        std::vector<std::string> lines;
    } trace;
    EXPECT_EQ(SplitParameters(list, "1,6-7,9-10", 0, ranges, trace), 4);
    EXPECT_EQ(trace.lines,
              std::vector<std::string>{"SplitParameters, buf: 1,6-7,9-10, nItem: 0\r\n"});
}

TEST(CheckSplitParametersTest, RefusesWithTheRightMessage) {
    const struct {
        const char* text;
        int32_t pages;
        int32_t skip;
        const char* splitTo;
        const char* message; // "" = accepted without any box
    } cases[] = {
        {"1,6-7,9-10", 12, 0, "/out", ""},
        {"blank", 0, 0, "/out", ""},
        {"blank", 5, 0, "", "Error Destination: you must specify an destination directory"},
        {"1", 5, 0, "", "Error Destination: you must specify an destination directory"},
        {"Blank", 5, 0, "/out",
         ": Error in split n parameters, should be e.g. 1-2n"}, // holds an "n"
        {"7-3", 10, 0, "/out", "Error in parameters: 7 is greater than 3"},
        {"15-12", 10, 0, "/out", "Error in parameters: 15 is greater than 12"},
        {"5-20", 10, 0, "/out", "Error in parameters: parameter: 20 higher than pages: 10"},
        {"15", 10, 0, "/out", "Error in parameters: parameter: 15 higher than pages: 10"},
        {"0-2n", 6, 0, "/out",
         "Error in parameters: error in parameters can't start or end at Zero"},
        {"1s", 6, -3, "/out",
         "Error in parameters: error in parameters can't start or end at Zero"},
        {"even", 1, 0, "/out", "Error in parameters: no valid parameters"},
        {"", 5, 0, "/out", "Error in parameters: no valid parameters"},
        {"0", 5, 0, "/out", "Error in parameters: no valid parameters"},
        {"ODD", 5, 0, "/out", "Error in parameters: no valid parameters"},
        {"50-2n", 10, 0, "/out", "Error in parameters: no valid parameters"},
        {"0s", 10, 0, "/out", "Error in parameters: no valid parameters"},
        {"1s", 30000, 0, "/out", "Error in parameters: Too many page ranges (at most 19998)."},
        {"5-7-9", 10, 0, "/out", ""},
    };
    for (const auto& c : cases) {
        testing_support::CRecordingPrompter prompter;
        bool ok = CheckSplitParameters({c.splitTo, c.text, c.pages, c.skip}, prompter);
        std::string message = c.message;
        EXPECT_EQ(ok, message.empty()) << c.text;
        if (message.empty())
            EXPECT_TRUE(prompter.boxes.empty()) << c.text;
        else
            EXPECT_EQ(prompter.Lines(), std::vector<std::string>{message}) << c.text;
    }
}

TEST(CheckSplitParametersTest, StepWithoutStepRefusesTheWholeString) {
    testing_support::CRecordingPrompter prompter;
    EXPECT_FALSE(CheckSplitParameters({"/out", "1,5n,2", 10, 0}, prompter));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "Error in split n parameters, should be e.g. 1-2n");
    EXPECT_EQ(prompter.boxes[0].caption, "") << "carries the application's title";

    prompter.boxes.clear();
    EXPECT_FALSE(CheckSplitParameters({"/out", "5n,7n", 10, 0}, prompter));
    EXPECT_EQ(prompter.boxes.size(), 2u) << "once per step item without a step";
}
