#pragma once

#include "core/JobList.h"

namespace core {

// Sorts the rows by the texts of `column`; false when there is no such column or nothing to
// sort. Rows move whole: cells, icon, highlight, focus and job id. A listener hears the sort as
// one reset (AboutToReset, Reset), however many rows it moves.
bool SortRows(CJobList& list, int column, bool ascending = true, int low = 0, int high = -1);

} // namespace core
