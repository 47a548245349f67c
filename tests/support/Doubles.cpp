#include "tests/support/Doubles.h"

namespace testing_support {

std::optional<std::string> CScriptedFileDialogs::OpenFile(const std::string& title,
                                                          const std::vector<core::FileFilter>& f) {
    titles.push_back(title);
    filters.push_back(f);
    if (answers.empty())
        return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<std::string> CScriptedFileDialogs::SaveFile(const std::string& title,
                                                          const std::vector<core::FileFilter>& f,
                                                          const std::string&) {
    return OpenFile(title, f);
}

} // namespace testing_support
