#pragma once

#include "core/Prompter.h"

#include <ostream>
#include <string>

namespace cli {

// Message boxes for a terminal: "caption: text" on the error stream; questions are answered No
// so that nothing is opened or overwritten behind the user's back.
class CStreamPrompter final : public core::Prompter {
  public:
    CStreamPrompter(std::ostream& err, std::string appTitle)
        : m_err(err), m_appTitle(std::move(appTitle)) {}
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override;

  private:
    std::ostream& m_err;
    std::string m_appTitle;
};

} // namespace cli
