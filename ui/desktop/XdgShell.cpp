#include "ui/desktop/XdgShell.h"

#include "ui/desktop/OpenLink.h"

namespace ui {

bool CXdgShell::Open(const std::string& documentOrAddress) {
    return OpenLink(documentOrAddress) > 32;
}

bool CXdgShell::Start(const std::vector<std::string>& argv) {
    // Started programs run on their own; only a refusal to start is a failure.
    return ProgramStartResult(RunProgram(argv, std::chrono::milliseconds(0))) > 32;
}

} // namespace ui
