#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace propose {

// The longest name a proposal gives, in bytes: with the source's title and the naming texts
// around it, a file name must stay within the 255 bytes a Linux file system takes.
inline constexpr size_t kMaxNameBytes = 200;

// A title (UTF-8) as a file name: "/" becomes "-", a run of control characters and line
// separators becomes one space (none at either end), a byte that begins no UTF-8 character
// becomes U+FFFD, the name ".." becomes "__", and a name longer than kMaxNameBytes is cut at a
// character boundary. Everything else is kept as it is.
std::string SafeFileName(std::string_view title);

// `name` cut to at most `maxBytes` at a character boundary.
std::string CutName(std::string name, size_t maxBytes);

// Gives the second and later of equal names " (2)", " (3)", ... so that no two parts of one
// job are refused for writing the same file; a name is cut to make room for its number
// within `maxBytes`.
void MakeNamesUnique(std::vector<std::string>& names, size_t maxBytes = kMaxNameBytes);

// Cuts names longer than `maxBytes` (see ListedNameRoom) and keeps them unique.
void FitNames(std::vector<std::string>& names, size_t maxBytes);

} // namespace propose
