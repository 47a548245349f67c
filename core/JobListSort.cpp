#include "core/JobListSort.h"

#include "core/QuickSort.h"

namespace core {

bool SortRows(CJobList& list, int column, bool ascending, int low, int high) {
    if (column < 0 || column >= kColumnCount)
        return false;
    if (high == -1)
        high = list.Count() - 1;
    if (high <= low)
        return false;
    list.Rearrange([&] {
        QuickSortRows(
            list.Count(), ascending, low, high,
            [&](int row) -> std::string_view { return list.Text(row, column); },
            [&](int a, int b) { list.ExchangeRows(a, b); });
    });
    return true;
}

} // namespace core
