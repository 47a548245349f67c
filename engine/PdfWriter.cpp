#include "engine/PdfWriter.h"

#include "engine/Deflater.h"
#include "engine/ObjGenHash.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace engine {

// A 128-bit fingerprint of the bytes, eight at a time: the file identifier only has to tell
// files apart, and MD5 over every byte of every part was a measurable share of a split.
class Fingerprint {
  public:
    void Add(std::string_view bytes) {
        size_t i = 0;
        if (m_filled == 0) {
            for (; i + 8 <= bytes.size(); i += 8) {
                std::memcpy(&m_word, bytes.data() + i, 8);
                m_filled = 8;
                Mix();
            }
        }
        for (char c : bytes.substr(i)) {
            m_word |= uint64_t{static_cast<unsigned char>(c)} << (8 * m_filled);
            if (++m_filled == 8)
                Mix();
        }
    }
    std::string Hex() {
        m_word ^= m_length; // bytes that differ only in trailing zeros differ in length
        Mix();
        char text[33];
        for (int lane = 0; lane < 2; ++lane) {
            uint64_t v = Final(m_lane[lane]);
            for (int i = 15; i >= 0; --i, v >>= 4)
                text[lane * 16 + i] = "0123456789abcdef"[v & 15];
        }
        return std::string(text, 32);
    }

  private:
    void Mix() {
        m_lane[0] = (m_lane[0] ^ m_word) * 0x9E3779B97F4A7C15ull;
        m_lane[0] ^= m_lane[0] >> 29;
        m_lane[1] = (m_lane[1] + m_word) * 0xC2B2AE3D27D4EB4Full;
        m_lane[1] ^= m_lane[1] >> 31;
        m_length += m_filled;
        m_word = 0;
        m_filled = 0;
    }
    static uint64_t Final(uint64_t v) {
        v ^= v >> 33;
        v *= 0xFF51AFD7ED558CCDull;
        v ^= v >> 33;
        v *= 0xC4CEB9FE1A85EC53ull;
        return v ^ (v >> 33);
    }
    uint64_t m_lane[2] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull};
    uint64_t m_word = 0;
    uint64_t m_length = 0;
    int m_filled = 0;
};

struct PartEnd {
    struct Entry {
        int type;      // 1: at an offset, 2: inside an object stream
        size_t field2; // offset, or the object stream's number
        size_t field3; // index inside that stream
    };
    std::vector<Entry> entries;
    std::vector<std::pair<size_t, std::string>> packed; // (object number, its text)
    size_t objects = 0;                                 // numbered before the object streams
    size_t infoNumber = 0;
    size_t written = 0; // bytes out so far
    Fingerprint fingerprint;
};

namespace {

using QOH = QPDFObjectHandle;

// Characters a name holds as they are; any other is written #xx.
constexpr std::array<bool, 256> kRegular = [] {
    std::array<bool, 256> regular{};
    for (int c = 0x21; c <= 0x7e; ++c)
        regular[static_cast<size_t>(c)] =
            std::string_view("#()<>[]{}/%").find(static_cast<char>(c)) == std::string_view::npos;
    return regular;
}();

// qpdf refuses to read objects nested deeper than 500; one built deeper is no document's.
constexpr int kMaxDepth = 500;
constexpr size_t kPerStream = 100; // objects in one object stream
constexpr size_t kBlock = 64 * 1024;
constexpr size_t kMostKept = 4 << 20; // bytes of a source's kept texts

class WriteRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Writer {
    // The objects of one source document that grafted pages reach, by their number here.
    struct Foreign {
        QPDF* pdf;
        ObjGenMap<size_t> numbers;
        ObjGenMap<QPDFObjGen> grafted; // source page -> the part's page
        ForeignTexts* texts;
    };

  public:
    Writer(QPDF* pdf, const std::function<void(std::string_view)>& sink, const Grafts* grafts)
        : m_pdf(pdf), m_sink(sink), m_grafts(grafts) {
        if (!grafts)
            return;
        for (const auto& [pdf, texts] : grafts->texts)
            m_foreign.push_back(Foreign{pdf, {}, {}, texts});
        for (const auto& [part, source] : grafts->pages) {
            Foreign* f = ForeignOf(source.getOwningQPDF());
            if (!f)
                throw WriteRefused("a page grafted from a document the part does not name");
            f->grafted[source.getObjGen()] = part;
        }
    }

    void Write(const std::string& version) {
        Put("%PDF-");
        Put(version);
        // A comment of bytes above 127 tells transfer programs that the file is binary.
        Put("\n%\xbf\xf7\xa2\xfe\n");
        QOH trailer = m_pdf->getTrailer();
        QOH root = trailer.getKey("/Root");
        if (!root.isIndirect() || !root.isDictionary())
            throw WriteRefused("the document has no catalog");
        m_outputIntents = root.hasKey("/OutputIntents");
        Number(root);
        // The document information is the only other entry a file carries over; the rest of
        // a trailer describes the file it was read from.
        QOH info = trailer.getKey("/Info");
        const bool withInfo = info.isIndirect() && info.isDictionary();
        if (withInfo)
            Number(info);
        if (m_packed) {
            WritePacked(withInfo ? Number(info) : 0);
            return;
        }
        for (size_t i = 0; i < m_queue.size(); ++i) {
            m_offsets.push_back(m_written + m_buffer.size());
            Int(static_cast<long long>(i + 1));
            Put(" 0 obj\n");
            QOH object = m_queue[i];
            if (object.isStream())
                Stream(object);
            else
                Object(object);
            Put("\nendobj\n");
        }
        const size_t xref = m_written + m_buffer.size();
        Put("xref\n0 ");
        Int(static_cast<long long>(m_queue.size() + 1));
        Put("\n0000000000 65535 f \n");
        char entry[21];
        for (size_t offset : m_offsets) {
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
            Put(std::string_view(entry, 20));
        }
        Put("trailer << /Root 1 0 R /Size ");
        Int(static_cast<long long>(m_queue.size() + 1));
        if (withInfo) {
            Put(" /Info ");
            Int(static_cast<long long>(Number(info)));
            Put(" 0 R");
        }
        Flush();
        const std::string id = m_fingerprint.Hex();
        Put(" /ID [<" + id + "><" + id + ">] >>\nstartxref\n");
        Int(static_cast<long long>(xref));
        Put("\n%%EOF\n");
        Flush();
    }

    void Pack(bool packed) { m_packed = packed; }
    // Only counts the bytes: nothing reaches the sink and the identifier is not computed.
    void CountOnly() { m_countOnly = true; }
    size_t Written() const { return m_written + m_buffer.size(); }

  private:
    // Objects other than streams go into compressed object streams, found through a
    // compressed cross-reference stream: the dictionaries of outlines, links, form fields and
    // structure elements shrink to a fraction, which pays for what a part keeps beyond its
    // pages. Streams stay top-level objects, as they must.
    void WritePacked(size_t infoNumber) {
        PartEnd end;
        end.infoNumber = infoNumber;
        std::vector<PartEnd::Entry>& entries = end.entries;
        std::vector<std::pair<size_t, std::string>>& packed = end.packed;
        for (size_t i = 0; i < m_queue.size(); ++i) {
            QOH object = m_queue[i];
            if (object.isStream()) {
                entries.push_back({1, m_written + m_buffer.size(), 0});
                Int(static_cast<long long>(i + 1));
                Put(" 0 obj\n");
                Stream(object);
                Put("\nendobj\n");
                continue;
            }
            std::string text;
            m_capture = &text;
            Object(object);
            m_capture = nullptr;
            // Its object stream's number is known once every object is: numbered later.
            entries.push_back({2, packed.size() / kPerStream, packed.size() % kPerStream});
            packed.emplace_back(i + 1, std::move(text));
        }
        end.objects = m_queue.size(); // the queue grew as objects were met
        if (m_end) {
            Flush();
            end.written = m_written;
            end.fingerprint = m_fingerprint;
            *m_end = std::make_shared<PartEnd>(std::move(end));
            return;
        }
        WriteEnd(end);
    }

  public:
    void Defer(std::shared_ptr<PartEnd>* end) { m_end = end; }

    // Resumes a part whose bytes so far went out before.
    void Finish(PartEnd& end) {
        m_written = end.written;
        m_fingerprint = end.fingerprint;
        WriteEnd(end);
    }

  private:
    // The object streams and the cross-reference stream.
    void WriteEnd(PartEnd& end) {
        std::vector<PartEnd::Entry>& entries = end.entries;
        const std::vector<std::pair<size_t, std::string>>& packed = end.packed;
        const size_t objects = end.objects;
        const size_t infoNumber = end.infoNumber;
        const size_t groups = (packed.size() + kPerStream - 1) / kPerStream;
        for (PartEnd::Entry& e : entries)
            if (e.type == 2)
                e.field2 += objects + 1;
        for (size_t g = 0; g < groups; ++g) {
            std::string header, body;
            for (size_t k = g * kPerStream; k < std::min(packed.size(), (g + 1) * kPerStream);
                 ++k) {
                header += std::to_string(packed[k].first) + " " + std::to_string(body.size()) + " ";
                body += packed[k].second;
                body += '\n';
            }
            const size_t count = std::min(packed.size(), (g + 1) * kPerStream) - g * kPerStream;
            header.back() = '\n';
            const std::string data = header + body;
            const bool deflated = Deflate(data, true);
            entries.push_back({1, m_written + m_buffer.size(), 0});
            Int(static_cast<long long>(objects + 1 + g));
            Put(" 0 obj\n<< /Type /ObjStm /N ");
            Int(static_cast<long long>(count));
            Put(" /First ");
            Int(static_cast<long long>(header.size()));
            StreamEnd(deflated, data);
        }
        const size_t xrefNumber = objects + groups + 1;
        const size_t xref = m_written + m_buffer.size();
        entries.push_back({1, xref, 0});
        std::string table;
        auto field = [&](uint64_t value, int width) {
            for (int b = width - 1; b >= 0; --b)
                table.push_back(static_cast<char>((value >> (8 * b)) & 0xff));
        };
        // Fields as wide as their largest value: a part's table is then half its size.
        auto width = [](uint64_t most) {
            int bytes = 1;
            while (bytes < 8 && (most >> (8 * bytes)) != 0)
                ++bytes;
            return bytes;
        };
        uint64_t most2 = 0, most3 = 0;
        for (const PartEnd::Entry& e : entries)
            most2 = std::max<uint64_t>(most2, e.field2),
            most3 = std::max<uint64_t>(most3, e.field3);
        const int w2 = width(most2), w3 = width(most3);
        field(0, 1), field(0, w2), field(w3 > 1 ? 0xffff : 0, w3);
        for (const PartEnd::Entry& e : entries)
            field(static_cast<uint64_t>(e.type), 1), field(e.field2, w2), field(e.field3, w3);
        const bool deflated = Deflate(table, true);
        Flush();
        const std::string id = m_fingerprint.Hex();
        Int(static_cast<long long>(xrefNumber));
        Put(" 0 obj\n<< /Type /XRef /Size ");
        Int(static_cast<long long>(xrefNumber + 1));
        Put(" /W [1 ");
        Int(w2);
        Put(" ");
        Int(w3);
        Put("] /Root 1 0 R");
        if (infoNumber) {
            Put(" /Info ");
            Int(static_cast<long long>(infoNumber));
            Put(" 0 R");
        }
        Put(" /ID [<" + id + "><" + id + ">]");
        StreamEnd(deflated, table);
        Put("startxref\n");
        Int(static_cast<long long>(xref));
        Put("\n%%EOF\n");
        Flush();
    }

    // The number an indirect object gets in this file, queuing it to be written; 0 for an
    // object of a source that is written as null.
    size_t Number(QOH object) {
        QPDF* owner = object.getOwningQPDF();
        if (owner != m_pdf)
            return ForeignNumber(owner, object);
        const auto [it, added] = m_numbers.try_emplace(object.getObjGen(), m_queue.size() + 1);
        if (added)
            m_queue.push_back(object);
        return it->second;
    }

    size_t ForeignNumber(QPDF* owner, QOH object) {
        Foreign* f = ForeignOf(owner);
        if (!f)
            throw WriteRefused("an object of another document");
        const auto [it, added] = f->numbers.try_emplace(object.getObjGen(), 0);
        if (!added)
            return it->second;
        auto grafted = f->grafted.find(object.getObjGen());
        if (grafted != f->grafted.end()) {
            // Numbered as the part's page that stands for it.
            it->second = Number(m_pdf->getObjectByObjGen(grafted->second));
            return it->second;
        }
        QOH type = object.isDictionary() ? KeyOrNull(object, "/Type") : QOH();
        if (type.isNameAndEquals("/Page") || type.isNameAndEquals("/Pages"))
            return 0;
        it->second = m_queue.size() + 1;
        m_queue.push_back(object);
        return it->second;
    }

    void Value(QOH value, int depth) {
        if (value.isIndirect() && m_refs) {
            m_refs->emplace_back(m_capture->size(), value);
            return;
        }
        if (value.isIndirect()) {
            // A reference to a missing object is null; writing it so keeps the table dense.
            const size_t number = value.isNull() ? 0 : Number(value);
            if (number == 0) {
                Put("null");
                return;
            }
            Int(static_cast<long long>(number));
            Put(" 0 R");
            return;
        }
        Direct(value, depth);
    }

    // A top-level object other than a stream.
    void Object(QOH object) {
        QPDF* owner = object.getOwningQPDF();
        if (m_grafts && owner == m_pdf) {
            auto graft = m_grafts->pages.find(object.getObjGen());
            if (graft != m_grafts->pages.end()) {
                GraftedPage(object, graft->second);
                return;
            }
        }
        Foreign* f = owner == m_pdf ? nullptr : ForeignOf(owner);
        if (f)
            ForeignObject(*f->texts, object);
        else
            Direct(object, 0);
    }

    // A part takes pages from one source, or from a few.
    Foreign* ForeignOf(QPDF* owner) {
        for (Foreign& f : m_foreign)
            if (f.pdf == owner)
                return &f;
        return nullptr;
    }

    // A source object written before is written from its kept text, its references numbered
    // for this file as they come; one met the second time is kept.
    void ForeignObject(ForeignTexts& texts, QOH object) {
        const QPDFObjGen og = object.getObjGen();
        auto kept = texts.kept.find(og);
        if (kept == texts.kept.end()) {
            if (texts.size > kMostKept || texts.metOnce.insert(og).second) {
                Direct(object, 0);
                return;
            }
            ForeignTexts::Text text;
            CaptureInto(text, [&] { Direct(object, 0); });
            texts.size += text.bytes.size() + 16 * text.refs.size();
            texts.metOnce.erase(og);
            kept = texts.kept.emplace(og, std::move(text)).first;
        }
        Replay(kept->second);
    }

    // A kept text, its references numbered for this file as they come.
    void Replay(const ForeignTexts::Text& text) {
        size_t from = 0;
        for (const auto& [at, ref] : text.refs) {
            Put(std::string_view(text.bytes).substr(from, at - from));
            Value(ref, 1);
            from = at;
        }
        Put(std::string_view(text.bytes).substr(from));
    }

    // The part's own entries first in key order, then the source page's, as one dictionary.
    void GraftedPage(QOH own, QOH source) {
        std::map<std::string, QOH> entries = source.getDictAsMap();
        entries.erase("/Parent");
        for (auto& [key, value] : own.getDictAsMap())
            entries[key] = value;
        Put("<<");
        for (auto& [key, item] : entries) {
            if (item.isNull())
                continue;
            Put(" ");
            Name(key);
            Put(" ");
            Value(item, 1);
        }
        Put(" >>");
    }

    void Direct(QOH value, int depth) {
        if (depth > kMaxDepth)
            throw WriteRefused("objects nested too deeply");
        switch (value.getTypeCode()) {
        case ot_null:
            Put("null");
            break;
        case ot_boolean:
            Put(value.getBoolValue() ? "true" : "false");
            break;
        case ot_integer:
            Int(value.getIntValue());
            break;
        case ot_real:
            Put(value.getRealValue());
            break;
        case ot_string:
            // qpdf picks the literal or the hexadecimal form; unparse() would give an indirect
            // string as a reference to itself.
            Put(value.unparseResolved());
            break;
        case ot_name:
            Name(value.getName());
            break;
        case ot_array: {
            Put("[");
            bool first = true;
            for (QOH& item : value.getArrayAsVector()) {
                if (!first)
                    Put(" ");
                first = false;
                Value(item, depth + 1);
            }
            Put("]");
            break;
        }
        case ot_dictionary:
            Dictionary(value, depth, nullptr);
            break;
        default:
            throw WriteRefused("an object that belongs in no file");
        }
    }

    // `length` replaces /Length when given: a stream's own length, never a reference.
    // `deflated` adds the filter of data this writer compressed.
    void Dictionary(QOH dict, int depth, const size_t* length, bool deflated = false) {
        Put("<<");
        for (auto& [key, item] : dict.getDictAsMap()) {
            if ((length && key == "/Length") || (deflated && key == "/Filter"))
                continue;
            // A key whose value is null is no key at all.
            if (item.isNull())
                continue;
            Put(" ");
            Name(key);
            Put(" ");
            Value(item, depth + 1);
        }
        if (deflated)
            Put(" /Filter /FlateDecode");
        if (length) {
            Put(" /Length ");
            Int(static_cast<long long>(*length));
        }
        Put(" >>");
    }

    void Stream(QOH stream) {
        // While counting, a source's stream is read, compressed and spelled once: it is the
        // same every time, but for the references in its dictionary. (Metadata is compressed
        // or not as the part's output intents decide.)
        QPDF* owner = stream.getOwningQPDF();
        Foreign* f = m_countOnly && owner != m_pdf ? ForeignOf(owner) : nullptr;
        if (f) {
            auto kept = f->texts->streams.find(stream.getObjGen());
            if (kept != f->texts->streams.end()) {
                Replay(kept->second.dictionary);
                m_written += kept->second.rest;
                return;
            }
        }
        const std::shared_ptr<Buffer> data = stream.getRawStreamData();
        std::string_view bytes(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        QOH dict = stream.getDict();
        const bool deflated = Compressible(dict, bytes) && Deflate(bytes, false);
        if (deflated)
            bytes = m_deflated;
        const size_t size = bytes.size();
        if (f && f->texts->size <= kMostKept &&
            !dict.getKey("/Type").isNameAndEquals("/Metadata")) {
            ForeignTexts::Stream kept;
            CaptureInto(kept.dictionary, [&] { Dictionary(dict, 0, &size, deflated); });
            kept.rest = std::string_view("\nstream\n\nendstream").size() + size;
            Replay(kept.dictionary);
            m_written += kept.rest;
            f->texts->size += kept.dictionary.bytes.size() + 16 * kept.dictionary.refs.size() + 64;
            f->texts->streams.emplace(stream.getObjGen(), std::move(kept));
            return;
        }
        Dictionary(dict, 0, &size, deflated);
        Put("\nstream\n");
        Put(bytes);
        Put("\nendstream");
    }

    // The rest of a stream object the writer made itself, from its filter on: `data`, or what
    // Deflate left in m_deflated.
    void StreamEnd(bool deflated, std::string_view data) {
        if (deflated)
            Put(" /Filter /FlateDecode");
        Put(" /Length ");
        const std::string_view bytes = deflated ? std::string_view(m_deflated) : data;
        Int(static_cast<long long>(bytes.size()));
        Put(" >>\nstream\n");
        Put(bytes);
        Put("\nendstream\nendobj\n");
    }

    // Streams the source stored without a filter (page contents of some producers, fonts,
    // images) are compressed on the way out, as any PDF writer does; streams already
    // filtered are written as stored, so sources that compress pay nothing. XMP metadata is
    // compressed too: kept plain, a documentation PDF's 2-10 KB packet made its single-page
    // parts up to 1.24x (a blank page 3.8x) the size of qpdf's copy, which drops it. PDF/A
    // and PDF/X forbid a filter on metadata, so a packet that claims either (PDF/X also always
    // has output intents) keeps it plain.
    bool Compressible(QOH dict, std::string_view bytes) const {
        const size_t size = bytes.size();
        constexpr size_t kWorthIt = 64; // below this the filter's name costs what it saves
        if (size < kWorthIt)
            return false;
        QOH filter = dict.getKey("/Filter");
        if (!(filter.isNull() || (filter.isArray() && filter.getArrayNItems() == 0)))
            return false;
        if (!dict.getKey("/DecodeParms").isNull() || !dict.getKey("/F").isNull())
            return false;
        if (!dict.getKey("/Type").isNameAndEquals("/Metadata"))
            return true;
        // Declaring the namespaces claims nothing (TeX's packages declare them all).
        return !m_outputIntents && bytes.find("pdfaid:part") == std::string_view::npos &&
               bytes.find("pdfxid:GTS_PDFXVersion") == std::string_view::npos;
    }

    // True, with the data in m_deflated, when compressing saves more than the filter costs.
    // `own`: dictionary text this writer made (see CDeflater::Pack).
    bool Deflate(std::string_view bytes, bool own) {
        thread_local CDeflater deflater;
        if (!(own ? deflater.Pack(bytes, m_deflated) : CDeflater::Compress(bytes, m_deflated)))
            return false;
        return m_deflated.size() + 24 < bytes.size();
    }

    // qpdf holds names decoded; a file needs #xx for whatever is no regular character.
    // This is the spelling qpdf's own writer uses.
    void Name(const std::string& name) {
        if (name.empty() || name[0] != '/')
            throw WriteRefused("a name without its slash");
        // Nearly every name is regular characters only, and goes out whole: a name a character
        // at a time was a tenth of what counting a part's bytes cost.
        if (std::all_of(name.begin() + 1, name.end(),
                        [](char c) { return kRegular[static_cast<unsigned char>(c)]; })) {
            Put(name);
            return;
        }
        Put("/");
        bool loneHash = false;
        for (size_t i = 1; i < name.size(); ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            const bool afterLoneHash = std::exchange(loneHash, false);
            // qpdf's reader marks a # that is not followed by two hex digits with a NUL, and
            // reads such a # back the same way, unless what follows it is written as two hex
            // digits: "#" then "B7" would read back as the byte B7, so that B goes out as #42.
            if (c == 0) {
                PutChar('#');
                loneHash = true;
            } else if (!kRegular[c] || (afterLoneHash && std::isxdigit(c))) {
                const char hex[] = {'#', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
                Put(std::string_view(hex, 3));
            } else {
                PutChar(static_cast<char>(c));
            }
        }
    }

    void Int(long long value) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        Put(std::string_view(text, static_cast<size_t>(end - text)));
    }

    void PutChar(char c) {
        if (m_capture)
            m_capture->push_back(c);
        else if (m_countOnly)
            ++m_written;
        else
            m_buffer.push_back(c);
    }

    void Put(std::string_view bytes) {
        if (m_capture) {
            m_capture->append(bytes);
            return;
        }
        if (m_countOnly) {
            m_written += bytes.size();
            return;
        }
        if (m_buffer.size() + bytes.size() > kBlock)
            Flush();
        if (bytes.size() >= kBlock) {
            Emit(bytes);
            return;
        }
        m_buffer.append(bytes);
    }
    void Flush() {
        if (!m_buffer.empty())
            Emit(m_buffer);
        m_buffer.clear();
    }
    void Emit(std::string_view bytes) {
        m_fingerprint.Add(bytes);
        m_sink(bytes);
        m_written += bytes.size();
    }

    QPDF* m_pdf; // none while a part's end is finished
    const std::function<void(std::string_view)>& m_sink;
    const Grafts* m_grafts;
    std::vector<Foreign> m_foreign;
    ObjGenMap<size_t> m_numbers;
    std::vector<QOH> m_queue;
    std::vector<size_t> m_offsets;
    std::string m_buffer;
    size_t m_written = 0;
    Fingerprint m_fingerprint;
    std::string m_deflated;
    // What `write` puts out goes into `text`, with where it refers to other objects, instead of
    // the file; what was being captured before is captured again afterwards, also after a throw.
    template <class Write> void CaptureInto(ForeignTexts::Text& text, Write&& write) {
        struct Restore {
            Writer& writer;
            std::string* outer;
            ~Restore() {
                writer.m_capture = outer;
                writer.m_refs = nullptr;
            }
        } restore{*this, m_capture};
        m_capture = &text.bytes;
        m_refs = &text.refs;
        write();
    }

    std::string* m_capture = nullptr; // where an object goes while it is packed or kept
    std::vector<std::pair<size_t, QOH>>* m_refs = nullptr; // a kept text's references
    bool m_packed = false;
    bool m_countOnly = false;
    bool m_outputIntents = false;
    std::shared_ptr<PartEnd>* m_end = nullptr; // where a deferred end goes
};

std::pair<int, int> VersionNumbers(const std::string& version) {
    int major = -1, minor = -1;
    const char* end = version.data() + version.size();
    auto [dot, ec] = std::from_chars(version.data(), end, major);
    if (ec != std::errc() || dot == end || *dot != '.' ||
        std::from_chars(dot + 1, end, minor).ec != std::errc())
        return {-1, -1};
    return {major, minor};
}

} // namespace

void WriteClassicPdf(QPDF& pdf, const std::string& version,
                     const std::function<void(std::string_view)>& sink, bool objectStreams,
                     const Grafts* grafts, std::shared_ptr<PartEnd>* end) {
    if (end)
        end->reset();
    Writer writer(&pdf, sink, grafts);
    writer.Pack(objectStreams);
    writer.Defer(end);
    writer.Write(version.empty() ? "1.3" : version);
}

size_t CountClassicPdf(QPDF& pdf, const std::string& version, bool objectStreams,
                       const Grafts* grafts) {
    const std::function<void(std::string_view)> none = [](std::string_view) {};
    Writer writer(&pdf, none, grafts);
    writer.Pack(objectStreams);
    writer.CountOnly();
    writer.Write(version.empty() ? "1.3" : version);
    return writer.Written();
}

void FinishPart(PartEnd& end, const std::function<void(std::string_view)>& sink) {
    Writer writer(nullptr, sink, nullptr);
    writer.Finish(end);
}

std::string HigherPdfVersion(const std::string& a, const std::string& b) {
    return VersionNumbers(b) > VersionNumbers(a) ? b : a;
}

} // namespace engine
