#include "propose/BookmarkProposer.h"

#include "propose/Outline.h"
#include "propose/QpdfSource.h"

namespace propose {

Proposal ProposeAtBookmarks(const std::string& path, int maxLevel) {
    Proposal proposal;
    auto source = OpenQpdfSource(path, proposal.failure);
    if (!source)
        return proposal;
    std::vector<PartStart> starts;
    for (OutlineTarget& target : ReadOutline(*source, maxLevel))
        starts.push_back({target.page, std::move(target.title)});
    proposal = PartsFromStarts(static_cast<int>(source->pages.size()), std::move(starts));
    if (proposal.ranges.empty())
        proposal.failure =
            (maxLevel == 1 ? std::string("No top-level bookmark")
                           : "No bookmark of levels 1 to " + std::to_string(maxLevel)) +
            " leads to a page of " + path + ".";
    return proposal;
}

} // namespace propose
