#include "engine/Resources.h"

#include "engine/ParsedSource.h"
#include "engine/QpdfSession.h"

#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <iterator>
#include <set>
#include <string_view>
#include <vector>

namespace engine {

namespace {

// Whether a page's fonts and images cost less to carry whole than to trim: no images and a
// few fonts that embed nothing (each a handful of names, like the standard fonts). Finding
// out which of them a page uses means decoding its content, the dearest step of copying such
// a page; carrying an unused one costs its part about a hundred bytes.
bool CheapToCarry(QOH resources) {
    constexpr size_t kCheapFonts = 8;
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

// Pages that share one resource dictionary get one answer.
bool ResourcesCheapToCarry(QPDFPageObjectHelper& page, ObjGenMap<char>& known) {
    QOH resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return true;
    if (!resources.isIndirect())
        return CheapToCarry(resources);
    auto [it, added] = known.try_emplace(resources.getObjGen(), 0);
    if (added)
        it->second = CheapToCarry(resources);
    return it->second;
}

// A page's content streams, in drawing order.
std::vector<QOH> ContentStreams(QPDFPageObjectHelper& page) {
    std::vector<QOH> streams;
    QOH contents = page.getObjectHandle().getKey("/Contents");
    if (contents.isStream())
        streams.push_back(contents);
    else if (contents.isArray())
        for (QOH item : contents.aitems())
            if (item.isStream())
                streams.push_back(item);
    return streams;
}

// Appends the decoded data of `streams` to `content`, each streamed straight into it: qpdf's
// own concatenation of a page's contents buffers every stream a second time, which cost as
// much as the decoding. A newline after each keeps a name at the end of one from running into
// the next. False when one cannot be read.
bool AppendDecoded(const std::vector<QOH>& streams, std::string& content) {
    try {
        Pl_String sink("page content", nullptr, content);
        for (QOH stream : streams) {
            if (!stream.pipeStreamData(&sink, 0, qpdf_dl_generalized, false, false))
                return false;
            content += '\n';
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// A form XObject that names resources of its own: qpdf trims those along with the page's.
bool IsFormWithResources(QOH xobject) {
    return xobject.isStream() && xobject.getDict().getKey("/Subtype").isNameAndEquals("/Form") &&
           xobject.getDict().getKey("/Resources").isDictionary();
}

// Whether every font and image name of some resources occurs somewhere in the content that
// uses them: the page's content for its own, a form XObject's for the form's, down through
// the forms the page draws. Then nothing is left to trim and qpdf's full parse of the content
// can be skipped; a name that does not occur as written (it may be spelt with # escapes)
// leaves the decision to qpdf.
bool AllResourceNamesAppear(QPDFPageObjectHelper& page) {
    struct User {
        std::vector<QOH> streams;
        QOH resources;
    };
    std::vector<User> todo;
    todo.push_back({ContentStreams(page), page.getAttribute("/Resources", false)});
    ObjGenSet formsSeen;
    // Forms nest a few levels; a drawing of forms far deeper is qpdf's to sort out.
    constexpr size_t kMaxForms = 64;
    while (!todo.empty()) {
        User user = std::move(todo.back());
        todo.pop_back();
        if (!user.resources.isDictionary())
            continue;
        std::vector<std::string> names;
        for (const char* type : {"/Font", "/XObject"}) {
            QOH dict = user.resources.getKey(type);
            if (!dict.isDictionary())
                continue;
            for (const std::string& key : dict.getKeys()) {
                names.push_back(key);
                QOH xobject = dict.getKey(key);
                if (std::string_view(type) == "/XObject" && IsFormWithResources(xobject) &&
                    formsSeen.insert(xobject.getObjGen()).second) {
                    if (formsSeen.size() > kMaxForms)
                        return false;
                    todo.push_back({{xobject}, xobject.getDict().getKey("/Resources")});
                }
            }
        }
        if (names.empty())
            continue;
        std::string content;
        if (!AppendDecoded(user.streams, content))
            return false;
        if (!std::all_of(names.begin(), names.end(), [&](const std::string& name) {
                return content.find(name) != std::string::npos;
            }))
            return false;
    }
    return true;
}

// The content that names a page's resources: its own and that of the forms it draws that
// name no resources of their own, down through such forms. False when it cannot be read, or
// when something else may name them (a Type 3 font's glyphs without resources of their own).
bool ContentNamingPageResources(QPDFPageObjectHelper& page, QOH resources, std::string& content) {
    QOH fonts = resources.getKey("/Font");
    if (fonts.isDictionary())
        for (const std::string& key : fonts.getKeys()) {
            QOH font = fonts.getKey(key);
            if (font.isDictionary() && font.getKey("/Subtype").isNameAndEquals("/Type3") &&
                !font.getKey("/Resources").isDictionary())
                return false;
        }
    // A form without resources of its own draws with the page's, its own forms included.
    std::vector<QOH> streams = ContentStreams(page);
    const size_t own = streams.size();
    QOH xobjects = resources.getKey("/XObject");
    ObjGenSet formsSeen;
    if (xobjects.isDictionary())
        for (const std::string& key : xobjects.getKeys()) {
            QOH form = xobjects.getKey(key);
            if (form.isStream() && form.getDict().getKey("/Subtype").isNameAndEquals("/Form") &&
                !form.getDict().getKey("/Resources").isDictionary() &&
                formsSeen.insert(form.getObjGen()).second)
                streams.push_back(form);
        }
    constexpr size_t kMaxForms = 64;
    return streams.size() - own <= kMaxForms && AppendDecoded(streams, content);
}

// qpdf trims fonts and images; the other kinds of a shared resource dictionary (patterns and
// shadings with their images, graphics states with their soft masks, colour spaces, marked
// content properties naming layers) came whole with every page. An entry whose name the page's
// content never spells is left out of a copy of the page's resources; content that may spell
// a name with # escapes keeps them all.
void TrimOtherResources(QPDFPageObjectHelper& page) {
    static const char* const kKinds[] = {"/Pattern", "/Shading", "/ExtGState", "/ColorSpace",
                                         "/Properties"};
    QOH resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary() ||
        std::none_of(std::begin(kKinds), std::end(kKinds), [&](const char* kind) {
            QOH dict = resources.getKey(kind);
            return dict.isDictionary() && !dict.getKeys().empty();
        }))
        return;
    std::string content;
    if (!ContentNamingPageResources(page, resources, content) ||
        content.find('#') != std::string::npos)
        return;
    QOH trimmed = resources.shallowCopy();
    bool changed = false;
    for (const char* kind : kKinds) {
        QOH dict = resources.getKey(kind);
        if (!dict.isDictionary())
            continue;
        QOH kept = QOH::newDictionary();
        for (const std::string& name : dict.getKeys())
            if (content.find(name) != std::string::npos)
                kept.replaceKey(name, dict.getKey(name));
            else
                changed = true;
        trimmed.replaceKey(kind, kept);
    }
    if (changed)
        page.getObjectHandle().replaceKey("/Resources", trimmed);
}

} // namespace

void TrimPageResources(ParsedSource& source, size_t index, CQpdfSession& session) {
    if (!source.resourcesShared || source.resourcesTrimmed[index])
        return;
    source.resourcesTrimmed[index] = 1;
    try {
        QPDFPageObjectHelper page(source.pages[index]);
        if (!ResourcesCheapToCarry(page, source.cheapResources) && !AllResourceNamesAppear(page))
            page.removeUnreferencedResources();
        TrimOtherResources(page);
    } catch (const std::exception& e) {
        session.Warn(std::string("resources kept whole: ") + e.what());
    }
    session.Collect(*source.pdf);
}

} // namespace engine
