#include "engine/Articles.h"

#include <algorithm>
#include <map>
#include <vector>

namespace engine {

ObjGenMap<int> ReadBeadOrder(QPDF& pdf) {
    ObjGenMap<int> order;
    QOH threads = KeyOrNull(pdf.getRoot(), "/Threads");
    if (!threads.isArray())
        return order;
    int place = 0;
    for (QOH thread : threads.aitems())
        for (QOH bead = KeyOrNull(thread, "/F"); bead.isDictionary() && bead.isIndirect();
             bead = KeyOrNull(bead, "/N"))
            if (!order.emplace(bead.getObjGen(), place++).second)
                break;
    return order;
}

void WriteArticles(QPDF& part, const ObjGenMap<PageOrigin>& origins) {
    QOH root = part.getRoot();
    root.removeKey("/Threads");
    // Per source thread, the part's copies of its beads with their places in reading order,
    // threads in the order the part's pages meet them.
    std::vector<std::vector<std::pair<int, QOH>>> threads;
    std::map<std::pair<ParsedSource*, QPDFObjGen>, size_t> threadIndex;
    for (QOH page : part.getAllPages()) {
        QOH beads = KeyOrNull(page, "/B");
        auto origin = origins.find(page.getObjGen());
        if (!beads.isArray() || origin == origins.end())
            continue;
        ParsedSource& source = *origin->second.source;
        QOH sourceBeads = KeyOrNull(source.pages[static_cast<size_t>(origin->second.page)], "/B");
        // A copy keeps the array as it is, so its beads pair up with the source's.
        if (!sourceBeads.isArray() || sourceBeads.getArrayNItems() != beads.getArrayNItems())
            continue;
        const ObjGenMap<int>& order = source.BeadOrder();
        for (int i = 0; i < beads.getArrayNItems(); ++i) {
            QOH from = sourceBeads.getArrayItem(i), copy = beads.getArrayItem(i);
            QOH thread = KeyOrNull(from, "/T");
            auto place = from.isIndirect() ? order.find(from.getObjGen()) : order.end();
            if (place == order.end() || !copy.isDictionary() || !thread.isIndirect())
                continue; // a bead no listed thread reaches is left as it is
            auto [at, added] =
                threadIndex.try_emplace({&source, thread.getObjGen()}, threads.size());
            if (added)
                threads.emplace_back();
            // Copied through the chain before its own page, it may name no page.
            copy.replaceKey("/P", page);
            threads[at->second].emplace_back(place->second, copy);
        }
    }
    if (threads.empty())
        return;
    QOH list = QOH::newArray();
    for (auto& beads : threads) {
        std::sort(beads.begin(), beads.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        // A bead listed twice (on one page or on two) is one bead of the chain.
        beads.erase(std::unique(beads.begin(), beads.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    beads.end());
        QOH thread = KeyOrNull(beads.front().second, "/T");
        if (!thread.isDictionary() || !thread.isIndirect())
            thread = part.makeIndirectObject(QOH::newDictionary());
        thread.replaceKey("/F", beads.front().second);
        const size_t n = beads.size();
        for (size_t i = 0; i < n; ++i) {
            QOH bead = beads[i].second;
            bead.replaceKey("/T", thread);
            bead.replaceKey("/N", beads[(i + 1) % n].second);
            bead.replaceKey("/V", beads[(i + n - 1) % n].second);
        }
        list.appendItem(thread);
    }
    root.replaceKey("/Threads", list);
}

} // namespace engine
