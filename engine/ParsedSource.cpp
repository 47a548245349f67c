#include "engine/ParsedSource.h"

#include "engine/Destinations.h"
#include "engine/Outline.h"
#include "engine/PageLabels.h"

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
        m_outline = std::make_unique<COutlineIndex>(*pdf, pageIndex, pages.size(), Named());
    return *m_outline;
}

const CLabelIndex& ParsedSource::Labels() {
    if (!m_labels)
        m_labels = std::make_unique<CLabelIndex>(*pdf);
    return *m_labels;
}

const ObjGenMap<int>& ParsedSource::FieldOrder() {
    if (!m_fieldOrder) {
        m_fieldOrder = std::make_unique<ObjGenMap<int>>();
        QOH form = pdf->getRoot().getKey("/AcroForm");
        QOH fields = form.isDictionary() ? form.getKey("/Fields") : QOH::newNull();
        if (fields.isArray())
            for (int i = 0; i < fields.getArrayNItems(); ++i) {
                QOH field = fields.getArrayItem(i);
                if (field.isIndirect())
                    m_fieldOrder->emplace(field.getObjGen(), i);
            }
    }
    return *m_fieldOrder;
}

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

} // namespace engine
