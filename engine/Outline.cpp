#include "engine/Outline.h"

#include "engine/Destinations.h"
#include "engine/ParsedSource.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace engine {

COutlineIndex::COutlineIndex(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount,
                             const CNamedDests& named) {
    QOH outlines = pdf.getRoot().getKey("/Outlines");
    if (!outlines.isDictionary())
        return;
    ObjGenSet seen;
    if (outlines.isIndirect())
        seen.insert(outlines.getObjGen());
    // (item, parent node) pairs still to visit; siblings are pushed in reverse so that
    // nodes come out in document order.
    std::vector<std::pair<QOH, int>> stack;
    auto pushChildren = [&](QOH parent, int parentNode) {
        std::vector<QOH> children;
        for (QOH c = parent.getKey("/First"); c.isDictionary(); c = c.getKey("/Next")) {
            if (c.isIndirect() && !seen.insert(c.getObjGen()).second)
                break; // a loop in a damaged file
            children.push_back(c);
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.emplace_back(*it, parentNode);
    };
    pushChildren(outlines, -1);
    while (!stack.empty()) {
        auto [item, parent] = stack.back();
        stack.pop_back();
        OutlineNode node;
        node.parent = parent;
        node.item = item;
        QOH count = item.getKey("/Count");
        node.open = count.isInteger() && count.getIntValue() > 0;
        if (auto jump = JumpOf(item)) {
            Target t = jump->dest.isName() || jump->dest.isString()
                           ? named.Resolve(jump->dest)
                           : ExplicitTarget(jump->dest, pageIndex, pageCount);
            node.page = t.page;
            node.destArray = t.dest;
        }
        const int index = static_cast<int>(m_nodes.size());
        m_nodes.push_back(node);
        if (node.page >= 0)
            m_byPage.emplace_back(node.page, index);
        pushChildren(item, index);
    }
    std::sort(m_byPage.begin(), m_byPage.end());
}

std::vector<int> COutlineIndex::NodesForRange(int first, int last) const {
    auto from = std::lower_bound(m_byPage.begin(), m_byPage.end(), std::pair{first, -1});
    std::vector<int> kept;
    for (auto it = from; it != m_byPage.end() && it->first <= last; ++it)
        for (int n = it->second; n >= 0; n = m_nodes[static_cast<size_t>(n)].parent)
            kept.push_back(n);
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    return kept;
}

void RecountOutline(QOH outlines) {
    struct Node {
        QOH item;
        size_t parent;
        bool open;
        int64_t visibleBelow = 0;
    };
    // Breadth first, so every item stands before all of its descendants.
    std::vector<Node> nodes{{outlines, 0, true}};
    std::set<QPDFObjGen> seen;
    for (size_t i = 0; i < nodes.size(); ++i) {
        QOH parent = nodes[i].item;
        for (QOH c = parent.getKey("/First"); c.isDictionary(); c = c.getKey("/Next")) {
            if (c.isIndirect() && !seen.insert(c.getObjGen()).second)
                break;
            QOH count = c.getKey("/Count");
            nodes.push_back({c, i, count.isInteger() && count.getIntValue() > 0});
        }
    }
    for (size_t i = nodes.size(); i-- > 1;) {
        Node& node = nodes[i];
        if (node.visibleBelow == 0)
            node.item.removeKey("/Count");
        else
            node.item.replaceKey(
                "/Count", QOH::newInteger(node.open ? node.visibleBelow : -node.visibleBelow));
        nodes[node.parent].visibleBelow += 1 + (node.open ? node.visibleBelow : 0);
    }
    outlines.replaceKey("/Count", QOH::newInteger(nodes[0].visibleBelow));
}

namespace {

void AppendChild(QOH parent, QOH item) {
    item.replaceKey("/Parent", parent);
    QOH last = parent.getKey("/Last");
    if (last.isDictionary()) {
        last.replaceKey("/Next", item);
        item.replaceKey("/Prev", last);
    } else {
        parent.replaceKey("/First", item);
    }
    parent.replaceKey("/Last", item);
}

} // namespace

std::vector<QOH> PrepareOutline(QPDF& part, ParsedSource& source, int32_t firstPage,
                                const std::vector<QOH>& added) {
    const COutlineIndex& index = source.Outline();
    const int32_t lastPage = firstPage + static_cast<int32_t>(added.size()) - 1;
    std::vector<QOH> top;
    std::unordered_map<int, QOH> made;
    for (int n : index.NodesForRange(firstPage, lastPage)) {
        OutlineNode node = index.Node(n);
        QOH item = part.makeIndirectObject(QOH::newDictionary());
        QOH title = node.item.getKey("/Title");
        item.replaceKey("/Title", title.isString() ? CopyValue(part, title) : QOH::newString(""));
        for (const char* key : {"/C", "/F"}) {
            QOH value = node.item.getKey(key);
            if (!value.isNull())
                item.replaceKey(key, CopyValue(part, value));
        }
        if (node.page >= firstPage && node.page <= lastPage)
            item.replaceKey("/Dest",
                            CopiedDest(part, added[static_cast<size_t>(node.page - firstPage)],
                                       node.destArray));
        // Only the sign matters until the counts are worked out.
        item.replaceKey("/Count", QOH::newInteger(node.open ? 1 : -1));
        auto parent = made.find(node.parent);
        if (parent == made.end())
            top.push_back(item);
        else
            AppendChild(parent->second, item);
        made[n] = item;
    }
    return top;
}

void CommitOutline(QPDF& part, const std::vector<QOH>& top) {
    if (top.empty())
        return;
    QOH root = part.getRoot();
    QOH outlines = root.getKey("/Outlines");
    if (!outlines.isDictionary()) {
        outlines = part.makeIndirectObject(QOH::parse("<< /Type /Outlines >>"));
        root.replaceKey("/Outlines", outlines);
    }
    for (const QOH& item : top)
        AppendChild(outlines, item);
    RecountOutline(outlines);
}

QOH FindOutlineItem(QOH outlines, const std::string& title) {
    std::set<QPDFObjGen> seen;
    std::vector<QOH> stack;
    auto pushChildren = [&](QOH parent) {
        std::vector<QOH> children;
        for (QOH c = parent.getKey("/First"); c.isDictionary(); c = c.getKey("/Next")) {
            if (!seen.insert(c.getObjGen()).second)
                break;
            children.push_back(c);
        }
        stack.insert(stack.end(), children.rbegin(), children.rend());
    };
    pushChildren(outlines);
    while (!stack.empty()) {
        QOH item = stack.back();
        stack.pop_back();
        QOH t = item.getKey("/Title");
        if (t.isString() && (t.getUTF8Value() == title || t.getStringValue() == title))
            return item;
        pushChildren(item);
    }
    return QOH();
}

bool UnlinkOutlineItem(QOH outlines, QOH item) {
    if (!item.isDictionary())
        return false;
    QOH parent = item.getKey("/Parent");
    QOH prev = item.getKey("/Prev");
    QOH next = item.getKey("/Next");
    if (prev.isDictionary())
        next.isDictionary() ? prev.replaceKey("/Next", next) : prev.removeKey("/Next");
    else if (parent.isDictionary())
        next.isDictionary() ? parent.replaceKey("/First", next) : parent.removeKey("/First");
    if (next.isDictionary())
        prev.isDictionary() ? next.replaceKey("/Prev", prev) : next.removeKey("/Prev");
    else if (parent.isDictionary())
        prev.isDictionary() ? parent.replaceKey("/Last", prev) : parent.removeKey("/Last");
    for (const char* key : {"/Parent", "/Prev", "/Next"})
        item.removeKey(key);
    RecountOutline(outlines);
    return true;
}

void DropOutlineDestsToAbsentPages(QPDF& part, const ObjGenSet& present) {
    QOH outlines = part.getRoot().getKey("/Outlines");
    if (!outlines.isDictionary())
        return;
    std::set<QPDFObjGen> seen;
    std::vector<QOH> stack{outlines};
    while (!stack.empty()) {
        QOH item = stack.back();
        stack.pop_back();
        QOH dest = item.getKey("/Dest");
        if (dest.isArray() && dest.getArrayNItems() > 0 &&
            !present.count(dest.getArrayItem(0).getObjGen()))
            item.removeKey("/Dest");
        for (QOH c = item.getKey("/First"); c.isDictionary(); c = c.getKey("/Next")) {
            if (!seen.insert(c.getObjGen()).second)
                break;
            stack.push_back(c);
        }
    }
}

} // namespace engine
