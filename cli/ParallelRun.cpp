#include "cli/ParallelRun.h"

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/Files.h"
#include "engine/PdfWriter.h"
#include "engine/Pump.h"
#include "engine/QpdfAutomation.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cli {

using End = engine::CSplitRun::End;

namespace {

// How far the workers may run ahead of the job whose effects are being made, in jobs and in
// bytes of parts not yet written: what is kept in memory stays bounded.
constexpr size_t kLookahead = 64;
constexpr size_t kPendingBytes = size_t{64} << 20;

} // namespace

// One thing a worker's job did that lasts or shows, in the order it did them.
struct CParallelRun::Event {
    enum class Kind { Started, Message, TraceLine, Saved, Logged, PartWritten, Moved };
    Kind kind;
    std::string first;  // message text, trace line, output path, moved source
    std::string second; // caption, the part's bytes, source base, move-to folder
    int a = 0;          // buttons of a message; range of a part
    int b = 0;          // icon of a message; ranges of the job
    // The part's end, compressed by the writing thread (a fifth of a small part's writing).
    std::shared_ptr<engine::PartEnd> end = nullptr;
};

struct CParallelRun::Job {
    int row = 0;
    std::vector<std::string> cells;
    // Written by the job's worker under the shared lock.
    std::vector<Event> events;
    bool finished = false;
    bool speculative = false; // taken while an earlier job's effects were still to be made
    bool saved = false;       // has saved a part
    bool folderMade = false;
    // The job's source as its first part was written; no part may take its place.
    std::optional<std::pair<dev_t, ino_t>> source;
    size_t pendingBytes = 0; // of parts recorded and not yet written
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
    size_t pendingBytes = 0;
    bool traceOn = false;
};

// A worker: takes the next job, runs it as a run of one job would, and records what it did.
// It is the run's prompter (messages are recorded; questions get the command line's answer,
// No), its trace and its pump (which passes a stop on to the run).
class CParallelRun::Worker final : core::Prompter, core::Trace, engine::Pump {
  public:
    Worker(CParallelRun& owner, int index)
        : m_owner(owner), m_shared(*owner.m_shared), m_index(index) {}

    void Main() {
        std::unique_ptr<engine::Automation> own;
        engine::Automation* automation = m_owner.m_s.firstAutomation;
        if (m_index > 0 || !automation) {
            own = m_owner.m_s.newAutomation(*this);
            automation = own.get();
        }
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
        // One worker leaves its parts' ends to the writing thread, which has time to spare
        // beside it; several keep that thread busy with their parts' files as it is.
        const bool leaveEnds = m_owner.m_workers == 1;
        services.savePart = [this, leaveEnds](engine::PDDoc& doc, const std::string& path) {
            std::string bytes;
            std::shared_ptr<engine::PartEnd> end;
            if (!engine::CQpdfAutomation::SavePartToMemory(doc, bytes, leaveEnds ? &end : nullptr))
                return false;
            Record({Event::Kind::Saved, path, std::move(bytes), 0, 0, std::move(end)});
            return true;
        };
        services.logPart = [this](const std::string& path, const std::string& base) {
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
        const size_t ahead = m_owner.m_inTurn ? 1 : kLookahead;
        m_shared.workerWake.wait(lock, [this, ahead] {
            return m_shared.stop || m_shared.next >= m_shared.jobs.size() ||
                   m_shared.next < m_shared.head + ahead;
        });
        if (m_shared.stop || m_shared.next >= m_shared.jobs.size())
            return nullptr;
        Job& job = m_shared.jobs[m_shared.next];
        job.speculative = m_shared.next != m_shared.head;
        ++m_shared.next;
        return &job;
    }

    // `wake`: worth waking the coordinator for, when this job is the one it waits on. A part
    // waits while too many bytes wait to be written: those of its own job when that is the one
    // being written, anybody's otherwise.
    void Record(Event event, bool wake = false) {
        std::unique_lock lock(m_shared.mutex);
        if (event.kind == Event::Kind::Saved) {
            m_shared.workerWake.wait(lock, [this] {
                const bool head = m_job == &m_shared.jobs[m_shared.head];
                return m_shared.stop ||
                       (head ? m_job->pendingBytes : m_shared.pendingBytes) < kPendingBytes;
            });
            m_job->saved = true;
            m_job->pendingBytes += event.second.size();
            m_shared.pendingBytes += event.second.size();
        }
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
    int m_index;
    bool m_pressed = false;
};

CParallelRun::CParallelRun(Services services, int workers, bool inTurn)
    : m_s(std::move(services)), m_workers(inTurn ? 1 : workers), m_inTurn(inTurn),
      m_shared(std::make_unique<Shared>()) {}

CParallelRun::~CParallelRun() {
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

End CParallelRun::Run() {
    m_failures = m_logFailed = false;
    if (m_s.list.Count() == 0)
        return End::None; // a press on an empty list does nothing
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

    // Ctrl+C (or SIGTERM) reaches this thread only, which passes it on to the workers.
    sigset_t interrupt, previous;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigaddset(&interrupt, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::thread> threads;
    for (int w = 0; w < m_workers; ++w) {
        workers.push_back(std::make_unique<Worker>(*this, w));
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
        m_shared->pendingBytes -= job.pendingBytes;
        job.pendingBytes = 0;
        shared.workerWake.notify_all();
        lock.unlock();

        bool committed = true;
        if (finished && job.end == End::Failed && job.speculative && !job.saved) {
            job.end = RunAgainHere(job);
        } else {
            const size_t failedAt = Replay(job, batch);
            committed = failedAt == batch.size();
            if (!committed)
                m_s.prompter.Show("Failed to save file: " + batch[failedAt].first);
        }
        lock.lock();
        if (committed && !finished)
            continue;
        lock.unlock();
        SyncParts();
        lock.lock();
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
    SyncParts();
    // What the jobs after the run's end made stays in memory: no run of one worker would have
    // written it.
    for (std::thread& thread : threads)
        thread.join();

    if (end == End::AllDone) {
        if (m_s.trace.IsOn())
            m_s.trace.Line("Done.\r\n");
        m_s.prompter.Show("Done.", "Quillsever");
    }
    return end;
}

// Makes the job's effects in the order the job had them; returns the index of a part that could
// not be written (which ends the job), or the number of events.
size_t CParallelRun::Replay(Job& job, const std::vector<Event>& events) {
    for (size_t i = 0; i < events.size(); ++i) {
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
        case Event::Kind::Saved:
            if (!job.folderMade) {
                // One level, once a job, as a run of one worker makes it.
                ::mkdir(job.cells[core::kColSplitTo].c_str(), 0777);
                job.folderMade = true;
                struct stat st {};
                if (::stat(job.cells[core::kColFilename].c_str(), &st) == 0)
                    job.source = {st.st_dev, st.st_ino};
            }
            if (m_folderPath != job.cells[core::kColSplitTo]) {
                if (m_folderFd >= 0)
                    ::close(m_folderFd);
                m_folderPath = job.cells[core::kColSplitTo];
                m_folderFd = ::open(m_folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            if (!WritePart(e, job))
                return i;
            break;
        case Event::Kind::Logged:
            LogPart(e.first, e.second);
            break;
        case Event::Kind::PartWritten:
            m_s.progress.OutputWritten(job.row, e.a, e.b, e.first);
            break;
        case Event::Kind::Moved:
            SyncParts();
            if (!engine::MoveSourceFile(e.first, e.second, m_s.prompter))
                m_failures = true;
            break;
        }
    }
    return events.size();
}

// A part over its own source would destroy the rest of the job's input; the worker leaves that
// check to the commit, which learns whether the name is taken at no cost when it is not.
bool CParallelRun::WritePart(const Event& saved, const Job& job) {
    core::CAtomicFile file(saved.first);
    file.DeferSync(); // synced with the job's other parts, before its source moves
    if (job.source)
        file.KeepOff(job.source->first, job.source->second);
    if (!file.Open() || !file.Write(saved.second))
        return false;
    if (saved.end)
        engine::FinishPart(*saved.end, [&](std::string_view block) { file.Write(block); });
    return file.Commit(core::CAtomicFile::Replace::Yes, m_folderFd);
}

// The parts written since the last sync reach the disk; a failure fails the run.
void CParallelRun::SyncParts() {
    if (!engine::SyncWrittenParts(m_s.prompter))
        m_failures = true;
}

void CParallelRun::LogPart(const std::string& path, const std::string& sourceBase) {
    if (!m_s.log.Write(path, sourceBase) && !m_logFailed) {
        // Once per run, as a run of one worker says it.
        m_logFailed = m_failures = true;
        m_s.prompter.Show(engine::LogWriteFailedText(m_s.log.Path(), path), "Log File Error");
    }
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
