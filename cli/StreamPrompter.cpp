#include "cli/StreamPrompter.h"

namespace cli {

core::Answer CStreamPrompter::Show(const std::string& text, const std::string& caption,
                                   core::Buttons buttons, core::Icon) {
    const std::string line = (caption.empty() ? m_appTitle : caption) + ": " + text;
    m_err << (m_terminal ? ForTerminal(line) : line) << '\n';
    m_err.flush();
    return buttons == core::Buttons::YesNo ? core::Answer::No : core::Answer::Ok;
}

std::string ForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls written in UTF-8 (U+0080 to U+009F) count as well: some terminals act
        // on U+009B as on ESC [.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || c1) {
            out += '?';
            i += c1 ? 1 : 0;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace cli
