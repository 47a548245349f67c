#pragma once

#include "core/Shell.h"

namespace ui {

// The desktop's own way of opening things: addresses and documents through OpenLink (xdg-open,
// then the registered browser), programs started with an argument vector.
class CXdgShell final : public core::Shell {
  public:
    bool Open(const std::string& documentOrAddress) override;
    bool Start(const std::vector<std::string>& argv) override;
};

} // namespace ui
