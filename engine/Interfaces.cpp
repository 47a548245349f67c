#include "engine/Automation.h"
#include "engine/Pump.h"

namespace engine {

AutomationObject::~AutomationObject() = default;
Automation::~Automation() = default;
void App::PlanParts(const std::string&, const std::vector<PlannedPart>&) {}
Pump::~Pump() = default;
ConnectionDialog::~ConnectionDialog() = default;

} // namespace engine
