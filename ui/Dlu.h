#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace ui {

// The units a dialog's layout is written in: a quarter of the font's average character width
// across, an eighth of its height down. Measuring the average over the 52 letters (rounded)
// matches the way these layouts were drawn, so labels fit the boxes they were drawn with.
QSize DluBase(const QFont& font);

// A rectangle given in dialog units, in pixels for `font`.
QRect DluRect(const QFont& font, const QRect& dialogUnits);

} // namespace ui
