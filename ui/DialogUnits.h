#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace ui {

// The horizontal and vertical base units of a font: its average character width, taken over the
// Latin alphabet and rounded the way dialog templates expect, and its line height.
QSize DialogBaseUnits(const QFont& font);

// A dialog-unit size in pixels from the font's average character width and height (x/4, y/8),
// rounded to the nearest pixel.
QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits);

} // namespace ui
