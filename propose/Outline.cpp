#include "propose/Outline.h"

#include "engine/Destinations.h"
#include "engine/QpdfValues.h"

#include <qpdf/QPDFOutlineDocumentHelper.hh>

#include <map>
#include <optional>
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
    explicit Walker(QPDF& pdf) : pdf(pdf) {}

    QPDF& pdf;
    engine::ObjGenMap<int> pageIndex;
    int pageCount = 0;
    int maxLevel = 1;
    std::vector<OutlineTarget> targets;
    std::optional<engine::CNamedDests> named; // read on the first name met

    // The 1-based page the item's /Dest, or the /D of its GoTo action, shows (0: none): an
    // array or the name of one, found as a split finds it.
    int PageOf(QPDFOutlineObjectHelper& item) {
        std::optional<engine::Jump> jump = engine::JumpOf(item.getObjectHandle());
        if (!jump)
            return 0;
        const auto count = static_cast<size_t>(pageCount);
        if (!jump->dest.isName() && !jump->dest.isString())
            return engine::ExplicitTarget(jump->dest, pageIndex, count).page + 1;
        if (!named)
            named.emplace(pdf, pageIndex, count);
        return named->Resolve(jump->dest).page + 1;
    }

    void Walk(std::vector<QPDFOutlineObjectHelper> items, int level) {
        if (level > maxLevel)
            return;
        for (QPDFOutlineObjectHelper& item : items) {
            if (const int page = PageOf(item))
                targets.push_back(
                    {page, level, item.getTitle(), item.getObjectHandle().getObjGen()});
            Walk(item.getKids(), level + 1);
        }
    }
};

} // namespace

std::vector<OutlineTarget> ReadOutline(QpdfSource& source, int maxLevel) {
    Walker walker(*source.pdf);
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
