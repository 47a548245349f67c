#include "propose/Outline.h"

#include "engine/QpdfValues.h"

#include <qpdf/QPDFOutlineDocumentHelper.hh>

#include <array>

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

// Named destinations as viewers find them. The format looks a name up in the catalog's /Dests
// and a string in the /Dests name tree, but writers mix the two (a name that only the tree
// holds, a tree whose keys are names), and viewers follow such bookmarks all the same; so each
// is looked up in its own place first and in the other one then. Read on the first name met.
class NamedDests {
  public:
    explicit NamedDests(QPDF& pdf) : m_pdf(pdf) {}

    QOH Find(QOH key) {
        if (!key.isName() && !key.isString())
            return QOH::newNull();
        if (!m_read)
            Read();
        const bool name = key.isName();
        const std::string text = name ? key.getName().substr(1) : key.getStringValue();
        for (const auto* map : name ? std::array{&m_dict, &m_tree} : std::array{&m_tree, &m_dict})
            if (auto it = map->find(text); it != map->end())
                return it->second;
        return QOH::newNull();
    }

  private:
    void Read() {
        m_read = true;
        QOH root = m_pdf.getRoot();
        if (QOH dests = root.getKey("/Dests"); dests.isDictionary())
            for (auto& [key, value] : dests.getDictAsMap())
                m_dict.emplace(key.substr(1), value);
        QOH names = root.getKey("/Names");
        std::set<QPDFObjGen> seen;
        std::vector<std::pair<QOH, int>> stack{
            {names.isDictionary() ? names.getKey("/Dests") : QOH::newNull(), 0}};
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (!node.isDictionary() || depth > engine::kMaxTreeDepth ||
                (node.isIndirect() && !seen.insert(node.getObjGen()).second))
                continue;
            if (QOH pairs = node.getKey("/Names"); pairs.isArray())
                for (int i = 0; i + 1 < pairs.getArrayNItems(); i += 2) {
                    QOH key = pairs.getArrayItem(i);
                    if (key.isString() || key.isName())
                        m_tree.emplace(key.isName() ? key.getName().substr(1)
                                                    : key.getStringValue(),
                                       pairs.getArrayItem(i + 1));
                }
            if (QOH kids = node.getKey("/Kids"); kids.isArray())
                for (int i = kids.getArrayNItems() - 1; i >= 0; --i)
                    stack.emplace_back(kids.getArrayItem(i), depth + 1);
        }
    }

    QPDF& m_pdf;
    bool m_read = false;
    std::map<std::string, QOH> m_dict;
    std::map<std::string, QOH> m_tree;
};

struct Walker {
    explicit Walker(QPDF& pdf) : named(pdf) {}

    NamedDests named;
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

    // The first item of the item's destination: its /Dest, or the /D of a /GoTo action, each
    // an array or the name of one, which may stand for a dictionary holding the array under
    // /D, as many writers store them.
    QOH DestPage(QPDFOutlineObjectHelper& item) {
        QOH holder = item.getObjectHandle();
        QOH dest = holder.getKey("/Dest");
        if (QOH action = holder.getKey("/A");
            dest.isNull() && action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
            dest = action.getKey("/D");
        if (dest.isName() || dest.isString())
            dest = named.Find(dest);
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
