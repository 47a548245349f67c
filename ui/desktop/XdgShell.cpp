#include "ui/desktop/XdgShell.h"

#include "ui/desktop/OpenLink.h"

#include <QApplication>

namespace ui {

bool CXdgShell::Open(const std::string& documentOrAddress) {
    OpenLinkAsync(documentOrAddress, this, [this](int result) {
        if (result > 32)
            return;
        QApplication::beep();
        if (m_prompter)
            ReportLinkError(*m_prompter, result);
    });
    return true;
}

bool CXdgShell::Start(const std::vector<std::string>& argv) {
    // Started programs run on their own; only a refusal to start is a failure.
    return ProgramStartResult(RunProgram(argv, std::chrono::milliseconds(0))) > 32;
}

} // namespace ui
