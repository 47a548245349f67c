#pragma once

#include "engine/ParsedSource.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The source's page labels, read without qpdf's number-tree lookup: a tree whose keys are out
// of order, not numbers, or whose values are not label dictionaries would give pages labels
// that belong to others, so such a tree counts as no labels at all.
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

    bool Damaged() const { return m_damaged; }

    // The label of a source page; none before the first entry.
    std::optional<Label> At(int64_t page) const;

  private:
    static bool ValidLabel(QOH dict);
    bool Read(QOH tree);

    std::vector<std::pair<int64_t, QOH>> m_entries; // (first page, label dictionary)
    bool m_damaged = false;
};

// The part's page labels are the source's labels of the pages it holds. A page without a
// label (or from a source whose label tree cannot be trusted) gets none: leading ones get no
// entry, later ones are numbered as a reader numbers pages without labels.
void WritePageLabels(QPDF& part, const ObjGenMap<PageOrigin>& origins,
                     const std::function<void(const std::string&)>& warn);

} // namespace engine
