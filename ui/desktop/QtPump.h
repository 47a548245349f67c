#pragma once

#include "engine/Pump.h"

namespace ui {

// Lets Qt handle what is pending between two steps of a run or a page count, so that menus,
// drops, edits, a second press of the run button and Close all work while the engine is busy.
class CQtPump final : public engine::Pump {
  public:
    void PumpOnce() override;
};

} // namespace ui
