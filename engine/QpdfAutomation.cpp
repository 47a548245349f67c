#include "engine/QpdfAutomation.h"

#include "core/AtomicFile.h"
#include "core/Files.h"
#include "engine/ObjGenHash.h"
#include "engine/PdfWriter.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace engine {

struct CQpdfAutomation::Shared {
    int parseCount = 0;
    int documentsBuilt = 0;
    std::vector<std::string> warnings;
};

namespace {

using QOH = QPDFObjectHandle;

// qpdf itself refuses objects nested deeper than 500; a page tree or a name tree that deep is
// damaged, and qpdf's own walks of it recurse once per level.
constexpr int kMaxTreeDepth = 500;
// Form fields nest a few levels; qpdf stops following /Parent after 100.
constexpr int kMaxFieldDepth = 100;

// Sources up to this size are parsed from memory; bigger ones from their file.
constexpr off_t kInMemorySourceLimit = off_t{256} << 20;

// The first `size` bytes of a file (what fstat said it holds), in a buffer qpdf can own: the
// input source that reads it lives as long as any document still copies streams from it.
// Null when reading fails.
std::unique_ptr<Buffer> ReadDescriptor(int fd, size_t size) {
    auto buffer = std::make_unique<Buffer>(size);
    size_t have = 0;
    while (have < size) {
        const ssize_t n = ::read(fd, buffer->getBuffer() + have, size - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return nullptr;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    if (have < size) { // it shrank meanwhile; the parse will tell whether what is left is whole
        auto shorter = std::make_unique<Buffer>(have);
        std::copy_n(buffer->getBuffer(), have, shorter->getBuffer());
        return shorter;
    }
    return buffer;
}

using core::FileStamp;
using core::StampOf;

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return StampOf(st);
}

// A value of a source made part of `to`: indirect objects go through qpdf's foreign-object
// copy (the same copier the pages use, so a reference to a copied page lands on its copy),
// direct containers are rebuilt item by item. Pages are never dragged in this way.
QOH CopyValue(QPDF& to, QOH value, int depth = 0) {
    if (value.isIndirect()) {
        if (value.getOwningQPDF() == &to)
            return value;
        return value.isPageObject() ? QOH::newNull() : to.copyForeignObject(value);
    }
    if (depth > kMaxTreeDepth)
        return QOH::newNull();
    if (value.isArray()) {
        QOH copy = QOH::newArray();
        for (QOH& item : value.getArrayAsVector())
            copy.appendItem(CopyValue(to, item, depth + 1));
        return copy;
    }
    if (value.isDictionary()) {
        QOH copy = QOH::newDictionary();
        for (const std::string& key : value.getKeys())
            copy.replaceKey(key, CopyValue(to, value.getKey(key), depth + 1));
        return copy;
    }
    if (!value.isInitialized())
        return QOH::newNull();
    return value.shallowCopy();
}

// Walks the page tree without recursion before qpdf is asked for the pages (its own walk
// recurses per level). False when the tree nests deeper than kMaxTreeDepth. Also tells whether
// pages share resource dictionaries, the case in which parts would otherwise carry resources
// their pages never use.
bool CheckPageTree(QPDF& pdf, bool& resourcesShared) {
    resourcesShared = false;
    ObjGenSet seen, resourcesSeen;
    auto noteShared = [&](QOH value) {
        if (value.isIndirect() && !resourcesSeen.insert(value.getObjGen()).second)
            resourcesShared = true;
    };
    std::vector<std::pair<QOH, int>> stack{{pdf.getRoot().getKey("/Pages"), 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (!node.isDictionary())
            continue;
        if (depth > kMaxTreeDepth)
            return false;
        if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
            continue; // a loop; qpdf reports it on its own
        QOH kids = node.getKey("/Kids");
        QOH resources = node.getKey("/Resources");
        if (kids.isArray()) {
            if (resources.isDictionary())
                resourcesShared = true; // inherited by every page below
            for (QOH& kid : kids.getArrayAsVector())
                stack.emplace_back(kid, depth + 1);
        } else if (resources.isDictionary()) {
            noteShared(resources);
            noteShared(resources.getKey("/Font"));
            noteShared(resources.getKey("/XObject"));
        }
    }
    return true;
}

// Where an annotation or outline item jumps to inside its document: its /Dest, or the /D of
// its GoTo action. `holder` is the dictionary that holds the destination under `key`.
struct Jump {
    QOH holder;
    std::string key;
    QOH dest;
};

std::optional<Jump> JumpOf(QOH item) {
    if (!item.isDictionary())
        return std::nullopt;
    QOH dest = item.getKey("/Dest");
    if (!dest.isNull())
        return Jump{item, "/Dest", dest};
    QOH action = item.getKey("/A");
    if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
        return Jump{action, "/D", action.getKey("/D")};
    return std::nullopt;
}

// The explicit destination array of a destination value (an array, or a dictionary with /D).
QOH ExplicitArray(QOH dest) {
    if (dest.isDictionary())
        dest = dest.getKey("/D");
    return dest.isArray() && dest.getArrayNItems() > 0 ? dest : QOH::newNull();
}

// A destination resolved to a page of its source.
struct Target {
    int page = -1; // 0-based, -1 when it shows no page of this file
    QOH dest;      // the explicit array, page first
};

Target ExplicitTarget(QOH dest, const ObjGenMap<int>& pageIndex, size_t pageCount) {
    Target t;
    QOH array = ExplicitArray(dest);
    if (array.isNull())
        return t;
    QOH first = array.getArrayItem(0);
    if (first.isIndirect()) {
        auto it = pageIndex.find(first.getObjGen());
        if (it != pageIndex.end())
            t.page = it->second;
    } else if (first.isInteger() && first.getIntValue() >= 0 &&
               static_cast<uint64_t>(first.getIntValue()) < pageCount) {
        t.page = static_cast<int>(first.getIntValue());
    }
    if (t.page >= 0)
        t.dest = array;
    return t;
}

// The source's named destinations: the old /Dests dictionary (keys are names) and the
// /Names -> /Dests tree (keys are strings), read once and indexed by page.
class NamedDests {
  public:
    struct Entry {
        int page;
        bool isString;
        std::string key;
        QOH dest;
    };

    NamedDests(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount) {
        QOH root = pdf.getRoot();
        QOH dests = root.getKey("/Dests");
        if (dests.isDictionary())
            for (const std::string& key : dests.getKeys())
                Add(false, key, ExplicitTarget(dests.getKey(key), pageIndex, pageCount));
        QOH names = root.getKey("/Names");
        QOH tree = names.isDictionary() ? names.getKey("/Dests") : QOH::newNull();
        // A name tree walked without recursion; loops and absurd depths end the walk.
        ObjGenSet seen;
        std::vector<std::pair<QOH, int>> stack{{tree, 0}};
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (!node.isDictionary() || depth > kMaxTreeDepth ||
                (node.isIndirect() && !seen.insert(node.getObjGen()).second))
                continue;
            QOH pairs = node.getKey("/Names");
            if (pairs.isArray())
                for (int i = 0; i + 1 < pairs.getArrayNItems(); i += 2) {
                    QOH key = pairs.getArrayItem(i);
                    if (key.isString())
                        Add(true, key.getStringValue(),
                            ExplicitTarget(pairs.getArrayItem(i + 1), pageIndex, pageCount));
                }
            QOH kids = node.getKey("/Kids");
            if (kids.isArray())
                for (QOH& kid : kids.getArrayAsVector())
                    stack.emplace_back(kid, depth + 1);
        }
        std::sort(m_byPage.begin(), m_byPage.end(),
                  [](const Entry& a, const Entry& b) { return a.page < b.page; });
    }

    // The target of a name (from /Dests) or a string (from the name tree).
    Target Resolve(QOH name) const {
        const auto& map = name.isString() ? m_strings : m_names;
        if (!name.isString() && !name.isName())
            return {};
        auto it = map.find(name.isString() ? name.getStringValue() : name.getName());
        return it == map.end() ? Target{} : it->second;
    }

    // Every entry whose page lies in [first, last].
    std::pair<std::vector<Entry>::const_iterator, std::vector<Entry>::const_iterator>
    InRange(int first, int last) const {
        auto from = std::lower_bound(m_byPage.begin(), m_byPage.end(), first,
                                     [](const Entry& e, int page) { return e.page < page; });
        auto to = std::upper_bound(from, m_byPage.end(), last,
                                   [](int page, const Entry& e) { return page < e.page; });
        return {from, to};
    }

  private:
    void Add(bool isString, const std::string& key, const Target& target) {
        if (target.page < 0)
            return;
        auto& map = isString ? m_strings : m_names;
        if (map.emplace(key, target).second)
            m_byPage.push_back({target.page, isString, key, target.dest});
    }

    std::map<std::string, Target> m_names;
    std::map<std::string, Target> m_strings;
    std::vector<Entry> m_byPage;
};

// One outline item of a source, in document order.
struct OutlineNode {
    int parent = -1;
    QOH item;
    int page = -1; // 0-based page its destination shows, -1 when none in this file
    QOH destArray; // the explicit destination, page reference first
    bool open = false;
};

// The source's outline, read once and indexed by page, so that copying the items of one range
// costs what lies in that range, not the whole outline. Walked here without recursion and
// with loop detection at every level: qpdf's outline helper follows a looping sibling chain
// below the top level without end.
class OutlineIndex {
  public:
    OutlineIndex(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount,
                 const NamedDests& named) {
        QOH outlines = pdf.getRoot().getKey("/Outlines");
        if (!outlines.isDictionary())
            return;
        ObjGenSet seen;
        if (outlines.isIndirect())
            seen.insert(outlines.getObjGen());
        // (item, parent node) pairs still to visit; siblings are pushed in reverse so that
        // nodes come out in document order.
        std::vector<std::pair<QOH, int>> stack;
        auto pushChildren = [&](QOH parent, int parentNode) {
            std::vector<QOH> children;
            for (QOH c = parent.getKey("/First"); c.isDictionary(); c = c.getKey("/Next")) {
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
            QOH count = item.getKey("/Count");
            node.open = count.isInteger() && count.getIntValue() > 0;
            if (auto jump = JumpOf(item)) {
                Target t = jump->dest.isName() || jump->dest.isString()
                               ? named.Resolve(jump->dest)
                               : ExplicitTarget(jump->dest, pageIndex, pageCount);
                node.page = t.page;
                node.destArray = t.dest;
            }
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
    std::vector<OutlineNode> m_nodes;
    std::vector<std::pair<int, int>> m_byPage; // (page, node)
};

// The source's page labels, read without qpdf's number-tree lookup: a tree whose keys are out
// of order, not numbers, or whose values are not label dictionaries would give pages labels
// that belong to others, so such a tree counts as no labels at all.
class LabelIndex {
  public:
    struct Label {
        size_t entry;   // which entry of the tree
        int64_t number; // the page's number in that entry's style
        QOH style;      // a name, or null for none
        std::string prefix;
        bool hasPrefix;
    };

    explicit LabelIndex(QPDF& pdf) {
        QOH tree = pdf.getRoot().getKey("/PageLabels");
        if (!tree.isDictionary())
            return;
        if (!Read(tree)) {
            m_entries.clear();
            m_damaged = true;
        }
    }

    bool Damaged() const { return m_damaged; }

    // The label of a source page; none before the first entry.
    std::optional<Label> At(int64_t page) const {
        auto it = std::upper_bound(m_entries.begin(), m_entries.end(), page,
                                   [](int64_t p, const auto& e) { return p < e.first; });
        if (it == m_entries.begin())
            return std::nullopt;
        --it;
        QOH dict = it->second;
        QOH st = dict.getKey("/St");
        QOH prefix = dict.getKey("/P");
        return Label{static_cast<size_t>(it - m_entries.begin()),
                     (st.isInteger() ? st.getIntValue() : 1) + (page - it->first),
                     dict.getKey("/S"), prefix.isString() ? prefix.getStringValue() : "",
                     prefix.isString()};
    }

  private:
    static bool ValidLabel(QOH dict) {
        if (!dict.isDictionary())
            return false;
        QOH s = dict.getKey("/S");
        if (!s.isNull()) {
            if (!s.isName())
                return false;
            const std::string style = s.getName();
            if (style != "/D" && style != "/R" && style != "/r" && style != "/A" && style != "/a")
                return false;
        }
        QOH st = dict.getKey("/St");
        if (!st.isNull() && (!st.isInteger() || st.getIntValue() < 1))
            return false;
        QOH p = dict.getKey("/P");
        return p.isNull() || p.isString();
    }

    bool Read(QOH tree) {
        ObjGenSet seen;
        std::vector<std::pair<QOH, int>> stack{{tree, 0}};
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (!node.isDictionary() || depth > kMaxTreeDepth)
                return false;
            if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
                return false;
            QOH nums = node.getKey("/Nums");
            if (nums.isArray()) {
                const int n = nums.getArrayNItems();
                if (n % 2 != 0)
                    return false;
                for (int i = 0; i < n; i += 2) {
                    QOH key = nums.getArrayItem(i);
                    QOH value = nums.getArrayItem(i + 1);
                    if (!key.isInteger() || key.getIntValue() < 0 || !ValidLabel(value))
                        return false;
                    if (!m_entries.empty() && key.getIntValue() <= m_entries.back().first)
                        return false;
                    m_entries.emplace_back(key.getIntValue(), value);
                }
            } else if (!nums.isNull()) {
                return false;
            }
            QOH kids = node.getKey("/Kids");
            if (kids.isArray()) {
                std::vector<QOH> items = kids.getArrayAsVector();
                for (auto it = items.rbegin(); it != items.rend(); ++it)
                    stack.emplace_back(*it, depth + 1);
            } else if (!kids.isNull()) {
                return false;
            }
        }
        return true;
    }

    std::vector<std::pair<int64_t, QOH>> m_entries; // (first page, label dictionary)
    bool m_damaged = false;
};

// Recomputes every /Count of the outline from the tree and each item's open state, so the
// counts stay right whatever was added or removed. Iterative: a hostile file may nest deeply.
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

// Whether a page's fonts and images cost less to carry whole than to trim: no images and a
// few fonts that embed nothing (each a handful of names, like the standard fonts). Finding
// out which of them a page uses means decoding its content, the dearest step of copying such
// a page; carrying an unused one costs its part about a hundred bytes.
bool ResourcesCheapToCarry(QPDFPageObjectHelper& page) {
    constexpr size_t kCheapFonts = 8;
    QOH resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return true;
    QOH images = resources.getKey("/XObject");
    if (images.isDictionary() && !images.getKeys().empty())
        return false;
    QOH fonts = resources.getKey("/Font");
    if (!fonts.isDictionary())
        return true;
    const std::set<std::string> names = fonts.getKeys();
    if (names.size() > kCheapFonts)
        return false;
    return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        QOH font = fonts.getKey(name);
        if (!font.isDictionary())
            return false;
        for (const std::string& key : font.getKeys())
            if (!font.getKey(key).isName())
                return false;
        return true;
    });
}

// Whether every font and image name of a page's resources occurs somewhere in its content.
// Then nothing is left to trim and qpdf's full parse of the content can be skipped; a name
// that does not occur as written (it may be spelt with # escapes) leaves the decision to qpdf.
bool AllResourceNamesAppear(QPDFPageObjectHelper& page) {
    QOH resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return true;
    std::vector<std::string> names;
    for (const char* type : {"/Font", "/XObject"}) {
        QOH dict = resources.getKey(type);
        if (dict.isDictionary())
            for (const std::string& key : dict.getKeys())
                names.push_back(key);
    }
    if (names.empty())
        return true;
    // Each content stream is decoded straight into one string: qpdf's own concatenation of a
    // page's contents buffers every stream a second time, which cost as much as the decoding.
    // A newline between streams keeps a name at the end of one from running into the next.
    std::vector<QOH> streams;
    QOH contents = page.getObjectHandle().getKey("/Contents");
    if (contents.isStream())
        streams.push_back(contents);
    else if (contents.isArray())
        for (QOH item : contents.aitems())
            if (item.isStream())
                streams.push_back(item);
    std::string content;
    try {
        Pl_String sink("page content", nullptr, content);
        for (QOH& stream : streams) {
            if (!stream.pipeStreamData(&sink, 0, qpdf_dl_generalized, false, false))
                return false;
            content += '\n';
        }
    } catch (const std::exception&) {
        return false;
    }
    return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        return content.find(name) != std::string::npos;
    });
}

// qpdf's writer hands over a PDF a token at a time; the part's file gathers them into blocks.
class FileBlocks final : public Pipeline {
  public:
    explicit FileBlocks(core::CAtomicFile& file) : Pipeline("part file", nullptr), m_file(file) {}
    void write(unsigned char const* data, size_t len) override {
        // A failed write fails the commit.
        m_file.Write(std::string_view(reinterpret_cast<const char*>(data), len));
    }
    void finish() override {}

  private:
    core::CAtomicFile& m_file;
};

bool IsWidget(QOH annot) {
    return annot.isDictionary() && annot.getKey("/Subtype").isNameAndEquals("/Widget");
}

// The top-level form field a widget belongs to (the widget itself when it is its own field).
QOH TopField(QOH widget) {
    QOH node = widget;
    ObjGenSet seen;
    for (int depth = 0; depth < kMaxFieldDepth; ++depth) {
        if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
            break;
        QOH parent = node.getKey("/Parent");
        if (!parent.isDictionary())
            break;
        node = parent;
    }
    return node;
}

} // namespace

// A parsed source file; the session keeps the current one.
struct ParsedSource {
    std::string path;
    FileStamp stamp;
    std::unique_ptr<QPDF> pdf;
    std::vector<QOH> pages;
    ObjGenMap<int> pageIndex;
    bool resourcesShared = false;
    std::vector<char> resourcesTrimmed; // per page
    std::unique_ptr<NamedDests> named;
    std::unique_ptr<OutlineIndex> outline;
    std::unique_ptr<LabelIndex> labels;
    bool labelsDamageSaid = false;
    std::unique_ptr<ObjGenMap<int>> fieldOrder; // top-level field -> place in /Fields

    const NamedDests& Named() {
        if (!named)
            named = std::make_unique<NamedDests>(*pdf, pageIndex, pages.size());
        return *named;
    }
    const OutlineIndex& Outline() {
        if (!outline)
            outline = std::make_unique<OutlineIndex>(*pdf, pageIndex, pages.size(), Named());
        return *outline;
    }
    const LabelIndex& Labels() {
        if (!labels)
            labels = std::make_unique<LabelIndex>(*pdf);
        return *labels;
    }
    const ObjGenMap<int>& FieldOrder() {
        if (!fieldOrder) {
            fieldOrder = std::make_unique<ObjGenMap<int>>();
            QOH form = pdf->getRoot().getKey("/AcroForm");
            QOH fields = form.isDictionary() ? form.getKey("/Fields") : QOH::newNull();
            if (fields.isArray())
                for (int i = 0; i < fields.getArrayNItems(); ++i) {
                    QOH field = fields.getArrayItem(i);
                    if (field.isIndirect())
                        fieldOrder->emplace(field.getObjGen(), i);
                }
        }
        return *fieldOrder;
    }
};

// An output document whose part has been saved, kept by the session for the next part of
// the same source: building a fresh qpdf document (and tearing it down) for every part cost
// more than copying a page into it. Only what its part added is removed; objects copied for
// earlier parts stay, and qpdf's copier would hand them out again, so it is used only for
// pages never copied into it before and without annotations or article beads (the objects a
// part changes in place are pages, annotations and the form fields reached through them, and
// a copy leaves references to pages outside its part null).
struct SpareOutput {
    std::unique_ptr<QPDF> pdf;
    std::shared_ptr<ParsedSource> source; // the only source it has copied from
    std::vector<char> copied;             // per source page: copied into it before
    size_t pages = 0;                     // pages copied into it so far
};

// A kept document holds every page it copied; once it has copied this many it gives way to
// a fresh one, so memory stays bounded however long the job.
constexpr size_t kSparePages = 64;

class QpdfAVDoc;

class QpdfSession {
  public:
    QpdfSession(core::Trace& trace, std::shared_ptr<CQpdfAutomation::Shared> shared)
        : m_trace(trace), m_shared(std::move(shared)) {}

    std::shared_ptr<ParsedSource> OpenSource(const std::string& path) {
        // Every range of a job opens its source again: while it is the same regular file,
        // unchanged, one stat settles that, without opening it.
        if (m_current && m_current->path == path) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                StampOf(st) == m_current->stamp)
                return m_current;
        }
        // Opened and checked on one descriptor: a FIFO or device is refused without waiting.
        struct stat st {};
        const int fd = core::OpenRegularFd(path, &st);
        if (fd < 0)
            return nullptr;
        const FileStamp stamp = StampOf(st);
        if (m_current && m_current->path == path && m_current->stamp == stamp) {
            ::close(fd);
            return m_current;
        }
        // Only the current source stays parsed, so a batch of many files never holds more
        // than one; documents still using an older one keep it alive.
        m_current.reset();
        m_spare.reset(); // it holds the previous source's copies
        auto source = std::make_shared<ParsedSource>();
        source->path = path;
        source->stamp = stamp;
        // A source of ordinary size is read into memory in one go and its file closed at
        // once: the parts of a job then copy their pages without seeking the file again and
        // again, and no descriptor stays open while the job runs. A huge one is read from
        // its file as it is needed instead of filling the memory.
        FILE* file = nullptr;
        std::unique_ptr<Buffer> bytes;
        if (st.st_size <= kInMemorySourceLimit) {
            bytes = ReadDescriptor(fd, static_cast<size_t>(st.st_size));
            ::close(fd);
            if (!bytes) {
                Warn("cannot read " + path);
                return nullptr;
            }
        } else if (!(file = ::fdopen(fd, "rb"))) {
            ::close(fd);
            return nullptr;
        }
        source->pdf = std::make_unique<QPDF>();
        source->pdf->setSuppressWarnings(true);
        try {
            ++m_shared->parseCount;
            if (file)
                source->pdf->processFile(path.c_str(), file, true);
            else
                source->pdf->processInputSource(
                    std::make_shared<BufferInputSource>(path, bytes.release(), true));
            if (!CheckPageTree(*source->pdf, source->resourcesShared)) {
                Warn("cannot open " + path + ": the page tree is nested too deeply");
                Collect(*source->pdf);
                return nullptr;
            }
            QPDFPageDocumentHelper(*source->pdf).pushInheritedAttributesToPage();
            source->pages = source->pdf->getAllPages();
            for (size_t i = 0; i < source->pages.size(); ++i)
                source->pageIndex[source->pages[i].getObjGen()] = static_cast<int>(i);
            source->resourcesTrimmed.assign(source->pages.size(), 0);
        } catch (const std::exception& e) {
            Warn(std::string("cannot open ") + path + ": " + e.what());
            Collect(*source->pdf);
            return nullptr;
        }
        Collect(*source->pdf);
        m_current = source;
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
        m_current.reset();
        m_spare.reset();
    }

    std::unique_ptr<QPDF> NewDocument() {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        pdf->emptyPDF();
        ++m_shared->documentsBuilt;
        return pdf;
    }
    std::unique_ptr<SpareOutput> TakeSpare() { return std::move(m_spare); }
    void KeepSpare(std::unique_ptr<SpareOutput> spare) { m_spare = std::move(spare); }

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
    std::shared_ptr<ParsedSource> m_current;
    std::unique_ptr<SpareOutput> m_spare;
    std::map<FileStamp, int, StampLess> m_open;
    std::vector<std::weak_ptr<QpdfAVDoc>> m_views;
};

namespace {

// The first outline item of that title, in document order; an uninitialized handle if none.
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

// Takes an item out of its outline, with everything below it.
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

class QpdfPDDoc final : public PDDoc {
  public:
    explicit QpdfPDDoc(std::shared_ptr<QpdfSession> session,
                       std::shared_ptr<ParsedSource> source = nullptr)
        : m_session(std::move(session)), m_source(std::move(source)) {}

    bool Create() override {
        m_source.reset();
        ClearPart();
        m_spare = m_session->TakeSpare();
        if (m_spare) {
            m_new = std::move(m_spare->pdf);
        } else {
            m_new = m_session->NewDocument();
        }
        return true;
    }

    bool InsertPages(int32_t insertAfter, PDDoc& sourceDoc, int32_t firstPage, int32_t count,
                     bool withBookmarks) override {
        auto* from = dynamic_cast<QpdfPDDoc*>(&sourceDoc);
        if (!m_new || !from || !from->m_source)
            return false;
        return Insert(insertAfter, from->m_source, firstPage, count, withBookmarks);
    }

  private:
    bool Insert(int32_t insertAfter, const std::shared_ptr<ParsedSource>& source, int32_t firstPage,
                int32_t count, bool withBookmarks) {
        const auto total = static_cast<int64_t>(source->pages.size());
        if (firstPage < 0 || count < 1 || int64_t{firstPage} + count > total)
            return false;
        if (m_spare && !SpareServes(*source, firstPage, count) && !StartOver())
            return false;
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
            std::vector<QOH> added;
            added.reserve(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i) {
                const size_t index = static_cast<size_t>(firstPage + i);
                TrimResources(*source, index);
                // Pages copied one by one share one copier, so resources they share (fonts,
                // images) are copied once; references to pages outside the range become null
                // instead of dragging those pages in.
                if (at < existing.size())
                    m_new->addPageAt(source->pages[index], true, existing[at]);
                else
                    m_new->addPage(source->pages[index], false);
                added.push_back(m_new->getAllPages()[at + static_cast<size_t>(i)]);
            }
            // What follows only builds new objects; they join the document together at the
            // end, so a failure on the way leaves the document as it was.
            PendingNames names = PrepareNamedDests(*source, firstPage, added);
            FixAnnotations(*source, firstPage, added, names);
            PendingForm form = PrepareForm(*source, firstPage, added);
            std::vector<QOH> outline;
            if (withBookmarks)
                outline = PrepareOutline(*source, firstPage, added);

            CommitNamedDests(names);
            CommitForm(form);
            CommitOutline(outline);
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

  public:
    bool DeletePages(int32_t firstPage, int32_t lastPage) override {
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
            }
            m_pagesRemoved = true;
            m_steps->push_back(
                {PartStep::Kind::Delete, 0, firstPage, lastPage, false, nullptr, {}});
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
        const std::string version = PartVersion();
        switch (WritePart(path, version, Writer::Lean)) {
        case Written::Yes:
            break;
        case Written::NotByThisWriter:
            // What the lean writer leaves alone, qpdf's writer gets a try at.
            if (WritePart(path, version, Writer::Qpdf) != Written::Yes)
                return false;
            break;
        case Written::No:
            return false;
        }
        m_saved = true;
        return true;
    }

    bool Close() override {
        KeepForNextPart();
        m_new.reset();
        m_source.reset();
        ClearPart();
        return true;
    }

    QPDF* NewDocument() { return m_new.get(); }
    // The steps of the part, for a bookmark removed from it.
    std::weak_ptr<PartSteps> Steps() { return m_steps; }

  private:
    enum class Writer { Lean, Qpdf };
    enum class Written { Yes, No, NotByThisWriter };

    // qpdf writes into a file we own: we check, sync and close it ourselves and only a whole
    // part takes the target's name. A full disk or a file-size limit must never leave a
    // cut-short part, nor destroy an earlier file of that name.
    Written WritePart(const std::string& path, const std::string& version, Writer writer) {
        core::CAtomicFile file(path);
        if (!file.Open()) {
            m_session->Warn("cannot create a file beside " + path);
            return Written::No;
        }
        try {
            if (writer == Writer::Lean) {
                WriteClassicPdf(*m_new, version,
                                [&](std::string_view bytes) { file.Write(bytes); });
            } else {
                FileBlocks blocks(file);
                QPDFWriter qpdfWriter(*m_new);
                qpdfWriter.setOutputPipeline(&blocks);
                qpdfWriter.setMinimumPDFVersion(version);
                // The same pages give the same bytes, whichever process or run writes them.
                qpdfWriter.setDeterministicID(true);
                qpdfWriter.write();
            }
            m_session->Collect(*m_new);
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot save ") + path + ": " + e.what());
            // A file that failed is no writer's fault; anything else the other writer may do.
            return writer == Writer::Lean && !file.Failed() ? Written::NotByThisWriter
                                                            : Written::No;
        }
        if (!file.Commit()) {
            m_session->Warn("cannot save " + path + ": the file could not be written in full");
            return Written::No;
        }
        return Written::Yes;
    }

    // A part claims the highest version among its sources: it may use what they use.
    std::string PartVersion() {
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

    struct Origin {
        std::shared_ptr<ParsedSource> source;
        int page;
    };
    // Named destinations a range brings along: keys of /Dests (names) and of the /Dests name
    // tree (strings), each with its destination in this document.
    struct PendingNames {
        std::map<std::string, QOH> names;
        std::map<std::string, QOH> strings;
    };
    struct PendingForm {
        std::vector<QOH> fields;                           // top-level fields, in form order
        std::vector<std::pair<std::string, QOH>> defaults; // /DR, /DA, ... of a new form
    };

    void ClearPart() {
        m_origins.clear();
        m_pagesRemoved = false;
        m_nameDests.clear();
        m_stringDests.clear();
        m_spare.reset();
        m_copiedNow.clear();
        m_saved = false;
        // A fresh list: a bookmark found in the previous part must not add to this one.
        m_steps = std::make_shared<PartSteps>();
    }

    // Whether the kept document may take these pages: see SpareOutput.
    bool SpareServes(const ParsedSource& source, int32_t firstPage, int32_t count) const {
        if (m_spare->source.get() != &source)
            return false;
        for (int32_t i = firstPage; i < firstPage + count; ++i) {
            if (m_spare->copied[static_cast<size_t>(i)])
                return false;
            // Annotations and article beads reach other pages (a field's widgets, a thread's
            // next bead); a copy made for an earlier part left those references null.
            QOH page = source.pages[static_cast<size_t>(i)];
            if (!page.getKey("/Annots").isNull() || !page.getKey("/B").isNull())
                return false;
        }
        return true;
    }

    // The part goes on in a fresh document, with what was done to it so far done again.
    bool StartOver() {
        m_spare.reset();
        const PartSteps steps = std::move(*m_steps);
        const bool pagesRemoved = m_pagesRemoved;
        m_steps->clear();
        m_origins.clear();
        m_copiedNow.clear();
        m_nameDests.clear();
        m_stringDests.clear();
        m_pagesRemoved = false;
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
                done = Insert(step.insertAfter, step.source, step.first, step.count,
                              step.withBookmarks);
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

    // After a successful save, the document goes back to the session for the next part,
    // emptied of what this part added, unless it took pages from more than one source or
    // has served long enough.
    void KeepForNextPart() {
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
            for (QOH page : std::vector<QOH>(m_new->getAllPages()))
                m_new->removePage(page);
            QOH root = m_new->getRoot();
            for (const char* key : {"/Outlines", "/Dests", "/Names", "/AcroForm", "/PageLabels"})
                root.removeKey(key);
            spare->pdf = std::move(m_new);
            m_session->KeepSpare(std::move(spare));
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot keep a document for the next part: ") + e.what());
        }
    }

    void RemovePagesOtherThan(const std::vector<QOH>& keep) {
        try {
            ObjGenSet kept;
            for (const QOH& page : keep)
                kept.insert(page.getObjGen());
            QPDFPageDocumentHelper helper(*m_new);
            for (QOH page : m_new->getAllPages())
                if (!kept.count(page.getObjGen())) {
                    m_origins.erase(page.getObjGen());
                    helper.removePage(QPDFPageObjectHelper(page));
                }
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot take back pages: ") + e.what());
        }
    }

    // Pages that share one resource dictionary (often inherited from the page tree) would
    // each bring every font and image of it; each source page is trimmed to what its content
    // uses, once per parse, before its first copy.
    void TrimResources(ParsedSource& source, size_t index) {
        if (!source.resourcesShared || source.resourcesTrimmed[index])
            return;
        source.resourcesTrimmed[index] = 1;
        try {
            QPDFPageObjectHelper page(source.pages[index]);
            if (!ResourcesCheapToCarry(page) && !AllResourceNamesAppear(page))
                page.removeUnreferencedResources();
        } catch (const std::exception& e) {
            m_session->Warn(std::string("resources kept whole: ") + e.what());
        }
        m_session->Collect(*source.pdf);
    }

    QOH CopiedDest(QOH page, QOH sourceDest) {
        QOH dest = QOH::newArray();
        dest.appendItem(page);
        for (int i = 1; i < sourceDest.getArrayNItems(); ++i)
            dest.appendItem(CopyValue(*m_new, sourceDest.getArrayItem(i)));
        return dest;
    }

    // The named destinations whose pages are in the range, trimmed to those.
    PendingNames PrepareNamedDests(ParsedSource& source, int32_t firstPage,
                                   const std::vector<QOH>& added) {
        PendingNames pending;
        const int last = firstPage + static_cast<int>(added.size()) - 1;
        auto [from, to] = source.Named().InRange(firstPage, last);
        for (auto it = from; it != to; ++it)
            (it->isString ? pending.strings : pending.names)[it->key] =
                CopiedDest(added[static_cast<size_t>(it->page - firstPage)], it->dest);
        return pending;
    }

    bool Carried(QOH name, const PendingNames& pending) const {
        if (name.isName())
            return m_nameDests.count(name.getName()) || pending.names.count(name.getName());
        if (name.isString())
            return m_stringDests.count(name.getStringValue()) ||
                   pending.strings.count(name.getStringValue());
        return false;
    }

    // Whether a jump of a copied annotation still leads somewhere in this document, pointing
    // it at the copied page where the copy left a null (a page copied after the link's own).
    bool Relink(Jump jump, std::optional<Jump> sourceJump, ParsedSource& source, int32_t firstPage,
                const std::vector<QOH>& added, const PendingNames& pending) {
        if (jump.dest.isName() || jump.dest.isString())
            return Carried(jump.dest, pending);
        QOH array = ExplicitArray(jump.dest);
        if (array.isNull())
            return false;
        Target target;
        if (sourceJump)
            target = ExplicitTarget(sourceJump->dest, source.pageIndex, source.pages.size());
        const int last = firstPage + static_cast<int>(added.size()) - 1;
        if (target.page >= firstPage && target.page <= last) {
            array.setArrayItem(0, added[static_cast<size_t>(target.page - firstPage)]);
            return true;
        }
        // Already a page of this document (copied by an earlier insertion).
        QOH page = array.getArrayItem(0);
        return page.isDictionary() && page.isIndirect() && page.getOwningQPDF() == m_new.get();
    }

    // Drops annotations that are not dictionaries (one null in /Annots is enough to upset
    // readers and qpdf alike), relinks jumps into the part, and removes links that would
    // lead out of it; other annotations that jump out of the part just lose the jump.
    void FixAnnotations(ParsedSource& source, int32_t firstPage, const std::vector<QOH>& added,
                        const PendingNames& pending) {
        for (size_t i = 0; i < added.size(); ++i) {
            QOH page = added[i];
            QOH annots = page.getKey("/Annots");
            if (annots.isNull())
                continue;
            if (!annots.isArray()) {
                page.removeKey("/Annots");
                continue;
            }
            // The copy keeps every entry in place, so entries pair up with the source's.
            QOH sourceAnnots = source.pages[static_cast<size_t>(firstPage) + i].getKey("/Annots");
            const bool paired =
                sourceAnnots.isArray() && sourceAnnots.getArrayNItems() == annots.getArrayNItems();
            std::vector<QOH> kept;
            bool changed = false;
            for (int a = 0; a < annots.getArrayNItems(); ++a) {
                QOH annot = annots.getArrayItem(a);
                if (!annot.isDictionary()) {
                    changed = true;
                    continue;
                }
                auto jump = JumpOf(annot);
                if (jump &&
                    !Relink(*jump, paired ? JumpOf(sourceAnnots.getArrayItem(a)) : std::nullopt,
                            source, firstPage, added, pending)) {
                    if (annot.getKey("/Subtype").isNameAndEquals("/Link")) {
                        changed = true;
                        continue;
                    }
                    annot.removeKey(jump->key == "/Dest" ? "/Dest" : "/A");
                }
                kept.push_back(annot);
            }
            if (changed)
                page.replaceKey("/Annots", QOH::newArray(kept));
        }
    }

    // Widgets that are on the document's pages now.
    ObjGenSet PresentWidgets() {
        ObjGenSet present;
        for (QOH page : m_new->getAllPages()) {
            QOH annots = page.getKey("/Annots");
            if (annots.isArray())
                for (QOH& annot : annots.getArrayAsVector())
                    if (annot.isIndirect())
                        present.insert(annot.getObjGen());
        }
        return present;
    }

    // Trims a copied field tree to the widgets on the document's pages; false when none is.
    static bool KeepField(QOH node, const ObjGenSet& present, ObjGenSet& seen, int depth) {
        if (!node.isDictionary() || depth > kMaxFieldDepth ||
            (node.isIndirect() && !seen.insert(node.getObjGen()).second))
            return false;
        bool keep = node.isIndirect() && present.count(node.getObjGen());
        QOH kids = node.getKey("/Kids");
        if (kids.isArray()) {
            std::vector<QOH> kept;
            for (QOH& kid : kids.getArrayAsVector())
                if (KeepField(kid, present, seen, depth + 1))
                    kept.push_back(kid);
            if (std::ssize(kept) != kids.getArrayNItems())
                node.replaceKey("/Kids", QOH::newArray(kept));
            keep = keep || !kept.empty();
        }
        return keep;
    }

    // The source's form fields that have widgets on the range's pages (their values and
    // button states come with them), each trimmed to those widgets, plus the form's defaults.
    PendingForm PrepareForm(ParsedSource& source, int32_t firstPage,
                            const std::vector<QOH>& added) {
        PendingForm pending;
        QOH form = source.pdf->getRoot().getKey("/AcroForm");
        if (!form.isDictionary())
            return pending;
        const ObjGenMap<int>& order = source.FieldOrder();
        std::vector<std::pair<int, QOH>> tops;
        ObjGenSet topsSeen;
        for (size_t i = 0; i < added.size(); ++i) {
            QOH annots = source.pages[static_cast<size_t>(firstPage) + i].getKey("/Annots");
            if (!annots.isArray())
                continue;
            for (QOH& annot : annots.getArrayAsVector()) {
                if (!IsWidget(annot))
                    continue;
                QOH top = TopField(annot);
                if (!top.isIndirect() || !topsSeen.insert(top.getObjGen()).second)
                    continue;
                auto it = order.find(top.getObjGen());
                tops.emplace_back(it == order.end() ? INT32_MAX : it->second, top);
            }
        }
        if (tops.empty())
            return pending;
        std::stable_sort(tops.begin(), tops.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        const ObjGenSet present = PresentWidgets();
        for (auto& [place, top] : tops) {
            QOH copy = CopyValue(*m_new, top);
            ObjGenSet seen;
            if (KeepField(copy, present, seen, 0))
                pending.fields.push_back(copy);
        }
        if (!m_new->getRoot().getKey("/AcroForm").isDictionary())
            for (const char* key : {"/DR", "/DA", "/Q", "/NeedAppearances"}) {
                QOH value = form.getKey(key);
                if (!value.isNull())
                    pending.defaults.emplace_back(key, CopyValue(*m_new, value));
            }
        return pending;
    }

    std::vector<QOH> PrepareOutline(ParsedSource& source, int32_t firstPage,
                                    const std::vector<QOH>& added) {
        const OutlineIndex& index = source.Outline();
        const int32_t lastPage = firstPage + static_cast<int32_t>(added.size()) - 1;
        std::vector<QOH> top;
        std::unordered_map<int, QOH> made;
        for (int n : index.NodesForRange(firstPage, lastPage)) {
            OutlineNode node = index.Node(n);
            QOH item = m_new->makeIndirectObject(QOH::newDictionary());
            QOH title = node.item.getKey("/Title");
            item.replaceKey("/Title",
                            title.isString() ? CopyValue(*m_new, title) : QOH::newString(""));
            for (const char* key : {"/C", "/F"}) {
                QOH value = node.item.getKey(key);
                if (!value.isNull())
                    item.replaceKey(key, CopyValue(*m_new, value));
            }
            if (node.page >= firstPage && node.page <= lastPage)
                item.replaceKey(
                    "/Dest",
                    CopiedDest(added[static_cast<size_t>(node.page - firstPage)], node.destArray));
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

    void CommitNamedDests(const PendingNames& pending) {
        QOH root = m_new->getRoot();
        if (!pending.names.empty()) {
            QOH dests = root.getKey("/Dests");
            if (!dests.isDictionary()) {
                dests = m_new->makeIndirectObject(QOH::newDictionary());
                root.replaceKey("/Dests", dests);
            }
            for (const auto& [key, dest] : pending.names) {
                dests.replaceKey(key, dest);
                m_nameDests[key] = dest;
            }
        }
        if (!pending.strings.empty()) {
            for (const auto& [key, dest] : pending.strings)
                m_stringDests[key] = dest;
            WriteStringDests();
        }
    }

    // The name tree as one sorted leaf; a std::map keeps the keys in byte order.
    void WriteStringDests() {
        QOH root = m_new->getRoot();
        QOH names = root.getKey("/Names");
        if (m_stringDests.empty()) {
            if (names.isDictionary())
                names.removeKey("/Dests");
            return;
        }
        if (!names.isDictionary()) {
            names = QOH::newDictionary();
            root.replaceKey("/Names", names);
        }
        QOH pairs = QOH::newArray();
        for (const auto& [key, dest] : m_stringDests) {
            pairs.appendItem(QOH::newString(key));
            pairs.appendItem(dest);
        }
        QOH tree = QOH::newDictionary();
        tree.replaceKey("/Names", pairs);
        names.replaceKey("/Dests", m_new->makeIndirectObject(tree));
    }

    void CommitForm(const PendingForm& pending) {
        if (pending.fields.empty())
            return;
        QOH root = m_new->getRoot();
        QOH form = root.getKey("/AcroForm");
        if (!form.isDictionary()) {
            form = m_new->makeIndirectObject(QOH::newDictionary());
            for (const auto& [key, value] : pending.defaults)
                form.replaceKey(key, value);
            root.replaceKey("/AcroForm", form);
        }
        QOH fields = form.getKey("/Fields");
        if (!fields.isArray()) {
            fields = QOH::newArray();
            form.replaceKey("/Fields", fields);
        }
        ObjGenSet have;
        for (QOH& field : fields.getArrayAsVector())
            if (field.isIndirect())
                have.insert(field.getObjGen());
        for (const QOH& field : pending.fields)
            if (have.insert(field.getObjGen()).second)
                fields.appendItem(field);
    }

    void CommitOutline(const std::vector<QOH>& top) {
        if (top.empty())
            return;
        QOH root = m_new->getRoot();
        QOH outlines = root.getKey("/Outlines");
        if (!outlines.isDictionary()) {
            outlines = m_new->makeIndirectObject(QOH::parse("<< /Type /Outlines >>"));
            root.replaceKey("/Outlines", outlines);
        }
        for (const QOH& item : top)
            AppendChild(outlines, item);
        RecountOutline(outlines);
    }

    // After pages were deleted, nothing may point at them: outline items keep their titles
    // but lose the destination, named destinations and links to them go, and form fields
    // keep only the widgets that remain.
    void DropDestinationsToRemovedPages() {
        ObjGenSet present;
        std::vector<QOH> pages = m_new->getAllPages();
        for (const QOH& page : pages)
            present.insert(page.getObjGen());
        auto leadsToPresent = [&](QOH dest) {
            QOH array = ExplicitArray(dest);
            return !array.isNull() && present.count(array.getArrayItem(0).getObjGen()) > 0;
        };

        QOH root = m_new->getRoot();
        QOH dests = root.getKey("/Dests");
        if (dests.isDictionary())
            for (const std::string& key : dests.getKeys())
                if (!leadsToPresent(dests.getKey(key))) {
                    dests.removeKey(key);
                    m_nameDests.erase(key);
                }
        if (std::erase_if(m_stringDests,
                          [&](const auto& entry) { return !leadsToPresent(entry.second); }))
            WriteStringDests();

        const PendingNames none;
        for (QOH& page : pages) {
            QOH annots = page.getKey("/Annots");
            if (!annots.isArray())
                continue;
            std::vector<QOH> kept;
            for (QOH& annot : annots.getArrayAsVector()) {
                auto jump = JumpOf(annot);
                const bool leads = !jump || ((jump->dest.isName() || jump->dest.isString())
                                                 ? Carried(jump->dest, none)
                                                 : leadsToPresent(jump->dest));
                if (!leads) {
                    if (annot.getKey("/Subtype").isNameAndEquals("/Link"))
                        continue;
                    annot.removeKey(jump->key == "/Dest" ? "/Dest" : "/A");
                }
                kept.push_back(annot);
            }
            if (std::ssize(kept) != annots.getArrayNItems())
                page.replaceKey("/Annots", QOH::newArray(kept));
        }

        QOH form = root.getKey("/AcroForm");
        QOH fields = form.isDictionary() ? form.getKey("/Fields") : QOH::newNull();
        if (fields.isArray()) {
            const ObjGenSet widgets = PresentWidgets();
            std::vector<QOH> kept;
            for (QOH& field : fields.getArrayAsVector()) {
                ObjGenSet seen;
                if (KeepField(field, widgets, seen, 0))
                    kept.push_back(field);
            }
            form.replaceKey("/Fields", QOH::newArray(kept));
        }

        QOH outlines = root.getKey("/Outlines");
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

    // The part's page labels are the source's labels of the pages it holds. A page without a
    // label (or from a source whose label tree cannot be trusted) gets none: leading ones get
    // no entry, later ones are numbered as a reader numbers pages without labels.
    void WritePageLabels() {
        QOH root = m_new->getRoot();
        root.removeKey("/PageLabels");
        std::vector<QOH> pages = m_new->getAllPages();
        std::vector<QOH> nums;
        bool anyLabel = false;
        bool previousHadNone = false;
        const ParsedSource* previousSource = nullptr;
        constexpr size_t kNoEntry = SIZE_MAX;
        size_t previousEntry = kNoEntry;
        int previousPage = -2;
        for (size_t i = 0; i < pages.size(); ++i) {
            auto it = m_origins.find(pages[i].getObjGen());
            ParsedSource* source = it == m_origins.end() ? nullptr : it->second.source.get();
            const int page = source ? it->second.page : -2;
            std::optional<LabelIndex::Label> label;
            if (source) {
                label = source->Labels().At(page);
                if (source->Labels().Damaged() && !source->labelsDamageSaid) {
                    source->labelsDamageSaid = true;
                    m_session->Warn(source->path + ": page labels ignored, their tree is damaged");
                }
            }
            if (label) {
                const bool continues = anyLabel && previousSource == source &&
                                       previousEntry == label->entry && page == previousPage + 1;
                if (!continues) {
                    QOH dict = QOH::newDictionary();
                    if (label->style.isName())
                        dict.replaceKey("/S", QOH::newName(label->style.getName()));
                    if (label->hasPrefix)
                        dict.replaceKey("/P", QOH::newString(label->prefix));
                    if (label->number != 1)
                        dict.replaceKey("/St", QOH::newInteger(label->number));
                    nums.push_back(QOH::newInteger(static_cast<long long>(i)));
                    nums.push_back(dict);
                }
                anyLabel = true;
                previousEntry = label->entry;
            } else {
                if (anyLabel && !previousHadNone) {
                    QOH dict = QOH::newDictionary();
                    dict.replaceKey("/S", QOH::newName("/D"));
                    dict.replaceKey("/St", QOH::newInteger(static_cast<long long>(i) + 1));
                    nums.push_back(QOH::newInteger(static_cast<long long>(i)));
                    nums.push_back(dict);
                }
                previousEntry = kNoEntry;
            }
            previousHadNone = !label;
            previousSource = source;
            previousPage = page;
        }
        if (!anyLabel)
            return;
        QOH labels = QOH::newDictionary();
        labels.replaceKey("/Nums", QOH::newArray(nums));
        root.replaceKey("/PageLabels", labels);
    }

    std::shared_ptr<QpdfSession> m_session;
    std::shared_ptr<ParsedSource> m_source; // a document handed out by a view
    std::unique_ptr<QPDF> m_new;            // a document made by Create()
    ObjGenMap<Origin> m_origins;
    bool m_pagesRemoved = false;
    std::map<std::string, QOH> m_nameDests;   // carried /Dests entries
    std::map<std::string, QOH> m_stringDests; // carried name-tree entries
    std::unique_ptr<SpareOutput> m_spare;     // what m_new held before, when it was kept
    std::vector<std::pair<const ParsedSource*, int>> m_copiedNow; // pages copied for this part
    bool m_saved = false;
    std::shared_ptr<PartSteps> m_steps = std::make_shared<PartSteps>();
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
    explicit QpdfBookmark(std::shared_ptr<QpdfSession> session) : m_session(std::move(session)) {}

    bool GetByTitle(PDDoc& document, const std::string& title) override {
        m_item = QOH();
        try {
            return Find(document, title);
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot look up a bookmark: ") + e.what());
            m_item = QOH();
            return false;
        }
    }

    bool Destroy() override {
        if (!m_item.isInitialized())
            return false;
        try {
            return Unlink();
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot remove a bookmark: ") + e.what());
            m_item = QOH();
            return false;
        }
    }

  private:
    bool Find(PDDoc& document, const std::string& title) {
        auto* doc = dynamic_cast<QpdfPDDoc*>(&document);
        if (!doc || !doc->NewDocument())
            return false;
        m_outlines = doc->NewDocument()->getRoot().getKey("/Outlines");
        if (!m_outlines.isDictionary())
            return false;
        m_item = FindOutlineItem(m_outlines, title);
        if (!m_item.isInitialized())
            return false;
        m_steps = doc->Steps();
        m_title = title;
        return true;
    }

    bool Unlink() {
        const bool removed = UnlinkOutlineItem(m_outlines, m_item);
        m_item = QOH();
        if (auto steps = m_steps.lock(); removed && steps)
            steps->push_back({PartStep::Kind::RemoveBookmark, 0, 0, 0, false, nullptr, m_title});
        return removed;
    }

    std::shared_ptr<QpdfSession> m_session;
    QOH m_outlines;
    QOH m_item;
    std::weak_ptr<PartSteps> m_steps; // of the document the item was found in
    std::string m_title;
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
        return std::make_shared<QpdfBookmark>(Session());
    failureText = "Invalid class string: " + progId;
    return nullptr;
}

int CQpdfAutomation::ParseCount() const {
    return m_shared->parseCount;
}

int CQpdfAutomation::DocumentsBuilt() const {
    return m_shared->documentsBuilt;
}

std::vector<std::string> CQpdfAutomation::Warnings() const {
    return m_shared->warnings;
}

} // namespace engine
