#include "engine/OptionalContent.h"

#include "engine/ParsedSource.h"

#include <utility>
#include <vector>

namespace engine {

namespace {

bool IsGroup(QOH value) {
    return value.isDictionary() && value.getKey("/Type").isNameAndEquals("/OCG");
}

// The groups the part's pages use: named in their resources' /Properties (a group, or a
// membership dictionary naming groups) or in the /OC of what they draw (forms, images, the
// appearances of their annotations) or of their annotations themselves.
ObjGenSet UsedGroups(QPDF& part) {
    ObjGenSet used, seen;
    auto note = [&](QOH content) {
        if (IsGroup(content)) {
            if (content.isIndirect())
                used.insert(content.getObjGen());
            return;
        }
        QOH groups = content.isDictionary() ? content.getKey("/OCGs") : QOH::newNull();
        for (QOH group : groups.isArray() ? groups.getArrayAsVector() : std::vector<QOH>{groups})
            if (IsGroup(group) && group.isIndirect())
                used.insert(group.getObjGen());
    };
    std::vector<std::pair<QOH, int>> todo;
    for (QOH page : part.getAllPages())
        todo.emplace_back(page, 0);
    while (!todo.empty()) {
        auto [node, depth] = todo.back();
        todo.pop_back();
        if (depth > kMaxTreeDepth || (node.isIndirect() && !seen.insert(node.getObjGen()).second))
            continue;
        QOH dict = node.isStream() ? node.getDict() : node;
        if (!dict.isDictionary())
            continue;
        note(KeyOrNull(dict, "/OC"));
        QOH resources = KeyOrNull(dict, "/Resources");
        if (resources.isDictionary()) {
            QOH properties = KeyOrNull(resources, "/Properties");
            if (properties.isDictionary())
                for (const std::string& key : properties.getKeys())
                    note(properties.getKey(key));
            QOH xobjects = KeyOrNull(resources, "/XObject");
            if (xobjects.isDictionary())
                for (const std::string& key : xobjects.getKeys())
                    todo.emplace_back(xobjects.getKey(key), depth + 1);
        }
        for (const char* key : {"/Annots", "/AP"}) {
            QOH value = KeyOrNull(dict, key);
            if (value.isArray())
                for (QOH item : value.aitems())
                    todo.emplace_back(item, depth + 1);
            else if (value.isDictionary())
                for (const std::string& state : value.getKeys())
                    todo.emplace_back(value.getKey(state), depth + 1); // /N, /R, /D
        }
        // An appearance of several states is a dictionary of forms.
        if (!node.isStream() && !dict.hasKey("/Type") && !dict.hasKey("/Subtype"))
            for (const std::string& key : dict.getKeys())
                if (dict.getKey(key).isStream())
                    todo.emplace_back(dict.getKey(key), depth + 1);
    }
    return used;
}

// A value of the source's /OCProperties made for the part, with every group the part does not
// use taken out, down through nested arrays (the layers panel's /Order nests) and
// dictionaries (the default configuration, usage rules); null for a group left out. An
// indirect array or dictionary is made once and stays one object of the part: arrays that each
// name the next twice would otherwise be walked, and written, once per path to them (24 such
// levels in a 1 KB file took 30 s and 6.6 GB).
QOH Trimmed(QPDF& part, QOH value, const ObjGenSet& used, ObjGenMap<QOH>& made, int depth) {
    if (depth > kMaxTreeDepth)
        return QOH::newNull();
    if (IsGroup(value) && value.isIndirect()) {
        // The part's pages were copied by the same copier: this is the group they name.
        QOH group = CopyValue(part, value);
        return used.count(group.getObjGen()) ? group : QOH::newNull();
    }
    const bool container = value.isArray() || (value.isDictionary() && !value.isStream());
    if (!container)
        return CopyValue(part, value);
    if (value.isIndirect()) {
        // A loop back to a value being made finds null.
        auto [it, fresh] = made.try_emplace(value.getObjGen(), QOH::newNull());
        if (!fresh)
            return it->second;
    }
    QOH kept;
    if (value.isArray()) {
        kept = QOH::newArray();
        for (QOH item : value.aitems()) {
            QOH trimmed = Trimmed(part, item, used, made, depth + 1);
            const bool emptied = item.isArray() && trimmed.isArray() && !trimmed.getArrayNItems();
            if (!trimmed.isNull() && !emptied)
                kept.appendItem(trimmed);
        }
    } else {
        kept = QOH::newDictionary();
        for (const std::string& key : value.getKeys()) {
            QOH trimmed = Trimmed(part, value.getKey(key), used, made, depth + 1);
            if (!trimmed.isNull())
                kept.replaceKey(key, trimmed);
        }
    }
    if (value.isIndirect())
        made[value.getObjGen()] = kept = part.makeIndirectObject(kept);
    return kept;
}

} // namespace

void WriteOptionalContent(QPDF& part, ParsedSource& source) {
    QOH root = part.getRoot();
    root.removeKey("/OCProperties");
    QOH properties = KeyOrNull(source.pdf->getRoot(), "/OCProperties");
    if (!properties.isDictionary())
        return;
    const ObjGenSet used = UsedGroups(part);
    if (used.empty())
        return;
    ObjGenMap<QOH> made;
    QOH trimmed = Trimmed(part, properties, used, made, 0);
    QOH groups = trimmed.getKey("/OCGs");
    if (groups.isArray() && groups.getArrayNItems() > 0 && trimmed.getKey("/D").isDictionary())
        root.replaceKey("/OCProperties", trimmed);
}

} // namespace engine
