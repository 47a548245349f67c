#include "cli/StreamPrompter.h"

namespace cli {

core::Answer CStreamPrompter::Show(const std::string& text, const std::string& caption,
                                   core::Buttons buttons, core::Icon) {
    m_err << (caption.empty() ? m_appTitle : caption) << ": " << text << '\n';
    m_err.flush();
    return buttons == core::Buttons::YesNo ? core::Answer::No : core::Answer::Ok;
}

} // namespace cli
