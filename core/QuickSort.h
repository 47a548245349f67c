#pragma once

#include <algorithm>
#include <bit>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace core {

namespace detail {

// Orders rows [low, high] by sorting their numbers first and then moving each row once: the
// fallback for a part the quicksort could not halve often enough. Rows move only through
// `exchange`, as they do in the quicksort, at most once per row.
template <typename TextOf, typename Exchange>
void IndexSortRows(bool ascending, int low, int high, TextOf& textOf, Exchange& exchange) {
    const int size = high - low + 1;
    std::vector<int> order(static_cast<size_t>(size));
    std::iota(order.begin(), order.end(), low);
    // std::sort is an introsort itself: n log n comparisons whatever the order.
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return ascending ? textOf(a) < textOf(b) : textOf(b) < textOf(a);
    });
    // rowAt[p]: which original row stands at position p now; placeOf[r]: where row r stands.
    std::vector<int> rowAt(static_cast<size_t>(size)), placeOf(static_cast<size_t>(size));
    std::iota(rowAt.begin(), rowAt.end(), low);
    std::iota(placeOf.begin(), placeOf.end(), low);
    for (int k = 0; k < size; ++k) {
        const int target = low + k;
        const int from = placeOf[static_cast<size_t>(order[static_cast<size_t>(k)] - low)];
        if (from == target)
            continue;
        exchange(target, from);
        const int displaced = rowAt[static_cast<size_t>(target - low)];
        rowAt[static_cast<size_t>(from - low)] = displaced;
        placeOf[static_cast<size_t>(displaced - low)] = from;
        rowAt[static_cast<size_t>(target - low)] = order[static_cast<size_t>(k)];
        placeOf[static_cast<size_t>(order[static_cast<size_t>(k)] - low)] = target;
    }
}

template <typename TextOf, typename Exchange>
void QuickSortRows(bool ascending, int low, int high, int depthLeft, int lopsidedLeft,
                   TextOf& textOf, Exchange& exchange) {
    // Recurse into the smaller part and loop on the larger, so a hostile order cannot exhaust
    // the stack; the parts are disjoint, so the result is the same as recursing into both.
    while (true) {
        int lo = low;
        int hi = high;
        if (hi <= lo)
            return;
        // An order crafted against the middle pivot makes every partition split off one row.
        // Past a depth no honest order reaches, or after log2(n) partitions that left less
        // than an eighth on one side, the rest is sorted another way, in n log n.
        if (depthLeft-- == 0 || lopsidedLeft == 0) {
            IndexSortRows(ascending, low, high, textOf, exchange);
            return;
        }
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
        if (std::min(hi - low, high - lo) + 1 < (high - low + 1) / 8)
            --lopsidedLeft;
        if (hi - low < high - lo) {
            if (low < hi)
                QuickSortRows(ascending, low, hi, depthLeft, lopsidedLeft, textOf, exchange);
            if (!(lo < high))
                return;
            low = lo;
        } else {
            if (lo < high)
                QuickSortRows(ascending, lo, high, depthLeft, lopsidedLeft, textOf, exchange);
            if (!(low < hi))
                return;
            high = hi;
        }
    }
}

} // namespace detail

// The list views' column sort: a quicksort on the rows' texts of one column, compared as byte
// strings, exchanging whole rows through the caller. Not stable; equal keys end where the
// partitioning leaves them, which the views accept. Any order of rows takes O(n log n)
// comparisons: a part still unsorted after three times log2(n) levels of partitioning, or
// after log2(n) lopsided ones, which only a crafted order produces, is finished by sorting the
// rows' numbers and moving each row once.
//
// textOf(row) -> string_view, exchange(a, b). high = -1 means the last row.
template <typename TextOf, typename Exchange>
void QuickSortRows(int count, bool ascending, int low, int high, TextOf textOf, Exchange exchange) {
    if (high == -1)
        high = count - 1;
    if (high <= low)
        return;
    const int log2 = static_cast<int>(std::bit_width(static_cast<unsigned>(high - low + 1)));
    detail::QuickSortRows(ascending, low, high, 3 * log2, log2, textOf, exchange);
}

} // namespace core
