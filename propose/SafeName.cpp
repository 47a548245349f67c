#include "propose/SafeName.h"

#include "propose/Utf8.h"

#include <algorithm>
#include <map>
#include <set>

namespace propose {

namespace {

// The length of the control character at `at` (C0, DEL, or a C1 character written as its
// two-byte UTF-8 sequence) or of a line or paragraph separator (U+2028, U+2029), which end a
// line for many readers of a list of names; 0 when there is none.
size_t ControlAt(std::string_view text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7f)
        return 1;
    if (c == 0xc2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9f)
            return 2;
    }
    if (text.substr(at, 3) == "\xe2\x80\xa8" || text.substr(at, 3) == "\xe2\x80\xa9")
        return 3;
    return 0;
}

} // namespace

std::string SafeFileName(std::string_view raw) {
    // A title marked as UTF-8 may hold anything after its mark.
    const std::string title = EncodedUtf8(DecodedUtf8(raw));
    std::string name;
    bool pendingSpace = false;
    for (size_t i = 0; i < title.size();) {
        if (const size_t control = ControlAt(title, i)) {
            pendingSpace = !name.empty();
            i += control;
            continue;
        }
        if (pendingSpace)
            name += ' ';
        pendingSpace = false;
        name += title[i] == '/' ? '-' : title[i];
        ++i;
    }
    name = CutName(std::move(name), kMaxNameBytes);
    if (name == "..")
        name = "__";
    return name;
}

std::string CutName(std::string name, size_t maxBytes) {
    if (name.size() > maxBytes) {
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name;
}

void MakeNamesUnique(std::vector<std::string>& names, size_t maxBytes) {
    std::set<std::string> taken(names.begin(), names.end());
    std::set<std::string> seen;
    std::map<std::string, int> next;
    for (std::string& name : names) {
        if (seen.insert(name).second)
            continue;
        int& k = next[name];
        k = std::max(k, 1);
        std::string unique;
        do {
            const std::string number = std::to_string(++k) + ")";
            const std::string front =
                name.empty() ? std::string()
                             : CutName(name, maxBytes - std::min(maxBytes, number.size() + 2));
            unique = (front.empty() ? "(" : front + " (") + number;
        } while (taken.count(unique));
        taken.insert(unique);
        seen.insert(unique);
        name = unique;
    }
}

void FitNames(std::vector<std::string>& names, size_t maxBytes) {
    bool cut = false;
    for (std::string& name : names) {
        cut = cut || name.size() > maxBytes;
        name = CutName(std::move(name), maxBytes);
    }
    if (cut)
        MakeNamesUnique(names, maxBytes);
}

} // namespace propose
