#pragma once

#include "core/RangeList.h"
#include "core/SetupOptions.h"
#include "core/SplitPlan.h"

#include <functional>
#include <string>
#include <vector>

namespace propose {

// The file names (without folder) a job gives the parts of these ranges, in order; empty when
// the job would be refused. A part's links to pages of its siblings name their files, so
// parts are measured as the job will name them.
using PartNamer = std::function<std::vector<std::string>(const std::vector<core::PageRange>&)>;

// Names as `job` (its source, page count and naming fields; its string is replaced by the
// ranges) and `options` make them, as a split of that job does.
PartNamer JobPartNamer(core::PlanJob job, core::SetupOptions options);

// The bytes a name from a name list may take in the file name a job of `source` gives it under
// `options` (incrementing names, as proposed names go into a job), so that the file name
// stays within the 255 bytes a Linux file system takes; at most kMaxNameBytes.
size_t ListedNameRoom(const std::string& source, const core::SetupOptions& options);

} // namespace propose
