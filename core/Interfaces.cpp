#include "core/Prompter.h"
#include "core/Trace.h"

namespace core {

Prompter::~Prompter() = default;
Trace::~Trace() = default;

} // namespace core
