#include "propose/SizeProposer.h"

#include "core/Files.h"
#include "core/OutputNaming.h"
#include "core/Trace.h"
#include "engine/Automation.h"
#include "engine/Outline.h"
#include "engine/ParsedSource.h"
#include "engine/QpdfAutomation.h"
#include "propose/QpdfSource.h"

#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace propose {

namespace {

using QOH = QPDFObjectHandle;

// Bytes of a source object that weigh as much as one small object (a dictionary) in a part.
constexpr double kSmall = 1024;

uint64_t Key(QPDFObjGen id) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(id.getObj())) << 16) ^
           static_cast<uint64_t>(static_cast<uint16_t>(id.getGen()));
}

// The bytes a stream surely takes in a part: its stored bytes when it is stored filtered
// (written as stored); one stored without a filter may be compressed on the way out.
int64_t StoredLength(QOH stream) {
    QOH dict = stream.getDict();
    QOH filter = dict.getKey("/Filter");
    if (filter.isNull() || (filter.isArray() && filter.getArrayNItems() == 0))
        return 0;
    QOH length = dict.getKey("/Length");
    return length.isInteger() ? std::max<long long>(0, length.getIntValue()) : 0;
}

// Whether `name` (a resource key such as "/Im0") stands in the content as a name of its own.
bool NamesResource(const std::string& content, const std::string& name) {
    for (size_t at = content.find(name); at != std::string::npos; at = content.find(name, at + 1)) {
        const size_t end = at + name.size();
        if (end == content.size() ||
            std::string_view(" \t\r\n\f/[]<>()%{}").find(content[end]) != std::string_view::npos)
            return true;
    }
    return false;
}

// The folder a job's parts go to, derived from its split-to folder as the run derives it (the
// parent of a part's path); empty when the parts are measured beside their source.
std::string PartFolder(const std::string& splitTo) {
    if (splitTo.empty())
        return {};
    const std::string part = core::ReduceDoubledSeparators(splitTo + core::kSeparator + "x");
    return std::filesystem::path(part).parent_path().string();
}

// What each page of a source is likely to bring into a part, from where the source keeps its
// objects (the cross-reference table) and what the page dictionaries refer to: the page, its
// content, and what it refers to (its annotations, its own resources and images), objects
// several pages share counted a share on each. Nothing is resolved that the dictionaries do
// not already hold but small dictionaries and arrays, so weighing every page costs a small
// part of one write; the writes alone decide.
class PageWeights {
  public:
    PageWeights(engine::ParsedSource& source, bool withBookmarks) : m_source(source) {
        const size_t pages = source.pages.size();
        for (size_t i = 0; i < pages; ++i)
            m_pageOf.emplace(Key(source.pages[i].getObjGen()), static_cast<int>(i));
        ReadExtents(*source.pdf);
        m_reached.resize(pages);
        m_annotated.assign(pages, 0);
        m_beaded.assign(pages, 0);
        m_contents.resize(pages);
        std::unordered_map<uint64_t, int> users;
        for (size_t i = 0; i < pages; ++i) {
            Reach(i);
            for (uint64_t id : m_reached[i])
                ++users[id];
        }
        // Streams stored filtered go into a part as stored, so their bytes are known, not
        // weighed. Of the rest, small objects (dictionaries, packed and compressed in a part)
        // count as one each, whatever the digits of their numbers in the source; larger ones by
        // their size.
        std::unordered_map<uint64_t, int64_t> stored;
        if (ContentStoredRaw()) {
            for (const auto& [id, count] : users) {
                QOH object = source.pdf->getObjectByID(static_cast<int>(id >> 16),
                                                       static_cast<int>(id & 0xffff));
                stored[id] = object.isStream() ? StoredLength(object) : 0;
            }
        } else {
            // Reading every content stream's dictionary would cost a third of what all the
            // writes of a proposal do; the source's own framing of a stream (its number, "obj",
            // "stream", ...) differs from the part's by the digits of its number only.
            for (const auto& contents : m_contents)
                for (const QOH& part : contents)
                    stored[Key(part.getObjGen())] = 0;
            for (const auto& [id, count] : users) {
                const auto extent = static_cast<int64_t>(Extent(id));
                if (stored.count(id) || extent > kSmall)
                    stored[id] = std::max<int64_t>(
                        0, extent - kStreamFraming -
                               static_cast<int64_t>(std::to_string(id >> 16).size()));
            }
        }
        const auto small = [this](uint64_t id) { return std::max(1.0, Extent(id) / kSmall); };
        std::vector<double> weight(pages, 0.0), exact(pages, 0.0), rest(pages, 0.0);
        std::vector<double> objects(pages, 1.0);
        std::vector<char> outlined(pages, 0);
        for (size_t i = 0; i < pages; ++i) {
            const uint64_t page = Key(source.pages[i].getObjGen());
            weight[i] = Extent(page) + kPerObject;
            rest[i] = small(page);
            for (uint64_t id : m_reached[i]) {
                weight[i] += (Extent(id) + kPerObject) / users[id];
                objects[i] += 1.0 / users[id];
                if (stored[id] > 0)
                    exact[i] += static_cast<double>(stored[id] + kStreamFraming) / users[id];
                else
                    rest[i] += small(id) / users[id];
            }
        }
        // A part keeps the bookmarks that lead into it.
        if (withBookmarks && pages > 0) {
            const engine::COutlineIndex& outline = source.Outline();
            for (int index : outline.NodesForRange(0, static_cast<int>(pages) - 1)) {
                const engine::OutlineNode& node = outline.Node(index);
                const int at = node.page >= 0 ? node.page : node.around;
                if (at >= 0 && static_cast<size_t>(at) < pages) {
                    outlined[static_cast<size_t>(at)] = 1;
                    const uint64_t id = Key(node.id);
                    weight[static_cast<size_t>(at)] += Extent(id) + kPerObject;
                    rest[static_cast<size_t>(at)] += small(id);
                    objects[static_cast<size_t>(at)] += 1;
                }
            }
        }
        m_prefix.assign(pages + 1, 0.0);
        m_exact.assign(pages + 1, 0.0);
        m_rest.assign(pages + 1, 0.0);
        m_objects.assign(pages + 1, 0.0);
        for (size_t i = 0; i < pages; ++i) {
            m_objects[i + 1] = m_objects[i] + objects[i];
            m_prefix[i + 1] = m_prefix[i] + weight[i];
            m_exact[i + 1] = m_exact[i] + exact[i];
            m_rest[i + 1] = m_rest[i] + rest[i];
        }
        // The actions of a page (on opening, on closing) and of an annotation jump as well, or
        // open another file whose name a part written elsewhere gives from its own folder.
        for (size_t i = 0; i < pages && !m_jumps; ++i) {
            m_jumps = source.pages[i].hasKey("/AA");
            if (!m_annotated[i])
                continue;
            QOH annots = source.pages[i].getKey("/Annots");
            if (annots.isArray())
                for (QOH& annot : annots.getArrayAsVector())
                    if (annot.isDictionary() &&
                        (annot.hasKey("/Dest") || annot.hasKey("/A") || annot.hasKey("/AA")))
                        m_jumps = true;
        }
        // Pages nothing leads to but the page tree, that lead nowhere themselves and that no
        // part adds anything for (bookmarks, named destinations, form fields, tags, threads).
        QOH root = source.pdf->getRoot();
        QOH names = root.getKey("/Names");
        if (!m_jumps && !root.hasKey("/StructTreeRoot") && !root.hasKey("/AcroForm") &&
            !root.hasKey("/Dests") && !(names.isDictionary() && names.hasKey("/Dests"))) {
            m_loose.assign(pages + 1, 1);
            m_loose[0] = 0;
            for (size_t i = 0; i < pages; ++i)
                if (m_annotated[i] || m_beaded[i])
                    m_loose[i + 1] = 0;
            if (withBookmarks)
                for (size_t i = 0; i < pages; ++i)
                    if (outlined[i])
                        m_loose[i + 1] = 0;
        }
    }

    // Per page (1-based), whether a part may take it on or give it up without being built again.
    const std::vector<char>& Loose() const { return m_loose; }

    // Whether a page, or an annotation on one, jumps somewhere or acts: only those differ
    // with the names of the parts around them, and with the folder they are written to.
    bool Jumps() const { return m_jumps; }

    // The weight of pages first..last (1-based).
    double Of(int first, int last) const { return Span(m_prefix, first, last); }
    // Of that, the bytes their filtered streams are written in, and the rest. A part numbers
    // its objects from 1; the digits of those numbers (written in object headers and
    // references, about three quarters of a byte each once compressed) are counted with the
    // known bytes, as they grow faster than the part once the numbers pass 9999.
    double Exact(int first, int last) const {
        constexpr double kDigitBytes = 0.75;
        return Span(m_exact, first, last) +
               kDigitBytes * static_cast<double>(Digits(Span(m_objects, first, last)));
    }
    double Rest(int first, int last) const { return Span(m_rest, first, last); }

    // Bytes page `page` surely adds to the part of pages first..page - 1 when the part is
    // written with a classic cross-reference table. Its content streams and the images its
    // content names, unless a page of the part refers to them as well, are written in objects
    // of their own (filtered data as it is stored), which PDF frames with at least
    // "1 0 obj<</Length 1>>stream", "endstream" and "endobj"; every object is written whole,
    // with a line of 20 bytes in the table: the page's own object (at least
    // "1 0 obj<<>>endobj") and its reference in the page tree (" 1 0 R") as well.
    int64_t SureBytes(int first, int page) const {
        std::unordered_set<uint64_t> held;
        for (int p = first; p < page; ++p) {
            const auto& reached = m_reached[static_cast<size_t>(p) - 1];
            held.insert(reached.begin(), reached.end());
        }
        QOH dict = m_source.pages[static_cast<size_t>(page) - 1];
        int64_t bytes = 0;
        int64_t objects = 0;
        std::string content;
        for (QOH part : m_contents[static_cast<size_t>(page) - 1]) {
            if (!part.isStream())
                continue;
            if (held.insert(Key(part.getObjGen())).second) {
                bytes += StoredLength(part) + kStreamFraming;
                ++objects;
            }
            auto data = part.getStreamData(qpdf_dl_generalized);
            content.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        }
        QOH xobjects =
            QPDFPageObjectHelper(dict).getAttribute("/Resources", false).getKey("/XObject");
        if (xobjects.isDictionary())
            for (const std::string& key : xobjects.getKeys()) {
                QOH xobject = xobjects.getKey(key);
                if (xobject.isStream() && xobject.isIndirect() && NamesResource(content, key) &&
                    held.insert(Key(xobject.getObjGen())).second) {
                    bytes += StoredLength(xobject) + kStreamFraming;
                    ++objects;
                }
            }
        return bytes + kPageFraming + kXrefLine * (objects + 1);
    }

  private:
    // The digits of the numbers 1..n.
    static int64_t Digits(double n) {
        const auto last = static_cast<int64_t>(n);
        int64_t total = 0;
        for (int64_t from = 1, digits = 1; from <= last; from *= 10, ++digits)
            total += (std::min(last, from * 10 - 1) - from + 1) * digits;
        return total;
    }
    static double Span(const std::vector<double>& prefix, int first, int last) {
        return prefix[static_cast<size_t>(last)] - prefix[static_cast<size_t>(first) - 1];
    }

    // What a part spends on an object beyond the object itself: its line in the part's
    // cross-reference table.
    static constexpr double kPerObject = 20;
    static constexpr int64_t kXrefLine = 20;
    static constexpr int64_t kStreamFraming = 43;
    static constexpr int64_t kPageFraming = 17 + 6;
    // Objects this small are read to find what they refer to; bigger ones are streams.
    static constexpr double kEnteredExtent = 4096;

    // Whether the first pages' content is stored without a filter: written compressed, its
    // bytes in a part are not its bytes in the source, and streams are then read to tell.
    bool ContentStoredRaw() const {
        for (size_t i = 0; i < m_contents.size() && i < 16; ++i)
            for (const QOH& part : m_contents[i])
                if (QOH(part).isStream() && StoredLength(part) == 0)
                    return true;
        return false;
    }

    // Bytes between an object's start and the next object's; objects in an object stream get
    // an even share of it.
    void ReadExtents(QPDF& pdf) {
        std::vector<std::pair<qpdf_offset_t, uint64_t>> starts;
        std::unordered_map<uint64_t, std::vector<uint64_t>> packed;
        for (const auto& [id, entry] : pdf.getXRefTable()) {
            if (entry.getType() == 1)
                starts.emplace_back(entry.getOffset(), Key(id));
            else if (entry.getType() == 2)
                packed[Key(QPDFObjGen(entry.getObjStreamNumber(), 0))].push_back(Key(id));
        }
        std::sort(starts.begin(), starts.end());
        for (size_t i = 0; i + 1 < starts.size(); ++i)
            m_extent[starts[i].second] = static_cast<double>(starts[i + 1].first - starts[i].first);
        for (const auto& [stream, members] : packed) {
            const double share = Extent(stream) / static_cast<double>(members.size());
            for (uint64_t id : members)
                m_extent[id] = share;
        }
    }
    double Extent(uint64_t id) const {
        auto it = m_extent.find(id);
        return it == m_extent.end() ? 0.0 : it->second;
    }

    // The objects page i refers to: through its dictionary, and through small objects it
    // refers to, two levels deep; content streams, other pages and the page tree are not
    // entered. What an indirect entry leads to is read once: pages mostly share their
    // resources, and reading them again for every page cost two fifths of the weighing.
    void Reach(size_t i) {
        std::vector<uint64_t>& found = m_reached[i];
        for (auto& [key, value] : m_source.pages[i].getDictAsMap()) {
            if (key == "/Parent")
                continue;
            if (key == "/Annots" || key == "/B")
                (key == "/B" ? m_beaded : m_annotated)[i] = !value.isNull();
            if (key == "/Contents") {
                std::vector<QOH> parts = value.isIndirect() ? std::vector<QOH>{value}
                                         : value.isArray()  ? value.getArrayAsVector()
                                                            : std::vector<QOH>{};
                for (QOH& part : parts)
                    if (part.isIndirect()) {
                        m_contents[i].push_back(part);
                        found.push_back(Key(part.getObjGen()));
                    }
                continue;
            }
            if (!value.isIndirect()) {
                Below(value, found);
                continue;
            }
            const uint64_t id = Key(value.getObjGen());
            auto below = m_below.find(id);
            if (below == m_below.end()) {
                std::vector<uint64_t> ids;
                Below(value, ids);
                below = m_below.emplace(id, std::move(ids)).first;
            }
            for (uint64_t reached : below->second)
                if (std::find(found.begin(), found.end(), reached) == found.end())
                    found.push_back(reached);
        }
    }
    // Adds to `found` the objects `start` (an entry of a page) leads to.
    void Below(QOH start, std::vector<uint64_t>& found) {
        std::vector<std::pair<QOH, int>> stack{{start, 0}};
        while (!stack.empty()) {
            auto [value, depth] = stack.back();
            stack.pop_back();
            if (value.isIndirect()) {
                const uint64_t id = Key(value.getObjGen());
                if (m_pageOf.count(id) || std::find(found.begin(), found.end(), id) != found.end())
                    continue;
                found.push_back(id);
                if (++depth > 2 || Extent(id) > kEnteredExtent)
                    continue;
            }
            if (value.isDictionary())
                for (auto& [key, item] : value.getDictAsMap())
                    stack.emplace_back(item, depth);
            else if (value.isArray())
                for (QOH& item : value.getArrayAsVector())
                    stack.emplace_back(item, depth);
        }
    }

    engine::ParsedSource& m_source;
    std::unordered_map<uint64_t, int> m_pageOf;
    std::unordered_map<uint64_t, double> m_extent;
    std::vector<std::vector<uint64_t>> m_reached;
    std::unordered_map<uint64_t, std::vector<uint64_t>> m_below; // by the entry's object
    std::vector<std::vector<QOH>> m_contents;
    std::vector<double> m_prefix, m_exact, m_rest, m_objects;
    std::vector<char> m_loose;
    std::vector<char> m_annotated, m_beaded; // by page: whether it has annotations, beads
    bool m_jumps = false;
};

// Whether a PDF file's last cross-reference section is a classic table (20 bytes an object,
// every object written whole) rather than a cross-reference stream beside object streams.
bool HasClassicXref(std::string_view pdf) {
    const size_t start = pdf.rfind("startxref");
    if (start == std::string_view::npos)
        return false;
    size_t at = start + 9;
    while (at < pdf.size() && std::isspace(static_cast<unsigned char>(pdf[at])))
        ++at;
    size_t offset = 0;
    while (at < pdf.size() && std::isdigit(static_cast<unsigned char>(pdf[at])))
        offset = offset * 10 + static_cast<size_t>(pdf[at++] - '0');
    return offset < pdf.size() && pdf.substr(offset, 4) == "xref" &&
           pdf.find("/XRefStm", offset) == std::string_view::npos;
}

// Writes parts of one source exactly as a split does (the same automation calls, so the same
// part documents and the same writer), into memory, and tells their sizes.
class PartMeasurer {
  public:
    PartMeasurer(const std::string& source, bool keepBookmarks)
        : m_automation(m_trace), m_path(source), m_keepBookmarks(keepBookmarks) {
        m_app = m_automation.Create<engine::App>();
        m_view = m_automation.Create<engine::AVDoc>();
        if (!m_app || !m_view || !m_view->Open(source, ""))
            return;
        m_source = m_view->GetPDDoc();
        if (m_source)
            m_pages = m_source->GetNumPages();
    }
    ~PartMeasurer() {
        Drop();
        if (m_view)
            m_view->Close(true);
        // Exit, not only closing the documents: the session then lets go of the source as a
        // split's end does, which the command-line program leaves to the process's end
        // instead of taking apart (0.19 G instructions on the bench's 20,000 pages).
        if (m_app)
            m_app->Exit();
    }
    PartMeasurer(const PartMeasurer&) = delete;
    PartMeasurer& operator=(const PartMeasurer&) = delete;

    int Pages() const { return m_pages; }
    // The source as the engine parsed it; null when it could not be opened.
    std::shared_ptr<engine::ParsedSource> Source() const {
        return m_source ? engine::CQpdfAutomation::SourceOf(*m_source) : nullptr;
    }

    // Pages (1-based) that nothing leads to but the page tree and that lead nowhere
    // themselves (see PageWeights::Loose): a part gains or loses them by the same steps a split
    // would take to build it.
    void SetLoose(std::vector<char> loose) { m_loose = std::move(loose); }

    // The bytes of pages first..last (1-based) as one part of a job whose parts are `plan`
    // (links to a page of another part name its file); nothing when it cannot be written.
    // The part last written is kept: when it starts on the same page and the pages between
    // its end and this one are loose, it takes them on or gives them up instead of being
    // copied again, which is most of what a write costs.
    std::optional<int64_t> Measure(int first, int last,
                                   const std::vector<engine::PlannedPart>& plan) {
        m_app->PlanParts(m_path, plan);
        bool written = false;
        if (m_part && plan.empty() && first == m_first && Loose(last)) {
            try {
                written = Resize(last) && Count();
            } catch (const std::exception&) {
                written = false;
            }
        }
        if (!written) {
            Drop();
            m_part = m_automation.Create<engine::PDDoc>();
            written =
                m_part && m_part->Create() &&
                m_part->InsertPages(-1, *m_source, first - 1, last - first + 1, m_keepBookmarks) &&
                Count();
            m_first = first;
            m_last = last;
            if (!written || !plan.empty())
                Drop();
        }
        if (!written)
            return std::nullopt;
        return static_cast<int64_t>(m_size);
    }
    // Whether the last part written lists its objects in a classic cross-reference table.
    bool Classic() const { return m_classic; }

  private:
    // Counted, not made: the stored data is not copied and no identifier computed (on the
    // bench's file a tenth of what the proposal's writes cost). A part the engine's own
    // writer cannot count is written the way a split would then write it.
    bool Count() {
        if (engine::CQpdfAutomation::CountPartBytes(*m_part, m_size, m_classic))
            return true;
        if (!engine::CQpdfAutomation::SavePartToMemory(*m_part, m_bytes))
            return false;
        m_size = m_bytes.size();
        m_classic = HasClassicXref(m_bytes);
        return true;
    }
    bool Loose(int last) const {
        for (int p = std::min(last, m_last) + 1; p <= std::max(last, m_last); ++p)
            if (static_cast<size_t>(p) >= m_loose.size() || !m_loose[static_cast<size_t>(p)])
                return false;
        return true;
    }
    // Pages first..m_last become pages first..last.
    bool Resize(int last) {
        const int had = m_last;
        m_last = -1; // unknown should a step fail
        if (last > had &&
            !m_part->InsertPages(had - m_first, *m_source, had, last - had, m_keepBookmarks))
            return false;
        if (last < had && !m_part->DeletePages(last - m_first + 1, had - m_first))
            return false;
        m_last = last;
        return true;
    }
    void Drop() {
        if (m_part)
            m_part->Close();
        m_part.reset();
    }

    core::NullTrace m_trace;
    engine::CQpdfAutomation m_automation;
    std::string m_path;
    bool m_keepBookmarks;
    std::shared_ptr<engine::App> m_app;
    std::shared_ptr<engine::AVDoc> m_view;
    std::shared_ptr<engine::PDDoc> m_source;
    std::shared_ptr<engine::PDDoc> m_part; // the part last written, pages m_first..m_last
    int m_first = 0, m_last = 0;
    std::vector<char> m_loose;
    std::string m_bytes;
    size_t m_size = 0;
    int m_pages = 0;
    bool m_classic = false;
};

// A part's size as the bytes of its filtered content streams, known from the source, plus R,
// what the rest of its pages comes to once written (dictionaries packed and compressed, the
// cross-reference stream). R grows with the rest's weight, but not evenly: object numbers gain
// digits, compression varies. So R is taken from the measured part nearest in weight, the
// same part's writes first (between two of them when they enclose the guess), and only the
// difference is predicted from how R grows with weight; parts of one proposal all come near
// the limit, so the last part measured is near the next one.
class SizeModel {
  public:
    void Observe(int first, double exact, double rest, int64_t bytes) {
        const Point point{first, rest, static_cast<double>(bytes) - exact};
        for (const Point& p : m_points)
            if (p.first == first && std::abs(p.rest - rest) > 0.1 * std::max(p.rest, rest)) {
                const double slope = (point.r - p.r) / (rest - p.rest);
                if (slope > 1 && slope < 4 * kSmall)
                    m_slope = slope;
            }
        m_points.push_back(point);
    }

    double Predict(int first, double exact, double rest) const {
        const Point* below = nullptr;
        const Point* above = nullptr;
        const Point* near = nullptr;
        for (const Point& p : m_points) {
            if (p.first == first) {
                if (p.rest <= rest && (!below || p.rest > below->rest))
                    below = &p;
                if (p.rest >= rest && (!above || p.rest < above->rest))
                    above = &p;
            }
            if (!near || std::abs(p.rest - rest) <= std::abs(near->rest - rest))
                near = &p;
        }
        if (below && above && above->rest > below->rest)
            return exact + below->r +
                   (rest - below->rest) * (above->r - below->r) / (above->rest - below->rest);
        if (below || above)
            near = below ? below : above;
        if (!near)
            return exact + m_slope * rest;
        return exact + near->r + m_slope * (rest - near->rest);
    }

  private:
    struct Point {
        int first;
        double rest;
        double r; // measured bytes less the exact ones
    };
    std::vector<Point> m_points;
    // Bytes a small object takes in a part, compressed, with its entry in the cross-reference
    // stream, until measured.
    double m_slope = 60;
};

// Finds where each part ends: a page with which the part, as written, fits while one page
// more makes it too big. A part written with object streams is compressed as a whole, and its
// size does not only grow with its pages, so both sides of the end are written. In a classic
// table every object is written whole, and adding page p adds at least the sure bytes of p,
// so one write may settle the end: a part that fits, and would not fit plus the sure bytes of
// the next page, ends there; a part that does not fit, but would without the sure bytes of its
// last page, ends just before. Each write is aimed from the predicted size.
class SizeSearch {
  public:
    SizeSearch(engine::ParsedSource& source, PartMeasurer& measurer, const SizeLimit& limit)
        : m_weights(source, limit.keepBookmarks), m_measurer(measurer), m_limit(limit.maxBytes),
          m_pages(static_cast<int>(source.pages.size())), m_names(limit.partNames),
          m_folder(PartFolder(limit.folder)) {
        m_measurer.SetLoose(m_weights.Loose());
    }

    // Whether parts must be measured with the names of the parts around them.
    bool Planned() const { return m_weights.Jumps() && m_names; }
    const std::string& Folder() const { return m_folder; }

    // The parts of a job: `settled`, then `part`, then the pages left as one part, named as
    // the job names them. Parts whose pages have no jumps do not need it.
    std::vector<engine::PlannedPart> Plan(const std::vector<core::PageRange>& settled,
                                          core::PageRange part) const {
        if (!Planned())
            return {};
        std::vector<core::PageRange> ranges = settled;
        ranges.push_back(part);
        if (part.last < m_pages)
            ranges.push_back({part.last + 1, m_pages});
        const std::vector<std::string> names = m_names(ranges);
        std::vector<engine::PlannedPart> plan;
        for (size_t i = 0; i < ranges.size() && i < names.size(); ++i)
            plan.push_back({ranges[i].first, ranges[i].last, names[i], m_folder});
        return plan;
    }

    struct Part {
        int last = 0;
        std::optional<int64_t> bytes; // as measured, when it was
        bool failed = false;          // a write failed
    };

    // The longest part from `first` on, to page `most` at the latest, that fits after the
    // parts `settled`, or `first` alone when nothing does. Pages after the part are taken as
    // one part while it is measured.
    Part LongestFrom(int first, const std::vector<core::PageRange>& settled, int most) {
        int lo = first - 1; // pages first..lo are known to fit (nothing known yet)
        int hi = most;      // and first..hi + 1 known not to (or not to be taken)
        std::optional<int64_t> loBytes, hiBytes;
        int widthLast = INT_MAX, widthEarlier = INT_MAX;
        int fitsInRow = 0, missesInRow = 0, lastStep = 1;
        // Before the first part of many pages, two small writes from its first page teach the
        // model how bytes grow with weight, so the first write of the part itself lands near
        // its end instead of where weights alone put it (on a 20,000-page file that saves two
        // writes of a part's size). They weigh a sixteenth and a quarter of the limit: bytes
        // grow less evenly with pages than the weights say, and the growth over a sixteenth
        // to an eighth put the first write of a 3 MiB part on the bench's file 25 pages past its
        // end and the next one 3 pages past (11% more bytes counted for the proposal).
        std::vector<int> probes;
        if (!m_calibrated) {
            m_calibrated = true;
            const int n = PagesWeighing(first, static_cast<double>(m_limit) / 16);
            if (n >= 4 && first + 8 * n <= m_pages)
                probes = {first + n - 1, first + 4 * n - 1};
        }
        for (;;) {
            if (hi < first) // the first page alone is too big
                return {first, hiBytes};
            if (lo == hi)
                return {lo, loBytes};
            if (loBytes && *loBytes + Sure(first, lo + 1) > m_limit)
                return {lo, loBytes}; // the next page surely does not fit
            // (Not with jumps between parts: without its last page, a part's jumps to it name
            // a sibling's file, and the part may grow.)
            if (hiBytes && hi >= first && !Planned() && *hiBytes - Sure(first, hi + 1) <= m_limit)
                return {hi, std::nullopt}; // the part without its last page surely fits
            const int width = hi - lo;
            int guess = Guess(first, lo, hi);
            // Guesses alone can creep when the weights mislead. Two writes in a row that fit
            // (or that did not) make the next step at least twice the last; once the answer is
            // enclosed, two writes that did not halve the gap make the next one halve it. So
            // a part never takes more than a few times the logarithm of its pages in writes.
            // The calibrating writes come first, while they are short of the guess.
            if (!probes.empty() && probes.front() > lo && probes.front() < hi &&
                probes.front() < guess) {
                guess = probes.front();
            } else if (loBytes && hiBytes) {
                probes.clear();
                if (width > widthEarlier / 2)
                    guess = lo + (width + 1) / 2;
            } else if (fitsInRow >= 2) {
                probes.clear();
                guess = std::clamp(std::max(guess, lo + 2 * lastStep), lo + 1, hi);
            } else if (missesInRow >= 2) {
                guess = std::clamp(std::min(guess, hi + 1 - 2 * lastStep), lo + 1, hi);
            }
            if (!probes.empty())
                probes.erase(probes.begin());
            widthEarlier = widthLast;
            widthLast = width;
            const auto bytes = m_measurer.Measure(first, guess, Plan(settled, {first, guess}));
            if (!bytes)
                return {guess, std::nullopt, true};
            m_model.Observe(first, m_weights.Exact(first, guess), m_weights.Rest(first, guess),
                            *bytes);
            if (*bytes <= m_limit) {
                CheckBound(first, guess + 1, hiBytes && guess == hi ? *hiBytes - *bytes : -1);
                lastStep = loBytes ? guess - lo : 1;
                ++fitsInRow;
                missesInRow = 0;
                lo = guess;
                loBytes = bytes;
            } else {
                CheckBound(first, guess, loBytes && guess == lo + 1 ? *bytes - *loBytes : -1);
                lastStep = hiBytes ? hi + 1 - guess : 1;
                ++missesInRow;
                fitsInRow = 0;
                hi = guess - 1;
                hiBytes = bytes;
            }
        }
    }

  private:
    // How many pages from `first` on weigh at least `weight` (all that are left when less).
    int PagesWeighing(int first, double weight) const {
        int a = first, b = m_pages;
        while (a < b) {
            const int mid = a + (b - a) / 2;
            if (m_weights.Of(first, mid) >= weight)
                b = mid;
            else
                a = mid + 1;
        }
        return a - first + 1;
    }

    // Where to write next, within (lo, hi]: the last page for which the predicted size still
    // fits (from the model, or between the sizes measured for this part), or the page after.
    int Guess(int first, int lo, int hi) const {
        auto predicted = [&](int last) {
            return m_model.Predict(first, m_weights.Exact(first, last),
                                   m_weights.Rest(first, last));
        };
        int a = lo + 1, b = hi; // the answer lies in [a, b]; a is taken when nothing fits
        while (a < b) {
            const int mid = a + (b - a + 1) / 2;
            if (predicted(mid) <= static_cast<double>(m_limit))
                a = mid;
            else
                b = mid - 1;
        }
        // In a classic table a write at a proves the end when the room left is less than what
        // page a + 1 surely adds; a write at a + 1 when the overshoot is. With the room
        // predicted to be more than half of what page a + 1 weighs, the overshoot is likelier
        // to be small.
        if (a < hi && predicted(a) <= static_cast<double>(m_limit) &&
            2 * (static_cast<double>(m_limit) - predicted(a)) > predicted(a + 1) - predicted(a))
            ++a;
        return a;
    }

    // What page `page` surely adds to the part first..page - 1; nothing once that has failed.
    // Only a part written with a classic cross-reference table grows by every object added to
    // it: one with object streams compresses its dictionaries together, and one page more
    // can make it smaller (a 6,482-page part of the bench's file is 13 bytes smaller than the
    // same part without its last page), so there the writes alone decide.
    int64_t Sure(int first, int page) {
        if (!m_boundsHold || page > m_pages || !m_measurer.Classic())
            return 0;
        try {
            return m_weights.SureBytes(first, page);
        } catch (const std::exception&) {
            return 0;
        }
    }

    // Should a page ever be measured to add less than its sure bytes (a writer that
    // recompresses, a /Length that lies), they are not trusted again: the writes alone then
    // decide. `grown` is what page `page` was measured to add, or negative when unknown.
    void CheckBound(int first, int page, int64_t grown) {
        if (grown >= 0 && grown < Sure(first, page))
            m_boundsHold = false;
    }

    PageWeights m_weights;
    PartMeasurer& m_measurer;
    int64_t m_limit;
    int m_pages;
    SizeModel m_model;
    bool m_boundsHold = true;
    bool m_calibrated = false;
    PartNamer m_names;
    std::string m_folder;
};

} // namespace

Proposal ProposeBySize(const std::string& path, const SizeLimit& limit, const Progress& progress) {
    Proposal proposal;
    PartMeasurer measurer(path, limit.keepBookmarks);
    const int pages = measurer.Pages();
    const auto source = measurer.Source();
    if (!source || pages < 1 || pages != static_cast<int>(source->pages.size())) {
        // The engine tells only that it failed; the other proposals' reader says why (a
        // password, no pages), at the cost of a second try only here.
        if (OpenQpdfSource(path, proposal.failure) || proposal.failure.empty())
            proposal.failure = UnreadableMessage(path);
        return proposal;
    }
    std::vector<core::PageRange> parts;
    std::map<int, int64_t> alone; // first page -> bytes, of pages too big on their own
    std::map<int, int> most;      // first page -> the last a part from it may take
    try {
        SizeSearch search(*source, measurer, limit);
        // Parts from `first` on, after those already settled; false when stopped or failed.
        const auto partsFrom = [&](int first) {
            while (first <= pages) {
                if (progress && !progress(first - 1, pages)) {
                    proposal.cancelled = true;
                    return false;
                }
                const auto cap = most.find(first);
                const SizeSearch::Part part =
                    search.LongestFrom(first, parts, cap == most.end() ? pages : cap->second);
                if (part.failed) {
                    proposal.failure = "Cannot write pages " + std::to_string(first) + "-" +
                                       std::to_string(part.last) + " of " + path + " as a part.";
                    return false;
                }
                if (part.bytes && *part.bytes > limit.maxBytes)
                    alone[first] = *part.bytes;
                parts.push_back({first, part.last});
                first = part.last + 1;
            }
            return true;
        };
        bool done = partsFrom(1);
        // Jumps to later pages were measured as to one part holding them all; with the parts
        // settled, each part is measured once more among its real siblings, and the parts from
        // the first that no longer fits on are found again, that one a page shorter at least:
        // found again as before, it would fit as before (among pages after it taken as one
        // part) and be too big again among its siblings.
        for (int round = 0; done && search.Planned() && round < 16; ++round) {
            const std::vector<std::string> names = limit.partNames(parts);
            std::vector<engine::PlannedPart> plan;
            for (size_t i = 0; i < parts.size() && i < names.size(); ++i)
                plan.push_back({parts[i].first, parts[i].last, names[i], search.Folder()});
            size_t over = parts.size();
            for (size_t i = 0; i < parts.size() && over == parts.size(); ++i) {
                const auto bytes = measurer.Measure(parts[i].first, parts[i].last, plan);
                // A page is a part whatever it takes; its note gives what it takes among its
                // real siblings.
                if (parts[i].first == parts[i].last) {
                    if (bytes && *bytes > limit.maxBytes)
                        alone[parts[i].first] = *bytes;
                    else
                        alone.erase(parts[i].first);
                    continue;
                }
                if (!bytes || *bytes > limit.maxBytes)
                    over = i;
            }
            if (over == parts.size())
                break;
            const int first = parts[over].first;
            most[first] = parts[over].last - 1;
            parts.resize(over);
            alone.erase(alone.lower_bound(first), alone.end());
            done = partsFrom(first);
        }
        if (!done) {
            Proposal stopped;
            stopped.failure = proposal.failure;
            stopped.cancelled = proposal.cancelled;
            return stopped;
        }
    } catch (const std::exception&) {
        proposal = {};
        proposal.failure = UnreadableMessage(path);
        return proposal;
    }
    proposal.ranges = parts;
    for (const auto& [page, bytes] : alone)
        proposal.notes.push_back("Page " + std::to_string(page) + " alone makes a part of " +
                                 Thousands(bytes) + " bytes, more than " +
                                 Thousands(limit.maxBytes) + ".");
    if (progress)
        progress(pages, pages);
    return proposal;
}

} // namespace propose
