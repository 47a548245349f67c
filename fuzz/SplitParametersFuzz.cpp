// The split-parameter language as the dialog's check and the split run see it.
// Input: line 1 the page count, line 2 the pages to skip, the rest the parameter string.
#include "core/JobList.h"
#include "core/RangeList.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "fuzz/FuzzInput.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::CInput in(data, size);
    const int32_t pages = core::LeadingInt(in.Line());
    const int32_t skip = core::LeadingInt(in.Line());
    const std::string text(in.Rest());

    // The lists are large; reusing them also puts Clear() to the test.
    static core::CRangeList ranges;
    static core::CRangeList runRanges;
    static core::CRangeList itemRanges;

    ranges.Clear();
    core::ExpandContext quiet;
    const int end = core::ExpandSplitString(text, pages, skip, ranges, quiet);
    FUZZ_CHECK(end >= 1 && end < core::CRangeList::kEntries);
    const std::vector<core::PageRange> expanded = ranges.Ranges();
    FUZZ_CHECK(expanded.size() <= static_cast<size_t>(core::CRangeList::kCapacity));

    // The run reads the page count and the skip value from the job's row, as text.
    core::CJobList list;
    list.InsertRow(0, "Yes", -1);
    list.SetText(0, core::kColPages, core::IntText(pages));
    list.SetText(0, core::kColSkipPages, core::IntText(skip));
    core::NullTrace trace;
    runRanges.Clear();
    core::SplitParameters(list, text, 0, runRanges, trace);
    FUZZ_CHECK(runRanges.Ranges() == expanded);

    // A refusal always says why, and a string the check lets through gives the run only
    // ranges that lie inside the document.
    fuzzing::CCountingPrompter prompter;
    const bool accepted = core::CheckSplitParameters({"/out", text, pages, skip}, prompter);
    FUZZ_CHECK(accepted == (prompter.shown == 0));
    if (accepted && text != "blank") {
        FUZZ_CHECK(!expanded.empty());
        for (const core::PageRange& r : expanded)
            FUZZ_CHECK(r.first >= 1 && r.first <= r.last && r.last <= pages);
    }

    // Items one by one, as the expansion of a single item is also used on its own.
    int items = 0;
    core::ForEachToken(text, ",", [&](std::string_view item) {
        if (++items > 8)
            return;
        itemRanges.Clear();
        core::ExpandContext context;
        const int next = core::ExpandSplitItem(item, 1, pages, skip, itemRanges, context);
        FUZZ_CHECK(next >= 1 && next < core::CRangeList::kEntries);
    });
    return 0;
}
