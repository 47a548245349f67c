#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace core {

struct PageRange {
    int32_t first = 0; // 1-based, inclusive; 0 marks the end of the list
    int32_t last = 0;
    bool operator==(const PageRange&) const = default;
};

// The range list of one expansion: entry 0 is never used, ranges start at entry 1 and the list
// ends at the first entry whose first page is 0. Writes past the last usable entry are dropped
// and remembered, so an expansion can never run past the list.
class CRangeList {
  public:
    static constexpr int kEntries = 20000;
    static constexpr int kCapacity = kEntries - 2; // last entry that may hold a range

    CRangeList() : m_entries(kEntries) {}

    const PageRange& At(int index) const { return m_entries[static_cast<size_t>(index)]; }
    PageRange& At(int index) {
        Touch(index);
        return m_entries[static_cast<size_t>(index)];
    }

    // Stores a range at `index`; false (and Overflowed() from then on) past the capacity.
    bool Put(int index, PageRange range);
    void PutEndMark(int index);

    // Back to all zeros. Only what was written since the last clear is touched.
    void Clear();

    bool Overflowed() const { return m_overflowed; }
    void SetOverflowed() { m_overflowed = true; }

    // Entries 1, 2, ... up to the end mark.
    std::vector<PageRange> Ranges() const;

  private:
    void Touch(int index) {
        if (index > m_highWater)
            m_highWater = index;
    }

    std::vector<PageRange> m_entries;
    int m_highWater = 0;
    bool m_overflowed = false;
};

} // namespace core
