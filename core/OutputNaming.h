#pragma once

#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/RangeList.h"
#include "core/SetupOptions.h"
#include "core/Trace.h"

#include <cstdint>
#include <optional>
#include <string>

namespace core {

// What a name-list reader found: how many lines it read (k, or fewer when the list is
// shorter) and the last of them. count is -1 when the file could not be opened.
struct ListName {
    int count = 0;
    std::string name;
};

ListName ReadListLine(const std::string& path, int k, Prompter& prompter);
ListName ReadListCsv(const std::string& csvList, int k, Prompter& prompter);

// Everything naming needs besides the job row.
struct NamingContext {
    const SetupOptions& options;
    Prompter& prompter;
    Trace& trace;
};

// The output path of range `range` of job `row`, the job's `k`-th output. `title` is the source
// title prepared by the split run, `offset` the job's page offset. nullopt when a name-list
// file cannot be read (the reader has said so).
std::optional<std::string> BuildOutputPath(const CJobList& list, int row, PageRange range, int k,
                                           const std::string& title, int32_t offset,
                                           const NamingContext& context);

// Every number in a name: "%*.*d" with width and precision w.
std::string CounterText(int32_t width, int64_t number);

// Reduces doubled separators unless the path begins with two of them.
std::string ReduceDoubledSeparators(const std::string& path);

} // namespace core
