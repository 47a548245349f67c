#pragma once

#include "core/Prompter.h"

#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// Records every box; answers questions from a script (No when the script runs dry).
class CRecordingPrompter final : public core::Prompter {
  public:
    struct Box {
        std::string text;
        std::string caption;
        core::Buttons buttons;
    };

    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override;

    std::vector<Box> boxes;
    std::deque<core::Answer> answers;

    // "caption: text" of every box, as the terminal shows them; empty caption shown as "".
    std::vector<std::string> Lines() const;
};

} // namespace testing_support
