#pragma once

#include "core/JobList.h"
#include "core/Prompter.h"
#include "engine/Automation.h"
#include "engine/Pump.h"

#include <cstdint>
#include <string>

namespace engine {

inline constexpr const char* kConnectFailedMessage =
    "Failed to connect to full version of Acrobat 4, 5, 6 or 7\n\nPlease either re-install "
    "Acrobat or run Acrobat to force this software to use what's running.\n\nNOTE: This software "
    "will not work with Acrobat Reader or Adobe Reader.";

// Counts a source's pages through the automation, in a session of its own.
class CPageCounter {
  public:
    CPageCounter(Automation& automation, core::Prompter& prompter, Pump& pump,
                 ConnectionDialog& connection, core::CJobList* list = nullptr)
        : m_automation(automation), m_prompter(prompter), m_pump(pump), m_connection(connection),
          m_list(list) {}

    // -1 when the file cannot be read or is no regular file (row `row` of the list, if any, is
    // deselected; nothing is said); 0 when the automation could not count (it has been said
    // why), which includes a file that exists but cannot be opened just now; else the count.
    // Errors raised by the automation are not caught here.
    int32_t Count(const std::string& path, int row);

  private:
    Automation& m_automation;
    core::Prompter& m_prompter;
    Pump& m_pump;
    ConnectionDialog& m_connection;
    core::CJobList* m_list;
};

} // namespace engine
