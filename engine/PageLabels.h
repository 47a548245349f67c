#pragma once

#include "engine/ParsedSource.h"

#include <qpdf/QPDFPageLabelDocumentHelper.hh>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The source's page labels. A sound tree is read once into a sorted list, which answers each
// page with one binary search (qpdf's number-tree lookup costs more per page, and a split
// asks for every page). A damaged tree (keys out of order or not numbers, an odd /Nums,
// values that are no label dictionaries) is left to qpdf's page-label helper, which repairs
// what it can: a part then carries every label qpdf itself would read.
class CLabelIndex {
  public:
    struct Label {
        size_t entry;   // which entry of the tree
        int64_t number; // the page's number in that entry's style
        QOH style;      // a name, or null for none
        std::string prefix;
        bool hasPrefix;
    };

    explicit CLabelIndex(QPDF& pdf);
    ~CLabelIndex();

    bool Damaged() const { return m_damaged; }

    // The label of a source page; none before the first entry.
    std::optional<Label> At(int64_t page) const;

  private:
    static bool ValidLabel(QOH dict);
    bool Read(QOH tree);

    std::vector<std::pair<int64_t, QOH>> m_entries; // (first page, label dictionary)
    bool m_damaged = false;
    std::unique_ptr<QPDFPageLabelDocumentHelper> m_repaired; // for a damaged tree
};

// The part's page labels are the source's labels of the pages it holds. A page without a
// label (or from a source whose label tree cannot be trusted) gets none: leading ones get no
// entry, later ones are numbered as a reader numbers pages without labels.
void WritePageLabels(QPDF& part, const ObjGenMap<PageOrigin>& origins,
                     const std::function<void(const std::string&)>& warn);

} // namespace engine
