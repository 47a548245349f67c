#include "engine/StructureTree.h"

#include <algorithm>
#include <map>
#include <set>

namespace engine {

namespace {

// Marked-content numbers index an array per page; beyond this a number is taken as damage
// rather than as a reason to build an array of millions of nulls.
constexpr int kMaxMcid = 1 << 20;

bool IsElement(QOH node) {
    return node.isDictionary() && node.getKey("/S").isName();
}

} // namespace

CStructIndex::CStructIndex(ParsedSource& source) {
    QOH root = source.pdf->getRoot().getKey("/StructTreeRoot");
    if (!root.isDictionary())
        return;
    m_root = root;
    m_tagged = true;
    m_onPage.resize(source.pages.size());
    auto pageOf = [&](QOH pg) {
        if (!pg.isIndirect())
            return -1;
        auto it = source.pageIndex.find(pg.getObjGen());
        return it == source.pageIndex.end() ? -1 : it->second;
    };
    auto itemsOf = [](QOH k) { return k.isArray() ? k.getArrayAsVector() : std::vector<QOH>{k}; };
    // Depth first, in document order, without recursion: (node, parent, place, depth).
    struct Pending {
        QOH node;
        int parent;
        int place;
        int depth;
    };
    std::vector<Pending> stack;
    {
        std::vector<QOH> top = itemsOf(root.getKey("/K"));
        for (size_t i = top.size(); i-- > 0;)
            if (IsElement(top[i]))
                stack.push_back({top[i], -1, 0, 0});
    }
    ObjGenSet seen;
    while (!stack.empty()) {
        Pending p = stack.back();
        stack.pop_back();
        if (p.depth > kMaxTreeDepth) {
            m_damage = "its elements nest too deeply";
            return;
        }
        if (p.node.isIndirect() && !seen.insert(p.node.getObjGen()).second) {
            m_damage = "an element is reached twice";
            return;
        }
        const int index = static_cast<int>(m_elements.size());
        if (p.node.isIndirect())
            m_indexOf.emplace(p.node.getObjGen(), index);
        Element e;
        e.dict = p.node;
        e.parent = p.parent;
        e.page = pageOf(p.node.getKey("/Pg"));
        if (p.parent < 0) {
            e.place = static_cast<int>(m_top.size());
            m_top.push_back(index);
        } else {
            e.place = p.place;
            m_elements[static_cast<size_t>(p.parent)].kids[static_cast<size_t>(p.place)].element =
                index;
        }
        std::vector<Pending> children;
        for (QOH item : itemsOf(p.node.getKey("/K"))) {
            Kid kid{};
            kid.page = e.page;
            if (item.isInteger()) {
                kid.kind = Kid::Kind::Mcid;
                kid.mcid =
                    static_cast<int>(std::clamp<long long>(item.getIntValue(), -1, kMaxMcid));
            } else if (item.isDictionary() && item.getKey("/Type").isNameAndEquals("/MCR")) {
                kid.kind = Kid::Kind::Mcr;
                QOH mcid = item.getKey("/MCID");
                kid.mcid =
                    mcid.isInteger()
                        ? static_cast<int>(std::clamp<long long>(mcid.getIntValue(), -1, kMaxMcid))
                        : -1;
                if (item.hasKey("/Pg"))
                    kid.page = pageOf(item.getKey("/Pg"));
                kid.object = item.getKey("/Stm");
            } else if (item.isDictionary() && item.getKey("/Type").isNameAndEquals("/OBJR")) {
                kid.kind = Kid::Kind::Objr;
                if (item.hasKey("/Pg"))
                    kid.page = pageOf(item.getKey("/Pg"));
                kid.object = item.getKey("/Obj");
            } else if (IsElement(item)) {
                kid.kind = Kid::Kind::Element;
                kid.page = -1;
                children.push_back({item, index, static_cast<int>(e.kids.size()), p.depth + 1});
            } else {
                continue; // nothing a reader could place
            }
            if (kid.kind != Kid::Kind::Element) {
                if (kid.mcid >= kMaxMcid) {
                    m_damage = "a marked-content number is out of range";
                    return;
                }
                if (kid.page >= 0 && (kid.kind == Kid::Kind::Objr || kid.mcid >= 0))
                    m_onPage[static_cast<size_t>(kid.page)].push_back(
                        {index, static_cast<int>(e.kids.size())});
            }
            e.kids.push_back(kid);
        }
        // Nothing of it lies anywhere, yet it is on its page for a reader all the same: the
        // parts that hold that page keep it.
        if (e.kids.empty() && e.page >= 0)
            m_onPage[static_cast<size_t>(e.page)].push_back({index, -1});
        m_elements.push_back(std::move(e));
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(*it);
    }
}

int CStructIndex::IndexOf(QOH element) const {
    auto it = element.isIndirect() ? m_indexOf.find(element.getObjGen()) : m_indexOf.end();
    return it == m_indexOf.end() ? -1 : it->second;
}

const std::vector<CStructIndex::Content>& CStructIndex::OnPage(int page) const {
    static const std::vector<Content> none;
    return page >= 0 && static_cast<size_t>(page) < m_onPage.size()
               ? m_onPage[static_cast<size_t>(page)]
               : none;
}

namespace {

// What a part makes of one tagged source's tree.
class PartTree {
  public:
    PartTree(QPDF& part, const CStructIndex& index) : m_part(part), m_index(index) {}

    // The source pages of the part, each with its page in the part.
    void AddPage(int sourcePage, QOH partPage) {
        m_pages.emplace(sourcePage, partPage);
        for (QOH annot : partPage.getKey("/Annots").aitems())
            if (annot.isIndirect())
                m_annots.insert(annot.getObjGen());
    }

    // False when no element has content on the part's pages.
    bool Build() {
        const auto& elements = m_index.Elements();
        // Per kept element, the places of its kids that stay.
        std::map<int, std::set<int>> keep;
        for (const auto& [page, partPage] : m_pages) {
            for (const CStructIndex::Content& c : m_index.OnPage(page)) {
                auto& kept = keep[c.element];
                if (c.kid >= 0)
                    kept.insert(c.kid);
                for (int e = c.element; e >= 0;) {
                    const int parent = elements[static_cast<size_t>(e)].parent;
                    const int place = elements[static_cast<size_t>(e)].place;
                    if (parent < 0) {
                        m_topKept.insert(place);
                        break;
                    }
                    auto& kids = keep[parent];
                    if (!kids.insert(place).second)
                        break; // the rest of the way up is marked already
                    e = parent;
                }
            }
        }
        if (keep.empty())
            return false;
        m_root = m_part.makeIndirectObject(QOH::newDictionary());
        for (const auto& entry : keep)
            m_made[entry.first] = m_part.makeIndirectObject(QOH::newDictionary());
        for (const auto& [e, kids] : keep)
            FillElement(e, kids);
        FillRoot();
        return true;
    }

    QOH Root() const { return m_root; }

  private:
    QOH PartPage(int sourcePage) const {
        auto it = m_pages.find(sourcePage);
        return it == m_pages.end() ? QOH() : it->second;
    }

    void FillElement(int index, const std::set<int>& kids) {
        const CStructIndex::Element& e = m_index.Elements()[static_cast<size_t>(index)];
        QOH dict = e.dict;
        QOH made = m_made[index];
        for (const std::string& key : dict.getKeys()) {
            if (key == "/Ref")
                KeepReferences(dict.getKey(key), made);
            if (key == "/K" || key == "/P" || key == "/Pg" || key == "/Ref")
                continue;
            QOH value = dict.getKey(key);
            if (IsElement(value))
                continue; // a reference to another element would drag the whole tree in
            made.replaceKey(key, CopyValue(m_part, value));
        }
        made.replaceKey("/P", e.parent < 0 ? m_root : m_made[e.parent]);
        QOH page = PartPage(e.page);
        if (page.isInitialized())
            made.replaceKey("/Pg", page);
        QOH k = QOH::newArray();
        for (int place : kids) {
            const CStructIndex::Kid& kid = e.kids[static_cast<size_t>(place)];
            QOH object = kid.object;
            switch (kid.kind) {
            case CStructIndex::Kid::Kind::Element:
                k.appendItem(m_made[kid.element]);
                break;
            case CStructIndex::Kid::Kind::Mcid:
                if (page.isInitialized() && kid.page == e.page) {
                    k.appendItem(QOH::newInteger(kid.mcid));
                    Note(page, kid.mcid, made);
                }
                break;
            case CStructIndex::Kid::Kind::Mcr: {
                QOH on = PartPage(kid.page);
                if (!on.isInitialized())
                    break;
                QOH mcr = QOH::newDictionary();
                mcr.replaceKey("/Type", QOH::newName("/MCR"));
                mcr.replaceKey("/Pg", on);
                mcr.replaceKey("/MCID", QOH::newInteger(kid.mcid));
                QOH holder = on;
                if (object.isStream()) {
                    holder = CopyValue(m_part, object);
                    mcr.replaceKey("/Stm", holder);
                }
                k.appendItem(mcr);
                Note(holder, kid.mcid, made);
                break;
            }
            case CStructIndex::Kid::Kind::Objr: {
                QOH on = PartPage(kid.page);
                if (!on.isInitialized() || !object.isIndirect())
                    break;
                const bool annotation = IsAnnotation(object);
                object = CopyValue(m_part, object);
                if (object.isNull() || (annotation && !m_annots.count(object.getObjGen())))
                    break;
                QOH objr = QOH::newDictionary();
                objr.replaceKey("/Type", QOH::newName("/OBJR"));
                objr.replaceKey("/Pg", on);
                objr.replaceKey("/Obj", object);
                k.appendItem(objr);
                QOH key = object.isDictionary() ? object.getKey("/StructParent") : QOH();
                if (key.isInteger())
                    m_single.emplace(key.getIntValue(), made);
                break;
            }
            }
        }
        made.replaceKey("/K", k);
        QOH role = dict.getKey("/S");
        m_roles.insert(role.getName());
        QOH classes = dict.getKey("/C");
        for (QOH c : classes.isArray() ? classes.getArrayAsVector() : std::vector<QOH>{classes})
            if (c.isName())
                m_classes.insert(c.getName());
        QOH id = dict.getKey("/ID");
        if (id.isString())
            m_ids.emplace(id.getStringValue(), made);
    }

    // An element's references to others (a note's to where it is called, ...) that the part
    // keeps; the others would drag their part of the tree along.
    void KeepReferences(QOH references, QOH made) {
        QOH kept = QOH::newArray();
        for (QOH element :
             references.isArray() ? references.getArrayAsVector() : std::vector<QOH>{references}) {
            auto it = m_made.find(m_index.IndexOf(element));
            if (it != m_made.end())
                kept.appendItem(it->second);
        }
        if (kept.getArrayNItems() > 0)
            made.replaceKey("/Ref", kept);
    }

    static bool IsAnnotation(QOH object) {
        return object.isDictionary() && object.getKey("/Subtype").isName() &&
               object.getKey("/Rect").isArray();
    }

    // Marked content `mcid` of a page or form (whose /StructParents keys the parent tree)
    // belongs to `element`.
    void Note(QOH holder, int mcid, QOH element) {
        QOH key = holder.isDictionary() ? holder.getKey("/StructParents")
                  : holder.isStream()   ? holder.getDict().getKey("/StructParents")
                                        : QOH();
        if (!key.isInteger() || mcid < 0)
            return;
        auto& slots = m_arrays[key.getIntValue()];
        if (slots.size() <= static_cast<size_t>(mcid))
            slots.resize(static_cast<size_t>(mcid) + 1);
        if (!slots[static_cast<size_t>(mcid)].isInitialized())
            slots[static_cast<size_t>(mcid)] = element;
    }

    void FillRoot() {
        QOH source = m_index.Root();
        for (const std::string& key : source.getKeys()) {
            if (key == "/K" || key == "/ParentTree" || key == "/ParentTreeNextKey" ||
                key == "/IDTree" || key == "/RoleMap" || key == "/ClassMap")
                continue;
            QOH value = source.getKey(key);
            if (!IsElement(value))
                m_root.replaceKey(key, CopyValue(m_part, value));
        }
        m_root.replaceKey("/Type", QOH::newName("/StructTreeRoot"));
        QOH k = QOH::newArray();
        for (int place : m_topKept)
            k.appendItem(m_made[m_index.TopElements()[static_cast<size_t>(place)]]);
        m_root.replaceKey("/K", k);

        // Keys keep the numbers the pages, forms and annotations already carry.
        std::map<long long, QOH> entries;
        for (auto& [key, slots] : m_arrays) {
            QOH array = QOH::newArray();
            for (QOH& slot : slots)
                array.appendItem(slot.isInitialized() ? slot : QOH::newNull());
            entries.emplace(key, array);
        }
        for (auto& [key, element] : m_single)
            entries.emplace(key, element);
        QOH nums = QOH::newArray();
        for (auto& [key, value] : entries) {
            nums.appendItem(QOH::newInteger(key));
            nums.appendItem(value);
        }
        QOH parentTree = QOH::newDictionary();
        parentTree.replaceKey("/Nums", nums);
        m_root.replaceKey("/ParentTree", m_part.makeIndirectObject(parentTree));
        m_root.replaceKey("/ParentTreeNextKey",
                          QOH::newInteger(entries.empty() ? 0 : entries.rbegin()->first + 1));

        // Roles map on to other roles: every role on the way is still referenced.
        QOH roleMap = source.getKey("/RoleMap");
        if (roleMap.isDictionary()) {
            QOH kept = QOH::newDictionary();
            std::vector<std::string> todo(m_roles.begin(), m_roles.end());
            while (!todo.empty()) {
                const std::string role = todo.back();
                todo.pop_back();
                QOH to = roleMap.getKey(role);
                if (to.isNull() || kept.hasKey(role))
                    continue;
                kept.replaceKey(role, CopyValue(m_part, to));
                if (to.isName())
                    todo.push_back(to.getName());
            }
            if (!kept.getKeys().empty())
                m_root.replaceKey("/RoleMap", kept);
        }
        QOH classMap = source.getKey("/ClassMap");
        if (classMap.isDictionary()) {
            QOH kept = QOH::newDictionary();
            for (const std::string& name : m_classes)
                if (classMap.hasKey(name))
                    kept.replaceKey(name, CopyValue(m_part, classMap.getKey(name)));
            if (!kept.getKeys().empty())
                m_root.replaceKey("/ClassMap", kept);
        }
        if (!m_ids.empty()) {
            QOH pairs = QOH::newArray();
            for (const auto& [id, element] : m_ids) {
                pairs.appendItem(QOH::newString(id));
                pairs.appendItem(element);
            }
            QOH tree = QOH::newDictionary();
            tree.replaceKey("/Names", pairs);
            m_root.replaceKey("/IDTree", m_part.makeIndirectObject(tree));
        }
    }

    QPDF& m_part;
    const CStructIndex& m_index;
    std::map<int, QOH> m_pages; // source page -> its page in the part
    ObjGenSet m_annots;         // on the part's pages
    QOH m_root;
    std::map<int, QOH> m_made;
    std::set<int> m_topKept;
    std::map<long long, std::vector<QOH>> m_arrays; // parent-tree arrays by key
    std::map<long long, QOH> m_single;              // parent-tree objects by key
    std::set<std::string> m_roles;
    std::set<std::string> m_classes;
    std::map<std::string, QOH> m_ids;
};

} // namespace

void WriteStructureTree(QPDF& part, const ObjGenMap<PageOrigin>& origins,
                        const std::function<void(const std::string&)>& warn) {
    QOH root = part.getRoot();
    root.removeKey("/StructTreeRoot");
    ParsedSource* tagged = nullptr;
    std::vector<std::pair<int, QOH>> pages;
    for (QOH page : part.getAllPages()) {
        auto it = origins.find(page.getObjGen());
        if (it == origins.end() || !it->second.source->Structure().Tagged())
            continue;
        ParsedSource* source = it->second.source.get();
        if (tagged && tagged != source) {
            warn("structure trees of several sources are not merged; the part has none");
            return;
        }
        tagged = source;
        pages.emplace_back(it->second.page, page);
    }
    if (!tagged)
        return;
    const CStructIndex& index = tagged->Structure();
    if (!index.Damage().empty()) {
        if (!tagged->structureDamageSaid) {
            tagged->structureDamageSaid = true;
            warn(tagged->path + ": structure tree left out of its parts: " + index.Damage());
        }
        root.removeKey("/MarkInfo");
        return;
    }
    PartTree tree(part, index);
    for (const auto& [sourcePage, page] : pages)
        tree.AddPage(sourcePage, page);
    if (tree.Build())
        root.replaceKey("/StructTreeRoot", tree.Root());
}

void CopyDocumentEntries(QPDF& part, ParsedSource& source) {
    if (!source.documentEntries) {
        auto entries = std::make_unique<ParsedSource::DocumentEntries>();
        QOH from = source.pdf->getRoot();
        // /URI holds the base that relative web addresses of links are taken from.
        for (const char* key : {"/MarkInfo", "/Lang", "/ViewerPreferences", "/OutputIntents",
                                "/Metadata", "/PageLayout", "/URI"})
            if (QOH value = KeyOrNull(from, key); !value.isNull())
                entries->catalog.emplace_back(key, value);
        // Document-level scripts define the functions that form fields and links call to
        // calculate, format and check values; what a part keeps of them needs them as well.
        QOH names = KeyOrNull(from, "/Names");
        entries->scripts = names.isDictionary() ? KeyOrNull(names, "/JavaScript") : names;
        // The document information (title, author, subject, keywords...) that readers show
        // and search, as the source's XMP metadata above is kept.
        entries->info = KeyOrNull(source.pdf->getTrailer(), "/Info");
        entries->pageMode = KeyOrNull(from, "/PageMode");
        source.documentEntries = std::move(entries);
    }
    ParsedSource::DocumentEntries& entries = *source.documentEntries;
    QOH to = part.getRoot();
    for (auto& [key, value] : entries.catalog)
        if (!to.hasKey(key))
            to.replaceKey(key, CopyValue(part, value));
    if (entries.scripts.isDictionary()) {
        QOH partNames = KeyOrNull(to, "/Names");
        if (!partNames.isDictionary()) {
            partNames = QOH::newDictionary();
            to.replaceKey("/Names", partNames);
        }
        if (!partNames.hasKey("/JavaScript"))
            partNames.replaceKey("/JavaScript", CopyValue(part, entries.scripts));
    }
    QOH trailer = part.getTrailer();
    if (entries.info.isDictionary() && !trailer.hasKey("/Info")) {
        QOH copy = CopyValue(part, entries.info);
        trailer.replaceKey("/Info", copy.isIndirect() ? copy : part.makeIndirectObject(copy));
    }
    // The part opens as the source does, with the panel it shows, where the part has what
    // that panel lists (its bookmarks may have been left out, its layers unused).
    QOH mode = entries.pageMode;
    const bool shown = mode.isNameAndEquals("/UseThumbs") || mode.isNameAndEquals("/FullScreen") ||
                       (mode.isNameAndEquals("/UseOutlines") && to.hasKey("/Outlines")) ||
                       (mode.isNameAndEquals("/UseOC") && to.hasKey("/OCProperties"));
    if (shown)
        to.replaceKey("/PageMode", mode.shallowCopy());
    else
        to.removeKey("/PageMode");
}

} // namespace engine
