#include "propose/Proposal.h"

#include "propose/SafeName.h"

#include <algorithm>

namespace propose {

std::string Proposal::Parameters() const {
    std::string text;
    for (const core::PageRange& range : ranges) {
        if (!text.empty())
            text += ',';
        text += std::to_string(range.first);
        if (range.last != range.first)
            text.append("-").append(std::to_string(range.last));
    }
    return text;
}

std::string Thousands(int64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        // (Built forward: GCC 12 warns falsely on inserting into the digits.)
        if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

void RefuseMoreThanAJob(Proposal& proposal) {
    if (proposal.Ok() && proposal.ranges.size() > static_cast<size_t>(core::CRangeList::kCapacity))
        proposal.failure = "This would make " +
                           Thousands(static_cast<int64_t>(proposal.ranges.size())) +
                           " parts; a job makes at most " + Thousands(core::CRangeList::kCapacity) +
                           ". Propose larger parts or fewer cuts.";
}

std::string UnreadableMessage(const std::string& path) {
    return "Cannot read " + path + " as a PDF document.";
}

Proposal PartsFromStarts(int pages, std::vector<PartStart> starts) {
    Proposal proposal;
    std::stable_sort(starts.begin(), starts.end(),
                     [](const PartStart& a, const PartStart& b) { return a.page < b.page; });
    starts.erase(
        std::unique(starts.begin(), starts.end(),
                    [](const PartStart& a, const PartStart& b) { return a.page == b.page; }),
        starts.end());
    std::erase_if(starts, [pages](const PartStart& s) { return s.page < 1 || s.page > pages; });
    if (starts.empty())
        return proposal;
    if (starts.front().page > 1) {
        proposal.ranges.push_back({1, starts.front().page - 1});
        proposal.names.emplace_back();
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const int last = i + 1 < starts.size() ? starts[i + 1].page - 1 : pages;
        proposal.ranges.push_back({starts[i].page, last});
        proposal.names.push_back(SafeFileName(starts[i].name));
    }
    MakeNamesUnique(proposal.names);
    return proposal;
}

Proposal PartsBetweenSeparators(const std::vector<bool>& separator) {
    Proposal proposal;
    const int pages = static_cast<int>(separator.size());
    for (int page = 1; page <= pages;) {
        if (separator[static_cast<size_t>(page - 1)]) {
            ++page;
            continue;
        }
        int last = page;
        while (last < pages && !separator[static_cast<size_t>(last)])
            ++last;
        proposal.ranges.push_back({page, last});
        page = last + 1;
    }
    return proposal;
}

} // namespace propose
