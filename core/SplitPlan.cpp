#include "core/SplitPlan.h"

#include "core/JobList.h"
#include "core/OutputNaming.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "core/Trace.h"

#include <algorithm>
#include <queue>

namespace core {

namespace {

// Keeps the first message instead of showing it: a plan reports the words a box would hold.
class CMessageCatcher final : public Prompter {
  public:
    Answer Show(const std::string& text, const std::string& caption, Buttons buttons,
                Icon) override {
        if (!m_caught) {
            m_caught = true;
            m_text = text;
            m_caption = caption;
        }
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
    bool Caught() const { return m_caught; }
    const std::string& Text() const { return m_text; }
    const std::string& Caption() const { return m_caption; }

  private:
    bool m_caught = false;
    std::string m_text;
    std::string m_caption;
};

// The job as a row of the list, with the cells the run reads, written as a job row holds them.
CJobList RowOf(const PlanJob& job) {
    CJobList list;
    list.InsertRow(0, "Yes", -1);
    list.SetText(0, kColFilename, job.source);
    list.SetText(0, kColSplitParameters, job.parameters);
    list.SetText(0, kColPages, IntText(job.pages));
    list.SetText(0, kColSplitTo, job.splitTo);
    list.SetText(0, kColIncrementName, job.incrementNames ? "Y" : "N");
    list.SetText(0, kColFileList, job.fileList);
    list.SetText(0, kColIncrementStart, IntText(job.incrementStart));
    list.SetText(0, kColSkipPages, IntText(job.skip));
    list.SetText(0, kColPageOffset, IntText(job.offset));
    return list;
}

std::string Counted(int64_t n, const char* one, const char* many) {
    return IntText(n) + " " + (n == 1 ? one : many);
}

} // namespace

CSplitPlan CSplitPlan::Make(const PlanJob& job, const SetupOptions& options) {
    CSplitPlan plan;
    CMessageCatcher catcher;
    const auto refuse = [&] {
        plan.m_refusal = catcher.Text();
        plan.m_refusalCaption = catcher.Caption();
        if (plan.m_refusal.empty())
            plan.m_refusal = " "; // refused without words: still no plan
    };
    if (!CheckSplitParameters({job.splitTo, job.parameters, job.pages, job.skip}, catcher)) {
        refuse();
        return plan;
    }

    // From here on exactly the run's steps: its expansion of the row, its ranges up to the
    // end mark, its naming of every output before the first is written.
    const CJobList row = RowOf(job);
    CRangeList ranges;
    NullTrace quiet;
    SplitParameters(row, job.parameters, 0, ranges, quiet);
    if (ranges.Overflowed()) {
        plan.m_refusal = TooManyRangesText();
        plan.m_refusalCaption = "Error in parameters";
        return plan;
    }
    const std::vector<PageRange> list = ranges.Ranges();
    const std::string title = SourceTitle(job.source);
    OutputPlan named = PlanOutputPaths(row, 0, list, title, job.offset, options, catcher, nullptr,
                                       ClashPolicy::NameEvery);
    if (named.result == OutputPlan::Result::ListUnreadable) {
        // The run finds this when it names its first output; its words are the reader's.
        BuildOutputPath(row, 0, list.front(), 1, title, job.offset, {options, catcher, quiet});
        refuse();
        return plan;
    }
    if (named.paths.size() != list.size()) {
        refuse();
        return plan;
    }
    if (named.result == OutputPlan::Result::Refused)
        refuse();
    plan.m_outputs.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        plan.m_outputs.push_back({list[i], std::move(named.paths[i]), named.sameAs[i]});
        if (named.sameAs[i] >= 0)
            ++plan.m_repeated;
    }
    plan.Cover(job.pages);
    return plan;
}

void CSplitPlan::Cover(int32_t pages) {
    // A sweep over range ends: where a range begins it joins the set of ranges holding the
    // page, one past its end it leaves. n log n, so 19,998 ranges cost nothing worth waiting for.
    struct Event {
        int64_t at;
        int part;
        bool opens;
    };
    std::vector<Event> events;
    events.reserve(m_outputs.size() * 2);
    for (size_t i = 0; i < m_outputs.size(); ++i) {
        const PageRange& r = m_outputs[i].range;
        if (r.first > r.last)
            continue;
        events.push_back({r.first, static_cast<int>(i), true});
        events.push_back({int64_t{r.last} + 1, static_cast<int>(i), false});
    }
    std::sort(events.begin(), events.end(),
              [](const Event& a, const Event& b) { return a.at < b.at; });

    std::vector<int> open(m_outputs.size(), 0);
    std::priority_queue<int, std::vector<int>, std::greater<>> lowest;
    int active = 0;
    for (size_t e = 0; e < events.size();) {
        const int64_t at = events[e].at;
        for (; e < events.size() && events[e].at == at; ++e) {
            const int part = events[e].part;
            if (events[e].opens) {
                ++active;
                if (open[static_cast<size_t>(part)]++ == 0)
                    lowest.push(part);
            } else {
                --active;
                --open[static_cast<size_t>(part)];
            }
        }
        while (!lowest.empty() && open[static_cast<size_t>(lowest.top())] == 0)
            lowest.pop();
        if (active > 0 && e < events.size())
            m_spans.push_back({at, events[e].at - 1, active, lowest.top()});
    }

    // Ranges are whole runs of spans, so a range overlaps another exactly when one of its
    // spans is held by two ranges or more.
    std::vector<int64_t> shared(m_spans.size() + 1, 0);
    for (size_t s = 0; s < m_spans.size(); ++s) {
        const Span& span = m_spans[s];
        shared[s + 1] = shared[s] + (span.parts > 1 ? 1 : 0);
        const int64_t first = std::max<int64_t>(span.first, 1);
        const int64_t last = std::min<int64_t>(span.last, pages);
        if (last >= first)
            m_pagesCovered += last - first + 1;
    }
    m_pagesUncovered = std::max<int64_t>(0, int64_t{pages} - m_pagesCovered);
    for (const PlannedOutput& output : m_outputs) {
        if (output.range.first > output.range.last)
            continue;
        const auto from =
            std::lower_bound(m_spans.begin(), m_spans.end(), int64_t{output.range.first},
                             [](const Span& span, int64_t page) { return span.last < page; });
        const auto to =
            std::upper_bound(m_spans.begin(), m_spans.end(), int64_t{output.range.last},
                             [](int64_t page, const Span& span) { return page < span.first; });
        if (shared[static_cast<size_t>(to - m_spans.begin())] >
            shared[static_cast<size_t>(from - m_spans.begin())])
            ++m_overlapping;
    }
}

PageCover CSplitPlan::CoverOf(int32_t page) const {
    const auto it = std::lower_bound(m_spans.begin(), m_spans.end(), int64_t{page},
                                     [](const Span& span, int64_t p) { return span.last < p; });
    if (it == m_spans.end() || it->first > page)
        return {};
    return {it->parts, it->firstPart};
}

std::string CSplitPlan::Summary() const {
    std::string text = Counted(static_cast<int64_t>(m_outputs.size()), "file", "files") + ", " +
                       Counted(m_pagesCovered, "page", "pages") + " covered, " +
                       Counted(m_pagesUncovered, "page", "pages") + " in no file, " +
                       Counted(m_overlapping, "range overlaps", "ranges overlap");
    if (m_repeated > 0)
        text += ", " + Counted(m_repeated, "name", "names") + " repeated";
    return text;
}

} // namespace core
