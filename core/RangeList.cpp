#include "core/RangeList.h"

#include <algorithm>

namespace core {

bool CRangeList::Put(int index, PageRange range) {
    if (index < 1 || index > kCapacity) {
        m_overflowed = true;
        return false;
    }
    At(index) = range;
    return true;
}

void CRangeList::PutEndMark(int index) {
    if (index >= 1 && index < kEntries)
        At(index) = PageRange{};
}

void CRangeList::Clear() {
    std::fill(m_entries.begin(), m_entries.begin() + m_highWater + 1, PageRange{});
    m_highWater = 0;
    m_overflowed = false;
}

std::vector<PageRange> CRangeList::Ranges() const {
    std::vector<PageRange> out;
    for (int i = 1; i < kEntries && At(i).first != 0; ++i)
        out.push_back(At(i));
    return out;
}

} // namespace core
