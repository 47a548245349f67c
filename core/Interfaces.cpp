#include "core/Prompter.h"
#include "core/Trace.h"

namespace core {

Prompter::~Prompter() = default;
Trace::~Trace() = default;

} // namespace core

#include "core/Clock.h"
#include "core/FileDialogs.h"
#include "core/Shell.h"

namespace core {

FileDialogs::~FileDialogs() = default;
Shell::~Shell() = default;
Clock::~Clock() = default;

std::tm CSystemClock::LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace core
