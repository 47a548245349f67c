#include "engine/Forms.h"

#include "engine/ParsedSource.h"

#include <algorithm>
#include <climits>

namespace engine {

namespace {

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

// Widgets that are on the document's pages now.
ObjGenSet PresentWidgets(QPDF& part) {
    ObjGenSet present;
    for (QOH page : part.getAllPages()) {
        QOH annots = page.getKey("/Annots");
        if (annots.isArray())
            for (QOH& annot : annots.getArrayAsVector())
                if (annot.isIndirect())
                    present.insert(annot.getObjGen());
    }
    return present;
}

// Trims a copied field tree to the widgets on the document's pages; false when none is.
bool KeepField(QOH node, const ObjGenSet& present, ObjGenSet& seen, int depth) {
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

// The form's calculation order kept to the fields it holds: a reader recalculates the fields
// it lists, in its order.
void TrimCalculationOrder(QOH form, std::vector<QOH> order) {
    QOH fields = form.getKey("/Fields");
    ObjGenSet held, seen;
    std::vector<std::pair<QOH, int>> todo;
    for (QOH field : fields.isArray() ? fields.getArrayAsVector() : std::vector<QOH>{})
        todo.emplace_back(field, 0);
    while (!todo.empty()) {
        auto [node, depth] = todo.back();
        todo.pop_back();
        if (!node.isDictionary() || depth > kMaxFieldDepth || !node.isIndirect() ||
            !seen.insert(node.getObjGen()).second)
            continue;
        held.insert(node.getObjGen());
        QOH kids = node.getKey("/Kids");
        if (kids.isArray())
            for (QOH kid : kids.aitems())
                todo.emplace_back(kid, depth + 1);
    }
    QOH kept = QOH::newArray();
    ObjGenSet listed;
    for (QOH& field : order)
        if (field.isIndirect() && held.count(field.getObjGen()) &&
            listed.insert(field.getObjGen()).second)
            kept.appendItem(field);
    if (kept.getArrayNItems() > 0)
        form.replaceKey("/CO", kept);
    else
        form.removeKey("/CO");
}

} // namespace

PendingForm PrepareForm(QPDF& part, ParsedSource& source, int32_t firstPage,
                        const std::vector<QOH>& added) {
    PendingForm pending;
    QOH form = KeyOrNull(source.pdf->getRoot(), "/AcroForm");
    if (!form.isDictionary())
        return pending;
    const ParsedSource::FieldIndex& index = source.Fields();
    std::vector<std::pair<int, QOH>> tops;
    ObjGenSet topsSeen;
    for (size_t i = 0; i < added.size(); ++i) {
        QOH annots = source.pages[static_cast<size_t>(firstPage) + i].getKey("/Annots");
        if (!annots.isArray())
            continue;
        for (QOH& annot : annots.getArrayAsVector()) {
            if (!IsWidget(annot))
                continue;
            // A widget no field of the form reaches is its own field, or its /Parent's.
            auto it = index.topOf.find(annot.getObjGen());
            QOH top = it != index.topOf.end() ? index.tops[static_cast<size_t>(it->second)]
                                              : TopField(annot);
            if (!top.isIndirect() || !topsSeen.insert(top.getObjGen()).second)
                continue;
            tops.emplace_back(it == index.topOf.end() ? INT32_MAX : it->second, top);
        }
    }
    if (tops.empty())
        return pending;
    std::stable_sort(tops.begin(), tops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const ObjGenSet present = PresentWidgets(part);
    ObjGenSet copiedTops;
    for (auto& [place, top] : tops) {
        QOH copy = CopyValue(part, top);
        ObjGenSet seen;
        if (KeepField(copy, present, seen, 0))
            pending.fields.push_back(copy);
        if (place != INT32_MAX)
            copiedTops.insert(top.getObjGen());
    }
    // A field below a top-level field copied now was copied with it: asking for it again
    // finds that copy and copies nothing.
    QOH order = form.getKey("/CO");
    if (order.isArray())
        for (QOH field : order.aitems()) {
            auto it = field.isIndirect() ? index.topOf.find(field.getObjGen()) : index.topOf.end();
            if (it != index.topOf.end() &&
                copiedTops.count(index.tops[static_cast<size_t>(it->second)].getObjGen()))
                pending.calculated.push_back(CopyValue(part, field));
        }
    if (!part.getRoot().getKey("/AcroForm").isDictionary())
        for (const char* key : {"/DR", "/DA", "/Q", "/NeedAppearances"}) {
            QOH value = form.getKey(key);
            if (!value.isNull())
                pending.defaults.emplace_back(key, CopyValue(part, value));
        }
    return pending;
}

void CommitForm(QPDF& part, const PendingForm& pending) {
    if (pending.fields.empty())
        return;
    QOH root = part.getRoot();
    QOH form = root.getKey("/AcroForm");
    if (!form.isDictionary()) {
        form = part.makeIndirectObject(QOH::newDictionary());
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
    if (form.hasKey("/CO") || !pending.calculated.empty()) {
        std::vector<QOH> order = form.getKey("/CO").isArray()
                                     ? form.getKey("/CO").getArrayAsVector()
                                     : std::vector<QOH>{};
        order.insert(order.end(), pending.calculated.begin(), pending.calculated.end());
        TrimCalculationOrder(form, order);
    }
}

void TrimFieldsToPresentWidgets(QPDF& part) {
    QOH form = part.getRoot().getKey("/AcroForm");
    QOH fields = form.isDictionary() ? form.getKey("/Fields") : QOH::newNull();
    if (!fields.isArray())
        return;
    const ObjGenSet widgets = PresentWidgets(part);
    std::vector<QOH> kept;
    for (QOH& field : fields.getArrayAsVector()) {
        ObjGenSet seen;
        if (KeepField(field, widgets, seen, 0))
            kept.push_back(field);
    }
    form.replaceKey("/Fields", QOH::newArray(kept));
    if (form.getKey("/CO").isArray())
        TrimCalculationOrder(form, form.getKey("/CO").getArrayAsVector());
}

} // namespace engine
