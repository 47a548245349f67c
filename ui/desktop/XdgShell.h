#pragma once

#include "core/Prompter.h"
#include "core/Shell.h"

#include <QObject>

namespace ui {

// The desktop's own way of opening things: addresses and documents through OpenLink (xdg-open,
// then the registered browser), programs started with an argument vector. Nothing is waited
// for: Open says whether the opening began, and a failure found later is reported through the
// prompter, when one is set.
class CXdgShell final : public QObject, public core::Shell {
    Q_OBJECT
  public:
    explicit CXdgShell(QObject* parent = nullptr) : QObject(parent) {}
    void SetPrompter(core::Prompter* prompter) { m_prompter = prompter; }

    bool Open(const std::string& documentOrAddress) override;
    bool Start(const std::vector<std::string>& argv) override;

  private:
    core::Prompter* m_prompter = nullptr;
};

} // namespace ui
