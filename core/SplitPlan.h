#pragma once

#include "core/RangeList.h"
#include "core/SetupOptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// One job as the Split Parameters dialog or the command line holds it before it is run.
struct PlanJob {
    std::string source; // the source path
    std::string parameters;
    std::string splitTo;
    bool incrementNames = false; // numbered (or listed) names rather than page-range names
    std::string fileList;
    int32_t pages = 0;
    int32_t incrementStart = 0;
    int32_t skip = 0;
    int32_t offset = 0;
};

struct PlannedOutput {
    PageRange range;
    std::string path;
    int sameAs = -1; // the first earlier output with the same path, or -1
};

// Which outputs a page goes to.
struct PageCover {
    int parts = 0;      // how many ranges hold the page
    int firstPart = -1; // the first of them (0-based output number), -1 when none
};

// What "Split em'" would make of one job, worked out without writing anything: the check the
// dialog makes, then the run's own expansion and naming, so what is shown is what is written.
class CSplitPlan {
  public:
    static CSplitPlan Make(const PlanJob& job, const SetupOptions& options);

    // The message that refuses the job (the dialog's check, or the run's naming), with its
    // caption; empty when the job would run.
    const std::string& Refusal() const { return m_refusal; }
    const std::string& RefusalCaption() const { return m_refusalCaption; }
    bool Refused() const { return !m_refusal.empty(); }

    // Every output in run order. A job refused for a name clash keeps its outputs, each clash
    // marked, so the user can see which ranges collide.
    const std::vector<PlannedOutput>& Outputs() const { return m_outputs; }

    int64_t PagesCovered() const { return m_pagesCovered; }
    int64_t PagesUncovered() const { return m_pagesUncovered; }
    // Ranges that share at least one page with another range.
    int OverlappingRanges() const { return m_overlapping; }
    // Outputs whose path an earlier output already has.
    int RepeatedPaths() const { return m_repeated; }

    PageCover CoverOf(int32_t page) const;

    // The counts in one line: files, pages covered, pages in no file, overlapping ranges.
    std::string Summary() const;

  private:
    // A maximal run of pages held by the same ranges; sorted, disjoint, covered pages only.
    struct Span {
        int64_t first;
        int64_t last;
        int parts;
        int firstPart;
    };

    void Cover(int32_t pages);

    std::string m_refusal;
    std::string m_refusalCaption;
    std::vector<PlannedOutput> m_outputs;
    std::vector<Span> m_spans;
    int64_t m_pagesCovered = 0;
    int64_t m_pagesUncovered = 0;
    int m_overlapping = 0;
    int m_repeated = 0;
};

} // namespace core
