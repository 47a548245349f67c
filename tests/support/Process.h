#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int status = -1; // the exit status; -1 when the program could not be started or was killed
    std::string out;
    std::string err;
};

// Runs a program from an argument vector (searched in PATH when it has no slash), in `cwd` when
// given, with standard input empty, and waits for it. Never through a shell.
ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = {});

// True when `name` is found in PATH.
bool HaveProgram(const std::string& name);

} // namespace testing_support
