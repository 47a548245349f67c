#include "engine/QpdfAutomation.h"

#include "core/AtomicFile.h"
#include "core/Files.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace engine {

struct CQpdfAutomation::Shared {
    int parseCount = 0;
    std::vector<std::string> warnings;
};

namespace {

struct ObjGenHash {
    size_t operator()(const QPDFObjGen& og) const noexcept {
        return std::hash<int64_t>()((int64_t{og.getObj()} << 16) ^ og.getGen());
    }
};
template <typename T> using ObjGenMap = std::unordered_map<QPDFObjGen, T, ObjGenHash>;

// Identity of a file on disk: a source is reused only while it is this very file, unchanged.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

// A copy that owns nothing of the document it came from: small values (titles, colours,
// destination coordinates, page-label dictionaries) are re-read from their own text.
QPDFObjectHandle Detached(QPDFObjectHandle value) {
    if (value.isNull())
        return QPDFObjectHandle::newNull();
    return QPDFObjectHandle::parse(value.unparseResolved());
}

// One outline item of a source, in document order.
struct OutlineNode {
    int parent = -1;
    QPDFObjectHandle item;
    int page = -1;              // 0-based page its destination shows, -1 when none in this file
    QPDFObjectHandle destArray; // the explicit destination, page reference first
    bool open = false;
};

// The source's outline, read once and indexed by page, so that copying the items of one range
// costs what lies in that range, not the whole outline.
class OutlineIndex {
  public:
    OutlineIndex(QPDF& pdf, const std::vector<QPDFObjectHandle>& pages) {
        QPDFObjectHandle outlines = pdf.getRoot().getKey("/Outlines");
        if (!outlines.isDictionary())
            return;
        ObjGenMap<int> pageIndex;
        for (size_t i = 0; i < pages.size(); ++i)
            pageIndex[pages[i].getObjGen()] = static_cast<int>(i);
        QPDFOutlineDocumentHelper named(pdf);

        std::set<QPDFObjGen> seen;
        // (item, parent node) pairs still to visit; siblings are pushed in reverse so that
        // nodes come out in document order.
        std::vector<std::pair<QPDFObjectHandle, int>> stack;
        auto pushChildren = [&](QPDFObjectHandle parent, int parentNode) {
            std::vector<QPDFObjectHandle> children;
            for (QPDFObjectHandle c = parent.getKey("/First"); c.isDictionary();
                 c = c.getKey("/Next")) {
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
            QPDFObjectHandle count = item.getKey("/Count");
            node.open = count.isInteger() && count.getIntValue() > 0;
            ResolveDestination(named, item, pageIndex, pages.size(), node);
            const int index = static_cast<int>(m_nodes.size());
            m_nodes.push_back(node);
            if (node.page >= 0)
                m_byPage.emplace_back(node.page, index);
            pushChildren(item, index);
        }
        std::sort(m_byPage.begin(), m_byPage.end());
    }

    const OutlineNode& Node(int index) const { return m_nodes[static_cast<size_t>(index)]; }

    // Items pointing into [first, last] and every item above them, in document order.
    std::vector<int> NodesForRange(int first, int last) const {
        auto from = std::lower_bound(m_byPage.begin(), m_byPage.end(), std::pair{first, -1});
        std::vector<int> kept;
        for (auto it = from; it != m_byPage.end() && it->first <= last; ++it)
            for (int n = it->second; n >= 0; n = m_nodes[static_cast<size_t>(n)].parent)
                kept.push_back(n);
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        return kept;
    }

  private:
    static void ResolveDestination(QPDFOutlineDocumentHelper& named, QPDFObjectHandle item,
                                   const ObjGenMap<int>& pageIndex, size_t pageCount,
                                   OutlineNode& node) {
        QPDFObjectHandle dest = item.getKey("/Dest");
        if (dest.isNull()) {
            QPDFObjectHandle action = item.getKey("/A");
            if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
                dest = action.getKey("/D");
        }
        if (dest.isName() || dest.isString())
            dest = named.resolveNamedDest(dest);
        if (dest.isDictionary())
            dest = dest.getKey("/D");
        if (!dest.isArray() || dest.getArrayNItems() < 1)
            return;
        QPDFObjectHandle target = dest.getArrayItem(0);
        if (target.isIndirect()) {
            auto it = pageIndex.find(target.getObjGen());
            if (it != pageIndex.end())
                node.page = it->second;
        } else if (target.isInteger() && target.getIntValue() >= 0 &&
                   static_cast<size_t>(target.getIntValue()) < pageCount) {
            node.page = static_cast<int>(target.getIntValue());
        }
        if (node.page >= 0)
            node.destArray = dest;
    }

    std::vector<OutlineNode> m_nodes;
    std::vector<std::pair<int, int>> m_byPage; // (page, node)
};

// Recomputes every /Count of the outline from the tree and each item's open state, so the
// counts stay right whatever was added or removed. Iterative: a hostile file may nest deeply.
void RecountOutline(QPDFObjectHandle outlines) {
    struct Node {
        QPDFObjectHandle item;
        size_t parent;
        bool open;
        int64_t visibleBelow = 0;
    };
    // Breadth first, so every item stands before all of its descendants.
    std::vector<Node> nodes{{outlines, 0, true}};
    std::set<QPDFObjGen> seen;
    for (size_t i = 0; i < nodes.size(); ++i) {
        QPDFObjectHandle parent = nodes[i].item;
        for (QPDFObjectHandle c = parent.getKey("/First"); c.isDictionary();
             c = c.getKey("/Next")) {
            if (c.isIndirect() && !seen.insert(c.getObjGen()).second)
                break;
            QPDFObjectHandle count = c.getKey("/Count");
            nodes.push_back({c, i, count.isInteger() && count.getIntValue() > 0});
        }
    }
    for (size_t i = nodes.size(); i-- > 1;) {
        Node& node = nodes[i];
        if (node.visibleBelow == 0)
            node.item.removeKey("/Count");
        else
            node.item.replaceKey("/Count", QPDFObjectHandle::newInteger(
                                               node.open ? node.visibleBelow : -node.visibleBelow));
        nodes[node.parent].visibleBelow += 1 + (node.open ? node.visibleBelow : 0);
    }
    outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(nodes[0].visibleBelow));
}

void AppendChild(QPDFObjectHandle parent, QPDFObjectHandle item) {
    item.replaceKey("/Parent", parent);
    QPDFObjectHandle last = parent.getKey("/Last");
    if (last.isDictionary()) {
        last.replaceKey("/Next", item);
        item.replaceKey("/Prev", last);
    } else {
        parent.replaceKey("/First", item);
    }
    parent.replaceKey("/Last", item);
}

} // namespace

// A parsed source file, kept for the session.
struct ParsedSource {
    std::string path;
    FileStamp stamp;
    std::unique_ptr<QPDF> pdf;
    std::vector<QPDFObjectHandle> pages;
    std::unique_ptr<OutlineIndex> outline;
    std::unique_ptr<QPDFPageLabelDocumentHelper> labels;
    bool labelsChecked = false;
    bool hasLabels = false;

    const OutlineIndex& Outline() {
        if (!outline)
            outline = std::make_unique<OutlineIndex>(*pdf, pages);
        return *outline;
    }
    bool HasLabels() {
        if (!labelsChecked) {
            labelsChecked = true;
            labels = std::make_unique<QPDFPageLabelDocumentHelper>(*pdf);
            hasLabels = labels->hasPageLabels();
        }
        return hasLabels;
    }
};

class QpdfAVDoc;

class QpdfSession {
  public:
    QpdfSession(core::Trace& trace, std::shared_ptr<CQpdfAutomation::Shared> shared)
        : m_trace(trace), m_shared(std::move(shared)) {}

    std::shared_ptr<ParsedSource> OpenSource(const std::string& path) {
        auto stamp = StampOf(path);
        if (!stamp)
            return nullptr;
        auto cached = m_cache.find(path);
        if (cached != m_cache.end() && cached->second->stamp == *stamp)
            return cached->second;
        auto source = std::make_shared<ParsedSource>();
        source->path = path;
        source->stamp = *stamp;
        source->pdf = std::make_unique<QPDF>();
        source->pdf->setSuppressWarnings(true);
        try {
            ++m_shared->parseCount;
            source->pdf->processFile(path.c_str());
            QPDFPageDocumentHelper(*source->pdf).pushInheritedAttributesToPage();
            source->pages = source->pdf->getAllPages();
        } catch (const std::exception& e) {
            Warn(std::string("cannot open ") + path + ": " + e.what());
            Collect(*source->pdf);
            return nullptr;
        }
        Collect(*source->pdf);
        m_cache[path] = source;
        return source;
    }

    // A file that a view has open may not be written over.
    bool IsOpenSource(const std::string& path) const {
        auto stamp = StampOf(path);
        if (!stamp)
            return false;
        return std::any_of(m_open.begin(), m_open.end(), [&](const auto& entry) {
            return entry.first.device == stamp->device && entry.first.inode == stamp->inode;
        });
    }
    void MarkOpen(const FileStamp& stamp) { ++m_open[stamp]; }
    void MarkClosed(const FileStamp& stamp) {
        auto it = m_open.find(stamp);
        if (it != m_open.end() && --it->second == 0)
            m_open.erase(it);
    }

    void Register(const std::shared_ptr<QpdfAVDoc>& view) { m_views.push_back(view); }
    void CloseAllViews();
    void Exit() {
        CloseAllViews();
        m_cache.clear();
    }

    // Passes qpdf's warnings on: kept for the automation and written to the trace while on.
    void Collect(QPDF& pdf) {
        for (const QPDFExc& w : pdf.getWarnings())
            Warn(w.what());
    }
    void Warn(const std::string& text) {
        // A damaged source warns again for every part; keeping the first ones is enough.
        constexpr size_t kKept = 1000;
        if (m_shared->warnings.size() < kKept)
            m_shared->warnings.push_back(text);
        if (m_trace.IsOn())
            m_trace.Line("qpdf: " + text + "\r\n");
    }

  private:
    struct StampLess {
        bool operator()(const FileStamp& a, const FileStamp& b) const {
            return std::tie(a.device, a.inode, a.size, a.mtimeNs) <
                   std::tie(b.device, b.inode, b.size, b.mtimeNs);
        }
    };

    core::Trace& m_trace;
    std::shared_ptr<CQpdfAutomation::Shared> m_shared;
    std::map<std::string, std::shared_ptr<ParsedSource>> m_cache;
    std::map<FileStamp, int, StampLess> m_open;
    std::vector<std::weak_ptr<QpdfAVDoc>> m_views;
};

namespace {

class QpdfPDDoc final : public PDDoc {
  public:
    explicit QpdfPDDoc(std::shared_ptr<QpdfSession> session,
                       std::shared_ptr<ParsedSource> source = nullptr)
        : m_session(std::move(session)), m_source(std::move(source)) {}

    bool Create() override {
        m_source.reset();
        m_origins.clear();
        m_pagesRemoved = false;
        m_new = std::make_unique<QPDF>();
        m_new->setSuppressWarnings(true);
        m_new->emptyPDF();
        return true;
    }

    bool InsertPages(int32_t insertAfter, PDDoc& sourceDoc, int32_t firstPage, int32_t count,
                     bool withBookmarks) override {
        auto* from = dynamic_cast<QpdfPDDoc*>(&sourceDoc);
        if (!m_new || !from || !from->m_source)
            return false;
        const std::shared_ptr<ParsedSource>& source = from->m_source;
        const auto total = static_cast<int64_t>(source->pages.size());
        if (firstPage < 0 || count < 1 || int64_t{firstPage} + count > total)
            return false;
        try {
            std::vector<QPDFObjectHandle> existing = m_new->getAllPages();
            const size_t at = static_cast<size_t>(
                std::clamp<int64_t>(int64_t{insertAfter} + 1, 0, std::ssize(existing)));
            std::vector<QPDFObjectHandle> added;
            added.reserve(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i) {
                QPDFObjectHandle page = source->pages[static_cast<size_t>(firstPage + i)];
                // Pages copied one by one share one copier, so resources they share (fonts,
                // images) are copied once; references to pages outside the range become null
                // instead of dragging those pages in.
                if (at < existing.size())
                    m_new->addPageAt(page, true, existing[at]);
                else
                    m_new->addPage(page, false);
                QPDFObjectHandle copied = m_new->getAllPages()[at + static_cast<size_t>(i)];
                m_origins[copied.getObjGen()] = {source, firstPage + i};
                added.push_back(copied);
            }
            RelinkInternalLinks(*source, firstPage, added);
            if (withBookmarks)
                CopyOutline(*source, firstPage, added);
            m_session->Collect(*m_new);
            return true;
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot insert pages: ") + e.what());
            return false;
        }
    }

    bool DeletePages(int32_t firstPage, int32_t lastPage) override {
        if (!m_new)
            return false;
        try {
            std::vector<QPDFObjectHandle> pages = m_new->getAllPages();
            if (firstPage < 0 || lastPage < firstPage || lastPage >= std::ssize(pages))
                return false;
            QPDFPageDocumentHelper helper(*m_new);
            for (int32_t i = firstPage; i <= lastPage; ++i) {
                QPDFObjectHandle page = pages[static_cast<size_t>(i)];
                helper.removePage(QPDFPageObjectHelper(page));
                m_origins.erase(page.getObjGen());
            }
            m_pagesRemoved = true;
            return true;
        } catch (const std::exception& e) {
            throw AutomationError(std::string("Cannot delete pages: ") + e.what());
        }
    }

    int32_t GetNumPages() override {
        try {
            if (m_new)
                return static_cast<int32_t>(m_new->getAllPages().size());
            if (m_source)
                return static_cast<int32_t>(m_source->pages.size());
        } catch (const std::exception& e) {
            m_session->Warn(e.what());
        }
        return 0;
    }

    bool Save(int16_t, const std::string& path) override {
        if (!m_new || path.empty() || m_session->IsOpenSource(path))
            return false;
        try {
            if (m_pagesRemoved)
                DropDestinationsToRemovedPages();
            WritePageLabels();
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot prepare ") + path + ": " + e.what());
            return false;
        }
        // qpdf writes into a stream we own: we check, sync and close it ourselves and only a
        // whole part takes the target's name. A full disk or a file-size limit must never
        // leave a cut-short part, nor destroy an earlier file of that name.
        core::CAtomicFile file(path);
        if (!file.Open()) {
            m_session->Warn("cannot create a file beside " + path);
            return false;
        }
        try {
            QPDFWriter writer(*m_new);
            writer.setOutputFile(file.TempPath().c_str(), file.Stream(), false);
            // The same pages give the same bytes, whichever process or run writes them.
            writer.setDeterministicID(true);
            writer.write();
            m_session->Collect(*m_new);
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot save ") + path + ": " + e.what());
            return false; // the temporary file goes with `file`
        }
        if (!file.Commit()) {
            m_session->Warn("cannot save " + path + ": the file could not be written in full");
            return false;
        }
        return true;
    }

    bool Close() override {
        m_new.reset();
        m_source.reset();
        m_origins.clear();
        return true;
    }

    QPDF* NewDocument() { return m_new.get(); }

  private:
    struct Origin {
        std::shared_ptr<ParsedSource> source;
        int page;
    };

    // Link annotations point at their target page by reference. A target inside the copied
    // range is copied after the link's own page may already have been, so qpdf leaves a null
    // there: point such links at the copied target again.
    void RelinkInternalLinks(ParsedSource& source, int32_t firstPage,
                             std::vector<QPDFObjectHandle>& added) {
        ObjGenMap<QPDFObjectHandle> copyOf;
        const int32_t count = static_cast<int32_t>(added.size());
        for (int32_t i = 0; i < count; ++i)
            copyOf[source.pages[static_cast<size_t>(firstPage + i)].getObjGen()] =
                added[static_cast<size_t>(i)];
        for (int32_t i = 0; i < count; ++i) {
            QPDFObjectHandle srcAnnots =
                source.pages[static_cast<size_t>(firstPage + i)].getKey("/Annots");
            QPDFObjectHandle newAnnots = added[static_cast<size_t>(i)].getKey("/Annots");
            if (!srcAnnots.isArray() || !newAnnots.isArray() ||
                srcAnnots.getArrayNItems() != newAnnots.getArrayNItems())
                continue;
            for (int a = 0; a < srcAnnots.getArrayNItems(); ++a) {
                QPDFObjectHandle srcDest = srcAnnots.getArrayItem(a).getKey("/Dest");
                QPDFObjectHandle newDest = newAnnots.getArrayItem(a).getKey("/Dest");
                if (!srcDest.isArray() || !newDest.isArray() || srcDest.getArrayNItems() < 1 ||
                    newDest.getArrayNItems() < 1 || !newDest.getArrayItem(0).isNull())
                    continue;
                auto target = copyOf.find(srcDest.getArrayItem(0).getObjGen());
                if (target != copyOf.end())
                    newDest.setArrayItem(0, target->second);
            }
        }
    }

    void CopyOutline(ParsedSource& source, int32_t firstPage,
                     std::vector<QPDFObjectHandle>& added) {
        const OutlineIndex& index = source.Outline();
        const int32_t lastPage = firstPage + static_cast<int32_t>(added.size()) - 1;
        std::vector<int> kept = index.NodesForRange(firstPage, lastPage);
        if (kept.empty())
            return;
        QPDFObjectHandle root = m_new->getRoot();
        QPDFObjectHandle outlines = root.getKey("/Outlines");
        if (!outlines.isDictionary()) {
            outlines = m_new->makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
            root.replaceKey("/Outlines", outlines);
        }
        std::unordered_map<int, QPDFObjectHandle> made;
        for (int n : kept) {
            OutlineNode node = index.Node(n);
            QPDFObjectHandle item = m_new->makeIndirectObject(QPDFObjectHandle::newDictionary());
            QPDFObjectHandle title = node.item.getKey("/Title");
            item.replaceKey("/Title",
                            title.isString() ? Detached(title) : QPDFObjectHandle::newString(""));
            for (const char* key : {"/C", "/F"}) {
                QPDFObjectHandle value = node.item.getKey(key);
                if (!value.isNull())
                    item.replaceKey(key, Detached(value));
            }
            if (node.page >= firstPage && node.page <= lastPage) {
                QPDFObjectHandle dest = QPDFObjectHandle::newArray();
                dest.appendItem(added[static_cast<size_t>(node.page - firstPage)]);
                for (int i = 1; i < node.destArray.getArrayNItems(); ++i)
                    dest.appendItem(Detached(node.destArray.getArrayItem(i)));
                item.replaceKey("/Dest", dest);
            }
            // Only the sign matters until the counts are worked out below.
            item.replaceKey("/Count", QPDFObjectHandle::newInteger(node.open ? 1 : -1));
            auto parent = made.find(node.parent);
            AppendChild(parent == made.end() ? outlines : parent->second, item);
            made[n] = item;
        }
        RecountOutline(outlines);
    }

    // After pages were deleted, outline items keep their titles but no longer point nowhere.
    void DropDestinationsToRemovedPages() {
        std::set<QPDFObjGen> present;
        for (const QPDFObjectHandle& page : m_new->getAllPages())
            present.insert(page.getObjGen());
        QPDFObjectHandle outlines = m_new->getRoot().getKey("/Outlines");
        if (!outlines.isDictionary())
            return;
        std::set<QPDFObjGen> seen;
        std::vector<QPDFObjectHandle> stack{outlines};
        while (!stack.empty()) {
            QPDFObjectHandle item = stack.back();
            stack.pop_back();
            QPDFObjectHandle dest = item.getKey("/Dest");
            if (dest.isArray() && dest.getArrayNItems() > 0 &&
                !present.count(dest.getArrayItem(0).getObjGen()))
                item.removeKey("/Dest");
            for (QPDFObjectHandle c = item.getKey("/First"); c.isDictionary();
                 c = c.getKey("/Next")) {
                if (!seen.insert(c.getObjGen()).second)
                    break;
                stack.push_back(c);
            }
        }
    }

    // The part's page labels are the source's labels of the pages it holds.
    void WritePageLabels() {
        QPDFObjectHandle root = m_new->getRoot();
        root.removeKey("/PageLabels");
        std::vector<QPDFObjectHandle> pages = m_new->getAllPages();
        bool any = false;
        for (const QPDFObjectHandle& page : pages) {
            auto it = m_origins.find(page.getObjGen());
            if (it != m_origins.end() && it->second.source->HasLabels())
                any = true;
        }
        if (!any)
            return;
        std::vector<QPDFObjectHandle> nums;
        size_t i = 0;
        while (i < pages.size()) {
            auto it = m_origins.find(pages[i].getObjGen());
            if (it == m_origins.end()) {
                ++i;
                continue;
            }
            // A run of pages that follow each other in one source takes one call.
            const Origin& origin = it->second;
            size_t j = i + 1;
            while (j < pages.size()) {
                auto next = m_origins.find(pages[j].getObjGen());
                if (next == m_origins.end() || next->second.source != origin.source ||
                    next->second.page != origin.page + static_cast<int>(j - i))
                    break;
                ++j;
            }
            origin.source->HasLabels();
            std::vector<QPDFObjectHandle> run;
            origin.source->labels->getLabelsForPageRange(
                origin.page, origin.page + static_cast<long long>(j - i) - 1,
                static_cast<long long>(i), run);
            for (QPDFObjectHandle& value : run)
                nums.push_back(Detached(value));
            i = j;
        }
        QPDFObjectHandle labels = QPDFObjectHandle::newDictionary();
        labels.replaceKey("/Nums", QPDFObjectHandle::newArray(nums));
        root.replaceKey("/PageLabels", labels);
    }

    std::shared_ptr<QpdfSession> m_session;
    std::shared_ptr<ParsedSource> m_source; // a document handed out by a view
    std::unique_ptr<QPDF> m_new;            // a document made by Create()
    ObjGenMap<Origin> m_origins;
    bool m_pagesRemoved = false;
};

} // namespace

class QpdfAVDoc final : public AVDoc {
  public:
    explicit QpdfAVDoc(std::shared_ptr<QpdfSession> session) : m_session(std::move(session)) {}
    ~QpdfAVDoc() override { Close(true); }

    bool Open(const std::string& path, const std::string&) override {
        Close(true);
        m_source = m_session->OpenSource(path);
        if (!m_source)
            return false;
        m_session->MarkOpen(m_source->stamp);
        return true;
    }

    std::shared_ptr<PDDoc> GetPDDoc() override {
        if (!m_source)
            return nullptr;
        return std::make_shared<QpdfPDDoc>(m_session, m_source);
    }

    bool Close(bool) override {
        if (!m_source)
            return false;
        m_session->MarkClosed(m_source->stamp);
        m_source.reset();
        return true;
    }

  private:
    std::shared_ptr<QpdfSession> m_session;
    std::shared_ptr<ParsedSource> m_source;
};

void QpdfSession::CloseAllViews() {
    // The views themselves live on and may open documents again; only dead ones are dropped.
    std::erase_if(m_views, [](const std::weak_ptr<QpdfAVDoc>& weak) { return weak.expired(); });
    for (auto& weak : m_views)
        if (auto view = weak.lock())
            view->Close(true);
}

namespace {

class QpdfApp final : public App {
  public:
    explicit QpdfApp(std::shared_ptr<QpdfSession> session) : m_session(std::move(session)) {}
    bool Exit() override {
        m_session->Exit();
        return true;
    }
    bool CloseAllDocs() override {
        m_session->CloseAllViews();
        return true;
    }

  private:
    std::shared_ptr<QpdfSession> m_session;
};

class QpdfBookmark final : public PDBookmark {
  public:
    bool GetByTitle(PDDoc& document, const std::string& title) override {
        m_item = QPDFObjectHandle();
        auto* doc = dynamic_cast<QpdfPDDoc*>(&document);
        if (!doc || !doc->NewDocument())
            return false;
        m_outlines = doc->NewDocument()->getRoot().getKey("/Outlines");
        if (!m_outlines.isDictionary())
            return false;
        std::set<QPDFObjGen> seen;
        std::vector<QPDFObjectHandle> stack;
        auto pushChildren = [&](QPDFObjectHandle parent) {
            std::vector<QPDFObjectHandle> children;
            for (QPDFObjectHandle c = parent.getKey("/First"); c.isDictionary();
                 c = c.getKey("/Next")) {
                if (!seen.insert(c.getObjGen()).second)
                    break;
                children.push_back(c);
            }
            stack.insert(stack.end(), children.rbegin(), children.rend());
        };
        pushChildren(m_outlines);
        while (!stack.empty()) {
            QPDFObjectHandle item = stack.back();
            stack.pop_back();
            QPDFObjectHandle t = item.getKey("/Title");
            if (t.isString() && (t.getUTF8Value() == title || t.getStringValue() == title)) {
                m_item = item;
                return true;
            }
            pushChildren(item);
        }
        return false;
    }

    bool Destroy() override {
        if (!m_item.isDictionary())
            return false;
        QPDFObjectHandle parent = m_item.getKey("/Parent");
        QPDFObjectHandle prev = m_item.getKey("/Prev");
        QPDFObjectHandle next = m_item.getKey("/Next");
        if (prev.isDictionary())
            next.isDictionary() ? prev.replaceKey("/Next", next) : prev.removeKey("/Next");
        else if (parent.isDictionary())
            next.isDictionary() ? parent.replaceKey("/First", next) : parent.removeKey("/First");
        if (next.isDictionary())
            prev.isDictionary() ? next.replaceKey("/Prev", prev) : next.removeKey("/Prev");
        else if (parent.isDictionary())
            prev.isDictionary() ? parent.replaceKey("/Last", prev) : parent.removeKey("/Last");
        for (const char* key : {"/Parent", "/Prev", "/Next"})
            m_item.removeKey(key);
        RecountOutline(m_outlines);
        m_item = QPDFObjectHandle();
        return true;
    }

  private:
    QPDFObjectHandle m_outlines;
    QPDFObjectHandle m_item;
};

} // namespace

CQpdfAutomation::CQpdfAutomation(core::Trace& trace)
    : m_trace(trace), m_shared(std::make_shared<Shared>()) {}

CQpdfAutomation::~CQpdfAutomation() = default;

std::shared_ptr<QpdfSession> CQpdfAutomation::Session() {
    auto session = m_session.lock();
    if (!session) {
        session = std::make_shared<QpdfSession>(m_trace, m_shared);
        m_session = session;
    }
    return session;
}

std::shared_ptr<AutomationObject> CQpdfAutomation::CreateObject(const std::string& progId,
                                                                std::string& failureText) {
    if (progId == App::kProgId)
        return std::make_shared<QpdfApp>(Session());
    if (progId == AVDoc::kProgId) {
        auto session = Session();
        auto view = std::make_shared<QpdfAVDoc>(session);
        session->Register(view);
        return view;
    }
    if (progId == PDDoc::kProgId)
        return std::make_shared<QpdfPDDoc>(Session());
    if (progId == PDBookmark::kProgId)
        return std::make_shared<QpdfBookmark>();
    failureText = "Invalid class string: " + progId;
    return nullptr;
}

int CQpdfAutomation::ParseCount() const {
    return m_shared->parseCount;
}

std::vector<std::string> CQpdfAutomation::Warnings() const {
    return m_shared->warnings;
}

} // namespace engine
