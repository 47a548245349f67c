#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

namespace cli {

// The longest name the file system of `folder` takes, from the nearest folder on its way that
// exists already (those still to be made go on the same file system). With `known`, folders
// asked about before, and those on their way, are answered from it and added to it.
size_t NameMax(const std::string& folder, std::unordered_map<std::string, size_t>* known = nullptr);

// Whether the system takes `path` as a file's name: none of its names longer than `nameMax`,
// the whole within PATH_MAX. A part at a path it does not take cannot be saved.
bool PathFits(const std::string& path, size_t nameMax);

} // namespace cli
