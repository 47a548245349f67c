#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace ui {

// The units a dialog's layout is written in: a quarter of the font's average character width
// across, an eighth of its height down. Measuring the average over the 52 letters (rounded)
// matches the way these layouts were drawn, so labels fit the boxes they were drawn with.
QSize DluBase(const QFont& font);

// A rectangle given in dialog units, in pixels for `font`.
QRect DluRect(const QFont& font, const QRect& dialogUnits);

// Layouts in dialog units were drawn for a narrower font than most desktops use, so a caption
// can be wider than its box. This grows every label, check box and radio button whose text is
// cut: first to the right, up to its neighbour (or the frame around it, or the window edge),
// then to the left as far as its neighbour there allows. Positions of everything else stay.
void LetTextsFit(QWidget* window);

} // namespace ui
