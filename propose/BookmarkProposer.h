#pragma once

#include "propose/Proposal.h"

#include <string>

namespace propose {

// Cuts before the page of every bookmark of level 1 to `maxLevel` (1 is the top), each part
// named after the bookmark that starts it; pages before the first such bookmark make a part
// without a name. Fails when the file cannot be read or no such bookmark leads to a page.
Proposal ProposeAtBookmarks(const std::string& path, int maxLevel);

} // namespace propose
