#pragma once

#include "core/Clock.h"
#include "core/Prompter.h"

#include <string>
#include <sys/types.h>

namespace storage {

inline constexpr const char* kSplitLogFile = "split.log";

// "%.4d-%.2d-%.2d %.2d:%.2d:%.2d"
std::string LogTimeText(const std::tm& local);

// The log line for one output, exactly as it is written.
std::string LogLine(const std::string& now, long long size, const std::string& outputPath,
                    const std::string& created, const std::string& modified,
                    const std::string& sourceFile);

// The split log: one fixed-width line per output file, appended through a handle that is
// opened once and kept. Without a handle (it could not be opened) nothing is recorded and
// nothing else is affected.
class CSplitLog {
  public:
    explicit CSplitLog(core::Clock& clock, std::string path = kSplitLogFile)
        : m_clock(clock), m_path(std::move(path)) {}
    ~CSplitLog();
    CSplitLog(const CSplitLog&) = delete;
    CSplitLog& operator=(const CSplitLog&) = delete;

    // Opens for reading and appending, creating the file. Only a regular file of this user
    // that is no link is taken. On failure says "Can't open split.log" when given a prompter.
    bool Open(core::Prompter* prompter = nullptr);

    // Records one output: its path and the job's source path with every ".pdf" removed.
    // False when the line could not be written in full (a full disk); without a handle there
    // is nothing to record and that is no failure.
    bool Write(const std::string& outputPath, const std::string& sourceBase);

    // Empties the file; later lines go into the emptied file. A file that is no longer one the
    // log may use is left alone, and the log goes on without a handle (said as Open says it).
    bool Clear(core::Prompter* prompter = nullptr);

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

  private:
    void Close();

    core::Clock& m_clock;
    std::string m_path;
    int m_fd = -1;
    off_t m_end = -1; // where the last line written ended; -1 when not known
};

} // namespace storage
