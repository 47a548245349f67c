#include "cli/Progress.h"

#include "cli/StreamPrompter.h"
#include "core/Files.h"
#include "core/Text.h"

#include <algorithm>

namespace cli {

namespace {

constexpr int kBarWidth = 24;
// Long names are cut from the front: the end of a file name tells files apart best.
constexpr size_t kFileWidth = 40;
// Back to the start of the line and wipe it, so a shorter text leaves nothing behind.
constexpr const char* kClearLine = "\r\x1b[K";

} // namespace

std::string ElapsedText(long seconds) {
    if (seconds < 0)
        seconds = 0;
    const long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    return h > 0 ? core::Format("%ld:%.2ld:%.2ld", h, m, s) : core::Format("%ld:%.2ld", m, s);
}

CProgress::CProgress(std::ostream& err, Mode mode, int totalParts, std::function<double()> seconds,
                     int columns)
    : m_err(err), m_mode(mode), m_total(std::max(totalParts, 0)), m_seconds(std::move(seconds)),
      m_columns(columns), m_start(m_seconds()) {}

long CProgress::ElapsedSeconds() const {
    return static_cast<long>(m_seconds() - m_start);
}

std::string CProgress::BarText() const {
    // A refused job's parts were counted but never come, so done may stay below the total;
    // a run never shows more than a full bar.
    const int total = std::max(m_total, m_done);
    const int filled = total == 0 ? kBarWidth : m_done * kBarWidth / total;
    std::string file = ForTerminal(core::FileTitle(m_file));
    if (file.size() > kFileWidth)
        file = "..." + file.substr(file.size() - (kFileWidth - 3));
    std::string text = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
                       std::to_string(m_done) + "/" + std::to_string(total) + " parts  " +
                       ElapsedText(ElapsedSeconds()) + (file.empty() ? "" : "  " + file);
    // One column short of the width: a line that fills it wraps on some terminals. The cut
    // never splits a UTF-8 character.
    if (m_columns > 1 && text.size() > static_cast<size_t>(m_columns - 1)) {
        size_t cut = static_cast<size_t>(m_columns - 1);
        // The first byte left out continues a character: leave out all of that character.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
    }
    return text;
}

void CProgress::Draw() {
    m_drawnSecond = ElapsedSeconds();
    m_err << kClearLine << BarText() << std::flush;
    m_drawn = true;
}

void CProgress::JobStarted(const std::string& file) {
    m_file = file;
    if (m_mode == Mode::Bar)
        Draw();
}

void CProgress::OutputWritten(int row, int range, int ranges, const std::string& path) {
    ++m_done;
    if (m_mode == Mode::Lines)
        m_err << "job " << row + 1 << ", range " << range << " of " << ranges << ": " << path
              << '\n';
    else if (m_mode == Mode::Bar)
        Draw();
}

void CProgress::Tick() {
    if (m_mode == Mode::Bar && m_drawn && ElapsedSeconds() != m_drawnSecond)
        Draw();
}

void CProgress::BeforeMessage() {
    if (m_mode == Mode::Bar && m_drawn)
        m_err << kClearLine << std::flush;
}

void CProgress::AfterMessage() {
    if (m_mode == Mode::Bar && m_drawn)
        Draw();
}

void CProgress::Finish() {
    if (m_mode == Mode::Bar && m_drawn) {
        m_err << '\n' << std::flush;
        m_drawn = false;
    }
}

} // namespace cli
