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

// Splits the selected jobs of a batch with several workers at once, each on a thread of its
// own with its own document automation, and ends exactly as a run of one worker would have
// ended: the same parts with the same bytes, the same log lines in job order, the same
// messages and statuses.
//
// A worker saves its parts under staging names beside their targets and records what else its
// job did (messages, trace lines, log lines, the source's move). This thread takes the jobs in
// batch order and makes those effects real: it renames the parts, writes their log lines, moves
// the source and shows the messages. A job that ends the run (a failure, a stop) ends it here
// too; whatever later jobs staged is removed, so no part appears that a run of one worker would
// not have written. A job that failed before its first part while earlier jobs were still
// running is run again once its turn comes, because an earlier job may have made the folder or
// file it missed.
//
// Jobs must not depend on each other's files beyond that (see CBatchPlan::Interlocked); such a
// batch runs with one worker.
class CParallelRun {
  public:
    struct Services {
        core::CJobList& list;
        core::Prompter& prompter;
        storage::CSplitLog& log;
        core::Trace& trace;
        const core::SetupOptions& options;
        CProgress& progress;
        // A document automation of its own for each worker, tracing into the given trace.
        std::function<std::unique_ptr<engine::Automation>(core::Trace&)> newAutomation;
        // Asked often on this thread: true once the user has asked the run to stop.
        std::function<bool()> stopAsked;
    };

    CParallelRun(Services services, int workers);
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

    static bool Commit(const std::vector<Event>& events, size_t& failedAt);
    static void Discard(const std::vector<Event>& events);
    void Replay(const Job& job, const std::vector<Event>& events, size_t upTo);
    void LogPart(const std::string& path, const std::string& sourceBase);
    engine::CSplitRun::End RunAgainHere(Job& job);

    Services m_s;
    int m_workers;
    bool m_failures = false;
    bool m_logFailed = false;
    std::unique_ptr<Shared> m_shared;
};

} // namespace cli
