#pragma once

#include "core/JobList.h"
#include "core/NameListCache.h"
#include "core/Prompter.h"
#include "core/RangeList.h"
#include "core/SetupOptions.h"
#include "core/Trace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// What a name-list reader found: how many lines it read (k, or fewer when the list is
// shorter) and the last of them. count is -1 when the file could not be opened.
struct ListName {
    int count = 0;
    std::string name;
};

// With a cache, a file already read and unchanged since is not read again.
ListName ReadListLine(const std::string& path, int k, Prompter& prompter,
                      CNameListCache* cache = nullptr);
ListName ReadListCsv(const std::string& csvList, int k, Prompter& prompter,
                     CNameListCache* cache = nullptr);
// The file a job's name list ("file:PATH" or "filecsv:PATH,columns") is read from; "" for a
// list written inline.
std::string ListFilePath(std::string_view names);

// Everything naming needs besides the job row.
struct NamingContext {
    const SetupOptions& options;
    Prompter& prompter;
    Trace& trace;
    // The job's list files, read once while unchanged; none: each output reads its list.
    CNameListCache* lists = nullptr;
};

// The output path of range `range` of job `row`, the job's `k`-th output. `title` is the source
// title prepared by the split run, `offset` the job's page offset. nullopt when a name-list
// file cannot be read (the reader has said so).
std::optional<std::string> BuildOutputPath(const CJobList& list, int row, PageRange range, int k,
                                           const std::string& title, int32_t offset,
                                           const NamingContext& context);

// The outputs of one job, named before any of them is written. Refused (a message has been
// shown) when a list entry is a path rather than a name, a CSV column does not exist, or two
// outputs with different pages would get the same path. A list file that cannot be read is
// left for the naming of the first output to report.
struct OutputPlan {
    enum class Result { Ok, ListUnreadable, Refused };
    Result result = Result::Ok;
    std::vector<std::string> paths; // one per range, when Ok (or when every output was named)
    // Per output, the first earlier output with the same path, or -1.
    std::vector<int> sameAs;
};
// How far a plan goes past a name clash: the run stops at the first one; a preview names every
// output and marks each clash, so the user sees all of them at once (the result is Refused all
// the same, and the first clash is the one reported).
enum class ClashPolicy { StopAtFirst, NameEvery };
// With `lists`, the list file read here is kept there for the naming of the outputs.
OutputPlan PlanOutputPaths(const CJobList& list, int row, const std::vector<PageRange>& ranges,
                           const std::string& title, int32_t offset, const SetupOptions& options,
                           Prompter& prompter, CNameListCache* lists = nullptr,
                           ClashPolicy clashes = ClashPolicy::StopAtFirst);

// The source title names are built from: the source path with every ".pdf" removed, reduced
// to its last component, at most 254 bytes.
std::string SourceTitle(const std::string& source);

// True when a list entry may stand as a file name inside the output folder: no separator, no
// "..", and none of the bytes (NUL, line feed, TAB) that would break a path or a log line.
bool IsPlainName(std::string_view name);

// The widest counter a name gets; a wider setting (a hand-edited setup.ini) is taken as this.
inline constexpr int32_t kMaxCounterWidth = 32;

// Every number in a name: "%*.*d" with width and precision w, w clamped to +-32.
std::string CounterText(int32_t width, int64_t number);

// Reduces doubled separators unless the path begins with two of them.
std::string ReduceDoubledSeparators(const std::string& path);

} // namespace core
