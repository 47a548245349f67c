#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace storage {

// Merges split logs, each already in the order its lines were appended, into one log ordered by
// the time at the start of each line. Lines are copied byte for byte; a line of the same second
// keeps its file's order, and files named earlier go first. A last line left without its end
// (a run that was killed) gets one, so it cannot swallow the line that follows it.
// False when a file cannot be opened (its name is put in `failedPath`) or the output fails.
bool MergeLogs(const std::vector<std::string>& paths, std::ostream& out, std::string& failedPath);

} // namespace storage
