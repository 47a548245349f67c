#include "core/JobList.h"

#include <algorithm>
#include <utility>

namespace core {

namespace {
const std::string kEmpty;
}

const std::string& CJobList::Text(int row, int column) const {
    if (!Valid(row) || column < 0 || column >= kColumnCount)
        return kEmpty;
    return m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

void CJobList::SetText(int row, int column, std::string text) {
    if (!Valid(row) || column < 0 || column >= kColumnCount)
        return;
    m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)] = std::move(text);
    Notify(JobListChange::CellChanged, row, column);
}

void CJobList::InsertRow(int index, std::string selectedText, int icon) {
    index = std::clamp(index, 0, Count());
    JobRow row;
    row.cells[kColSelected] = std::move(selectedText);
    row.icon = icon;
    row.id = m_nextId++;
    Notify(JobListChange::AboutToInsert, index);
    m_rows.insert(m_rows.begin() + index, std::move(row));
    if (m_focused >= index)
        ++m_focused;
    Notify(JobListChange::RowInserted, index);
}

void CJobList::DeleteRow(int row) {
    if (!Valid(row))
        return;
    Notify(JobListChange::AboutToRemove, row);
    m_rows.erase(m_rows.begin() + row);
    if (m_focused == row)
        m_focused = -1;
    else if (m_focused > row)
        --m_focused;
    Notify(JobListChange::RowRemoved, row);
}

void CJobList::DeleteAll() {
    Notify(JobListChange::AboutToReset);
    m_rows.clear();
    m_focused = -1;
    Notify(JobListChange::Reset);
}

int CJobList::FirstHighlighted() const {
    for (int i = 0; i < Count(); ++i)
        if (m_rows[static_cast<size_t>(i)].highlighted)
            return i;
    return -1;
}

int CJobList::HighlightedCount() const {
    return static_cast<int>(
        std::count_if(m_rows.begin(), m_rows.end(), [](const JobRow& r) { return r.highlighted; }));
}

void CJobList::SetHighlight(int row, bool on) {
    if (!Valid(row) || m_rows[static_cast<size_t>(row)].highlighted == on)
        return;
    m_rows[static_cast<size_t>(row)].highlighted = on;
    Notify(JobListChange::HighlightChanged, row);
}

void CJobList::ClearHighlights() {
    for (int i = 0; i < Count(); ++i)
        SetHighlight(i, false);
}

void CJobList::SetIcon(int row, int icon) {
    if (!Valid(row))
        return;
    m_rows[static_cast<size_t>(row)].icon = icon;
    Notify(JobListChange::RowChanged, row);
}

void CJobList::ExchangeRows(int a, int b) {
    if (!Valid(a) || !Valid(b) || a == b)
        return;
    Notify(JobListChange::AboutToExchange, a, -1, b);
    std::swap(m_rows[static_cast<size_t>(a)], m_rows[static_cast<size_t>(b)]);
    if (m_focused == a)
        m_focused = b;
    else if (m_focused == b)
        m_focused = a;
    Notify(JobListChange::RowsExchanged, a, -1, b);
}

int CJobList::RowOf(JobId id) const {
    if (id == 0)
        return -1;
    for (int i = 0; i < Count(); ++i)
        if (m_rows[static_cast<size_t>(i)].id == id)
            return i;
    return -1;
}

void CJobList::Rearrange(const std::function<void()>& work) {
    Notify(JobListChange::AboutToReset);
    ++m_rearranging;
    // The closing notice must come even when the work throws, or a view would stay in its
    // reset forever.
    struct Closing {
        CJobList& list;
        ~Closing() {
            --list.m_rearranging;
            list.Notify(JobListChange::Reset);
        }
    } closing{*this};
    if (work)
        work();
}

void CJobList::Notify(JobListChange::Kind kind, int row, int column, int other) {
    if (m_listener && m_rearranging == 0)
        m_listener(JobListChange{kind, row, column, other});
}

} // namespace core
