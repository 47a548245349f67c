#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Column numbers of a job row.
enum Column : int {
    kColSelected = 0,
    kColFilename = 1,
    kColSplitParameters = 2,
    kColPages = 3,
    kColStatus = 4,
    kColMoveTo = 5,
    kColSplitTo = 6,
    kColIncrementName = 7,
    kColUsePagesName = 8,
    kColKeepBookmarks = 9,
    kColFileList = 10,
    kColIncrementStart = 11,
    kColSkipPages = 12,
    kColPageOffset = 13,
};
inline constexpr int kColumnCount = 14;

struct ColumnInfo {
    std::string_view header;
    int width; // initial width in pixels; 0 = collapsed but present
};

inline constexpr std::array<ColumnInfo, kColumnCount> kColumns{{
    {"Selected", 60},
    {"Filename", 276},
    {"Split Parameters", 120},
    {"Pages", 70},
    {"Status", 70},
    {"Move To Directory After Split", 200},
    {"Split to Directory", 200},
    {"Increment Name", 0},
    {"Use Pages Name", 0},
    {"Keep Bookmarks", 0},
    {"File List", 0},
    {"Increment Start", 100},
    {"Skip Pages", 100},
    {"Offset Page Filenames", 150},
}};

// A job's identity for as long as it stays in its list: it travels with the row through
// exchanges and sorts, so work that pumps events can find its job again after the user has
// moved, inserted or deleted rows. 0 is no job; a list never hands out an id twice.
using JobId = std::uint64_t;

struct JobRow {
    std::array<std::string, kColumnCount> cells;
    int icon = -1;
    bool highlighted = false;
    JobId id = 0;
};

// What changed, so that a view can mirror the model without polling it. Structural changes come
// in pairs (AboutTo... before the rows change, the matching notice after), as an item model
// must announce them; the listener may read the list at both moments.
struct JobListChange {
    enum Kind {
        AboutToInsert,   // row = index the new row will have
        RowInserted,     // row = index of the new row
        AboutToRemove,   // row = index of the row going away
        RowRemoved,      // row = index the row had
        AboutToExchange, // row and other = the two rows about to swap
        RowsExchanged,   // row and other = the two rows swapped
        AboutToReset,    // everything may change: DeleteAll, Rearrange
        Reset,
        CellChanged,      // row, column
        RowChanged,       // row (its icon)
        HighlightChanged, // row
    };
    Kind kind;
    int row = -1;
    int column = -1;
    int other = -1;
};

// The job list: the rows are the jobs; everything else in the program addresses a job by row
// index and column number, or by its JobId when it must survive edits of the list.
//
// Thread rule: a list belongs to the thread that made it (the window's); nothing in it locks.
class CJobList {
  public:
    using Listener = std::function<void(const JobListChange&)>;

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Out-of-range reads give an empty text: the list may shrink under a run that pumps events.
    const std::string& Text(int row, int column) const;
    void SetText(int row, int column, std::string text);
    const JobRow& Row(int row) const { return m_rows.at(static_cast<size_t>(row)); }

    // 0 when the row is out of range.
    JobId IdAt(int row) const { return Valid(row) ? m_rows[static_cast<size_t>(row)].id : 0; }
    // -1 when the job is no longer in the list.
    int RowOf(JobId id) const;

    void InsertRow(int index, std::string selectedText, int icon);
    void DeleteRow(int row);
    void DeleteAll();

    int FirstHighlighted() const;
    int HighlightedCount() const;
    void SetHighlight(int row, bool on);
    void ClearHighlights();
    int Focused() const { return m_focused; }
    void SetFocus(int row) { m_focused = row; }
    void SetIcon(int row, int icon);

    // Swaps two rows whole: cells, icon, highlight; the focus follows the row it was on.
    void ExchangeRows(int a, int b);

    // Runs `work`, which may insert, delete and exchange rows freely, as one reset: the listener
    // hears AboutToReset before and Reset after, and nothing in between. A sort of thousands of
    // rows thus costs a view one refresh instead of two notices per swap.
    void Rearrange(const std::function<void()>& work);

    void SetListener(Listener listener) { m_listener = std::move(listener); }

  private:
    bool Valid(int row) const { return row >= 0 && row < Count(); }
    void Notify(JobListChange::Kind kind, int row = -1, int column = -1, int other = -1);

    std::vector<JobRow> m_rows;
    int m_focused = -1;
    JobId m_nextId = 1;
    int m_rearranging = 0; // depth of Rearrange calls; notices are held back while above 0
    Listener m_listener;
};

} // namespace core
