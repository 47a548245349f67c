#include "cli/Cli.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return cli::Run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
