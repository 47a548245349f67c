#include "cli/Arguments.h"

#include <charconv>

namespace cli {

CArguments::CArguments(std::vector<std::string> words, std::set<std::string> valueOptions,
                       std::set<std::string> flags) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (!optionsEnded && w == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && w.size() > 2 && w.rfind("--", 0) == 0) {
            std::string name = w.substr(2);
            if (valueOptions.count(name)) {
                if (i + 1 >= words.size()) {
                    m_error = "option --" + name + " needs a value";
                    return;
                }
                m_values[name] = words[++i];
            } else if (flags.count(name)) {
                m_flags.insert(name);
            } else {
                m_error = "unknown option " + w;
                return;
            }
        } else {
            m_positional.push_back(w);
        }
    }
}

std::optional<std::string> CArguments::Value(const std::string& name) const {
    auto it = m_values.find(name);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

int32_t CArguments::Int(const std::string& name, int32_t fallback) {
    auto text = Value(name);
    if (!text)
        return fallback;
    int32_t value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size()) {
        if (m_error.empty())
            m_error = "--" + name + " needs a whole number, not \"" + *text + "\"";
        return fallback;
    }
    return value;
}

} // namespace cli
