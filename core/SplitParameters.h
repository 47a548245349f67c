#pragma once

#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/RangeList.h"
#include "core/Trace.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Where an expansion reports: the dialog's check passes a prompter and learns whether a step
// item lacked its step; the split run passes none and is never told anything.
struct ExpandContext {
    Prompter* prompter = nullptr;
    bool stepMissing = false;
};

// Expands one item of a split-parameter string into `ranges` from entry `c` on and returns the
// position after what it wrote.
int ExpandSplitItem(std::string_view item, int c, int32_t pages, int32_t skip, CRangeList& ranges,
                    ExpandContext& context);

// Expands a whole string; returns the position after the last range (ranges + 1).
int ExpandSplitString(std::string_view text, int32_t pages, int32_t skip, CRangeList& ranges,
                      ExpandContext& context);

// The split run's expansion of job `row`: page count and skip value come from the row.
int SplitParameters(const CJobList& list, std::string_view text, int row, CRangeList& ranges,
                    Trace& trace);

// The fields of the Split Parameters dialog that its check looks at.
struct SplitCheckFields {
    std::string splitTo;
    std::string parameters;
    int32_t pages = 0;
    int32_t skip = 0;
};

// The check's words for a string that does not fit the range list; the split run refuses such
// a job with them too.
std::string TooManyRangesText();

// The dialog's check: true when the fields may be taken; otherwise it has said why.
bool CheckSplitParameters(const SplitCheckFields& fields, Prompter& prompter);

} // namespace core
