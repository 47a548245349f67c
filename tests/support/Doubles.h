#pragma once

#include "core/Clock.h"
#include "core/FileDialogs.h"
#include "core/Shell.h"
#include "core/Trace.h"

#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// Dialogs answered from a script; every request is recorded by its title.
class CScriptedFileDialogs final : public core::FileDialogs {
  public:
    std::optional<std::string> OpenFile(const std::string& title,
                                        const std::vector<core::FileFilter>& filters) override;
    std::optional<std::string> SaveFile(const std::string& title,
                                        const std::vector<core::FileFilter>& filters,
                                        const std::string& defaultExtension) override;

    std::deque<std::optional<std::string>> answers;
    std::vector<std::string> titles;
    std::vector<std::vector<core::FileFilter>> filters;
};

class CRecordingShell final : public core::Shell {
  public:
    bool Open(const std::string& what) override {
        opened.push_back(what);
        return true;
    }
    bool Start(const std::vector<std::string>& argv) override {
        started.push_back(argv);
        return true;
    }
    std::vector<std::string> opened;
    std::vector<std::vector<std::string>> started;
};

class CFixedClock final : public core::Clock {
  public:
    // 2006-03-07 14:05:09 unless set otherwise.
    std::tm now{.tm_sec = 9, .tm_min = 5, .tm_hour = 14, .tm_mday = 7, .tm_mon = 2, .tm_year = 106};
    std::tm LocalNow() override { return now; }
};

class CRecordingTrace final : public core::Trace {
  public:
    bool on = true;
    std::vector<std::string> lines;
    bool IsOn() const override { return on; }
    void Line(std::string_view text) override {
        if (on)
            lines.emplace_back(text);
    }
};

} // namespace testing_support
