#pragma once

#include <string>
#include <string_view>

namespace core {

// The list views' column sort: a quicksort on the rows' texts of one column, compared as byte
// strings, exchanging whole rows through the caller. Not stable; equal keys end where the
// partitioning leaves them, which the views accept.
//
// textOf(row) -> string_view, exchange(a, b). high = -1 means the last row.
template <typename TextOf, typename Exchange>
void QuickSortRows(int count, bool ascending, int low, int high, TextOf textOf, Exchange exchange) {
    if (high == -1)
        high = count - 1;
    // Recurse into the smaller part and loop on the larger, so a hostile order cannot exhaust
    // the stack; the parts are disjoint, so the result is the same as recursing into both.
    while (true) {
        int lo = low;
        int hi = high;
        if (hi <= lo)
            return;
        const std::string pivot(textOf((lo + hi) / 2));
        auto before = [&](std::string_view a, std::string_view b) {
            return ascending ? a < b : a > b;
        };
        while (lo <= hi) {
            while (lo < high && before(textOf(lo), pivot))
                ++lo;
            while (hi > low && before(pivot, textOf(hi)))
                --hi;
            if (lo <= hi) {
                if (textOf(lo) != textOf(hi))
                    exchange(lo, hi);
                ++lo;
                --hi;
            }
        }
        if (hi - low < high - lo) {
            if (low < hi)
                QuickSortRows(count, ascending, low, hi, textOf, exchange);
            if (!(lo < high))
                return;
            low = lo;
        } else {
            if (lo < high)
                QuickSortRows(count, ascending, lo, high, textOf, exchange);
            if (!(low < hi))
                return;
            high = hi;
        }
    }
}

} // namespace core
