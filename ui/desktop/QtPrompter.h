#pragma once

#include "core/Prompter.h"

#include <QString>

namespace ui {

// The file name of the running program without folder and extension: the caption of every box
// that names none of its own.
QString ApplicationTitle();

// Message boxes as QMessageBox, parented to whichever window is active, so a box raised during
// a run or from a dialog stays above that dialog.
class CQtPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string& text, const std::string& caption = {},
                      core::Buttons buttons = core::Buttons::Ok,
                      core::Icon icon = core::Icon::None) override;
};

} // namespace ui
