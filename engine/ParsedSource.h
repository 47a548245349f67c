#pragma once

#include "core/Files.h"
#include "engine/QpdfValues.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class CNamedDests;
class COutlineIndex;
class CLabelIndex;
class CStructIndex;
struct ForeignTexts;

// A parsed source file and what was read from it once for all its parts: its pages, and the
// indexes of its named destinations, outline, labels and form, each built when first asked.
struct ParsedSource {
    ParsedSource();
    ~ParsedSource();

    std::string path;
    core::FileStamp stamp;
    std::unique_ptr<QPDF> pdf;
    // A second, independent parse of the same file, for reading much of it once without
    // keeping what was read resolved in `pdf`; null when none can be made.
    std::function<std::unique_ptr<QPDF>()> reread;
    std::vector<QOH> pages;
    ObjGenMap<int> pageIndex;
    bool resourcesShared = false;
    std::vector<char> resourcesTrimmed;  // per page
    ObjGenMap<char> cheapResources;      // shared resource dictionaries: carried whole
    std::shared_ptr<ForeignTexts> texts; // how parts wrote its objects
    // What parts take over of the document as a whole (see CopyDocumentEntries), read once:
    // catalog entries kept as they are, the document-level scripts, the document
    // information and the panel the document opens with (null where the source has none).
    struct DocumentEntries {
        std::vector<std::pair<const char*, QOH>> catalog;
        QOH scripts, info, pageMode;
    };
    std::unique_ptr<DocumentEntries> documentEntries;
    bool labelsDamageSaid = false;
    bool structureDamageSaid = false;

    const CNamedDests& Named();
    const COutlineIndex& Outline();
    const CLabelIndex& Labels();
    const CStructIndex& Structure();
    // The form's field trees, walked down from /Fields: every field and widget reached,
    // mapped to the place of its top-level field in /Fields.
    struct FieldIndex {
        std::vector<QOH> tops;
        ObjGenMap<int> topOf;
    };
    const FieldIndex& Fields();
    // Every bead of the threads the catalog lists, by its place in its thread's reading order.
    const ObjGenMap<int>& BeadOrder();

  private:
    std::unique_ptr<CNamedDests> m_named;
    std::unique_ptr<COutlineIndex> m_outline;
    std::unique_ptr<CLabelIndex> m_labels;
    std::unique_ptr<CStructIndex> m_structure;
    std::unique_ptr<FieldIndex> m_fields;
    std::unique_ptr<ObjGenMap<int>> m_beadOrder;
};

// Where a page of a part comes from.
struct PageOrigin {
    std::shared_ptr<ParsedSource> source;
    int page;
};

// Walks the page tree without recursion before qpdf is asked for the pages (its own walk
// recurses per level). False when the tree nests deeper than kMaxTreeDepth. Also tells whether
// pages share resource dictionaries, the case in which parts would otherwise carry resources
// their pages never use.
bool CheckPageTree(QPDF& pdf, bool& resourcesShared);

} // namespace engine
