#pragma once

#include "engine/Automation.h"
#include "engine/QpdfValues.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace engine {

struct ParsedSource;

// The source's named destinations: the old /Dests dictionary (keys are names) and the
// /Names -> /Dests tree (keys are strings), read once and indexed by page.
class CNamedDests {
  public:
    struct Entry {
        int page;
        bool isString;
        std::string key;
        QOH dest;
    };

    CNamedDests(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount);

    // The target of a name (from /Dests) or a string (from the name tree).
    Target Resolve(QOH name) const;

    // Every entry whose page lies in [first, last].
    std::pair<std::vector<Entry>::const_iterator, std::vector<Entry>::const_iterator>
    InRange(int first, int last) const;

  private:
    void Add(bool isString, const std::string& key, const Target& target);

    std::map<std::string, Target> m_names;
    std::map<std::string, Target> m_strings;
    std::vector<Entry> m_byPage;
};

// A part's named destinations and the jumps of its annotations: what a range brings along,
// and what is left once pages are gone.
class CPartDestinations {
  public:
    // Named destinations a range brings along: keys of /Dests (names) and of the /Dests name
    // tree (strings), each with its destination in the part.
    struct Pending {
        std::map<std::string, QOH> names;
        std::map<std::string, QOH> strings;
    };

    // The named destinations whose pages are in the range, trimmed to those.
    Pending Prepare(QPDF& part, ParsedSource& source, int32_t firstPage,
                    const std::vector<QOH>& added) const;
    // The job's other parts, for jumps that leave this one: `parts` in the job's order and,
    // per source page, the first of them that holds it (-1: none).
    struct Siblings {
        const std::vector<PlannedPart>& parts;
        const std::vector<int>& owners;
    };

    // Drops annotations that are not dictionaries (one null in /Annots is enough to upset
    // readers and qpdf alike) and relinks jumps into the part. A jump to a page another part
    // of the job holds opens that part; one to a page no part holds is taken off its
    // annotation, which stays (and looks) as it was.
    void FixAnnotations(QPDF& part, ParsedSource& source, int32_t firstPage,
                        const std::vector<QOH>& added, const Pending& pending,
                        const Siblings& siblings) const;
    // An action of the source that no annotation holds (an outline item's) made part of
    // `part` and relinked as an annotation's is; null when nothing of it is left. `done`
    // carries the indirect actions relinked so far from one call to the next.
    QOH CarryAction(QPDF& part, ParsedSource& source, int32_t firstPage,
                    const std::vector<QOH>& added, const Pending& pending, const Siblings& siblings,
                    QOH sourceAction, ObjGenMap<QOH>& done) const;
    void Commit(QPDF& part, const Pending& pending);
    // After pages were deleted, nothing may point at them: named destinations to them go,
    // and so do the jumps of annotations.
    void DropToAbsentPages(QPDF& part, const ObjGenSet& present);
    void Clear();

  private:
    // What one insertion relinks against.
    struct Insertion {
        QPDF& part;
        ParsedSource& source;
        int32_t firstPage;
        const std::vector<QOH>& added;
        const Pending& pending;
        const Siblings& siblings;
        ObjGenMap<QOH>& done; // indirect actions relinked so far, with what replaces them
        // The source's folder as seen from the part's, once an action names a file: "" when
        // they are one folder or the part's is not known.
        std::optional<std::string>& sourceFolder;
    };
    void RebaseFiles(const Insertion& at, QOH action, QOH original) const;
    QOH FixedAction(const Insertion& at, QOH action, QOH original, int depth) const;
    QOH FixedActionOnce(const Insertion& at, QOH action, QOH original, int depth) const;
    void FixAdditionalActions(const Insertion& at, QOH holder, QOH original) const;
    bool Carried(QOH name, const Pending& pending) const;
    bool Relink(QPDF& part, Jump jump, std::optional<Jump> sourceJump, ParsedSource& source,
                int32_t firstPage, const std::vector<QOH>& added, const Pending& pending) const;
    void WriteStringDests(QPDF& part);

    std::map<std::string, QOH> m_nameDests;   // carried /Dests entries
    std::map<std::string, QOH> m_stringDests; // carried name-tree entries
};

} // namespace engine
