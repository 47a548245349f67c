#pragma once

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

// A new, empty temporary file in the directory of `path`, with the permissions an ordinary new
// file gets; nullopt when the directory does not take one.
struct TempFile {
    int fd;
    std::string path;
};
std::optional<TempFile> CreateTempBeside(const std::string& path);

// Writes the bytes to a temporary file beside `path` and renames it over `path`, so an
// interrupted write never leaves a half file or destroys the previous one.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

std::optional<std::string> ReadWholeFile(const std::string& path);

} // namespace core
