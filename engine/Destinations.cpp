#include "engine/Destinations.h"

#include "engine/ParsedSource.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

namespace engine {

CNamedDests::CNamedDests(QPDF& pdf, const ObjGenMap<int>& pageIndex, size_t pageCount) {
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
                // Some writers key the tree by names; viewers take those as the strings.
                QOH key = pairs.getArrayItem(i);
                if (key.isString() || key.isName())
                    Add(true, key.isString() ? key.getStringValue() : key.getName().substr(1),
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

Target CNamedDests::Resolve(QOH name) const {
    if (!name.isString() && !name.isName())
        return {};
    // A name belongs in /Dests and a string in the tree, but writers mix them up and viewers
    // follow them all the same: each is looked up in its own place first, then in the other.
    const std::string text = name.isString() ? name.getStringValue() : name.getName().substr(1);
    const auto inDests = m_names.find("/" + text);
    const auto inTree = m_strings.find(text);
    const bool dests = inDests != m_names.end();
    const bool tree = inTree != m_strings.end();
    if (name.isString() ? tree : !dests && tree)
        return inTree->second;
    return dests ? inDests->second : Target{};
}

std::pair<std::vector<CNamedDests::Entry>::const_iterator,
          std::vector<CNamedDests::Entry>::const_iterator>
CNamedDests::InRange(int first, int last) const {
    auto from = std::lower_bound(m_byPage.begin(), m_byPage.end(), first,
                                 [](const Entry& e, int page) { return e.page < page; });
    auto to = std::upper_bound(from, m_byPage.end(), last,
                               [](int page, const Entry& e) { return page < e.page; });
    return {from, to};
}

void CNamedDests::Add(bool isString, const std::string& key, const Target& target) {
    if (target.page < 0)
        return;
    auto& map = isString ? m_strings : m_names;
    if (map.emplace(key, target).second)
        m_byPage.push_back({target.page, isString, key, target.dest});
}

CPartDestinations::Pending CPartDestinations::Prepare(QPDF& part, ParsedSource& source,
                                                      int32_t firstPage,
                                                      const std::vector<QOH>& added) const {
    Pending pending;
    const int last = firstPage + static_cast<int>(added.size()) - 1;
    auto [from, to] = source.Named().InRange(firstPage, last);
    for (auto it = from; it != to; ++it)
        (it->isString ? pending.strings : pending.names)[it->key] =
            CopiedDest(part, added[static_cast<size_t>(it->page - firstPage)], it->dest);
    return pending;
}

bool CPartDestinations::Carried(QOH name, const Pending& pending) const {
    if (name.isName())
        return m_nameDests.count(name.getName()) || pending.names.count(name.getName());
    if (name.isString())
        return m_stringDests.count(name.getStringValue()) ||
               pending.strings.count(name.getStringValue());
    return false;
}

// Whether a jump of a copied annotation still leads somewhere in this document, pointing it
// at the copied page where the copy left a null (a page copied after the link's own).
bool CPartDestinations::Relink(QPDF& part, Jump jump, std::optional<Jump> sourceJump,
                               ParsedSource& source, int32_t firstPage,
                               const std::vector<QOH>& added, const Pending& pending) const {
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
    return page.isDictionary() && page.isIndirect() && page.getOwningQPDF() == &part;
}

namespace {

// A remote jump to `page` (0-based, of the source) in the sibling part that holds it, or an
// uninitialized handle. The sibling is named by its file name alone: the parts of a job
// share their folder, and a relative name keeps them working together wherever they go.
QOH RemoteJump(QOH namedDest, QOH sourceArray, int page,
               const CPartDestinations::Siblings& siblings) {
    if (page < 0 || static_cast<size_t>(page) >= siblings.owners.size())
        return QOH();
    const int owner = siblings.owners[static_cast<size_t>(page)];
    if (owner < 0)
        return QOH();
    const PlannedPart& sibling = siblings.parts[static_cast<size_t>(owner)];
    QOH dest;
    if (namedDest.isName() || namedDest.isString()) {
        // The sibling carries every named destination of its pages under the same key.
        dest = namedDest.shallowCopy();
    } else {
        dest = QOH::newArray();
        dest.appendItem(QOH::newInteger(page - (sibling.first - 1)));
        for (int i = 1; i < sourceArray.getArrayNItems(); ++i) {
            QOH item = sourceArray.getArrayItem(i);
            dest.appendItem(item.isIndirect() ? QOH::newNull() : item.shallowCopy());
        }
        if (dest.getArrayNItems() == 1)
            dest.appendItem(QOH::newName("/Fit"));
    }
    QOH file = QOH::newString(sibling.fileName);
    const bool plain = std::all_of(sibling.fileName.begin(), sibling.fileName.end(),
                                   [](char c) { return c >= 0x20 && c < 0x7f; });
    if (!plain) {
        // A name beyond ASCII travels as Unicode too, for readers that go by /UF.
        QOH fileSpec = QOH::newDictionary();
        fileSpec.replaceKey("/Type", QOH::newName("/Filespec"));
        fileSpec.replaceKey("/F", file);
        fileSpec.replaceKey("/UF", QOH::newUnicodeString(sibling.fileName));
        file = fileSpec;
    }
    QOH action = QOH::newDictionary();
    action.replaceKey("/S", QOH::newName("/GoToR"));
    action.replaceKey("/F", file);
    action.replaceKey("/D", dest);
    return action;
}

} // namespace

namespace {

// A file an action names, relative to the source's folder, as named from the
// part's folder (`sourceFolder` is the source's folder seen from there); unchanged when absolute
// or a URL. Such names separate folders with '/' as the platform does.
std::string Rebased(const std::string& name, const std::string& sourceFolder) {
    if (name.empty() || name.front() == '/' || name.front() == '\\' ||
        name.find(':') < name.find('/'))
        return name;
    return (std::filesystem::path(sourceFolder) / name).lexically_normal().string();
}

// A relative web address (no scheme, not from the host's root, not within the document)
// taken from the source's folder, as taken from the part's.
std::string RebasedAddress(const std::string& address, const std::string& sourceFolder) {
    if (address.empty() || address.front() == '/' || address.front() == '#' ||
        address.front() == '?' || address.find(':') < address.find_first_of("/?#"))
        return address;
    std::string folder;
    for (unsigned char c : sourceFolder) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            folder += static_cast<char>(c);
        } else {
            static const char* const kHex = "0123456789ABCDEF";
            folder += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    const size_t end = address.find_first_of("?#");
    return Rebased(address.substr(0, end), folder) +
           (end == std::string::npos ? "" : address.substr(end));
}

// The source's folder as seen from the part's folder: "" when they are one.
std::string SourceFolderFromPart(const std::string& sourcePath, const std::string& partFolder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path from = fs::weakly_canonical(fs::absolute(partFolder, error), error);
    const fs::path to = fs::weakly_canonical(fs::absolute(sourcePath, error), error).parent_path();
    if (error || from == to)
        return "";
    const fs::path relative = to.lexically_relative(from);
    return relative.empty() ? to.string() : relative.string();
}

} // namespace

// A file an action opens (another PDF, a document to launch, a thread's, an embedded file's
// container) or a web address without a base, named relative to the source's folder: a part
// written elsewhere names it from its own folder, so that the action opens the same file. The
// names are taken from the source's action, so an action met twice is not moved twice.
void CPartDestinations::RebaseFiles(const Insertion& at, QOH action, QOH original) const {
    QOH type = KeyOrNull(action, "/S");
    const bool web = type.isNameAndEquals("/URI");
    if (!web &&
        (!type.isName() ||
         !std::set<std::string>{"/GoToR", "/Launch", "/GoToE", "/Thread", "/ImportData"}.count(
             type.getName())))
        return;
    QOH named = KeyOrNull(action, web ? "/URI" : "/F");
    if (!named.isString() && !named.isDictionary())
        return;
    if (at.siblings.parts.empty() || at.siblings.parts.front().folder.empty())
        return;
    // With a base, which the part keeps, a relative address does not depend on the folder.
    if (web && KeyOrNull(at.source.pdf->getRoot(), "/URI").isDictionary() &&
        at.source.pdf->getRoot().getKey("/URI").hasKey("/Base"))
        return;
    if (!at.sourceFolder)
        at.sourceFolder = SourceFolderFromPart(at.source.path, at.siblings.parts.front().folder);
    if (at.sourceFolder->empty())
        return;
    if (web) {
        QOH address = original.isDictionary() ? KeyOrNull(original, "/URI") : named;
        if (address.isString())
            action.replaceKey(
                "/URI", QOH::newString(RebasedAddress(address.getStringValue(), *at.sourceFolder)));
        return;
    }
    QOH from = original.isDictionary() ? KeyOrNull(original, "/F") : named;
    if (from.isString()) {
        action.replaceKey("/F", QOH::newString(Rebased(from.getStringValue(), *at.sourceFolder)));
        return;
    }
    // A file that travels inside the document, or one on the web, is no path.
    if (!from.isDictionary() || !named.isDictionary() || from.hasKey("/EF") ||
        from.getKey("/FS").isNameAndEquals("/URL"))
        return;
    // The file's dictionary is made again around what it holds. One that holds dictionaries
    // or arrays of its own is no plain file name (a damaged file may name a page, or the
    // annotation itself): made again, it could hold this very action, and the part a loop.
    for (auto& [key, value] : named.getDictAsMap())
        if ((value.isArray() || value.isDictionary()) && !value.isIndirect())
            return;
    QOH copy = QOH::newDictionary();
    for (auto& [key, value] : from.getDictAsMap()) {
        if ((key == "/F" || key == "/Unix") && value.isString())
            copy.replaceKey(key, QOH::newString(Rebased(value.getStringValue(), *at.sourceFolder)));
        else if (key == "/UF" && value.isString())
            copy.replaceKey(key,
                            QOH::newUnicodeString(Rebased(value.getUTF8Value(), *at.sourceFolder)));
        else
            copy.replaceKey(key, named.getKey(key));
    }
    action.replaceKey("/F", copy);
}

// An action as it is to stay in the part: a GoTo among it and the actions it chains with
// /Next is relinked as an annotation's own jump is (into the part, to the sibling part that
// holds its page, or taken out), the chain kept around what is taken out. `original` is the
// source's action the copy was made from. Returns the action, what replaces it, or null.
QOH CPartDestinations::FixedAction(const Insertion& at, QOH action, QOH original, int depth) const {
    // Chains are a few actions long; a looping or absurdly long one stops here.
    constexpr int kMaxChain = 64;
    if (!action.isDictionary() || depth > kMaxChain)
        return QOH::newNull();
    if (action.isIndirect()) {
        // Another holder of the same action had it done already (or a loop leads back to it,
        // which is left as it is).
        auto [it, fresh] = at.done.try_emplace(action.getObjGen(), action);
        if (!fresh)
            return it->second;
        QOH fixed = FixedActionOnce(at, action, original, depth);
        at.done[action.getObjGen()] = fixed;
        return fixed;
    }
    return FixedActionOnce(at, action, original, depth);
}

QOH CPartDestinations::FixedActionOnce(const Insertion& at, QOH action, QOH original,
                                       int depth) const {
    if (!original.isDictionary())
        original = QOH::newNull();
    QOH next = KeyOrNull(action, "/Next");
    QOH nextOriginal = original.isNull() ? original : KeyOrNull(original, "/Next");
    if (next.isDictionary()) {
        QOH fixed = FixedAction(at, next, nextOriginal, depth + 1);
        if (fixed.isNull())
            action.removeKey("/Next");
        else if (fixed.getObjGen() != next.getObjGen() || !fixed.isIndirect())
            action.replaceKey("/Next", fixed);
    } else if (next.isArray()) {
        const bool paired =
            nextOriginal.isArray() && nextOriginal.getArrayNItems() == next.getArrayNItems();
        std::vector<QOH> kept;
        for (int i = 0; i < next.getArrayNItems(); ++i) {
            QOH fixed =
                FixedAction(at, next.getArrayItem(i),
                            paired ? nextOriginal.getArrayItem(i) : QOH::newNull(), depth + 1);
            if (!fixed.isNull())
                kept.push_back(fixed);
        }
        if (kept.empty())
            action.removeKey("/Next");
        else
            action.replaceKey("/Next", QOH::newArray(kept));
    }
    if (!action.getKey("/S").isNameAndEquals("/GoTo")) {
        RebaseFiles(at, action, original);
        return action;
    }
    Jump jump{action, "/D", action.getKey("/D")};
    std::optional<Jump> sourceJump;
    if (original.isDictionary() && original.getKey("/S").isNameAndEquals("/GoTo"))
        sourceJump = Jump{original, "/D", original.getKey("/D")};
    if (Relink(at.part, jump, sourceJump, at.source, at.firstPage, at.added, at.pending))
        return action;
    const bool named = jump.dest.isName() || jump.dest.isString();
    Target target;
    if (named)
        target = at.source.Named().Resolve(jump.dest);
    else if (sourceJump)
        target = ExplicitTarget(sourceJump->dest, at.source.pageIndex, at.source.pages.size());
    QOH remote = RemoteJump(named ? jump.dest : QOH(), target.dest, target.page, at.siblings);
    QOH after = KeyOrNull(action, "/Next");
    if (!remote.isInitialized()) {
        if (!after.isArray())
            return after;
        // The first of the chained actions takes the place of this one, the others after it.
        std::vector<QOH> rest = after.getArrayAsVector();
        QOH first = rest.front(); // never empty: an empty array was taken out above
        rest.erase(rest.begin());
        if (!rest.empty() && !first.hasKey("/Next")) {
            first = first.shallowCopy(); // it may be chained elsewhere too
            first.replaceKey("/Next", QOH::newArray(rest));
        }
        return first;
    }
    if (!after.isNull())
        remote.replaceKey("/Next", after);
    return remote;
}

// The actions of a page's or an annotation's /AA (opening, closing, a field's keystrokes...).
void CPartDestinations::FixAdditionalActions(const Insertion& at, QOH holder, QOH original) const {
    QOH actions = KeyOrNull(holder, "/AA");
    if (!actions.isDictionary())
        return;
    QOH originals = original.isDictionary() ? KeyOrNull(original, "/AA") : QOH::newNull();
    for (const std::string& key : actions.getKeys()) {
        QOH action = actions.getKey(key);
        // No action: a damaged file's /AA may be another object (a page, even), which keeps
        // what it holds.
        if (!action.isDictionary())
            continue;
        QOH fixed = FixedAction(
            at, action, originals.isDictionary() ? KeyOrNull(originals, key) : originals, 0);
        if (fixed.isNull())
            actions.removeKey(key);
        else if (fixed.getObjGen() != action.getObjGen() || !fixed.isIndirect())
            actions.replaceKey(key, fixed);
    }
}

void CPartDestinations::FixAnnotations(QPDF& part, ParsedSource& source, int32_t firstPage,
                                       const std::vector<QOH>& added, const Pending& pending,
                                       const Siblings& siblings) const {
    ObjGenMap<QOH> done;
    std::optional<std::string> sourceFolder;
    const Insertion at{part, source, firstPage, added, pending, siblings, done, sourceFolder};
    // An annotation that several pages list (or pages sharing one /Annots array) is relinked
    // once: a second pass would take the jump it was given for its first page as the source's,
    // and name the sibling part from the source's folder.
    ObjGenSet relinked;
    ObjGenMap<QOH> sharedAnnots; // an indirect /Annots array, with what its first page kept
    for (size_t i = 0; i < added.size(); ++i) {
        QOH page = added[i];
        FixAdditionalActions(at, page, source.pages[static_cast<size_t>(firstPage) + i]);
        QOH annots = KeyOrNull(page, "/Annots");
        if (annots.isNull())
            continue;
        if (!annots.isArray()) {
            page.removeKey("/Annots");
            continue;
        }
        if (annots.isIndirect()) {
            auto [it, first] = sharedAnnots.try_emplace(annots.getObjGen(), annots);
            if (!first) {
                page.replaceKey("/Annots", it->second);
                continue;
            }
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
            kept.push_back(annot);
            if (annot.isIndirect() && !relinked.insert(annot.getObjGen()).second)
                continue;
            QOH original = paired ? sourceAnnots.getArrayItem(a) : QOH::newNull();
            FixAdditionalActions(at, annot, original);
            QOH action = KeyOrNull(annot, "/A");
            if (!annot.hasKey("/Dest") && action.isDictionary()) {
                // A shared action is left as it is where the part's answer differs from it:
                // the annotation gets what FixedAction makes instead.
                QOH fixed = FixedAction(
                    at, action, original.isNull() ? original : KeyOrNull(original, "/A"), 0);
                if (fixed.isNull())
                    annot.removeKey("/A");
                else if (fixed.getObjGen() != action.getObjGen() || !fixed.isIndirect())
                    annot.replaceKey("/A", fixed);
                continue;
            }
            auto jump = JumpOf(annot);
            const auto sourceJump = paired ? JumpOf(original) : std::nullopt;
            if (!jump || Relink(part, *jump, sourceJump, source, firstPage, added, pending))
                continue;
            // The jump leaves the part. Its action may be shared with other annotations, so
            // the annotation gets a new one rather than a changed one.
            const bool named = jump->dest.isName() || jump->dest.isString();
            Target target;
            if (named)
                target = source.Named().Resolve(jump->dest);
            else if (sourceJump)
                target = ExplicitTarget(sourceJump->dest, source.pageIndex, source.pages.size());
            QOH remote = RemoteJump(named ? jump->dest : QOH(), target.dest, target.page, siblings);
            annot.removeKey(jump->key == "/Dest" ? "/Dest" : "/A");
            if (remote.isInitialized())
                annot.replaceKey("/A", remote);
        }
        if (changed) {
            page.replaceKey("/Annots", QOH::newArray(kept));
            if (annots.isIndirect())
                sharedAnnots[annots.getObjGen()] = page.getKey("/Annots");
        }
    }
}

QOH CPartDestinations::CarryAction(QPDF& part, ParsedSource& source, int32_t firstPage,
                                   const std::vector<QOH>& added, const Pending& pending,
                                   const Siblings& siblings, QOH sourceAction,
                                   ObjGenMap<QOH>& done) const {
    std::optional<std::string> sourceFolder;
    const Insertion at{part, source, firstPage, added, pending, siblings, done, sourceFolder};
    return FixedAction(at, CopyValue(part, sourceAction), sourceAction, 0);
}

void CPartDestinations::Commit(QPDF& part, const Pending& pending) {
    QOH root = part.getRoot();
    if (!pending.names.empty()) {
        QOH dests = root.getKey("/Dests");
        if (!dests.isDictionary()) {
            dests = part.makeIndirectObject(QOH::newDictionary());
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
        WriteStringDests(part);
    }
}

// The name tree as one sorted leaf; a std::map keeps the keys in byte order.
void CPartDestinations::WriteStringDests(QPDF& part) {
    QOH root = part.getRoot();
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
    names.replaceKey("/Dests", part.makeIndirectObject(tree));
}

void CPartDestinations::DropToAbsentPages(QPDF& part, const ObjGenSet& present) {
    auto leadsToPresent = [&](QOH dest) {
        QOH array = ExplicitArray(dest);
        return !array.isNull() && present.count(array.getArrayItem(0).getObjGen()) > 0;
    };
    QOH root = part.getRoot();
    QOH dests = root.getKey("/Dests");
    if (dests.isDictionary())
        for (const std::string& key : dests.getKeys())
            if (!leadsToPresent(dests.getKey(key))) {
                dests.removeKey(key);
                m_nameDests.erase(key);
            }
    if (std::erase_if(m_stringDests,
                      [&](const auto& entry) { return !leadsToPresent(entry.second); }))
        WriteStringDests(part);

    const Pending none;
    for (QOH page : part.getAllPages()) {
        QOH annots = page.getKey("/Annots");
        if (!annots.isArray())
            continue;
        std::vector<QOH> kept;
        for (QOH& annot : annots.getArrayAsVector()) {
            auto jump = JumpOf(annot);
            const bool leads = !jump || ((jump->dest.isName() || jump->dest.isString())
                                             ? Carried(jump->dest, none)
                                             : leadsToPresent(jump->dest));
            if (!leads)
                annot.removeKey(jump->key == "/Dest" ? "/Dest" : "/A");
            kept.push_back(annot);
        }
        if (std::ssize(kept) != annots.getArrayNItems())
            page.replaceKey("/Annots", QOH::newArray(kept));
    }
}

void CPartDestinations::Clear() {
    m_nameDests.clear();
    m_stringDests.clear();
}

} // namespace engine
