#pragma once

#include "core/Prompter.h"

#include <cstdint>
#include <string>

namespace core {

inline constexpr const char* kSetupFile = "setup.ini";

// The naming and start-up options, one set per process.
struct SetupOptions {
    std::string prefix = "_part";        // PREFIXSTR
    bool useSourceName = true;           // cleared by DONTUSEORIGINALFILENAME
    std::string endText;                 // ENDSTR
    int32_t counterWidth = 4;            // MASK
    bool noSplash = false;               // NOSPLASH
    bool defaultSplitToSource = false;   // DEFAULTSPLIT
    std::string singlePageText = "page"; // PAGERANGETEXT
    std::string rangeText = "pages";     // PAGERANGESTEXT
    std::string delimiter = "_";         // DELIMITER

    bool operator==(const SetupOptions&) const = default;
};

// Reads the file over `options`; a missing or unreadable file leaves them as they are.
void LoadSetupOptions(SetupOptions& options, const std::string& path = kSetupFile);

// The exact bytes the options are saved as.
std::string SetupOptionsText(const SetupOptions& options);

// Writes the file anew (atomically); says "can't save to setup.ini" when it cannot.
bool SaveSetupOptions(const SetupOptions& options, Prompter& prompter,
                      const std::string& path = kSetupFile);

} // namespace core
