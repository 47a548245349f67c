#include "engine/ParsedSource.h"

#include "engine/Articles.h"
#include "engine/Destinations.h"
#include "engine/Outline.h"
#include "engine/PageLabels.h"
#include "engine/StructureTree.h"

namespace engine {

ParsedSource::ParsedSource() = default;
ParsedSource::~ParsedSource() = default;

const CNamedDests& ParsedSource::Named() {
    if (!m_named)
        m_named = std::make_unique<CNamedDests>(*pdf, pageIndex, pages.size());
    return *m_named;
}

const COutlineIndex& ParsedSource::Outline() {
    if (!m_outline)
        m_outline = std::make_unique<COutlineIndex>(*pdf, pageIndex, pages.size(), Named(), reread);
    return *m_outline;
}

const CLabelIndex& ParsedSource::Labels() {
    if (!m_labels)
        m_labels = std::make_unique<CLabelIndex>(*pdf);
    return *m_labels;
}

const CStructIndex& ParsedSource::Structure() {
    if (!m_structure)
        m_structure = std::make_unique<CStructIndex>(*this);
    return *m_structure;
}

const ObjGenMap<int>& ParsedSource::BeadOrder() {
    if (!m_beadOrder)
        m_beadOrder = std::make_unique<ObjGenMap<int>>(ReadBeadOrder(*pdf));
    return *m_beadOrder;
}

const ParsedSource::FieldIndex& ParsedSource::Fields() {
    if (m_fields)
        return *m_fields;
    m_fields = std::make_unique<FieldIndex>();
    QOH form = pdf->getRoot().getKey("/AcroForm");
    QOH fields = form.isDictionary() ? form.getKey("/Fields") : QOH::newNull();
    if (!fields.isArray())
        return *m_fields;
    // Down from the top, as readers find fields: a widget's /Parent may be missing or wrong,
    // and following it up would lose the field's name and value. A node met twice (a loop,
    // or a kid also listed on its own) belongs to the first tree that reached it.
    for (QOH top : fields.aitems()) {
        if (!top.isIndirect() || m_fields->topOf.count(top.getObjGen()))
            continue;
        const int place = static_cast<int>(m_fields->tops.size());
        m_fields->tops.push_back(top);
        std::vector<std::pair<QOH, int>> stack{{top, 0}};
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (!node.isDictionary() || depth > kMaxFieldDepth ||
                (node.isIndirect() && !m_fields->topOf.emplace(node.getObjGen(), place).second))
                continue;
            QOH kids = node.getKey("/Kids");
            if (kids.isArray())
                for (QOH kid : kids.aitems())
                    stack.emplace_back(kid, depth + 1);
        }
    }
    return *m_fields;
}

bool CheckPageTree(QPDF& pdf, bool& resourcesShared) {
    resourcesShared = false;
    ObjGenSet seen, resourcesSeen;
    std::vector<QOH> pageResources;
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
            for (const char* kind : {"/Font", "/XObject", "/Pattern", "/Shading", "/ExtGState"})
                noteShared(resources.getKey(kind));
            pageResources.push_back(resources);
        }
    }
    // Form XObjects that share resources (one dictionary of every font and image, drawn
    // through a form of its own on each page) bring all of it along just the same.
    ObjGenSet formsSeen;
    while (!resourcesShared && !pageResources.empty()) {
        QOH resources = pageResources.back();
        pageResources.pop_back();
        QOH xobjects = resources.getKey("/XObject");
        if (!xobjects.isDictionary())
            continue;
        for (const std::string& key : xobjects.getKeys()) {
            QOH form = xobjects.getKey(key);
            if (!form.isStream() || !form.getDict().getKey("/Subtype").isNameAndEquals("/Form") ||
                !formsSeen.insert(form.getObjGen()).second)
                continue;
            QOH own = form.getDict().getKey("/Resources");
            if (!own.isDictionary())
                continue;
            noteShared(own);
            noteShared(own.getKey("/Font"));
            noteShared(own.getKey("/XObject"));
            pageResources.push_back(own);
        }
    }
    return true;
}

} // namespace engine
