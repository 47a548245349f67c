#include "engine/PageLabels.h"

#include <algorithm>
#include <cstdint>

namespace engine {

CLabelIndex::CLabelIndex(QPDF& pdf) {
    QOH tree = pdf.getRoot().getKey("/PageLabels");
    if (!tree.isDictionary())
        return;
    if (!Read(tree)) {
        m_entries.clear();
        m_damaged = true;
    }
}

std::optional<CLabelIndex::Label> CLabelIndex::At(int64_t page) const {
    auto it = std::upper_bound(m_entries.begin(), m_entries.end(), page,
                               [](int64_t p, const auto& e) { return p < e.first; });
    if (it == m_entries.begin())
        return std::nullopt;
    --it;
    QOH dict = it->second;
    QOH st = dict.getKey("/St");
    QOH prefix = dict.getKey("/P");
    return Label{static_cast<size_t>(it - m_entries.begin()),
                 (st.isInteger() ? st.getIntValue() : 1) + (page - it->first), dict.getKey("/S"),
                 prefix.isString() ? prefix.getStringValue() : "", prefix.isString()};
}

bool CLabelIndex::ValidLabel(QOH dict) {
    if (!dict.isDictionary())
        return false;
    QOH s = dict.getKey("/S");
    if (!s.isNull()) {
        if (!s.isName())
            return false;
        const std::string style = s.getName();
        if (style != "/D" && style != "/R" && style != "/r" && style != "/A" && style != "/a")
            return false;
    }
    QOH st = dict.getKey("/St");
    if (!st.isNull() && (!st.isInteger() || st.getIntValue() < 1))
        return false;
    QOH p = dict.getKey("/P");
    return p.isNull() || p.isString();
}

bool CLabelIndex::Read(QOH tree) {
    ObjGenSet seen;
    std::vector<std::pair<QOH, int>> stack{{tree, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (!node.isDictionary() || depth > kMaxTreeDepth)
            return false;
        if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
            return false;
        QOH nums = node.getKey("/Nums");
        if (nums.isArray()) {
            const int n = nums.getArrayNItems();
            if (n % 2 != 0)
                return false;
            for (int i = 0; i < n; i += 2) {
                QOH key = nums.getArrayItem(i);
                QOH value = nums.getArrayItem(i + 1);
                if (!key.isInteger() || key.getIntValue() < 0 || !ValidLabel(value))
                    return false;
                if (!m_entries.empty() && key.getIntValue() <= m_entries.back().first)
                    return false;
                m_entries.emplace_back(key.getIntValue(), value);
            }
        } else if (!nums.isNull()) {
            return false;
        }
        QOH kids = node.getKey("/Kids");
        if (kids.isArray()) {
            std::vector<QOH> items = kids.getArrayAsVector();
            for (auto it = items.rbegin(); it != items.rend(); ++it)
                stack.emplace_back(*it, depth + 1);
        } else if (!kids.isNull()) {
            return false;
        }
    }
    return true;
}

void WritePageLabels(QPDF& part, const ObjGenMap<PageOrigin>& origins,
                     const std::function<void(const std::string&)>& warn) {
    QOH root = part.getRoot();
    root.removeKey("/PageLabels");
    std::vector<QOH> pages = part.getAllPages();
    std::vector<QOH> nums;
    bool anyLabel = false;
    bool previousHadNone = false;
    const ParsedSource* previousSource = nullptr;
    constexpr size_t kNoEntry = SIZE_MAX;
    size_t previousEntry = kNoEntry;
    int previousPage = -2;
    for (size_t i = 0; i < pages.size(); ++i) {
        auto it = origins.find(pages[i].getObjGen());
        ParsedSource* source = it == origins.end() ? nullptr : it->second.source.get();
        const int page = source ? it->second.page : -2;
        std::optional<CLabelIndex::Label> label;
        if (source) {
            label = source->Labels().At(page);
            if (source->Labels().Damaged() && !source->labelsDamageSaid) {
                source->labelsDamageSaid = true;
                warn(source->path + ": page labels ignored, their tree is damaged");
            }
        }
        if (label) {
            const bool continues = anyLabel && previousSource == source &&
                                   previousEntry == label->entry && page == previousPage + 1;
            if (!continues) {
                QOH dict = QOH::newDictionary();
                if (label->style.isName())
                    dict.replaceKey("/S", QOH::newName(label->style.getName()));
                if (label->hasPrefix)
                    dict.replaceKey("/P", QOH::newString(label->prefix));
                if (label->number != 1)
                    dict.replaceKey("/St", QOH::newInteger(label->number));
                nums.push_back(QOH::newInteger(static_cast<long long>(i)));
                nums.push_back(dict);
            }
            anyLabel = true;
            previousEntry = label->entry;
        } else {
            if (anyLabel && !previousHadNone) {
                QOH dict = QOH::newDictionary();
                dict.replaceKey("/S", QOH::newName("/D"));
                dict.replaceKey("/St", QOH::newInteger(static_cast<long long>(i) + 1));
                nums.push_back(QOH::newInteger(static_cast<long long>(i)));
                nums.push_back(dict);
            }
            previousEntry = kNoEntry;
        }
        previousHadNone = !label;
        previousSource = source;
        previousPage = page;
    }
    if (!anyLabel)
        return;
    QOH labels = QOH::newDictionary();
    labels.replaceKey("/Nums", QOH::newArray(nums));
    root.replaceKey("/PageLabels", labels);
}

} // namespace engine
