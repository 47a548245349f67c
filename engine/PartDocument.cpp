#include "engine/PartDocument.h"

#include "core/AtomicFile.h"
#include "engine/Articles.h"
#include "engine/Automation.h"
#include "engine/Destinations.h"
#include "engine/Forms.h"
#include "engine/OptionalContent.h"
#include "engine/Outline.h"
#include "engine/PageLabels.h"
#include "engine/PdfWriter.h"
#include "engine/QpdfSession.h"
#include "engine/Resources.h"
#include "engine/StructureTree.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>

namespace engine {

namespace {

// qpdf's writer hands over a PDF a token at a time; the sink gathers them into blocks.
class SinkPipeline final : public Pipeline {
  public:
    explicit SinkPipeline(const std::function<void(std::string_view)>& sink)
        : Pipeline("part bytes", nullptr), m_sink(sink) {}
    void write(unsigned char const* data, size_t len) override {
        m_sink(std::string_view(reinterpret_cast<const char*>(data), len));
    }
    void finish() override {}

  private:
    const std::function<void(std::string_view)>& m_sink;
};

// The view a part opens with, from the source's opening jump: at the same page when the part
// holds it; a source that opens at its start with a view (fit to width, a zoom) gives each
// part that view on its first page. Opening scripts and other actions are not carried.
void WriteOpenAction(QPDF& part, ParsedSource& source, const ObjGenMap<PageOrigin>& origins) {
    QOH open = KeyOrNull(source.pdf->getRoot(), "/OpenAction");
    if (open.isNull())
        return; // nor has the part one: only this gives it one
    if (open.isDictionary() && open.getKey("/S").isNameAndEquals("/GoTo"))
        open = open.getKey("/D");
    Target target;
    if (open.isArray())
        target = ExplicitTarget(open, source.pageIndex, source.pages.size());
    else if (open.isName() || open.isString())
        target = source.Named().Resolve(open);
    QOH root = part.getRoot();
    root.removeKey("/OpenAction");
    if (target.page < 0 || !target.dest.isArray())
        return;
    const std::vector<QOH>& pages = part.getAllPages();
    for (const QOH& page : pages) {
        auto origin = origins.find(page.getObjGen());
        if (origin != origins.end() && origin->second.source.get() == &source &&
            origin->second.page == target.page) {
            root.replaceKey("/OpenAction", CopiedDest(part, page, target.dest));
            return;
        }
    }
    if (target.page == 0 && !pages.empty())
        root.replaceKey("/OpenAction", CopiedDest(part, pages.front(), target.dest));
}

} // namespace

// A page with nothing of its own that a part must rewrite (links, widgets, beads, tags, the
// jumps of its own actions) is written straight from the source's document instead of copied
// into the part's: qpdf's copy of a page was about two fifths of the instructions of a
// single-page part.
bool CPartDocument::Graftable(ParsedSource& source, QOH page) {
    // Only qpdf's writer encrypts, and it writes only what the part's document holds.
    if (source.pdf->isEncrypted())
        return false;
    for (const char* key : {"/Annots", "/B", "/StructParents", "/AA"})
        if (page.hasKey(key))
            return false;
    // Tags and layers are named from the catalog, which must name the very objects the pages
    // do: those pages are copied.
    QOH root = source.pdf->getRoot();
    return !root.hasKey("/StructTreeRoot") && !root.hasKey("/OCProperties");
}

CPartDocument::CPartDocument(std::shared_ptr<CQpdfSession> session)
    : m_session(std::move(session)) {}

CPartDocument::~CPartDocument() = default;

void CPartDocument::Create() {
    ClearPart();
    m_spare = m_session->TakeSpare();
    if (m_spare)
        m_new = std::move(m_spare->pdf);
    else
        m_new = m_session->NewDocument();
}

bool CPartDocument::Insert(int32_t insertAfter, const std::shared_ptr<ParsedSource>& source,
                           int32_t firstPage, int32_t count, bool withBookmarks) {
    if (!m_new)
        return false;
    const auto total = static_cast<int64_t>(source->pages.size());
    if (firstPage < 0 || count < 1 || int64_t{firstPage} + count > total)
        return false;
    if (m_spare && !SpareServes(*source, firstPage, count) && !StartOver())
        return false;
    // A part's pages are all grafted or all copied: a copied page brings its own copies of
    // the fonts and images it shares with a grafted one, which the part would carry twice.
    bool graft = !m_graftsOff;
    for (int32_t i = 0; graft && i < count; ++i)
        graft = Graftable(*source, source->pages[static_cast<size_t>(firstPage + i)]);
    if (!graft && !m_graftsOff) {
        m_graftsOff = true;
        if (!m_grafts.empty() && !StartOver())
            return false;
    }
    if (!m_protectedBy && source->pdf->isEncrypted())
        m_protectedBy = source;
    if (graft) {
        if (!source->texts)
            source->texts = std::make_shared<ForeignTexts>();
        auto& texts = m_grafts.texts;
        if (std::none_of(texts.begin(), texts.end(),
                         [&](const auto& entry) { return entry.first == source->pdf.get(); }))
            texts.emplace_back(source->pdf.get(), source->texts.get());
    }
    std::vector<QOH> existing;
    try {
        existing = m_new->getAllPages();
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot insert pages: ") + e.what());
        return false;
    }
    try {
        const size_t at = static_cast<size_t>(
            std::clamp<int64_t>(int64_t{insertAfter} + 1, 0, std::ssize(existing)));
        // The first pages of a part join its page tree together (see AppendToPageTree); later
        // ones one by one, where qpdf keeps its index of the pages up to date cheaply.
        const bool together = graft && existing.empty();
        std::vector<QOH> added;
        added.reserve(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            const size_t index = static_cast<size_t>(firstPage + i);
            TrimPageResources(*source, index, *m_session);
            QOH page = source->pages[index];
            if (graft) {
                // Inherited entries are the page's own from here on, as qpdf does before it
                // copies a page.
                source->pdf->pushInheritedAttributesToPage();
                page = m_new->makeIndirectObject(QOH::newDictionary());
                page.replaceKey("/Type", QOH::newName("/Page"));
                m_grafts.pages[page.getObjGen()] = source->pages[index];
            }
            // Pages copied one by one share one copier, so resources they share (fonts,
            // images) are copied once; references to pages outside the range become null
            // instead of dragging those pages in.
            if (at < existing.size())
                m_new->addPageAt(page, true, existing[at]);
            else if (!together)
                m_new->addPage(page, false);
            added.push_back(page.getOwningQPDF() == m_new.get()
                                ? page
                                : m_new->getAllPages()[at + static_cast<size_t>(i)]);
        }
        if (together)
            AppendToPageTree(added);
        // What follows only builds new objects; they join the document together at the end,
        // so a failure on the way leaves the document as it was.
        CPartDestinations::Pending names =
            m_destinations.Prepare(*m_new, *source, firstPage, added);
        const CPartDestinations::Siblings siblings{m_session->PlanFor(*source),
                                                   m_session->PlanOwners(*source)};
        m_destinations.FixAnnotations(*m_new, *source, firstPage, added, names, siblings);
        PendingForm form = PrepareForm(*m_new, *source, firstPage, added);
        std::vector<QOH> outline;
        if (withBookmarks) {
            ObjGenMap<QOH> carried;
            outline = PrepareOutline(*m_new, *source, firstPage, added, [&](QOH action) {
                return m_destinations.CarryAction(*m_new, *source, firstPage, added, names,
                                                  siblings, action, carried);
            });
        }

        m_destinations.Commit(*m_new, names);
        CommitForm(*m_new, form);
        CommitOutline(*m_new, outline);
        for (int32_t i = 0; i < count; ++i) {
            m_origins[added[static_cast<size_t>(i)].getObjGen()] = {source, firstPage + i};
            m_copiedNow.push_back({source.get(), firstPage + i});
        }
        m_steps->push_back(
            {PartStep::Kind::Insert, insertAfter, firstPage, count, withBookmarks, source, {}});
        m_session->Collect(*m_new);
        return true;
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot insert pages: ") + e.what());
        RemovePagesOtherThan(existing);
        return false;
    }
}

bool CPartDocument::DeletePages(int32_t firstPage, int32_t lastPage) {
    if (!m_new)
        return false;
    try {
        std::vector<QOH> pages = m_new->getAllPages();
        if (firstPage < 0 || lastPage < firstPage || lastPage >= std::ssize(pages))
            return false;
        QPDFPageDocumentHelper helper(*m_new);
        for (int32_t i = firstPage; i <= lastPage; ++i) {
            QOH page = pages[static_cast<size_t>(i)];
            helper.removePage(QPDFPageObjectHelper(page));
            m_origins.erase(page.getObjGen());
            m_grafts.pages.erase(page.getObjGen());
        }
        m_pagesRemoved = true;
        m_steps->push_back({PartStep::Kind::Delete, 0, firstPage, lastPage, false, nullptr, {}});
        return true;
    } catch (const std::exception& e) {
        throw AutomationError(std::string("Cannot delete pages: ") + e.what());
    }
}

int32_t CPartDocument::PageCount() {
    if (!m_new)
        return -1;
    try {
        return static_cast<int32_t>(m_new->getAllPages().size());
    } catch (const std::exception& e) {
        m_session->Warn(e.what());
    }
    return 0;
}

bool CPartDocument::PrepareForWriting(const std::string& what) {
    try {
        if (m_pagesRemoved)
            DropDestinationsToRemovedPages();
        const auto warn = [this](const std::string& text) { m_session->Warn(text); };
        WritePageLabels(*m_new, m_origins, warn);
        const std::vector<QOH>& pages = m_new->getAllPages();
        auto first = pages.empty() ? m_origins.end() : m_origins.find(pages.front().getObjGen());
        if (first != m_origins.end()) {
            WriteOptionalContent(*m_new, *first->second.source);
            CopyDocumentEntries(*m_new, *first->second.source);
            WriteOpenAction(*m_new, *first->second.source, m_origins);
        }
        WriteStructureTree(*m_new, m_origins, warn);
        // Sources without articles, most of them, are spared the look at every page.
        if (m_pagesRemoved || std::any_of(m_origins.begin(), m_origins.end(), [](const auto& e) {
                return !e.second.source->BeadOrder().empty();
            }))
            WriteArticles(*m_new, m_origins);
        return true;
    } catch (const std::exception& e) {
        m_session->Warn("cannot prepare " + what + ": " + e.what());
        return false;
    }
}

bool CPartDocument::Save(const std::string& path) {
    if (!m_new || path.empty() || m_session->IsOpenSource(path))
        return false;
    if (!PrepareForWriting(path))
        return false;
    const std::string version = PartVersion();
    if (m_protectedBy) {
        if (!ReadyForQpdfWriter(path) || WritePart(path, version, Writer::Qpdf) != Written::Yes)
            return false;
        m_saved = true;
        return true;
    }
    switch (WritePart(path, version, Writer::Lean)) {
    case Written::Yes:
        break;
    case Written::NotByThisWriter:
        // What the lean writer leaves alone, qpdf's writer gets a try at.
        if (!ReadyForQpdfWriter(path) || WritePart(path, version, Writer::Qpdf) != Written::Yes)
            return false;
        break;
    case Written::No:
        return false;
    }
    m_saved = true;
    return true;
}

bool CPartDocument::SaveToMemory(std::string& bytes, std::shared_ptr<PartEnd>* end) {
    if (!m_new || !PrepareForWriting("a part in memory"))
        return false;
    const std::string version = PartVersion();
    for (Writer writer : {Writer::Lean, Writer::Qpdf}) {
        if (writer == Writer::Lean && m_protectedBy)
            continue;
        bytes.clear();
        if (writer == Writer::Qpdf && !ReadyForQpdfWriter("a part in memory"))
            break;
        try {
            Emit(
                writer, version, [&](std::string_view block) { bytes.append(block); },
                writer == Writer::Lean ? end : nullptr);
            m_session->Collect(*m_new);
            // Written all the same, by whoever takes the bytes: the document may serve the
            // next part.
            m_saved = true;
            return true;
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot write a part in memory: ") + e.what());
        }
    }
    bytes.clear();
    return false;
}

bool CPartDocument::CountBytes(size_t& bytes, bool& classic) {
    // An encrypted part's size is only known from qpdf's writer (SaveToMemory).
    if (!m_new || m_protectedBy || !PrepareForWriting("a part in memory"))
        return false;
    const std::string version = PartVersion();
    try {
        classic = !Packs(version);
        bytes = CountClassicPdf(*m_new, classic ? version : HigherPdfVersion(version, "1.5"),
                                !classic, m_grafts.empty() ? nullptr : &m_grafts);
        m_session->Collect(*m_new);
        m_saved = true;
        return true;
    } catch (const std::exception&) {
        return false; // SaveToMemory tells why, and may write it by qpdf's writer
    }
}

// Object streams make a part's outline, links, fields and tags a fraction of their size (see
// the README's comparison with qpdf's copies). A part that claims less than 1.5 and carries
// output intents may be PDF/A-1 or PDF/X, which forbid them: it stays classic.
bool CPartDocument::Packs(const std::string& version) {
    return HigherPdfVersion(version, "1.5") == version ||
           !m_new->getRoot().hasKey("/OutputIntents");
}

void CPartDocument::Emit(Writer writer, const std::string& version,
                         const std::function<void(std::string_view)>& sink,
                         std::shared_ptr<PartEnd>* end) {
    if (writer == Writer::Lean) {
        const bool pack = Packs(version);
        WriteClassicPdf(*m_new, pack ? HigherPdfVersion(version, "1.5") : version, sink, pack,
                        m_grafts.empty() ? nullptr : &m_grafts, end);
        return;
    }
    SinkPipeline blocks(sink);
    QPDFWriter qpdfWriter(*m_new);
    qpdfWriter.setOutputPipeline(&blocks);
    qpdfWriter.setMinimumPDFVersion(version);
    if (m_protectedBy) {
        // A part of a document its author protected keeps that protection: the same method,
        // permissions and passwords (the file key comes with the source's first /ID, which the
        // part takes over). Encryption chooses random vectors, so such a part has no
        // content-made ID and its bytes differ from run to run.
        qpdfWriter.copyEncryptionParameters(*m_protectedBy->pdf);
    } else {
        // The same pages give the same bytes, whichever process or run writes them.
        qpdfWriter.setDeterministicID(true);
    }
    qpdfWriter.write();
}

// qpdf writes into a file we own: we check, sync and close it ourselves and only a whole part
// takes the target's name. A full disk or a file-size limit must never leave a cut-short
// part, nor destroy an earlier file of that name.
CPartDocument::Written CPartDocument::WritePart(const std::string& path, const std::string& version,
                                                Writer writer) {
    core::CAtomicFile file(path);
    file.DeferSync(); // the run syncs a job's parts together
    if (!file.Open()) {
        m_session->Warn("cannot create a file beside " + path);
        return Written::No;
    }
    try {
        // A failed write fails the commit.
        Emit(writer, version, [&](std::string_view bytes) { file.Write(bytes); });
        m_session->Collect(*m_new);
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot save ") + path + ": " + e.what());
        // A file that failed is no writer's fault; anything else the other writer may do.
        return writer == Writer::Lean && !file.Failed() ? Written::NotByThisWriter : Written::No;
    }
    if (!file.Commit()) {
        m_session->Warn("cannot save " + path + ": the file could not be written in full");
        return Written::No;
    }
    return Written::Yes;
}

// Pages for an empty part. qpdf's addPage rebuilt its index of the pages for each page (about
// 14,000 instructions for the first page of a part); this builds it once for all of them.
void CPartDocument::AppendToPageTree(const std::vector<QOH>& pages) {
    QOH tree = m_new->getRoot().getKey("/Pages");
    QOH kids = tree.getKey("/Kids");
    for (QOH page : pages) {
        page.replaceKey("/Parent", tree);
        kids.appendItem(page);
    }
    tree.replaceKey("/Count", QOH::newInteger(kids.getArrayNItems()));
    m_new->updateAllPagesCache();
}

// qpdf's writer knows nothing of grafted pages: the part is built again with every page
// copied into its document.
bool CPartDocument::ReadyForQpdfWriter(const std::string& what) {
    if (m_grafts.empty())
        return true;
    m_graftsOff = true;
    return StartOver() && PrepareForWriting(what);
}

// A part claims the highest version among its sources: it may use what they use.
std::string CPartDocument::PartVersion() {
    std::string version = m_new->getPDFVersion();
    const ParsedSource* last = nullptr;
    for (const auto& entry : m_origins) {
        const ParsedSource* source = entry.second.source.get();
        if (source && source != last)
            version = HigherPdfVersion(version, source->pdf->getPDFVersion());
        last = source;
    }
    return version;
}

void CPartDocument::Close() {
    KeepForNextPart();
    m_new.reset();
    ClearPart();
}

void CPartDocument::ClearPart() {
    m_origins.clear();
    m_grafts = {};
    m_graftsOff = false;
    m_pagesRemoved = false;
    m_destinations.Clear();
    m_spare.reset();
    m_copiedNow.clear();
    m_saved = false;
    m_protectedBy.reset();
    // A fresh list: a bookmark found in the previous part must not add to this one.
    m_steps = std::make_shared<PartSteps>();
}

// Whether the kept document may take these pages: see SpareOutput.
bool CPartDocument::SpareServes(const ParsedSource& source, int32_t firstPage,
                                int32_t count) const {
    if (m_spare->source.get() != &source)
        return false;
    for (int32_t i = firstPage; i < firstPage + count; ++i) {
        if (m_spare->copied[static_cast<size_t>(i)])
            return false;
        // Annotations, article beads and a page's actions reach other pages (a field's
        // widgets, a thread's next bead, a jump); a copy made for an earlier part left those
        // references null.
        QOH page = source.pages[static_cast<size_t>(i)];
        if (!KeyOrNull(page, "/Annots").isNull() || !KeyOrNull(page, "/B").isNull() ||
            !KeyOrNull(page, "/AA").isNull())
            return false;
    }
    return true;
}

// The part goes on in a fresh document, with what was done to it so far done again.
bool CPartDocument::StartOver() {
    m_spare.reset();
    const PartSteps steps = std::move(*m_steps);
    const bool pagesRemoved = m_pagesRemoved;
    m_steps->clear();
    m_origins.clear();
    m_grafts = {};
    m_copiedNow.clear();
    m_destinations.Clear();
    m_pagesRemoved = false;
    m_protectedBy.reset();
    try {
        m_new = m_session->NewDocument();
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot start a document: ") + e.what());
        m_new.reset();
        return false;
    }
    for (const PartStep& step : steps) {
        bool done = true;
        switch (step.kind) {
        case PartStep::Kind::Insert:
            done =
                Insert(step.insertAfter, step.source, step.first, step.count, step.withBookmarks);
            break;
        case PartStep::Kind::Delete:
            done = DeletePages(step.first, step.count);
            break;
        case PartStep::Kind::RemoveBookmark: {
            QOH outlines = m_new->getRoot().getKey("/Outlines");
            done = outlines.isDictionary() &&
                   UnlinkOutlineItem(outlines, FindOutlineItem(outlines, step.title));
            if (done)
                m_steps->push_back(step);
            break;
        }
        }
        if (!done) {
            m_session->Warn("cannot build the part again in a fresh document");
            return false;
        }
    }
    m_pagesRemoved = m_pagesRemoved || pagesRemoved;
    return true;
}

// After a successful save, the document goes back to the session for the next part, emptied
// of what this part added, unless it took pages from more than one source or has served long
// enough.
void CPartDocument::KeepForNextPart() {
    if (!m_new || !m_saved || m_copiedNow.empty())
        return;
    const ParsedSource* source = m_copiedNow.front().first;
    auto origin = std::find_if(m_origins.begin(), m_origins.end(), [&](const auto& entry) {
        return entry.second.source.get() == source;
    });
    if (origin == m_origins.end())
        return;
    for (const auto& [from, page] : m_copiedNow)
        if (from != source)
            return;
    auto spare = m_spare ? std::move(m_spare) : std::make_unique<SpareOutput>();
    spare->pages += m_copiedNow.size();
    if (spare->pages >= kSparePages)
        return;
    try {
        spare->source = origin->second.source;
        spare->copied.resize(source->pages.size(), 0);
        for (const auto& copied : m_copiedNow)
            spare->copied[static_cast<size_t>(copied.second)] = 1;
        QOH root = m_new->getRoot();
        QOH tree = root.getKey("/Pages");
        tree.replaceKey("/Kids", QOH::newArray());
        tree.replaceKey("/Count", QOH::newInteger(0));
        m_new->updateAllPagesCache();
        // The catalog as a fresh document has it: whatever a part added (outline, names,
        // form, tags, layers, the document's own entries) goes.
        for (const std::string& key : root.getKeys())
            if (key != "/Type" && key != "/Pages")
                root.removeKey(key);
        m_new->getTrailer().removeKey("/Info");
        spare->pdf = std::move(m_new);
        m_session->KeepSpare(std::move(spare));
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot keep a document for the next part: ") + e.what());
    }
}

void CPartDocument::RemovePagesOtherThan(const std::vector<QOH>& keep) {
    try {
        ObjGenSet kept;
        for (const QOH& page : keep)
            kept.insert(page.getObjGen());
        QPDFPageDocumentHelper helper(*m_new);
        for (QOH page : std::vector<QOH>(m_new->getAllPages()))
            if (!kept.count(page.getObjGen())) {
                m_origins.erase(page.getObjGen());
                m_grafts.pages.erase(page.getObjGen());
                helper.removePage(QPDFPageObjectHelper(page));
            }
    } catch (const std::exception& e) {
        m_session->Warn(std::string("cannot take back pages: ") + e.what());
    }
}

// After pages were deleted, nothing may point at them: outline items keep their titles but
// lose the destination, named destinations and links to them go, and form fields keep only
// the widgets that remain.
void CPartDocument::DropDestinationsToRemovedPages() {
    ObjGenSet present;
    for (const QOH& page : m_new->getAllPages())
        present.insert(page.getObjGen());
    m_destinations.DropToAbsentPages(*m_new, present);
    TrimFieldsToPresentWidgets(*m_new);
    DropOutlineDestsToAbsentPages(*m_new, present);
}

} // namespace engine
