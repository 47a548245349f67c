#include "engine/Automation.h"
#include "engine/Pump.h"

namespace engine {

AutomationObject::~AutomationObject() = default;
Automation::~Automation() = default;
Pump::~Pump() = default;
ConnectionDialog::~ConnectionDialog() = default;

} // namespace engine
