#pragma once

#include <QIcon>
#include <QPixmap>

namespace ui {

// The program's icon, for the window, the dialogs and the desktop.
QIcon ProgramIcon();

// The start-up picture at its natural size, 277 x 280.
QPixmap SplashPicture();

} // namespace ui
