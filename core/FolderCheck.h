#pragma once

#include "core/Prompter.h"

#include <string>
#include <string_view>

namespace core {

// Results of the folder checks: accepted, declined by the user, not a usable path, not creatable.
inline constexpr int kFolderOk = 0;
inline constexpr int kFolderDeclined = -1;
inline constexpr int kFolderInvalid = 1;
inline constexpr int kFolderNotCreatable = 2;

// The syntax check of a folder the user typed. An empty or relative path is invalid; with the
// root test, a folder whose parent does not exist cannot be created (we make one level only).
int CheckFolderSyntax(std::string_view path, bool skipRootTest);

// The folder chooser's check of its edit box. Existing folders pass; for a missing one the user
// is asked, and on Yes it is created (one level) so that it exists when the chooser returns.
// Shows its own messages; returns one of the codes above.
int CheckFolder(const std::string& path, Prompter& prompter);

} // namespace core
