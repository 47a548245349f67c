#include "cli/ParallelRun.h"

#include "core/Clock.h"
#include "core/Files.h"
#include "engine/Pump.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cli {

using End = engine::CSplitRun::End;

namespace {

// How far the workers may run ahead of the job whose effects are being made. It bounds the
// records kept in memory and the staged files that a killed run could leave behind.
constexpr size_t kLookahead = 64;

} // namespace

// One thing a worker's job did that lasts or shows, in the order it did them.
struct CParallelRun::Event {
    enum class Kind { Started, Message, TraceLine, Staged, Logged, PartWritten, Moved };
    Kind kind;
    std::string first;  // message text, trace line, staged name, output path, moved source
    std::string second; // caption, the staged part's own path, source base, move-to folder
    int a = 0;          // buttons of a message; range of a part
    int b = 0;          // icon of a message; ranges of the job
};

namespace {

std::string FolderOf(const std::string& path) {
    const size_t cut = path.rfind(core::kSeparator);
    return cut == std::string::npos ? std::string(".")
           : cut == 0               ? std::string(1, core::kSeparator)
                                    : path.substr(0, cut);
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

struct CParallelRun::Job {
    int row = 0;
    std::vector<std::string> cells;
    // Written by the job's worker under the shared lock.
    std::vector<Event> events;
    bool finished = false;
    bool speculative = false; // taken while an earlier job's effects were still to be made
    bool saved = false;       // has saved a part
    End end = End::None;
    bool failures = false;
    std::string status;
};

struct CParallelRun::Shared {
    std::mutex mutex;
    std::condition_variable workerWake;
    std::condition_variable coordinatorWake;
    std::vector<Job> jobs;
    size_t next = 0; // the next job a worker takes
    size_t head = 0; // the first job whose effects are not all made
    std::atomic<bool> stop{false};
    std::atomic<unsigned> staging{0};
    bool traceOn = false;
};

// A worker: takes the next job, runs it as a run of one job would, and records what it did.
// It is the run's prompter (messages are recorded; questions get the command line's answer,
// No), its trace and its pump (which passes a stop on to the run).
class CParallelRun::Worker final : core::Prompter, core::Trace, engine::Pump {
  public:
    explicit Worker(CParallelRun& owner) : m_owner(owner), m_shared(*owner.m_shared) {}

    void Main() {
        std::unique_ptr<engine::Automation> automation = m_owner.m_s.newAutomation(*this);
        core::CSystemClock clock;
        storage::CSplitLog unusedLog(clock, {});
        engine::CNoConnectionDialog connection;
        core::CJobList list;
        engine::SplitRunServices services{list,  *automation,         *this,     *this, unusedLog,
                                          *this, m_owner.m_s.options, connection};
        services.repaint = [this] { Record({Event::Kind::Started, {}, {}}); };
        services.outputWritten = [this](int, int range, int ranges, const std::string& path) {
            Record({Event::Kind::PartWritten, path, {}, range, ranges}, true);
        };
        services.stagePath = [this](const std::string& path) {
            m_pending = {FolderOf(path) + core::kSeparator + ".quillsever-" +
                             std::to_string(::getpid()) + "-staged-" +
                             std::to_string(m_shared.staging.fetch_add(1)),
                         path};
            return m_pending->first;
        };
        services.logPart = [this](const std::string& path, const std::string& base) {
            StagedSaved();
            Record({Event::Kind::Logged, path, base});
            return true;
        };
        services.moveSource = [this](const std::string& source, const std::string& moveTo) {
            Record({Event::Kind::Moved, source, moveTo});
            return true;
        };
        services.sayDone = false;
        engine::CSplitRun run(services);
        m_run = &run;
        while ((m_job = Take()) != nullptr) {
            list.DeleteAll();
            list.InsertRow(0, {}, -1);
            for (int c = 0; c < core::kColumnCount; ++c)
                list.SetText(0, c, m_job->cells[static_cast<size_t>(c)]);
            m_pressed = false;
            run.Press();
            // A part saved just before the job failed is on disk in a run of one worker too.
            struct stat st {};
            if (m_pending && ::stat(m_pending->first.c_str(), &st) == 0)
                StagedSaved();
            m_pending.reset();
            std::lock_guard lock(m_shared.mutex);
            m_job->end = run.LastEnd();
            m_job->failures = run.HadFailures();
            m_job->status = list.Text(0, core::kColStatus);
            m_job->finished = true;
            m_shared.coordinatorWake.notify_one();
        }
    }

  private:
    Job* Take() {
        std::unique_lock lock(m_shared.mutex);
        m_shared.workerWake.wait(lock, [this] {
            return m_shared.stop || m_shared.next >= m_shared.jobs.size() ||
                   m_shared.next < m_shared.head + kLookahead;
        });
        if (m_shared.stop || m_shared.next >= m_shared.jobs.size())
            return nullptr;
        Job& job = m_shared.jobs[m_shared.next];
        job.speculative = m_shared.next != m_shared.head;
        ++m_shared.next;
        return &job;
    }

    // The part last handed to the automation has been saved under its staging name.
    void StagedSaved() {
        if (m_pending)
            Record({Event::Kind::Staged, m_pending->first, m_pending->second});
        m_pending.reset();
    }

    // `wake`: worth waking the coordinator for, when this job is the one it waits on.
    void Record(Event event, bool wake = false) {
        std::lock_guard lock(m_shared.mutex);
        if (event.kind == Event::Kind::Logged)
            m_job->saved = true;
        m_job->events.push_back(std::move(event));
        if (wake && m_job == &m_shared.jobs[m_shared.head])
            m_shared.coordinatorWake.notify_one();
    }

    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override {
        Record({Event::Kind::Message, text, caption, static_cast<int>(buttons),
                static_cast<int>(icon)});
        return buttons == core::Buttons::YesNo ? core::Answer::No : core::Answer::Ok;
    }
    bool IsOn() const override { return m_shared.traceOn; }
    void Line(std::string_view text) override {
        if (m_job)
            Record({Event::Kind::TraceLine, std::string(text), {}});
    }
    void PumpOnce() override {
        if (m_shared.stop && !m_pressed && m_run) {
            m_pressed = true;
            m_run->Press();
        }
    }

    CParallelRun& m_owner;
    Shared& m_shared;
    engine::CSplitRun* m_run = nullptr;
    Job* m_job = nullptr;
    bool m_pressed = false;
    std::optional<std::pair<std::string, std::string>> m_pending; // staging name, path
};

CParallelRun::CParallelRun(Services services, int workers)
    : m_s(std::move(services)), m_workers(workers), m_shared(std::make_unique<Shared>()) {}

CParallelRun::~CParallelRun() = default;

End CParallelRun::Run() {
    m_failures = m_logFailed = false;
    Shared& shared = *m_shared;
    shared.traceOn = m_s.trace.IsOn();
    for (int row = 0; row < m_s.list.Count(); ++row) {
        if (m_s.list.Text(row, core::kColSelected) != "Yes" ||
            m_s.list.Text(row, core::kColSplitParameters).empty())
            continue;
        Job job;
        job.row = row;
        for (int c = 0; c < core::kColumnCount; ++c)
            job.cells.push_back(m_s.list.Text(row, c));
        shared.jobs.push_back(std::move(job));
    }

    // Ctrl+C reaches this thread only, which passes it on to the workers.
    sigset_t interrupt, previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::thread> threads;
    for (int w = 0; w < m_workers; ++w) {
        workers.push_back(std::make_unique<Worker>(*this));
        threads.emplace_back([worker = workers.back().get()] { worker->Main(); });
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    End end = End::AllDone;
    bool stopSeen = false;
    std::unique_lock lock(shared.mutex);
    while (shared.head < shared.jobs.size()) {
        Job& job = shared.jobs[shared.head];
        // A speculative job's effects wait until it has saved a part: before that it may yet
        // fail for want of a folder or file that an earlier job makes, and then it runs again.
        auto ready = [&] {
            return job.finished || ((!job.speculative || job.saved) && !job.events.empty());
        };
        if (!ready())
            shared.coordinatorWake.wait_for(lock, std::chrono::milliseconds(100), ready);
        lock.unlock();
        m_s.progress.Tick();
        if (!stopSeen && m_s.stopAsked()) {
            stopSeen = true;
            shared.stop = true;
            shared.workerWake.notify_all();
        }
        lock.lock();
        if (!ready())
            continue;
        const bool finished = job.finished;
        std::vector<Event> batch;
        batch.swap(job.events);
        lock.unlock();

        bool committed = true;
        if (finished && job.end == End::Failed && job.speculative && !job.saved) {
            Discard(batch);
            job.end = RunAgainHere(job);
        } else {
            size_t failedAt = batch.size();
            committed = Commit(batch, failedAt);
            Replay(job, batch, failedAt);
            if (!committed) {
                m_s.prompter.Show("Failed to save file: " + batch[failedAt].second);
                batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(failedAt));
                Discard(batch);
            }
        }
        lock.lock();
        if (committed && !finished)
            continue;
        const End jobEnd = committed ? job.end : End::Failed;
        m_s.list.SetText(job.row, core::kColStatus, committed ? job.status : "Failed");
        m_failures = m_failures || job.failures;
        ++shared.head;
        shared.workerWake.notify_all();
        if (jobEnd != End::AllDone) {
            end = jobEnd;
            break;
        }
        if (stopSeen) {
            end = End::StoppedAfterJob;
            break;
        }
    }
    shared.stop = true;
    shared.workerWake.notify_all();
    lock.unlock();
    for (std::thread& thread : threads)
        thread.join();
    // What the jobs after the run's end staged, no run of one worker would have written.
    for (size_t j = shared.head; j < shared.jobs.size(); ++j)
        Discard(shared.jobs[j].events);

    if (end == End::AllDone) {
        if (m_s.trace.IsOn())
            m_s.trace.Line("Done.\r\n");
        m_s.prompter.Show("Done.", "Quillsever");
    }
    return end;
}

// Gives the staged parts their names, up to the first that cannot take it (`failedAt`), and
// makes the new names durable with one sync per folder.
bool CParallelRun::Commit(const std::vector<Event>& events, size_t& failedAt) {
    std::set<std::string> folders;
    failedAt = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.kind != Event::Kind::Staged)
            continue;
        if (std::rename(e.first.c_str(), e.second.c_str()) != 0) {
            failedAt = i;
            break;
        }
        folders.insert(FolderOf(e.second));
    }
    for (const std::string& folder : folders)
        SyncFolder(folder);
    return failedAt == events.size();
}

void CParallelRun::Replay(const Job& job, const std::vector<Event>& events, size_t upTo) {
    for (size_t i = 0; i < upTo; ++i) {
        const Event& e = events[i];
        switch (e.kind) {
        case Event::Kind::Started:
            m_s.list.SetText(job.row, core::kColStatus, "Processing");
            m_s.progress.JobStarted(job.cells[core::kColFilename]);
            break;
        case Event::Kind::Message:
            m_s.prompter.Show(e.first, e.second, static_cast<core::Buttons>(e.a),
                              static_cast<core::Icon>(e.b));
            break;
        case Event::Kind::TraceLine:
            m_s.trace.Line(e.first);
            break;
        case Event::Kind::Staged:
            break;
        case Event::Kind::Logged:
            LogPart(e.first, e.second);
            break;
        case Event::Kind::PartWritten:
            m_s.progress.OutputWritten(job.row, e.a, e.b, e.first);
            break;
        case Event::Kind::Moved:
            if (!engine::MoveSourceFile(e.first, e.second, m_s.prompter))
                m_failures = true;
            break;
        }
    }
}

void CParallelRun::LogPart(const std::string& path, const std::string& sourceBase) {
    if (!m_s.log.Write(path, sourceBase) && !m_logFailed) {
        // Once per run, as a run of one worker says it.
        m_logFailed = m_failures = true;
        m_s.prompter.Show(engine::LogWriteFailedText(path), "Log File Error");
    }
}

void CParallelRun::Discard(const std::vector<Event>& events) {
    for (const Event& e : events)
        if (e.kind == Event::Kind::Staged)
            ::unlink(e.first.c_str());
}

// Runs a job again on this thread, now that every job before it has made its effects, with
// every effect made at once, as a run of one worker makes them.
End CParallelRun::RunAgainHere(Job& job) {
    class CStopPump final : public engine::Pump {
      public:
        CStopPump(CParallelRun& owner) : m_owner(owner) {}
        void PumpOnce() override {
            m_owner.m_s.progress.Tick();
            if (!m_pressed && m_run && m_owner.m_s.stopAsked()) {
                m_pressed = true;
                m_run->Press();
            }
        }
        engine::CSplitRun* m_run = nullptr;

      private:
        CParallelRun& m_owner;
        bool m_pressed = false;
    } pump(*this);

    std::unique_ptr<engine::Automation> automation = m_s.newAutomation(m_s.trace);
    engine::CNoConnectionDialog connection;
    core::CJobList list;
    list.InsertRow(0, {}, -1);
    for (int c = 0; c < core::kColumnCount; ++c)
        list.SetText(0, c, job.cells[static_cast<size_t>(c)]);
    engine::SplitRunServices services{list,    *automation, m_s.prompter, pump,
                                      m_s.log, m_s.trace,   m_s.options,  connection};
    services.repaint = [this, &job] {
        m_s.list.SetText(job.row, core::kColStatus, "Processing");
        m_s.progress.JobStarted(job.cells[core::kColFilename]);
    };
    services.outputWritten = [this, &job](int, int range, int ranges, const std::string& path) {
        m_s.progress.OutputWritten(job.row, range, ranges, path);
    };
    services.logPart = [this](const std::string& path, const std::string& base) {
        LogPart(path, base);
        return true;
    };
    services.sayDone = false;
    engine::CSplitRun run(services);
    pump.m_run = &run;
    run.Press();
    job.status = list.Text(0, core::kColStatus);
    job.failures = run.HadFailures();
    return run.LastEnd();
}

} // namespace cli
