#pragma once

#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/RangeList.h"
#include "core/SetupOptions.h"
#include "core/Trace.h"
#include "engine/Automation.h"
#include "engine/InputCheck.h"
#include "engine/Pump.h"
#include "storage/SplitLog.h"

#include <functional>
#include <memory>
#include <string>

namespace engine {

inline constexpr const char* kSplitLabel = "Split em'";
inline constexpr const char* kStopLabel = "Stop";

// What the split run works with; the window and the command line each provide their own.
struct SplitRunServices {
    core::CJobList& list;
    Automation& automation;
    core::Prompter& prompter;
    Pump& pump;
    storage::CSplitLog& log;
    core::Trace& trace;
    const core::SetupOptions& options;
    ConnectionDialog& connection;
    // Shows the button's new label.
    std::function<void(const std::string&)> setLabel = {};
    // Repaints the window at once (a job's row has just become "Processing").
    std::function<void()> repaint = {};
    // Told after every output written: the job's row as it is now (-1 once the user has deleted
    // it), range number (1-based), ranges of the job, path.
    std::function<void(int, int, int, const std::string&)> outputWritten = {};

    // A worker that builds parts while another thread writes them leaves the lasting effects
    // of a job to that thread, which makes them in job order: each part goes to `savePart`
    // (the document and its path; true: taken, and that thread makes the split-to folder and
    // refuses a part whose path is the job's source),
    // its log line to `logPart` (true: taken), the source's move to `moveSource` (true:
    // taken), and the run ends without its "Done.". Unset, the run does all of it itself.
    std::function<bool(PDDoc&, const std::string&)> savePart = {};
    std::function<bool(const std::string&, const std::string&)> logPart = {};
    std::function<bool(const std::string&, const std::string&)> moveSource = {};
    bool sayDone = true;
};

// Moves a split source into `moveTo`, keeping its file name; never over an existing file.
// False (after saying why) when the source stays where it was.
bool MoveSourceFile(const std::string& source, const std::string& moveTo, core::Prompter& prompter);

// Makes the parts written since the last call last on disk (see core::CAtomicFile::DeferSync);
// false, after saying so, when they may not.
bool SyncWrittenParts(core::Prompter& prompter);

// What the run says, once, when a part's line cannot be added to the log.
std::string LogWriteFailedText(const std::string& logPath, const std::string& outputPath);

// "Split em'": runs every selected job of the list, one output per page range. The run pumps
// events between steps, so a second press (which only asks it to stop) and edits of the list
// can arrive while it works.
//
// Thread rule: a run lives on the thread that owns the job list (the window's); nothing of it
// may be touched from another thread. Re-entrance comes only through the pump.
class CSplitRun {
  public:
    enum class End { None, AllDone, StoppedAfterJob, StoppedBeforeRange, Failed };

    explicit CSplitRun(SplitRunServices services);
    ~CSplitRun();

    // A press of the button: starts a run, or during one asks it to stop.
    void Press();
    // Asks a run under way to stop at its next check (closing the window does this).
    void RequestStop() { m_stop = true; }

    const std::string& Label() const { return m_label; }
    bool Running() const { return m_label == kStopLabel; }
    End LastEnd() const { return m_lastEnd; }
    // True when the last run refused a job, could not move a source or could not log a part,
    // even if it went on to its end.
    bool HadFailures() const { return m_failures; }

  private:
    struct Job;
    class Session;

    void Run();
    End RunRows(Session& session);
    void SyncParts();
    End RunRange(Session& session, Job& job, int pair, int rangeCount);
    End Fail(Session& session, const std::string& message, const std::string& caption,
             int closeDocs);
    bool RefuseJob(const Job& job, int rangeCount, std::vector<PlannedPart>& parts);
    // Where the job's row is now, or -1 when it has been deleted.
    int CurrentRow(Job& job) const;
    void SetStatus(Job& job, const std::string& status);
    void SetLabel(const std::string& label);

    SplitRunServices m_s;
    std::string m_label = kSplitLabel;
    bool m_stop = false;
    End m_lastEnd = End::None;
    bool m_failures = false;
    bool m_logFailed = false;
    core::JobId m_activeJob = 0; // the job being split, 0 between jobs
    core::CRangeList m_subparams;
    CBookmarkTitles m_titles;
};

} // namespace engine
