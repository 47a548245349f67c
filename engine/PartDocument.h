#pragma once

#include "engine/Destinations.h"
#include "engine/ParsedSource.h"
#include "engine/PdfWriter.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class CQpdfSession;
struct SpareOutput;

// What was done to a part so far, so that it can be done again on a fresh document.
struct PartStep {
    enum class Kind { Insert, Delete, RemoveBookmark };
    Kind kind;
    int32_t insertAfter = 0, first = 0, count = 0; // Delete: first and last page in first, count
    bool withBookmarks = false;
    std::shared_ptr<ParsedSource> source;
    std::string title;
};
using PartSteps = std::vector<PartStep>;

// A part being built: the pages copied into a document of its own, with what belongs to them
// (named destinations, links, form fields, outline items, labels), and its writing. Each
// concern does its share in its own file; this class keeps their order and the document.
class CPartDocument {
  public:
    explicit CPartDocument(std::shared_ptr<CQpdfSession> session);
    ~CPartDocument();

    // Starts an empty part (taking over the session's kept document when there is one).
    void Create();
    bool Insert(int32_t insertAfter, const std::shared_ptr<ParsedSource>& source, int32_t firstPage,
                int32_t count, bool withBookmarks);
    // Throws AutomationError when qpdf fails.
    bool DeletePages(int32_t firstPage, int32_t lastPage);
    // -1 without a document.
    int32_t PageCount();
    // Writes the part as a file, atomically; false (and no file) on any failure.
    bool Save(const std::string& path);
    // The bytes Save would write, by the same writers; false on any failure. With `end`, the
    // end of the part may be left there for FinishPart (see WriteClassicPdf).
    bool SaveToMemory(std::string& bytes, std::shared_ptr<PartEnd>* end = nullptr);
    // How many bytes SaveToMemory would give, and whether with a classic cross-reference
    // table, counted by the same writer without making them; false when that writer cannot
    // write the part (SaveToMemory may still).
    bool CountBytes(size_t& bytes, bool& classic);
    // Ends the part; a saved one may serve the next part of its source.
    void Close();

    QPDF* Document() { return m_new.get(); }
    // The steps of the part, for a bookmark removed from it.
    std::weak_ptr<PartSteps> Steps() { return m_steps; }

  private:
    enum class Writer { Lean, Qpdf };
    enum class Written { Yes, No, NotByThisWriter };

    bool PrepareForWriting(const std::string& what);
    bool Packs(const std::string& version);
    static bool Graftable(ParsedSource& source, QOH page);
    bool ReadyForQpdfWriter(const std::string& what);
    void AppendToPageTree(const std::vector<QOH>& pages);
    void Emit(Writer writer, const std::string& version,
              const std::function<void(std::string_view)>& sink,
              std::shared_ptr<PartEnd>* end = nullptr);
    Written WritePart(const std::string& path, const std::string& version, Writer writer);
    std::string PartVersion();
    void ClearPart();
    bool SpareServes(const ParsedSource& source, int32_t firstPage, int32_t count) const;
    bool StartOver();
    void KeepForNextPart();
    void RemovePagesOtherThan(const std::vector<QOH>& keep);
    void DropDestinationsToRemovedPages();

    std::shared_ptr<CQpdfSession> m_session;
    std::unique_ptr<QPDF> m_new;
    ObjGenMap<PageOrigin> m_origins;
    Grafts m_grafts;          // pages written straight from their source's document
    bool m_graftsOff = false; // every page copied: qpdf's writer is to write the part
    bool m_pagesRemoved = false;
    CPartDestinations m_destinations;
    std::unique_ptr<SpareOutput> m_spare; // what m_new held before, when it was kept
    std::vector<std::pair<const ParsedSource*, int>> m_copiedNow; // pages copied for this part
    bool m_saved = false;
    // The first page's source when it is encrypted: the part is written with its encryption.
    std::shared_ptr<ParsedSource> m_protectedBy;
    std::shared_ptr<PartSteps> m_steps = std::make_shared<PartSteps>();
};

} // namespace engine
