#pragma once

#include <bit>
#include <string>
#include <string_view>

namespace core {

namespace detail {

// Orders rows [low, high] with a heap: the fallback for a part the quicksort could not halve
// often enough. Rows move only through `exchange`, as they do in the quicksort.
template <typename TextOf, typename Exchange>
void HeapSortRows(bool ascending, int low, int high, TextOf& textOf, Exchange& exchange) {
    auto before = [&](int a, int b) {
        return ascending ? textOf(low + a) < textOf(low + b) : textOf(low + b) < textOf(low + a);
    };
    auto siftDown = [&](int root, int size) {
        while (true) {
            int child = 2 * root + 1;
            if (child >= size)
                return;
            if (child + 1 < size && before(child, child + 1))
                ++child;
            if (!before(root, child))
                return;
            exchange(low + root, low + child);
            root = child;
        }
    };
    const int size = high - low + 1;
    for (int root = size / 2 - 1; root >= 0; --root)
        siftDown(root, size);
    for (int end = size - 1; end > 0; --end) {
        exchange(low, low + end);
        siftDown(0, end);
    }
}

template <typename TextOf, typename Exchange>
void QuickSortRows(bool ascending, int low, int high, int depthLeft, TextOf& textOf,
                   Exchange& exchange) {
    // Recurse into the smaller part and loop on the larger, so a hostile order cannot exhaust
    // the stack; the parts are disjoint, so the result is the same as recursing into both.
    while (true) {
        int lo = low;
        int hi = high;
        if (hi <= lo)
            return;
        // An order crafted against the middle pivot makes every partition split off one row;
        // past a depth no honest order reaches, the rest is sorted by a heap in n log n.
        if (depthLeft-- == 0) {
            HeapSortRows(ascending, low, high, textOf, exchange);
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
        if (hi - low < high - lo) {
            if (low < hi)
                QuickSortRows(ascending, low, hi, depthLeft, textOf, exchange);
            if (!(lo < high))
                return;
            low = lo;
        } else {
            if (lo < high)
                QuickSortRows(ascending, lo, high, depthLeft, textOf, exchange);
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
// comparisons: a part still unsorted after about three times log2(n) levels of partitioning,
// which only a crafted order produces, is finished by a heap sort.
//
// textOf(row) -> string_view, exchange(a, b). high = -1 means the last row.
template <typename TextOf, typename Exchange>
void QuickSortRows(int count, bool ascending, int low, int high, TextOf textOf, Exchange exchange) {
    if (high == -1)
        high = count - 1;
    if (high <= low)
        return;
    const int depth = 3 * static_cast<int>(std::bit_width(static_cast<unsigned>(high - low + 1)));
    detail::QuickSortRows(ascending, low, high, depth, textOf, exchange);
}

} // namespace core
