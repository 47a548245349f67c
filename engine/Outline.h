#pragma once

#include "engine/QpdfValues.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace engine {

class CNamedDests;
struct ParsedSource;

// One outline item of a source, in document order. What a part copies of it is kept apart
// from any document (title bytes, /C and /F, the destination's view), so the items need not stay
// resolved in the source's document; an outline holding a value that cannot be kept that way
// (an indirect object or stream among them) keeps its items as handles into the source instead.
struct OutlineNode {
    int parent = -1;
    int page = -1;   // 0-based page its destination shows, -1 when none in this file
    int around = -1; // without one, the page whose parts carry it; -1: where the items below go
    bool open = false;
    QPDFObjGen id; // the item itself, when it is an indirect object
    std::string title;
    std::string values; // "<< /C ... /F ... >>" unparsed, or empty
    std::string view;   // the destination's operands after the page, unparsed as an array
    QOH item;           // only for an outline kept as handles
    QOH destArray;      // the explicit destination, page reference first; likewise
    // What an item that shows no page does instead (opens a web address or another file, runs
    // a script...): the action as an indirect object of the source, unparsed, or held.
    QPDFObjGen actionId;
    std::string action;
    QOH actionHeld;
};

// The source's outline, read once and indexed by page, so that copying the items of one range
// costs what lies in that range, not the whole outline. Walked here without recursion and
// with loop detection at every level: qpdf's outline helper follows a looping sibling chain
// below the top level without end.
class COutlineIndex {
  public:
    // `reread` gives a second, short-lived document of the same file to read a large outline
    // from, so that its items do not stay in `pdf`'s cache for the life of the parse; null
    // when there is none to be had.
    COutlineIndex(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount,
                  const CNamedDests& named, const std::function<std::unique_ptr<QPDF>()>& reread);

    const OutlineNode& Node(int index) const { return m_nodes[static_cast<size_t>(index)]; }

    // Items pointing into [first, last] and every item above them, in document order.
    std::vector<int> NodesForRange(int first, int last) const;

  private:
    // Kept: what a part copies is read apart from the document, which keeps the items
    // resolved; Dropping: likewise, and each item is let go of once read (a document of our
    // own only); Handles: the items are kept as handles.
    enum class How { Kept, Dropping, Handles };
    // Attached: a value must stay a handle; TooLarge: the outline has more than `limit` items.
    enum class Reading { Done, TooLarge, Attached };
    Reading Read(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount,
                 const CNamedDests& named, How how, size_t limit);

    std::vector<OutlineNode> m_nodes;
    std::vector<std::pair<int, int>> m_byPage; // (page, node)
};

// The items of the source's outline that lead into the range, and those above them, made
// for `part`; the top-level ones are returned, not yet linked into the part's outline. An
// item's own action (one that shows no page) is made part of `part` by `carry`, which
// returns null when nothing of it is left.
using CarryAction = std::function<QOH(QOH sourceAction)>;
std::vector<QOH> PrepareOutline(QPDF& part, ParsedSource& source, int32_t firstPage,
                                const std::vector<QOH>& added, const CarryAction& carry);
void CommitOutline(QPDF& part, const std::vector<QOH>& top);

// Recomputes every /Count of the outline from the tree and each item's open state, so the
// counts stay right whatever was added or removed. Iterative: a hostile file may nest deeply.
void RecountOutline(QOH outlines);

// The first outline item of that title, in document order; an uninitialized handle if none.
QOH FindOutlineItem(QOH outlines, const std::string& title);
// Takes an item out of its outline, with everything below it.
bool UnlinkOutlineItem(QOH outlines, QOH item);

// Items whose destination shows a page no longer in the part keep their titles but lose the
// destination.
void DropOutlineDestsToAbsentPages(QPDF& part, const ObjGenSet& present);

} // namespace engine
