#pragma once

#include "ui/window/JobListOperations.h"

#include <QIcon>

#include <memory>

class QWidget;

namespace ui {

class CMainWindow;

// The link's label: an invitation to the maker's web site.
inline constexpr const char* kLinkText = "Quillsever home page";

// The pieces of the window that come from the dialogs: one small function each, so that the
// window does not depend on how they are built.
std::unique_ptr<ParameterDialog> MakeParameterDialog(CMainWindow& window);
QIcon WindowIcon();
void StartSplash(QWidget* window);

} // namespace ui
