#include "storage/SplitLog.h"

#include "core/Files.h"
#include "core/Text.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

std::string FileTimeText(const struct statx_timestamp& stamp) {
    std::time_t seconds = static_cast<std::time_t>(stamp.tv_sec);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return {};
    return LogTimeText(local);
}

struct OutputFacts {
    long long size = 0;
    std::string created;
    std::string modified;
};

// One statx by name gives all three facts; opening the part again for them cost three more
// system calls per part.
OutputFacts StatOutput(const std::string& path) {
    OutputFacts facts;
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_CTIME,
                &sx) != 0)
        return facts;
    facts.size = static_cast<long long>(sx.stx_size);
    // Not every file system keeps a birth time; for a file the run has just written its
    // status-change time is the same moment.
    facts.created = FileTimeText((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime);
    facts.modified = FileTimeText(sx.stx_mtime);
    return facts;
}

} // namespace

namespace {

// printf's "%.Nd": at least `digits` digits, zero-padded.
void AppendNumber(std::string& out, long long value, int digits) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    const bool negative = value < 0;
    if (negative)
        out += '-';
    const char* first = text + (negative ? 1 : 0);
    for (long long n = end - first; n < digits; ++n)
        out += '0';
    out.append(first, static_cast<size_t>(end - first));
}

// printf's "%-Ns": left-justified in at least `width` characters.
void AppendPadded(std::string& out, std::string_view text, size_t width) {
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

} // namespace

// Written by hand rather than through printf: a part's log line took about 15,000 instructions
// there, on the thread that writes the parts.
std::string LogTimeText(const std::tm& t) {
    std::string out;
    out.reserve(19);
    AppendNumber(out, t.tm_year + 1900LL, 4);
    out += '-';
    AppendNumber(out, t.tm_mon + 1LL, 2);
    out += '-';
    AppendNumber(out, t.tm_mday, 2);
    out += ' ';
    AppendNumber(out, t.tm_hour, 2);
    out += ':';
    AppendNumber(out, t.tm_min, 2);
    out += ':';
    AppendNumber(out, t.tm_sec, 2);
    return out;
}

std::string LogLine(const std::string& now, long long size, const std::string& outputPath,
                    const std::string& created, const std::string& modified,
                    const std::string& sourceFile) {
    std::string out;
    out.reserve(262 + outputPath.size() + sourceFile.size());
    AppendPadded(out, now, 22);
    out += '\t';
    const size_t before = out.size();
    AppendNumber(out, size, 1);
    if (out.size() - before < 8)
        out.append(8 - (out.size() - before), ' ');
    out += '\t';
    AppendPadded(out, outputPath, 80);
    out += '\t';
    AppendPadded(out, created, 22);
    out += '\t';
    AppendPadded(out, modified, 22);
    out += '\t';
    AppendPadded(out, sourceFile, 80);
    out += "\r\n";
    return out;
}

CSplitLog::~CSplitLog() {
    Close();
}

void CSplitLog::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_end = -1;
}

bool CSplitLog::Open(core::Prompter* prompter) {
    Close();
    // O_APPEND: every line lands at the end, whatever another run appended meanwhile.
    m_fd = core::OpenOwnFd(m_path, O_RDWR | O_CREAT | O_APPEND);
    if (m_fd < 0 && prompter)
        prompter->Show("Can't open split.log", "Log File Error");
    return m_fd >= 0;
}

bool CSplitLog::Write(const std::string& outputPath, const std::string& sourceBase) {
    if (m_fd < 0)
        return true;
    const std::string now = LogTimeText(m_clock.LocalNow());
    const OutputFacts facts = StatOutput(outputPath);
    std::string line =
        LogLine(now, facts.size, outputPath, facts.created, facts.modified, sourceBase + ".pdf");
    // A line cut short earlier (a full disk, a killed run, another program) must not swallow
    // this one: end it first. Another run may append too, so look every time; while the file
    // ends where our last line did, that line was whole and there is nothing to read. The
    // kernel makes a long append visible page by page, so another run's line may be half there
    // when we look: the lock keeps our runs' looks and appends from crossing.
    const bool locked = ::flock(m_fd, LOCK_EX) == 0;
    struct stat st {};
    const bool sized = ::fstat(m_fd, &st) == 0;
    if (sized && st.st_size > 0 && st.st_size != m_end) {
        char last = 0;
        if (::pread(m_fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            line.insert(0, "\r\n");
    }
    // Straight to the file, no buffer: a reader opening it now sees this line, and a line
    // that fails leaves nothing behind to come out later glued to another.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (locked)
        ::flock(m_fd, LOCK_UN);
    const bool whole = done == line.size();
    m_end = whole && sized ? st.st_size + static_cast<off_t>(line.size()) : -1;
    return whole;
}

bool CSplitLog::Clear(core::Prompter* prompter) {
    Close();
    m_fd = core::OpenOwnFd(m_path, O_RDWR | O_CREAT | O_TRUNC | O_APPEND);
    if (m_fd < 0 && prompter)
        prompter->Show("Can't open split.log", "Log File Error");
    return m_fd >= 0;
}

} // namespace storage
