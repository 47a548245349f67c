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
        m_repaired = std::make_unique<QPDFPageLabelDocumentHelper>(pdf);
    }
}

CLabelIndex::~CLabelIndex() = default;

namespace {

// Entries read through qpdf have no number of their own; runs are told apart by their values.
constexpr size_t kRepairedEntry = SIZE_MAX - 1;

bool IsStyle(const std::string& name) {
    return name == "/D" || name == "/R" || name == "/r" || name == "/A" || name == "/a";
}

} // namespace

std::optional<CLabelIndex::Label> CLabelIndex::At(int64_t page) const {
    if (m_repaired) {
        QOH dict;
        try {
            dict = m_repaired->getLabelForPage(page);
        } catch (const std::exception&) {
            return std::nullopt; // a tree qpdf cannot walk either (a loop)
        }
        if (dict.isNull())
            return std::nullopt;
        // As qpdf reads the entry, so that a part shows the labels qpdf's own copy of the
        // pages would: an entry that is no dictionary is a label without style or prefix.
        if (!dict.isDictionary())
            dict = QOH::newDictionary();
        QOH style = dict.getKey("/S");
        QOH st = dict.getKey("/St");
        QOH prefix = dict.getKey("/P");
        return Label{kRepairedEntry, st.isInteger() ? st.getIntValue() : 1,
                     style.isName() ? style : QOH::newNull(),
                     prefix.isString() ? prefix.getStringValue() : "", prefix.isString()};
    }
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
        if (!IsStyle(s.getName()))
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
    std::optional<CLabelIndex::Label> previousLabel;
    auto sameRun = [](CLabelIndex::Label a, CLabelIndex::Label b) {
        return a.entry == b.entry && a.number == b.number + 1 && a.hasPrefix == b.hasPrefix &&
               a.prefix == b.prefix && a.style.isName() == b.style.isName() &&
               (!a.style.isName() || a.style.getName() == b.style.getName());
    };
    for (size_t i = 0; i < pages.size(); ++i) {
        auto it = origins.find(pages[i].getObjGen());
        ParsedSource* source = it == origins.end() ? nullptr : it->second.source.get();
        const int page = source ? it->second.page : -2;
        std::optional<CLabelIndex::Label> label;
        if (source) {
            label = source->Labels().At(page);
            if (source->Labels().Damaged() && !source->labelsDamageSaid) {
                source->labelsDamageSaid = true;
                warn(source->path +
                     ": page labels read as qpdf repairs them, their tree is damaged");
            }
        }
        if (label) {
            const bool continues = anyLabel && previousSource == source &&
                                   previousEntry == label->entry && page == previousPage + 1 &&
                                   previousLabel && sameRun(*label, *previousLabel);
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
        previousLabel = label;
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
