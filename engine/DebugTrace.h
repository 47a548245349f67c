#pragma once

#include "core/Prompter.h"
#include "core/Trace.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace engine {

inline constexpr const char* kDebugTraceFile = "debug.txt";
inline constexpr const char* kApplicationVersion = "1.16";

// The hidden debug trace: once switched on, every traced step of a run is written to
// "debug.txt" and flushed at once, so the file is complete even if the program dies.
class CDebugTrace final : public core::Trace {
  public:
    explicit CDebugTrace(std::string path = kDebugTraceFile) : m_path(std::move(path)) {}
    ~CDebugTrace() override;
    CDebugTrace(const CDebugTrace&) = delete;
    CDebugTrace& operator=(const CDebugTrace&) = delete;

    // Says so, then starts the file afresh. When the file cannot be created, or the name is not
    // a file of ours (a link, a FIFO, another user's file), says "Can't open debug.txt", the
    // trace stays off and false comes back.
    bool SwitchOn(core::Prompter& prompter);
    // Closes the file with its last line; nothing when the trace is off.
    void End();
    // Whether a line could not be written (a full disk, a file-size limit) since SwitchOn.
    bool WriteFailed() const { return m_writeFailed; }

    bool IsOn() const override { return m_file != nullptr; }
    void Line(std::string_view text) override;

  private:
    std::string m_path;
    FILE* m_file = nullptr;
    std::atomic<bool> m_writeFailed = false;
};

} // namespace engine
