#pragma once

#include "cli/Progress.h"
#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/SetupOptions.h"
#include "core/Trace.h"
#include "engine/Automation.h"
#include "engine/SplitRun.h"
#include "storage/SplitLog.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// Splits the selected jobs of a batch with one or more workers, each on a thread of its own
// with its own document automation, while this thread writes what they make; the run ends
// exactly as one thread doing all of it would have ended: the same parts with the same bytes,
// the same log lines in job order, the same messages and statuses.
//
// A worker builds a job's parts in memory and records what else the job did (messages, trace
// lines, log lines, the source's move). This thread takes the jobs in batch order and makes
// those effects real: it writes the parts, writes their log lines, moves the source and shows
// the messages; so the writing of one part overlaps the building of the next. A job that ends
// the run (a failure, a stop) ends it here too, and what later jobs made is dropped unwritten.
// A job that failed before its first part while earlier jobs were still running is run again
// once its turn comes, in case an earlier job makes what it missed.
//
// Jobs must not depend on each other's files beyond that (see CBatchPlan::Interlocked); such a
// batch runs with one worker `inTurn`: it starts a job only once every earlier job's effects
// are made, so a job reads the file an earlier one wrote or moved away, not what was there
// before.
class CParallelRun {
  public:
    struct Services {
        core::CJobList& list;
        core::Prompter& prompter;
        storage::CSplitLog& log;
        core::Trace& trace;
        const core::SetupOptions& options;
        CProgress& progress;
        // The first worker's document automation (it may have parsed a source already), or
        // null; a new one for each other worker, tracing into the given trace.
        engine::Automation* firstAutomation;
        std::function<std::unique_ptr<engine::Automation>(core::Trace&)> newAutomation;
        // Asked often on this thread: true once the user has asked the run to stop.
        std::function<bool()> stopAsked;
    };

    CParallelRun(Services services, int workers, bool inTurn = false);
    ~CParallelRun();
    CParallelRun(const CParallelRun&) = delete;
    CParallelRun& operator=(const CParallelRun&) = delete;

    // Runs every selected job; returns how the run ended.
    engine::CSplitRun::End Run();
    // True when a job was refused, a source could not be moved or a part could not be logged.
    bool HadFailures() const { return m_failures; }

  private:
    struct Event;
    struct Job;
    struct Shared;
    class Worker;

    size_t Replay(Job& job, const std::vector<Event>& events);
    void LogPart(const std::string& path, const std::string& sourceBase);
    void SyncParts();
    bool WritePart(const Event& saved, const Job& job);
    engine::CSplitRun::End RunAgainHere(Job& job);

    Services m_s;
    int m_workers;
    bool m_inTurn;
    bool m_failures = false;
    bool m_logFailed = false;
    // The folder the last part went to, kept open: each part's rename is synced through it.
    std::string m_folderPath;
    int m_folderFd = -1;
    std::unique_ptr<Shared> m_shared;
};

} // namespace cli
