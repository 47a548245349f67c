#pragma once

// The dialogs of the window commands are laid out in dialog units. The main window's code owns
// the conversion; until it is part of the build we carry the same function ourselves.
#if __has_include("ui/DialogUnits.h")
#include "ui/DialogUnits.h"
#else
#include <QFont>
#include <QRect>

namespace ui {
// A dialog-unit rectangle in pixels: x from the font's average character width / 4, y from its
// height / 8.
QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits);
} // namespace ui
#endif
