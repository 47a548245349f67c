#pragma once

#include <string>
#include <vector>

namespace propose {

// Keeps proposed part names where a job's name list can take them whole (commas, leading
// spaces and all): a file of one name a line, "TITLE.names.txt" in the working folder (beside
// the batch files), TITLE being the source's title; "TITLE-2.names.txt", ... when a file of
// that name already holds other names. Returns the job's file-list text ("file:NAME"), or ""
// with `failure` set when the file cannot be written.
std::string WriteNamesFile(const std::string& source, const std::vector<std::string>& names,
                           std::string& failure);

} // namespace propose
