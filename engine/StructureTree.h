#pragma once

#include "engine/ParsedSource.h"

#include <functional>
#include <string>
#include <vector>

namespace engine {

// The source's structure tree (the tags of an accessible PDF), read once from the top: every
// element in document order with its parent, its kids in order, and the pages its own content
// lies on, so that the elements of a part are found from the part's pages.
class CStructIndex {
  public:
    // One item of an element's /K.
    struct Kid {
        enum class Kind { Element, Mcid, Mcr, Objr };
        Kind kind;
        int element = -1; // Element: its index
        int page = -1;    // source page the content lies on, -1 when none of this file
        int mcid = -1;    // Mcid, Mcr
        QOH object;       // Mcr: its stream (/Stm) if any; Objr: the object
    };
    struct Element {
        QOH dict;
        int parent = -1; // -1: a kid of the root
        int place = 0;   // its place among its parent's kids (the root's: among the top ones)
        int page = -1;   // its /Pg
        std::vector<Kid> kids;
    };
    // A content kid: which element, and its place among that element's kids; -1 for an
    // element that has no content at all but names its page (a figure given only its /Alt).
    struct Content {
        int element;
        int kid;
    };

    explicit CStructIndex(ParsedSource& source);

    bool Tagged() const { return m_tagged; }
    // Why the tree cannot be trimmed soundly; empty when it can.
    const std::string& Damage() const { return m_damage; }
    QOH Root() const { return m_root; }
    const std::vector<Element>& Elements() const { return m_elements; }
    const std::vector<int>& TopElements() const { return m_top; }
    // The content kids that lie on a source page.
    const std::vector<Content>& OnPage(int page) const;
    // The index of an element, -1 for anything else.
    int IndexOf(QOH element) const;

  private:
    QOH m_root;
    bool m_tagged = false;
    std::string m_damage;
    std::vector<Element> m_elements;
    std::vector<int> m_top;
    std::vector<std::vector<Content>> m_onPage;
    ObjGenMap<int> m_indexOf;
};

// Gives a part the structure tree of its pages: the elements whose content is on them, with
// their ancestors up to the root, a /ParentTree for the part's pages and annotations, and the
// role map, class map and ID tree entries that are still referenced. A part whose source
// tree is damaged, or whose pages come from more than one tagged source, gets none; `warn`
// says why.
void WriteStructureTree(QPDF& part, const ObjGenMap<PageOrigin>& origins,
                        const std::function<void(const std::string&)>& warn);

// The catalog entries that describe the document as a whole (marking, language, viewer
// preferences, output intents, XMP metadata, page layout, the panel it opens with, the base of
// relative web addresses), the document-level scripts and the document information, taken
// over from the part's first source.
void CopyDocumentEntries(QPDF& part, ParsedSource& source);

} // namespace engine
