#include "tests/support/RecordingPrompter.h"

namespace testing_support {

core::Answer CRecordingPrompter::Show(const std::string& text, const std::string& caption,
                                      core::Buttons buttons, core::Icon) {
    boxes.push_back({text, caption, buttons});
    if (buttons == core::Buttons::Ok)
        return core::Answer::Ok;
    if (answers.empty())
        return core::Answer::No;
    core::Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::vector<std::string> CRecordingPrompter::Lines() const {
    std::vector<std::string> out;
    for (const Box& b : boxes)
        out.push_back(b.caption + ": " + b.text);
    return out;
}

} // namespace testing_support
