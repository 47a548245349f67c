#pragma once

#include "core/Prompter.h"

#include <ostream>
#include <string>
#include <string_view>

namespace cli {

// Message boxes for a terminal: "caption: text" on the error stream; questions are answered No
// so that nothing is opened or overwritten behind the user's back.
class CStreamPrompter final : public core::Prompter {
  public:
    // `terminal`: the stream is a terminal, which takes control bytes in names as commands.
    CStreamPrompter(std::ostream& err, std::string appTitle, bool terminal = false)
        : m_err(err), m_appTitle(std::move(appTitle)), m_terminal(terminal) {}
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override;

  private:
    std::ostream& m_err;
    std::string m_appTitle;
    bool m_terminal;
};

// `text` as a terminal may be given it: a file may be named with escape sequences that would
// retitle the window, hide text or worse. Control characters (but line feeds and TABs) are
// shown as "?".
std::string ForTerminal(std::string_view text);

} // namespace cli
