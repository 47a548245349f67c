#include "propose/Outline.h"

#include <qpdf/QPDFOutlineDocumentHelper.hh>

#include <map>
#include <set>

namespace propose {

namespace {

using QOH = QPDFObjectHandle;

// qpdf's outline helper follows a chain of items that leads back into itself without end
// (below the top level it keeps no list of the items it has met), taking memory until it
// fails. So the chains are walked here first, in our own copy of the document, and a link
// back to an item already met is cut before the helper walks them.
void CutOutlineLoops(QPDF& pdf) {
    QOH outlines = pdf.getRoot().getKey("/Outlines");
    if (!outlines.isDictionary())
        return;
    std::set<QPDFObjGen> seen;
    if (outlines.isIndirect())
        seen.insert(outlines.getObjGen());
    std::vector<QOH> parents{outlines};
    while (!parents.empty()) {
        QOH holder = parents.back();
        parents.pop_back();
        std::string link = "/First";
        for (;;) {
            QOH item = holder.getKey(link);
            if (!item.isDictionary())
                break;
            if (item.isIndirect() && !seen.insert(item.getObjGen()).second) {
                holder.removeKey(link);
                break;
            }
            parents.push_back(item);
            holder = item;
            link = "/Next";
        }
    }
}

struct Walker {
    std::map<QPDFObjGen, int> pageIndex;
    int pageCount = 0;
    int maxLevel = 1;
    std::vector<OutlineTarget> targets;

    // The 1-based page a destination's first item names: a page of this document, or (as some
    // writers put it) a 0-based page number.
    int PageOf(QOH target) const {
        if (target.isIndirect()) {
            auto it = pageIndex.find(target.getObjGen());
            return it == pageIndex.end() ? 0 : it->second + 1;
        }
        if (target.isInteger()) {
            const long long index = target.getIntValue();
            return index >= 0 && index < pageCount ? static_cast<int>(index) + 1 : 0;
        }
        return 0;
    }

    // qpdf resolves a named destination to the value the name stands for, which may be a
    // dictionary holding the destination under /D, as many writers store them; its own
    // getDestPage() looks for an array only.
    static QOH DestPage(QPDFOutlineObjectHelper& item) {
        QOH dest = item.getDest();
        if (dest.isDictionary())
            dest = dest.getKey("/D");
        return dest.isArray() && dest.getArrayNItems() > 0 ? dest.getArrayItem(0) : QOH::newNull();
    }

    void Walk(std::vector<QPDFOutlineObjectHelper> items, int level) {
        if (level > maxLevel)
            return;
        for (QPDFOutlineObjectHelper& item : items) {
            if (const int page = PageOf(DestPage(item)))
                targets.push_back(
                    {page, level, item.getTitle(), item.getObjectHandle().getObjGen()});
            Walk(item.getKids(), level + 1);
        }
    }
};

} // namespace

std::vector<OutlineTarget> ReadOutline(QpdfSource& source, int maxLevel) {
    Walker walker;
    walker.maxLevel = maxLevel;
    walker.pageCount = static_cast<int>(source.pages.size());
    for (int i = 0; i < walker.pageCount; ++i)
        walker.pageIndex.emplace(source.pages[static_cast<size_t>(i)].getObjGen(), i);
    try {
        CutOutlineLoops(*source.pdf);
        QPDFOutlineDocumentHelper outlines(*source.pdf);
        walker.Walk(outlines.getTopLevelOutlines(), 1);
    } catch (const std::exception&) {
        // What was found before the damage still stands.
    }
    return std::move(walker.targets);
}

} // namespace propose
