#pragma once

#include "core/FileDialogs.h"
#include "core/Prompter.h"
#include "core/Shell.h"
#include "storage/LogReader.h"

#include <string>
#include <string_view>

namespace storage {

// A CSV field: as it is, unless it holds a comma, a quote or a line break, which would split
// or break the record; then quoted with inner quotes doubled.
std::string CsvField(std::string_view text);

std::string CsvLine(const LogRow& row);

// Copies the log into `target` as CSV (header line first). Messages as the export shows them;
// true when the file was written.
bool WriteLogCsv(const std::string& logPath, const std::string& target, core::Prompter& prompter);

// The whole export command: asks for a target, writes it, offers to open it. True when a file
// was written.
bool ExportLogToCsv(const std::string& logPath, core::FileDialogs& dialogs,
                    core::Prompter& prompter, core::Shell& shell);

} // namespace storage
