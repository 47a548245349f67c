#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QDialog;
class QWidget;

namespace ui {

// The horizontal and vertical base units of a font: its average character width, taken over the
// Latin alphabet and rounded the way dialog templates expect, and its line height.
QSize DialogBaseUnits(const QFont& font);

// A dialog-unit size in pixels from the font's average character width and height (x/4, y/8),
// rounded to the nearest pixel.
QRect DialogUnitsToPixels(const QFont& font, QRect dialogUnits);

// Layouts in dialog units were drawn for a narrower font than most desktops use, so a caption
// can be wider than its box. This grows every label, check box and radio button whose text is
// cut: first to the right, up to its neighbour (or the frame around it, or the window edge),
// then to the left as far as its neighbour there allows. Positions of everything else stay.
void LetTextsFit(QWidget* window);

// A label as it reads, without its access-key marks ("Save && Exit" is "Save & Exit"): the
// accessible name screen readers announce.
QString WithoutAccessKeys(QString label);

// The manual's page F1 opens over a window ("log#view": page log.html at its anchor "view").
void SetHelpTopic(QWidget& window, const QString& topic);
// The topic of `widget`, or of the nearest window it belongs to that has one; empty for none.
QString HelpTopicOf(const QWidget* widget);

// Bounds a resizable window's size by the screen it opens on, its title bar and borders
// included (down to its minimum size at most): a large font makes a template's size larger than
// a small screen, whose edges would hide the window's buttons and its close box.
void FitOnScreen(QWidget& window);

// A modal dialog with a caption and a close box, named by its dialog id ("dlg140"): the window's
// help topic follows the dialog that is open.
void SetUpModalDialog(QDialog& dialog, const QString& dialogId, const QString& title);

} // namespace ui
