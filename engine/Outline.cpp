#include "engine/Outline.h"

#include "engine/Destinations.h"
#include "engine/ParsedSource.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <unordered_map>

namespace engine {

namespace {

// An outline of up to this many items (about one item per eight pages, within bounds) is read in
// the source's own document, where it stays resolved, about 2.5 KB an item in qpdf's cache; a
// larger one is read again from a second parse of the file, which costs a cross-reference table
// read (about a hundredth of a single-page split's instructions) and lets go of each item once
// read. A sparse outline never pays for the second parse; a dense one leaves at most this many
// items behind, and reads them twice: with a floor of 256 items, a dense outline of 1,000 pages
// read twice as many in place as one item per eight pages would have let it.
size_t ItemsReadInPlace(size_t pageCount) {
    return std::clamp<size_t>(pageCount / 8, 64, 2048);
}
// Deeper values are rare enough to keep as handles.
constexpr int kMaxDetachedDepth = 32;

// Whether `value` can be kept as text and made again, equal, in any document: nothing in it
// is an indirect object.
bool Detached(QOH value, int depth = 0) {
    if (value.isIndirect() || depth > kMaxDetachedDepth)
        return false;
    if (value.isArray()) {
        for (QOH& item : value.getArrayAsVector())
            if (!Detached(item, depth + 1))
                return false;
    } else if (value.isDictionary()) {
        for (auto& entry : value.getDictAsMap())
            if (!Detached(entry.second, depth + 1))
                return false;
    }
    return value.isInitialized() && !value.isStream();
}

} // namespace

COutlineIndex::COutlineIndex(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount,
                             const CNamedDests& named,
                             const std::function<std::unique_ptr<QPDF>()>& reread) {
    Reading read = Read(pdf, pageIndex, pageCount, named, How::Kept,
                        reread ? ItemsReadInPlace(pageCount) : SIZE_MAX);
    if (read == Reading::TooLarge) {
        try {
            std::unique_ptr<QPDF> second = reread();
            if (second)
                read = Read(*second, pageIndex, pageCount, named, How::Dropping, SIZE_MAX);
        } catch (const std::exception&) {
            // Read where it is parsed.
        }
        if (read == Reading::TooLarge)
            read = Read(pdf, pageIndex, pageCount, named, How::Kept, SIZE_MAX);
    }
    if (read == Reading::Attached)
        Read(pdf, pageIndex, pageCount, named, How::Handles, SIZE_MAX);
    // An item that shows no page of this file (a web address, another file, a script, a title
    // of its own) belongs with the pages around it in the outline: one with items below it
    // goes where they go, a last one of its branch into the parts that hold the page of the
    // item before it (the first page when none comes before).
    std::vector<char> above(m_nodes.size());
    for (const OutlineNode& node : m_nodes)
        if (node.parent >= 0)
            above[static_cast<size_t>(node.parent)] = 1;
    int around = 0;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i].page >= 0)
            around = m_nodes[i].page;
        else if (!above[i] && pageCount > 0)
            m_byPage.emplace_back(m_nodes[i].around = around, static_cast<int>(i));
    }
    std::sort(m_byPage.begin(), m_byPage.end());
}

COutlineIndex::Reading COutlineIndex::Read(QPDF& pdf, const ObjGenMap<int>& pageIndex,
                                           size_t pageCount, const CNamedDests& named, How how,
                                           size_t limit) {
    m_nodes.clear();
    m_byPage.clear();
    QOH outlines = pdf.getRoot().getKey("/Outlines");
    if (!outlines.isDictionary())
        return Reading::Done;
    ObjGenSet seen;
    if (outlines.isIndirect())
        seen.insert(outlines.getObjGen());
    // Items still to visit, read when their parent's children were collected, so that a
    // document of our own can let go of each at once; siblings are pushed in reverse so that
    // nodes come out in document order.
    struct Pending {
        OutlineNode node;
        QOH first;
    };
    std::vector<Pending> stack;
    size_t read = 0;
    auto readItem = [&](QOH item, OutlineNode& node) {
        if (item.isIndirect())
            node.id = item.getObjGen();
        QOH count = item.getKey("/Count");
        node.open = count.isInteger() && count.getIntValue() > 0;
        Target t;
        if (auto jump = JumpOf(item)) {
            t = jump->dest.isName() || jump->dest.isString()
                    ? named.Resolve(jump->dest)
                    : ExplicitTarget(jump->dest, pageIndex, pageCount);
            node.page = t.page;
        }
        if (how == How::Handles) {
            node.item = item;
            node.destArray = t.dest;
            return true;
        }
        if (QOH action = KeyOrNull(item, "/A"); node.page < 0 && action.isDictionary() &&
                                                !action.getKey("/S").isNameAndEquals("/GoTo")) {
            if (action.isIndirect())
                node.actionId = action.getObjGen();
            else if (Detached(action))
                node.action = action.unparse();
            else if (how == How::Kept)
                node.actionHeld = action;
            else
                return false;
        }
        QOH title = item.getKey("/Title");
        if (title.isString()) {
            if (title.isIndirect())
                return false;
            node.title = title.getStringValue();
        }
        QOH values = QOH::newDictionary();
        for (const char* key : {"/C", "/F"}) {
            QOH value = item.getKey(key);
            if (value.isNull())
                continue;
            if (!Detached(value))
                return false;
            values.replaceKey(key, value);
        }
        if (!values.getKeys().empty())
            node.values = values.unparse();
        if (node.page >= 0) {
            QOH view = QOH::newArray();
            for (int i = 1; i < t.dest.getArrayNItems(); ++i) {
                QOH operand = t.dest.getArrayItem(i);
                if (!Detached(operand))
                    return false;
                view.appendItem(operand);
            }
            node.view = view.unparse();
        }
        return true;
    };
    auto pushChildren = [&](QOH first, int parentNode) {
        std::vector<Pending> children;
        QOH next;
        for (QOH c = first; c.isDictionary(); c = next) {
            if (c.isIndirect() && !seen.insert(c.getObjGen()).second)
                break; // a loop in a damaged file
            if (++read > limit)
                return Reading::TooLarge;
            Pending pending;
            pending.node.parent = parentNode;
            pending.first = c.getKey("/First");
            if (!readItem(c, pending.node))
                return Reading::Attached;
            next = c.getKey("/Next");
            if (how == How::Dropping && c.isIndirect())
                pdf.replaceObject(c.getObjGen(), QOH::newNull());
            children.push_back(std::move(pending));
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(std::move(*it));
        return Reading::Done;
    };
    Reading reading = pushChildren(outlines.getKey("/First"), -1);
    while (reading == Reading::Done && !stack.empty()) {
        Pending pending = std::move(stack.back());
        stack.pop_back();
        const int index = static_cast<int>(m_nodes.size());
        m_nodes.push_back(std::move(pending.node));
        if (m_nodes.back().page >= 0)
            m_byPage.emplace_back(m_nodes.back().page, index);
        reading = pushChildren(pending.first, index);
    }
    return reading;
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
                                const std::vector<QOH>& added, const CarryAction& carry) {
    const COutlineIndex& index = source.Outline();
    const int32_t lastPage = firstPage + static_cast<int32_t>(added.size()) - 1;
    std::vector<QOH> top;
    std::unordered_map<int, QOH> made;
    for (int n : index.NodesForRange(firstPage, lastPage)) {
        const OutlineNode& node = index.Node(n);
        QOH item = part.makeIndirectObject(QOH::newDictionary());
        const bool shown = node.page >= firstPage && node.page <= lastPage;
        if (QOH held = node.item; held.isInitialized()) {
            QOH title = held.getKey("/Title");
            item.replaceKey("/Title",
                            title.isString() ? CopyValue(part, title) : QOH::newString(""));
            for (const char* key : {"/C", "/F"}) {
                QOH value = held.getKey(key);
                if (!value.isNull())
                    item.replaceKey(key, CopyValue(part, value));
            }
            if (shown)
                item.replaceKey("/Dest",
                                CopiedDest(part, added[static_cast<size_t>(node.page - firstPage)],
                                           node.destArray));
        } else {
            item.replaceKey("/Title", QOH::newString(node.title));
            if (!node.values.empty())
                for (auto& [key, value] : QOH::parse(node.values).getDictAsMap())
                    item.replaceKey(key, value);
            if (shown) {
                QOH dest = QOH::parse(node.view);
                dest.insertItem(0, added[static_cast<size_t>(node.page - firstPage)]);
                item.replaceKey("/Dest", dest);
            }
        }
        if (node.page < 0) {
            QOH held = node.item;
            QOH action = held.isInitialized()         ? held.getKey("/A")
                         : node.actionId.isIndirect() ? source.pdf->getObjectByObjGen(node.actionId)
                         : !node.action.empty()       ? QOH::parse(node.action)
                                                      : node.actionHeld;
            if (action.isDictionary() && !action.getKey("/S").isNameAndEquals("/GoTo"))
                if (QOH carried = carry(action); carried.isDictionary())
                    item.replaceKey("/A", carried);
        }
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
