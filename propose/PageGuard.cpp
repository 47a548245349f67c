#include "propose/PageGuard.h"

#include "engine/ObjGenHash.h"
#include "propose/Proposal.h"
#include "propose/QpdfSource.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace propose {

namespace {

using QOH = QPDFObjectHandle;

// Streams one page may lead the check to, and forms within forms it follows; past these the
// rest goes unchecked rather than the check itself taking long.
constexpr int kMaxVisits = 10000;
constexpr int kMaxFormDepth = 32;
// Parents a page's resources may be inherited from.
constexpr int kMaxInheritance = 64;

// Why the check stopped: the page would cost more than the limits allow.
struct TooMuch {
    std::string why;
};

// Keeps a stream's decoded bytes while the page's total stays within what it is allowed.
class CContentSink final : public Pipeline {
  public:
    CContentSink(unsigned long long& total, unsigned long long allowed, std::string& kept)
        : Pipeline("page content", nullptr), m_total(total), m_allowed(allowed), m_kept(kept) {}
    void write(const unsigned char* data, size_t length) override {
        m_total += length;
        if (m_total > m_allowed)
            throw TooMuch{};
        m_kept.append(reinterpret_cast<const char*>(data), length);
    }
    void finish() override {}

  private:
    unsigned long long& m_total;
    unsigned long long m_allowed;
    std::string& m_kept;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

bool IsDelimiter(char c) {
    return c != '\0' && std::strchr("()<>[]{}/%", c) != nullptr;
}

double Number(QOH value) {
    return value.isNumber() ? std::max(0.0, value.getNumericValue()) : 0.0;
}

double OwnPixels(QOH image) {
    QOH dict = image.getDict();
    return Number(dict.getKey("/Width")) * Number(dict.getKey("/Height"));
}

// An image's pixels with those of its soft mask, which is scaled as well.
double Pixels(QOH image) {
    QOH mask = image.getDict().getKey("/SMask");
    return OwnPixels(image) + (mask.isStream() ? OwnPixels(mask) : 0.0);
}

struct PageCheck {
    unsigned long long content = 0;
    unsigned long long stored = 0;  // bytes the streams read take in the file
    unsigned long long allowed = 0; // decoded bytes they may inflate to
    unsigned long long shown = 0;   // bytes of the strings the content shows
    double pixels = 0;
    int visits = 0;
    engine::ObjGenSet seen; // forms and appearances are read once

    // Reads `streams` as one content drawn with `resources`.
    void Read(const std::vector<QOH>& streams, QOH resources, int depth) {
        std::string text;
        for (QOH stream : streams) {
            if (!stream.isStream() || ++visits > kMaxVisits)
                continue;
            QOH length = stream.getDict().getKey("/Length");
            if (length.isInteger()) {
                constexpr auto kMost = static_cast<long long>(CPageGuard::kMaxContentBytes);
                const auto bytes = std::clamp<long long>(length.getIntValue(), 0, kMost);
                stored = std::min(stored + static_cast<unsigned long long>(bytes),
                                  CPageGuard::kMaxContentBytes);
            }
            allowed = std::clamp(stored * CPageGuard::kMaxInflation, CPageGuard::kLeastContentBytes,
                                 CPageGuard::kMaxContentBytes);
            CContentSink sink(content, allowed, text);
            stream.pipeStreamData(&sink, 0, qpdf_dl_generalized, true);
            if (content > allowed)
                throw TooMuch{};
            text += '\n';
        }
        Scan(text, resources.isDictionary() ? resources.getKey("/XObject") : QOH::newNull(), depth);
    }

    // Counts the pixels of every image the content draws, each time it draws it, inline
    // images included, and reads the forms it draws. A scanner of our own: qpdf's tokenizer
    // took a tenth of a text proposal's whole time for this (see README).
    void Scan(std::string_view s, QOH xobjects, int depth) {
        std::string_view lastName;
        size_t i = 0;
        const size_t n = s.size();
        while (i < n) {
            const char c = s[i];
            if (IsSpace(c) || c == '[' || c == ']' || c == '{' || c == '}' || c == '>') {
                ++i;
            } else if (c == '%') {
                while (i < n && s[i] != '\r' && s[i] != '\n')
                    ++i;
            } else if (c == '(') {
                const size_t start = i;
                for (int open = 0; i < n; ++i) {
                    if (s[i] == '\\')
                        ++i;
                    else if (s[i] == '(')
                        ++open;
                    else if (s[i] == ')' && --open == 0)
                        break;
                }
                ++i;
                Shown(i - start);
            } else if (c == '<') {
                if (i + 1 < n && s[i + 1] == '<') {
                    i += 2;
                } else {
                    const size_t start = i;
                    i = std::min(n, s.find('>', i)) + 1;
                    Shown((i - start) / 2);
                }
            } else {
                const size_t start = i++;
                while (i < n && !IsSpace(s[i]) && !IsDelimiter(s[i]))
                    ++i;
                const std::string_view token = s.substr(start, i - start);
                if (c == '/')
                    lastName = token;
                else if (token == "Do")
                    Draw(std::string(lastName), xobjects, depth);
                else if (token == "BI")
                    i = InlineImage(s, i);
            }
        }
    }

    // Reads an inline image's size from its dictionary and skips its data; returns where the
    // content goes on.
    size_t InlineImage(std::string_view s, size_t i) {
        double width = 0, height = 0;
        std::string_view key;
        const size_t n = s.size();
        while (i < n) {
            while (i < n && IsSpace(s[i]))
                ++i;
            const size_t start = i;
            if (i < n && s[i] == '/')
                ++i;
            while (i < n && !IsSpace(s[i]) && !IsDelimiter(s[i]))
                ++i;
            if (i == start) {
                ++i; // a delimiter no key or number begins with
                continue;
            }
            const std::string_view token = s.substr(start, i - start);
            if (token == "ID")
                break;
            if (token[0] == '/') {
                key = token;
            } else if (key == "/W" || key == "/Width" || key == "/H" || key == "/Height") {
                const double value =
                    std::max(0.0, std::strtod(std::string(token).c_str(), nullptr));
                (key[1] == 'W' ? width : height) = value;
                key = {};
            }
        }
        pixels += width * height;
        if (pixels > CPageGuard::kMaxPixels)
            throw TooMuch{"it draws images of more than " +
                          Thousands(static_cast<int64_t>(CPageGuard::kMaxPixels)) + " pixels"};
        // The data ends before an "EI" between white space.
        for (size_t at = s.find("EI", i); at != std::string_view::npos; at = s.find("EI", at + 1))
            if (IsSpace(s[at - 1]) && (at + 2 == n || IsSpace(s[at + 2])))
                return at + 2;
        return n;
    }

    // Text takes poppler memory by the glyph: a page of millions of them would take
    // gigabytes to read.
    void Shown(size_t bytes) {
        shown += bytes;
        if (shown > CPageGuard::kMaxShownBytes)
            throw TooMuch{"it shows more than " + Thousands(CPageGuard::kMaxShownBytes) +
                          " bytes of text"};
    }

    void Draw(const std::string& name, QOH xobjects, int depth) {
        if (name.empty() || !xobjects.isDictionary())
            return;
        QOH x = xobjects.getKey(name);
        if (!x.isStream())
            return;
        QOH subtype = x.getDict().getKey("/Subtype");
        if (subtype.isNameAndEquals("/Image"))
            pixels += Pixels(x);
        else if (subtype.isNameAndEquals("/Form"))
            Form(x, xobjects, depth);
        if (pixels > CPageGuard::kMaxPixels)
            throw TooMuch{"it draws images of more than " +
                          Thousands(static_cast<int64_t>(CPageGuard::kMaxPixels)) + " pixels"};
    }

    void Form(QOH form, QOH outerXObjects, int depth) {
        if (depth >= kMaxFormDepth || (form.isIndirect() && !seen.insert(form.getObjGen()).second))
            return;
        QOH resources = form.getDict().getKey("/Resources");
        if (resources.isDictionary())
            Read({form}, resources, depth + 1);
        else // an old form draws with the resources of what draws it
            Read({form}, QOH::newDictionary({{"/XObject", outerXObjects}}), depth + 1);
    }
};

QOH InheritedResources(QOH page) {
    QOH node = page;
    for (int i = 0; i < kMaxInheritance && node.isDictionary(); ++i) {
        QOH resources = node.getKey("/Resources");
        if (resources.isDictionary())
            return resources;
        node = node.getKey("/Parent");
    }
    return QOH::newNull();
}

} // namespace

CPageGuard::CPageGuard(const std::string& path, std::string& failure)
    : m_source(OpenQpdfSource(path, failure, false)) {}

CPageGuard::~CPageGuard() = default;

namespace {

// What a reader lays on a page without it being the page's own drawing: a link's frame, a
// note's or an attachment's icon, a pop-up, a player, and whatever would not be printed. A
// form field and printed markup (a stamp, a comment's text, ink) are on the sheet: a page
// holding only a filled field is no separator, and taking it for one would drop it from
// every part.
bool DrawnOnThePage(QOH annot) {
    if (!annot.isDictionary())
        return false;
    QOH subtype = annot.getKey("/Subtype");
    for (const char* icon : {"/Link", "/Popup", "/Text", "/FileAttachment", "/Sound", "/Movie",
                             "/Screen", "/3D", "/RichMedia"})
        if (subtype.isNameAndEquals(icon))
            return false;
    QOH flags = annot.getKey("/F");
    const long long f = flags.isInteger() ? flags.getIntValue() : 0;
    constexpr long long kHidden = 2, kPrint = 4, kNoView = 32;
    return (f & kPrint) && !(f & (kHidden | kNoView));
}

std::vector<QOH> Annotations(QOH page, bool onlyDrawn) {
    QOH annots = page.getKey("/Annots");
    std::vector<QOH> kept;
    for (QOH& annot : annots.isArray() ? annots.getArrayAsVector() : std::vector<QOH>{})
        if (!onlyDrawn || DrawnOnThePage(annot))
            kept.push_back(annot);
    return kept;
}

} // namespace

int CPageGuard::Pages() const {
    return m_source ? static_cast<int>(m_source->pages.size()) : 0;
}

std::string CPageGuard::Excess(int index, bool allAnnotations) const {
    if (!m_source || index < 0 || static_cast<size_t>(index) >= m_source->pages.size())
        return {};
    QOH page = m_source->pages[static_cast<size_t>(index)];
    PageCheck check;
    try {
        QOH contents = page.getKey("/Contents");
        check.Read(contents.isArray() ? contents.getArrayAsVector() : std::vector<QOH>{contents},
                   InheritedResources(page), 0);
        for (QOH& annot : Annotations(page, !allAnnotations)) {
            QOH appearance = annot.isDictionary() ? annot.getKey("/AP") : QOH::newNull();
            QOH normal = appearance.isDictionary() ? appearance.getKey("/N") : QOH::newNull();
            if (normal.isStream())
                check.Form(normal, QOH::newNull(), 0);
            else if (normal.isDictionary())
                for (auto& [state, stream] : normal.ditems())
                    if (stream.isStream())
                        check.Form(stream, QOH::newNull(), 0);
        }
    } catch (const TooMuch& excess) {
        if (!excess.why.empty())
            return excess.why;
        return "its content inflates to more than " +
               Thousands(static_cast<int64_t>(check.allowed)) + " bytes";
    } catch (const std::exception&) {
        // Damage qpdf finds is poppler's to deal with, as it would be without this check.
    }
    return {};
}

std::string CPageGuard::PageAsDrawn(int index) const {
    if (!m_source || index < 0 || static_cast<size_t>(index) >= m_source->pages.size())
        return {};
    QOH page = m_source->pages[static_cast<size_t>(index)];
    try {
        QOH annots = page.getKey("/Annots");
        if (!annots.isArray() || annots.getArrayNItems() == 0)
            return {};
        // Only what the content is drawn with goes along, and of an annotation what draws
        // it: its links would pull in other pages, and the rest of the document with them.
        QPDFPageObjectHelper helper(page);
        QOH alone = QOH::newDictionary();
        alone.replaceKey("/Type", QOH::newName("/Page"));
        for (const char* key : {"/Resources", "/MediaBox", "/CropBox", "/Rotate"})
            if (QOH value = helper.getAttribute(key, false); !value.isNull())
                alone.replaceKey(key, value);
        for (const char* key : {"/Contents", "/Group", "/UserUnit"})
            if (QOH value = page.getKey(key); !value.isNull())
                alone.replaceKey(key, value);
        std::vector<QOH> drawn;
        for (QOH& annot : Annotations(page, true)) {
            QOH copy = QOH::newDictionary();
            for (const char* key : {"/Type", "/Subtype", "/Rect", "/F", "/AP", "/AS", "/OC"})
                if (QOH value = annot.getKey(key); !value.isNull())
                    copy.replaceKey(key, value);
            drawn.push_back(copy);
        }
        if (!drawn.empty())
            alone.replaceKey("/Annots", QOH::newArray(drawn));
        QPDF part;
        part.emptyPDF();
        part.setSuppressWarnings(true);
        // Layers hidden by default stay hidden.
        QOH root = m_source->pdf->getRoot();
        if (QOH layers = root.getKey("/OCProperties"); layers.isDictionary()) {
            if (!layers.isIndirect())
                root.replaceKey("/OCProperties",
                                layers = m_source->pdf->makeIndirectObject(layers));
            part.getRoot().replaceKey("/OCProperties", part.copyForeignObject(layers));
        }
        QPDFPageDocumentHelper(part).addPage(
            part.copyForeignObject(m_source->pdf->makeIndirectObject(alone)), false);
        QPDFWriter writer(part);
        writer.setOutputMemory();
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace propose
