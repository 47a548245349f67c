#pragma once

#include <string>
#include <vector>

namespace core {

// Opening documents and addresses with their associated program, and starting programs. Always
// an argument vector, never a shell command line.
class Shell {
  public:
    virtual ~Shell();
    virtual bool Open(const std::string& documentOrAddress) = 0;
    virtual bool Start(const std::vector<std::string>& argv) = 0;
};

} // namespace core
