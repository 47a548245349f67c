#include "storage/SplitLog.h"

#include "core/Text.h"

#include <fcntl.h>
#include <stdio_ext.h>
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
    if (m_file)
        std::fclose(m_file);
}

bool CSplitLog::Open(core::Prompter* prompter) {
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(m_path.c_str(), "a+be");
    if (!m_file && prompter)
        prompter->Show("Can't open split.log", "Log File Error");
    return m_file != nullptr;
}

bool CSplitLog::Write(const std::string& outputPath, const std::string& sourceBase) {
    if (!m_file)
        return true;
    const std::string now = LogTimeText(m_clock.LocalNow());
    const OutputFacts facts = StatOutput(outputPath);
    std::string line =
        LogLine(now, facts.size, outputPath, facts.created, facts.modified, sourceBase + ".pdf");
    // A line cut short earlier (a full disk, a killed run, another program) must not swallow
    // this one: end it first. Another run may append too, so look every time.
    std::clearerr(m_file);
    if (std::fseek(m_file, -1, SEEK_END) == 0) {
        const int last = std::fgetc(m_file);
        if (last != EOF && last != '\n')
            line.insert(0, "\r\n");
    }
    std::fseek(m_file, 0, SEEK_END);
    std::clearerr(m_file);
    const bool written = std::fwrite(line.data(), 1, line.size(), m_file) == line.size();
    // A reader opening the file now must see this line.
    const bool flushed = std::fflush(m_file) == 0;
    if (written && flushed)
        return true;
    // Whatever stayed in the buffer would otherwise come out later, glued to another line.
    __fpurge(m_file);
    std::clearerr(m_file);
    return false;
}

void CSplitLog::Clear() {
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(m_path.c_str(), "wbe");
}

} // namespace storage
