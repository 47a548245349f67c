#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// The directory separator of the platform; every place that joins, searches or reduces
// separators in a path uses this one.
inline constexpr char kSeparator = '/';

// The last path component, as it stands (no extension is removed).
std::string FileTitle(std::string_view path);

// Everything before the last separator, looking at every position but the first; nullopt when
// there is none, in which case the caller keeps whatever directory it had.
std::optional<std::string> DirectoryOf(std::string_view path);

// Renames, but never over an existing file (false with errno EEXIST then).
bool RenameNoReplace(const std::string& from, const std::string& to);

// Opens a regular file for reading; nullptr for anything else (a FIFO, a device, a folder),
// which is treated as missing, so reading it can never block or run without end.
FILE* OpenRegularFile(const std::string& path);

// The bytes of a regular file; nullopt when it is missing, not a regular file or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path);

} // namespace core
