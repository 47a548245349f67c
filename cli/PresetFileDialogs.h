#pragma once

#include "core/FileDialogs.h"

#include <deque>
#include <string>

namespace cli {

// A terminal has no dialogs: the names come from the command line, in the order the command
// will ask for them; a dialog with no name left is cancelled.
class CPresetFileDialogs final : public core::FileDialogs {
  public:
    explicit CPresetFileDialogs(std::deque<std::string> names) : m_names(std::move(names)) {}
    std::optional<std::string> OpenFile(const std::string&,
                                        const std::vector<core::FileFilter>&) override {
        return Next();
    }
    std::optional<std::string> SaveFile(const std::string&, const std::vector<core::FileFilter>&,
                                        const std::string&) override {
        return Next();
    }

  private:
    std::optional<std::string> Next() {
        if (m_names.empty())
            return std::nullopt;
        std::string name = std::move(m_names.front());
        m_names.pop_front();
        return name;
    }
    std::deque<std::string> m_names;
};

} // namespace cli
