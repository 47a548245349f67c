#include "core/JobListSort.h"

#include "core/QuickSort.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

CJobList ListOf(std::vector<std::string> pages) {
    CJobList list;
    for (size_t i = 0; i < pages.size(); ++i) {
        int row = static_cast<int>(i);
        list.InsertRow(row, "Yes", row);
        list.SetText(row, kColPages, pages[i]);
        list.SetText(row, kColFilename, "f" + std::to_string(i));
    }
    return list;
}

std::vector<std::string> ColumnTexts(const CJobList& list, int column) {
    std::vector<std::string> out;
    for (int r = 0; r < list.Count(); ++r)
        out.push_back(list.Text(r, column));
    return out;
}

} // namespace

TEST(SortRowsTest, SortsAsBytesAndMovesWholeRows) {
    CJobList list = ListOf({"9", "10", "Z", "a", "100", "9"});
    list.SetHighlight(2, true); // "Z"
    ASSERT_TRUE(SortRows(list, kColPages));
    EXPECT_EQ(ColumnTexts(list, kColPages),
              (std::vector<std::string>{"10", "100", "9", "9", "Z", "a"}));
    for (int r = 0; r < list.Count(); ++r) {
        // The icon was set to the original index, as was the file name's number.
        EXPECT_EQ(list.Text(r, kColFilename), "f" + std::to_string(list.Row(r).icon));
    }
    EXPECT_EQ(list.FirstHighlighted(), 4);

    SortRows(list, kColPages);
    EXPECT_EQ(ColumnTexts(list, kColPages),
              (std::vector<std::string>{"10", "100", "9", "9", "Z", "a"}));
}

TEST(SortRowsTest, IdsTravelWithTheirRowsAndTheSortIsOneReset) {
    CJobList list = ListOf({"c", "a", "d", "b", "a"});
    std::vector<JobId> idOfName(5);
    for (int r = 0; r < 5; ++r)
        idOfName[static_cast<size_t>(r)] = list.IdAt(r);
    std::vector<JobListChange::Kind> seen;
    list.SetListener([&](const JobListChange& c) { seen.push_back(c.kind); });

    ASSERT_TRUE(SortRows(list, kColPages));
    EXPECT_EQ(seen, (std::vector<JobListChange::Kind>{JobListChange::AboutToReset,
                                                      JobListChange::Reset}));
    for (int r = 0; r < list.Count(); ++r) {
        const int original = list.Row(r).icon; // set to the row's index before the sort
        EXPECT_EQ(list.IdAt(r), idOfName[static_cast<size_t>(original)]) << "row " << r;
        EXPECT_EQ(list.RowOf(idOfName[static_cast<size_t>(original)]), r);
    }

    seen.clear();
    EXPECT_FALSE(SortRows(list, -1));
    EXPECT_TRUE(seen.empty()) << "a refused sort changes nothing and says nothing";
}

TEST(SortRowsTest, RefusesBadColumnsAndTinyLists) {
    CJobList list = ListOf({"b", "a"});
    EXPECT_FALSE(SortRows(list, kColumnCount));
    EXPECT_FALSE(SortRows(list, -1));
    CJobList one = ListOf({"x"});
    EXPECT_FALSE(SortRows(one, kColPages));
    EXPECT_TRUE(SortRows(list, kColPages, false));
    EXPECT_EQ(ColumnTexts(list, kColPages), (std::vector<std::string>{"b", "a"}));
}

TEST(SortRowsTest, LargeAdversarialListsSortCorrectly) {
    std::vector<std::string> pages;
    for (int i = 0; i < 5000; ++i)
        pages.push_back(std::to_string((i * 7919) % 1000));
    CJobList list = ListOf(pages);
    SortRows(list, kColPages);
    auto sorted = ColumnTexts(list, kColPages);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}

// An order made against the middle pivot: every partition's middle row holds the smallest key
// left, so each one splits off a single row. The plain quicksort needs n^2/2 comparisons here.
TEST(SortRowsTest, CraftedOrdersTakeNLogNComparisons) {
    constexpr int n = 20000;
    std::vector<int> slot(n), key(n);
    for (int i = 0; i < n; ++i)
        slot[static_cast<size_t>(i)] = i;
    for (int low = 0; low < n; ++low) {
        const int middle = (low + n - 1) / 2;
        key[static_cast<size_t>(slot[static_cast<size_t>(middle)])] = low;
        std::swap(slot[static_cast<size_t>(low)], slot[static_cast<size_t>(middle)]);
    }
    std::vector<std::string> texts;
    for (int k : key)
        texts.push_back(std::to_string(100000 + k));
    for (bool ascending : {true, false}) {
        std::vector<std::string> rows = texts;
        long long comparisons = 0;
        QuickSortRows(
            n, ascending, 0, -1,
            [&](int r) -> std::string_view {
                ++comparisons;
                return rows[static_cast<size_t>(r)];
            },
            [&](int a, int b) {
                std::swap(rows[static_cast<size_t>(a)], rows[static_cast<size_t>(b)]);
            });
        EXPECT_TRUE(ascending ? std::is_sorted(rows.begin(), rows.end())
                              : std::is_sorted(rows.rbegin(), rows.rend()));
        EXPECT_LT(comparisons, 12LL * n * 15) << "about 12 n log2 n at most, not n^2/2";
    }
    CJobList list = ListOf(texts);
    ASSERT_TRUE(SortRows(list, kColPages));
    const auto sorted = ColumnTexts(list, kColPages);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}
