#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The application's title: the executable's file name without directory and extension.
std::string AppTitle(const std::string& argv0);

// The command names, as typed after the program name.
std::vector<std::string> CommandNames();

// Runs one command line (words[0] is the program path) and returns the exit status.
int Run(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

} // namespace cli
