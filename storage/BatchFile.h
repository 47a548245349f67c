#pragma once

#include "core/AddFile.h"
#include "core/JobList.h"
#include "core/Prompter.h"

#include <string>
#include <string_view>
#include <vector>

namespace storage {

// One job as a batch record: "~" for an unselected job, the file name, then "; " and each of
// the columns 2 to 13, ended by CR CR LF.
std::string BatchRecord(const core::CJobList& list, int row);

// Every row's record, the row count read again after each row.
std::string BatchFileText(const core::CJobList& list);

// The thirteen fields of one record line (its line end already taken off), ready for AddFile.
core::NewJob ParseBatchRecord(std::string_view line);

// The longest record read: sixteen times the 65,534 bytes a record was ever meant to hold.
inline constexpr size_t kMaxRecordBytes = 1 << 20;

// Feeds every record of the text through AddFile. Any line end (CR CR LF, CR LF, LF) is taken
// off whole, so hand-edited files keep their last field; empty lines are skipped, and so are
// records longer than kMaxRecordBytes, holding a NUL byte or naming a file or folder by a path
// longer than the file system allows.
void AddBatchRecords(std::string_view text, core::CJobList& list, const core::AddFileHooks& hooks);

// The same for the batch file open as `fd`, read as it comes (a file of any size costs no more
// memory than its records), and closed. False when reading failed.
bool AddBatchRecordsFrom(int fd, core::CJobList& list, const core::AddFileHooks& hooks);

} // namespace storage
