#pragma once

#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/SetupOptions.h"

#include <string>
#include <vector>

namespace cli {

// One path that more than one job would touch: written by two jobs, or written by one job and
// read as the source of another.
struct OutputClash {
    struct Use {
        int row = 0; // 0-based job index
        // 1-based range of that job; 0: the job's source; -1: the job moves its source from or
        // to the path; -2: the path is the job's split-to folder
        int range = 0;
        bool operator==(const Use&) const = default;
    };
    std::string path; // as the first job to write it names it
    std::vector<Use> uses;
};

// Every output of every selected job of a batch, named as the run would name it, before any of
// them is written. Processes that share a batch each run a part of it; this is how they learn
// that two of them would write the same file.
class CBatchPlan {
  public:
    // Plans with the naming options; messages of jobs the run would refuse go to `prompter`.
    // `asTheDialogChecks`: a job is also refused where the Split Parameters dialog would not
    // take its string for its page count (no valid range, pages past the end, ...), which the
    // run finds only when it comes to the job, or never (it writes nothing for it).
    CBatchPlan(const core::CJobList& list, const core::SetupOptions& options,
               core::Prompter& prompter, bool asTheDialogChecks = false);

    int Outputs() const { return m_outputs; }
    // Jobs the run would refuse (no split-to folder, too many ranges, bad names).
    int RefusedJobs() const { return m_refused; }
    // In order of the first job that writes the path.
    const std::vector<OutputClash>& Clashes() const { return m_clashes; }
    // True when a job moves its source from or to a path another job reads or writes, or one
    // job's split-to folder is a file of another: then the jobs must run one after another.
    bool Interlocked() const { return !m_interlocks.empty(); }
    // The paths that make it so, with every job that touches them. Shards of such a batch would
    // race one another: whether a job finds its source would depend on which shard came first.
    const std::vector<OutputClash>& Interlocks() const { return m_interlocks; }

  private:
    int m_outputs = 0;
    int m_refused = 0;
    std::vector<OutputClash> m_clashes;
    std::vector<OutputClash> m_interlocks;
};

// The parts a run over the selected jobs of `list` is going to write, for a progress display.
int CountParts(const core::CJobList& list);

// "PATH<TAB>job 1, range 2<TAB>job 4, source": one line per clash, without its line end.
std::string ClashText(const OutputClash& clash);

} // namespace cli
