#include "engine/DebugTrace.h"

#include "core/Text.h"

namespace engine {

CDebugTrace::~CDebugTrace() {
    if (m_file)
        std::fclose(m_file);
}

void CDebugTrace::SwitchOn(core::Prompter& prompter) {
    prompter.Show("Debugging has been turned on, click 'OK' to this message.");
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(m_path.c_str(), "wbe");
    Line(core::Format("Started Application version: %s\r\n", kApplicationVersion));
}

void CDebugTrace::End() {
    if (!m_file)
        return;
    Line("Close\r\n");
    std::fclose(m_file);
    m_file = nullptr;
}

void CDebugTrace::Line(std::string_view text) {
    if (!m_file)
        return;
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
}

} // namespace engine
