#pragma once

#include "cli/Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// One command of quillsever-cli, run in-process, with what it printed.
struct CliResult {
    int status;
    std::string out;
    std::string err;
};

inline CliResult RunCli(std::vector<std::string> words) {
    words.insert(words.begin(), "/usr/bin/quillsever-cli");
    std::ostringstream out, err;
    const int status = cli::Run(words, out, err);
    return {status, out.str(), err.str()};
}

} // namespace testing_support
