#include "engine/DebugTrace.h"

#include "core/Files.h"
#include "core/Text.h"

#include <fcntl.h>
#include <unistd.h>

namespace engine {

CDebugTrace::~CDebugTrace() {
    if (m_file)
        std::fclose(m_file);
}

bool CDebugTrace::SwitchOn(core::Prompter& prompter) {
    prompter.Show("Debugging has been turned on, click 'OK' to this message.");
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_writeFailed = false;
    // The name is ours, but the folder may not be: a link or a FIFO planted as debug.txt must
    // neither be emptied nor block us.
    const int fd = core::OpenOwnFd(m_path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd >= 0 && !(m_file = ::fdopen(fd, "wb")))
        ::close(fd);
    if (!m_file) {
        prompter.Show("Can't open debug.txt");
        return false;
    }
    Line(core::Format("Started Application version: %s\r\n", kApplicationVersion));
    return true;
}

void CDebugTrace::End() {
    if (!m_file)
        return;
    Line("Close\r\n");
    if (std::fclose(m_file) != 0)
        m_writeFailed = true;
    m_file = nullptr;
}

void CDebugTrace::Line(std::string_view text) {
    if (!m_file)
        return;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() || std::fflush(m_file) != 0)
        m_writeFailed = true;
}

} // namespace engine
