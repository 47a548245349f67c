#include "core/JobList.h"
#include "core/AddFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>

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
}

namespace {

std::vector<JobId> Ids(const CJobList& list) {
    std::vector<JobId> ids;
    for (int r = 0; r < list.Count(); ++r)
        ids.push_back(list.IdAt(r));
    return ids;
}

// Keeps its own copy of the rows' ids from the notices alone, as an item model does, and checks
// at every notice that the list is where the notice says: unchanged at an AboutTo..., changed
// exactly as announced after it, and never silent in between.
struct Mirror {
    const CJobList& list;
    std::vector<JobId> rows;
    std::optional<JobListChange> pending;
    int resets = 0;
    std::vector<std::string> faults;

    explicit Mirror(CJobList& l) : list(l), rows(Ids(l)) {
        l.SetListener([this](const JobListChange& c) { Heard(c); });
    }

    void Fault(const std::string& what) {
        if (std::find(faults.begin(), faults.end(), what) == faults.end())
            faults.push_back(what);
    }

    void Heard(const JobListChange& c) {
        using K = JobListChange;
        const bool before = c.kind == K::AboutToInsert || c.kind == K::AboutToRemove ||
                            c.kind == K::AboutToExchange || c.kind == K::AboutToReset;
        if (before) {
            if (pending)
                Fault("a second AboutTo... before the first was closed");
            if (rows != Ids(list))
                Fault("the list changed before it was announced");
            pending = c;
            return;
        }
        auto closes = [&](K::Kind opening) {
            if (!pending || pending->kind != opening || pending->row != c.row ||
                pending->other != c.other)
                Fault("an after-notice without its matching AboutTo...");
            pending.reset();
        };
        switch (c.kind) {
        case K::RowInserted:
            closes(K::AboutToInsert);
            if (c.row < 0 || c.row > static_cast<int>(rows.size()))
                return Fault("insert outside the list");
            rows.insert(rows.begin() + c.row, list.IdAt(c.row));
            break;
        case K::RowRemoved:
            closes(K::AboutToRemove);
            if (c.row < 0 || c.row >= static_cast<int>(rows.size()))
                return Fault("remove outside the list");
            rows.erase(rows.begin() + c.row);
            break;
        case K::RowsExchanged:
            closes(K::AboutToExchange);
            std::swap(rows.at(static_cast<size_t>(c.row)), rows.at(static_cast<size_t>(c.other)));
            break;
        case K::Reset:
            closes(K::AboutToReset);
            rows = Ids(list);
            ++resets;
            break;
        default:
            if (pending)
                Fault("a cell or row notice inside a structural change");
            if (c.row < 0 || c.row >= list.Count())
                Fault("a notice for a row that does not exist");
            break;
        }
        if (rows != Ids(list))
            Fault("the list does not match what its notices said");
    }
};

} // namespace

TEST(JobListTest, IdsAreUniqueNeverReusedAndTravelWithTheirRows) {
    CJobList list;
    for (int i = 0; i < 4; ++i)
        list.InsertRow(i, "Yes", i);
    const std::vector<JobId> first = Ids(list);
    EXPECT_EQ(std::set<JobId>(first.begin(), first.end()).size(), 4u);
    EXPECT_EQ(std::count(first.begin(), first.end(), JobId{0}), 0);

    list.ExchangeRows(0, 3);
    EXPECT_EQ(list.RowOf(first[0]), 3);
    EXPECT_EQ(list.RowOf(first[3]), 0);
    EXPECT_EQ(list.Row(3).icon, 0) << "the id moves together with the rest of the row";

    list.InsertRow(1, "No", 9);
    EXPECT_EQ(list.RowOf(first[1]), 2);
    list.DeleteRow(list.RowOf(first[2]));
    EXPECT_EQ(list.RowOf(first[2]), -1);
    EXPECT_EQ(list.RowOf(first[0]), 3);

    std::set<JobId> ever(first.begin(), first.end());
    ever.insert(list.IdAt(1));
    list.DeleteAll();
    for (int i = 0; i < 3; ++i) {
        list.InsertRow(0, "Yes", i);
        EXPECT_TRUE(ever.insert(list.IdAt(0)).second) << "an id came back after DeleteAll";
    }
    EXPECT_EQ(list.IdAt(-1), JobId{0});
    EXPECT_EQ(list.IdAt(3), JobId{0});
    EXPECT_EQ(list.RowOf(0), -1);
}

TEST(JobListTest, EveryStructuralChangeIsAnnouncedBeforeAndAfter) {
    CJobList list;
    Mirror mirror(list);
    // A fixed pseudo-random walk through every kind of edit, long enough to hit the ends.
    unsigned state = 12345;
    auto next = [&](int bound) {
        state = state * 1103515245u + 12345u;
        return bound > 0 ? static_cast<int>((state >> 16) % static_cast<unsigned>(bound)) : 0;
    };
    for (int step = 0; step < 600; ++step) {
        const int n = list.Count();
        switch (next(8)) {
        case 0:
        case 1:
            list.InsertRow(next(n + 1), "Yes", step);
            break;
        case 2:
            list.DeleteRow(next(n));
            break;
        case 3:
            list.ExchangeRows(next(n), next(n));
            break;
        case 4:
            list.SetText(next(n), kColStatus, "Done");
            list.SetIcon(next(n), step);
            break;
        case 5:
            list.SetHighlight(next(n), true);
            break;
        case 6:
            list.Rearrange([&] {
                list.InsertRow(0, "No", -1);
                list.ExchangeRows(0, list.Count() - 1);
                list.DeleteRow(next(list.Count()));
            });
            break;
        default:
            if (step % 97 == 0)
                list.DeleteAll();
            break;
        }
    }
    EXPECT_GT(mirror.resets, 0);
    EXPECT_FALSE(mirror.pending) << "an AboutTo... was never closed";
    EXPECT_EQ(mirror.faults, std::vector<std::string>{});
    EXPECT_EQ(mirror.rows, Ids(list));
}

TEST(JobListTest, RearrangeIsOneResetWhateverItDoes) {
    CJobList list;
    for (int i = 0; i < 3; ++i)
        list.InsertRow(i, "Yes", i);
    std::vector<JobListChange::Kind> seen;
    list.SetListener([&](const JobListChange& c) { seen.push_back(c.kind); });
    list.Rearrange([&] {
        list.ExchangeRows(0, 2);
        list.InsertRow(1, "No", 7);
        list.DeleteRow(0);
        list.SetText(0, kColStatus, "x");
        list.SetHighlight(1, true);
        list.Rearrange([&] { list.ExchangeRows(0, 1); }); // nested: still one reset
    });
    EXPECT_EQ(seen, (std::vector<JobListChange::Kind>{JobListChange::AboutToReset,
                                                      JobListChange::Reset}));
    EXPECT_EQ(list.Count(), 3);

    seen.clear();
    EXPECT_THROW(list.Rearrange([] { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(seen,
              (std::vector<JobListChange::Kind>{JobListChange::AboutToReset, JobListChange::Reset}))
        << "a view must not be left inside a reset when the work fails";
    list.SetText(0, kColStatus, "y");
    EXPECT_EQ(seen.back(), JobListChange::CellChanged) << "notices flow again after the work";
}
