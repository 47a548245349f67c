#include "storage/SplitLog.h"

#include "core/Files.h"
#include "core/Text.h"

#include <cerrno>
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

std::string LogTimeText(const std::tm& t) {
    return core::Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                        t.tm_hour, t.tm_min, t.tm_sec);
}

std::string LogLine(const std::string& now, long long size, const std::string& outputPath,
                    const std::string& created, const std::string& modified,
                    const std::string& sourceFile) {
    return core::Format("%-22s\t%-8lld\t%-80s\t%-22s\t%-22s\t%-80s\r\n", now.c_str(), size,
                        outputPath.c_str(), created.c_str(), modified.c_str(), sourceFile.c_str());
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
