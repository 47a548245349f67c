#include "cli/Cli.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    // Past a file-size limit (`ulimit -f`) the kernel would kill us in the middle of a write,
    // leaving a temporary file and no word why. Ignored, the write fails like one on a full
    // disk, and the run reports it and tidies up.
    std::signal(SIGXFSZ, SIG_IGN);
    std::ios::sync_with_stdio(false);
    return cli::Run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
