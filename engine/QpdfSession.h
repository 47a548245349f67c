#pragma once

#include "core/Files.h"
#include "core/Trace.h"
#include "engine/Automation.h"
#include "engine/ParsedSource.h"
#include "engine/QpdfAutomation.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace engine {

struct CQpdfAutomation::Shared {
    int parseCount = 0;
    int documentsBuilt = 0;
    std::vector<std::string> warnings;
};

// An output document whose part has been saved, kept by the session for the next part of
// the same source: building a fresh qpdf document (and tearing it down) for every part cost
// more than copying a page into it. Only what its part added is removed; objects copied for
// earlier parts stay, and qpdf's copier would hand them out again, so it is used only for
// pages never copied into it before and without annotations or article beads (the objects a
// part changes in place are pages, annotations and the form fields reached through them, and
// a copy leaves references to pages outside its part null).
struct SpareOutput {
    std::unique_ptr<QPDF> pdf;
    std::shared_ptr<ParsedSource> source; // the only source it has copied from
    std::vector<char> copied;             // per source page: copied into it before
    size_t pages = 0;                     // pages copied into it so far
};

// A kept document holds every page it copied; once it has copied this many it gives way to
// a fresh one, so memory stays bounded however long the job.
inline constexpr size_t kSparePages = 64;

// Called once by a program whose process ends as soon as its command is done (quillsever-cli):
// the source of the job that ended last is then left to the end of the process instead of
// being torn down (qpdf's teardown of a parse, and the allocator's work for it, was 4.8% of the
// instructions of 1,000 single pages). One is kept for the whole process, whatever the number
// of sessions and workers, and it is let go of before any other source is parsed, so a batch
// holds no more than before.
void LeaveLastSourceToProcessEnd();

// What the objects of one automation share, as they would share one running application:
// the current source, its views, and the document kept for the next part.
class CQpdfSession {
  public:
    CQpdfSession(core::Trace& trace, std::shared_ptr<CQpdfAutomation::Shared> shared)
        : m_trace(trace), m_shared(std::move(shared)) {}

    std::shared_ptr<ParsedSource> OpenSource(const std::string& path);

    // A file that a view has open may not be written over.
    bool IsOpenSource(const std::string& path) const;
    void MarkOpen(const core::FileStamp& stamp) { ++m_open[stamp]; }
    void MarkClosed(const core::FileStamp& stamp);

    void Register(const std::shared_ptr<AVDoc>& view) { m_views.push_back(view); }
    void CloseAllViews();
    void Exit() {
        CloseAllViews();
        LetGoOfCurrent();
        m_spare.reset();
        m_plan.clear();
    }

    void PlanParts(const std::string& source, const std::vector<PlannedPart>& parts) {
        m_planSource = source;
        m_plan = parts;
        m_planOwners.clear();
    }
    // The planned parts of the job splitting this source; empty when none is planned.
    const std::vector<PlannedPart>& PlanFor(const ParsedSource& source) const {
        static const std::vector<PlannedPart> none;
        return source.path == m_planSource ? m_plan : none;
    }
    // Per page of the source (0-based), the first planned part that holds it, or -1.
    const std::vector<int>& PlanOwners(const ParsedSource& source);

    std::unique_ptr<QPDF> NewDocument();
    std::unique_ptr<SpareOutput> TakeSpare() { return std::move(m_spare); }
    void KeepSpare(std::unique_ptr<SpareOutput> spare) { m_spare = std::move(spare); }

    // Passes qpdf's warnings on: kept for the automation and written to the trace while on.
    void Collect(QPDF& pdf);
    void Warn(const std::string& text);

  private:
    void LetGoOfCurrent();

    struct StampLess {
        bool operator()(const core::FileStamp& a, const core::FileStamp& b) const {
            return std::tie(a.device, a.inode, a.size, a.mtimeNs) <
                   std::tie(b.device, b.inode, b.size, b.mtimeNs);
        }
    };

    core::Trace& m_trace;
    std::shared_ptr<CQpdfAutomation::Shared> m_shared;
    std::shared_ptr<ParsedSource> m_current;
    std::unique_ptr<SpareOutput> m_spare;
    std::map<core::FileStamp, int, StampLess> m_open;
    std::vector<std::weak_ptr<AVDoc>> m_views;
    std::string m_planSource;
    std::vector<PlannedPart> m_plan;
    std::vector<int> m_planOwners;
};

} // namespace engine
