#include "engine/SplitRun.h"

#include "core/AtomicFile.h"
#include "core/Files.h"
#include "core/OutputNaming.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "engine/PageCounter.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace engine {

namespace {

constexpr int kNoClose = 0;
constexpr int kCloseAll = 1;
constexpr int kCloseAllAndExit = 2;

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Copies through a temporary file beside the target, in chunks (a source may be larger than
// memory), and checks the copy's size before it takes the target's name, so a failed copy
// never leaves a short file behind. An existing file of the target's name is never replaced.
bool CopyVerified(const std::string& from, const std::string& to) {
    FILE* in = core::OpenRegularFile(from);
    if (!in)
        return false;
    core::CAtomicFile out(to);
    bool ok = out.Open();
    std::vector<char> buffer(1 << 20);
    unsigned long long copied = 0;
    size_t n = 0;
    while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        ok = out.Write(std::string_view(buffer.data(), n));
        copied += n;
    }
    ok = ok && std::ferror(in) == 0;
    struct stat st {};
    ok = ok && ::fstat(::fileno(in), &st) == 0 &&
         static_cast<unsigned long long>(st.st_size) == copied;
    std::fclose(in);
    return ok && out.Commit(core::CAtomicFile::Replace::No);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

// One selected job, as its row held it when the job began. Naming reads the same cells from
// this copy, so rows added, moved or deleted while the run pumps cannot change where the
// job's outputs go. The row itself is found again by id whenever the run writes to it.
struct CSplitRun::Job {
    core::JobId id = 0;
    int row = 0; // where the row was last seen; a hint, and the resume point once it is gone
    std::string source;
    std::string parameters;
    bool keepBookmarks = true;
    std::string moveTo;
    std::string splitTo;
    int32_t offset = 0;
    core::CJobList cells; // one row: the job as it began
    int k = 0;            // outputs named so far
    bool folderMade = false;
    // The job's name-list file, read once while it stays unchanged (the plan reads it first).
    mutable core::CNameListCache lists;
};

// The automation objects of one run, created when it connects and given up when it ends.
class CSplitRun::Session {
  public:
    std::shared_ptr<App> app;
    std::shared_ptr<AVDoc> view;
    std::shared_ptr<PDDoc> newDoc;
};

CSplitRun::CSplitRun(SplitRunServices services) : m_s(std::move(services)) {}

CSplitRun::~CSplitRun() = default;

void CSplitRun::SetLabel(const std::string& label) {
    m_label = label;
    if (m_s.setLabel)
        m_s.setLabel(label);
}

void CSplitRun::Press() {
    m_stop = false;
    if (m_s.list.Count() == 0)
        return;
    if (m_label == kStopLabel) {
        m_stop = true;
        return;
    }
    SetLabel(kStopLabel);
    Run();
    SetLabel(kSplitLabel);
}

void CSplitRun::Run() {
    Session session;
    m_lastEnd = End::Failed;
    m_failures = m_logFailed = false;
    try {
        m_s.connection.Show();
        std::string failure;
        session.app = m_s.automation.Create<App>(failure);
        m_s.connection.Hide();
        if (!session.app) {
            m_lastEnd = Fail(session, kConnectFailedMessage, {}, kNoClose);
            return;
        }
        session.view = m_s.automation.Create<AVDoc>(failure);
        if (!session.view) {
            m_lastEnd = Fail(session, "Failed to create AVDoc", {}, kNoClose);
            return;
        }
        failure.clear();
        session.newDoc = m_s.automation.Create<PDDoc>(failure);
        if (!session.newDoc) {
            m_lastEnd = Fail(session, "Failed to create new PDDoc, " + failure, {}, kNoClose);
            return;
        }
        m_lastEnd = RunRows(session);
        SyncParts(); // those of a job the run ended in
    } catch (const std::exception& e) {
        const std::string text = e.what();
        m_s.prompter.Show(text.empty() ? "The PDF engine reported an error without a description."
                                       : text);
        m_lastEnd = End::Failed;
    }
    // A job the run gave up on says so: "Processing" would claim it still runs, and closing the
    // window would then end the program as if it did.
    if (const int row = m_activeJob != 0 ? m_s.list.RowOf(m_activeJob) : -1;
        row >= 0 && m_s.list.Text(row, core::kColStatus) == "Processing")
        m_s.list.SetText(row, core::kColStatus, "Failed");
    m_activeJob = 0;
}

int CSplitRun::CurrentRow(Job& job) const {
    if (m_s.list.IdAt(job.row) == job.id)
        return job.row;
    const int row = m_s.list.RowOf(job.id);
    if (row >= 0)
        job.row = row;
    return row;
}

void CSplitRun::SetStatus(Job& job, const std::string& status) {
    // A job whose row the user deleted while it ran has nowhere to show its status; writing to
    // the index it had would mark some other job.
    const int row = CurrentRow(job);
    if (row >= 0)
        m_s.list.SetText(row, core::kColStatus, status);
}

// Parts are synced a job at a time (see CAtomicFile::DeferSync), before the job's source moves;
// a failure fails the run. Whoever takes the parts (savePart) syncs them.
void CSplitRun::SyncParts() {
    if (!m_s.savePart && !SyncWrittenParts(m_s.prompter))
        m_failures = true;
}

bool SyncWrittenParts(core::Prompter& prompter) {
    const std::string folder = core::CAtomicFile::SyncDeferred();
    if (!folder.empty())
        prompter.Show("Failed to save file: " + folder);
    return folder.empty();
}

CSplitRun::End CSplitRun::RunRows(Session& session) {
    // The user may insert, delete, exchange and sort rows while the run pumps. The run therefore
    // follows its job by id, goes on below wherever that job's row is now, and skips jobs it has
    // already run in this press, so no job is split twice and none after it is passed over.
    std::unordered_set<core::JobId> ran;
    bool lastRemoved = false;
    for (int i = 0; i < m_s.list.Count(); ++i) {
        m_s.pump.PumpOnce();
        m_subparams.Clear();
        if (m_s.list.Text(i, core::kColSelected) != "Yes" ||
            m_s.list.Text(i, core::kColSplitParameters).empty() || ran.count(m_s.list.IdAt(i)) != 0)
            continue;

        Job job;
        job.id = m_s.list.IdAt(i);
        job.row = i;
        ran.insert(job.id);
        m_activeJob = job.id;
        lastRemoved = false;
        job.source = m_s.list.Text(i, core::kColFilename);
        job.parameters = m_s.list.Text(i, core::kColSplitParameters);
        job.keepBookmarks = m_s.list.Text(i, core::kColKeepBookmarks) != "N";
        job.moveTo = m_s.list.Text(i, core::kColMoveTo);
        job.splitTo = m_s.list.Text(i, core::kColSplitTo);
        job.cells.InsertRow(0, {}, -1);
        for (int c = 0; c < core::kColumnCount; ++c)
            job.cells.SetText(0, c, m_s.list.Text(i, c));

        m_titles.Clear();
        CheckInputAndCollectTitles(job.source, m_titles, m_s.prompter);
        // From the job's copy: the input check may have shown a box, and the list may have
        // changed under it.
        job.offset = core::LeadingInt(job.cells.Text(0, core::kColPageOffset));
        SetStatus(job, "Processing");
        if (m_s.repaint)
            m_s.repaint();
        if (m_s.trace.IsOn())
            m_s.trace.Line(core::Format("Split parameters: %s\r\n", job.parameters.c_str()));

        const int count =
            core::SplitParameters(job.cells, job.parameters, 0, m_subparams, m_s.trace);
        int rangeCount = 0;
        while (rangeCount + 1 < core::CRangeList::kEntries &&
               m_subparams.At(rangeCount + 1).first != 0)
            ++rangeCount;
        std::vector<PlannedPart> parts;
        if (RefuseJob(job, rangeCount, parts)) {
            m_failures = true;
            SetStatus(job, "Failed");
            if (m_stop) {
                session.app->CloseAllDocs();
                return End::StoppedAfterJob;
            }
            const int row = CurrentRow(job);
            i = row >= 0 ? row : job.row - 1;
            continue;
        }
        session.app->PlanParts(job.source, parts);
        for (int j = 0; j <= count && j + 1 < core::CRangeList::kEntries; ++j) {
            if (m_subparams.At(j + 1).first == 0)
                break;
            // A job taken off the list (deleted, or Clear ALL) ends with the part that was being
            // written when it went; no further part of it begins and its source stays put.
            if (CurrentRow(job) < 0) {
                lastRemoved = true;
                break;
            }
            const End end = RunRange(session, job, j + 1, rangeCount);
            if (end != End::None)
                return end;
        }
        session.app->PlanParts(job.source, {});
        m_activeJob = 0;
        SyncParts();
        if (lastRemoved) {
            if (m_stop) {
                session.app->CloseAllDocs();
                return End::StoppedAfterJob;
            }
            i = job.row - 1;
            continue;
        }
        if (!job.moveTo.empty() &&
            !(m_s.moveSource ? m_s.moveSource(job.source, job.moveTo)
                             : MoveSourceFile(job.source, job.moveTo, m_s.prompter)))
            m_failures = true;
        SetStatus(job, "Done");
        if (m_stop) {
            session.app->CloseAllDocs();
            return End::StoppedAfterJob;
        }
        // Next comes the row below the job's present one; when its row is gone, the row that
        // took its place.
        const int row = CurrentRow(job);
        i = row >= 0 ? row : job.row - 1;
    }
    session.app->CloseAllDocs();
    session.app->Exit();
    // The list's last job was taken off it while it ran (Clear ALL): nothing the user still
    // asked for was done, so there is no "Done." to tell.
    if (lastRemoved)
        return End::StoppedAfterJob;
    if (m_s.sayDone) {
        if (m_s.trace.IsOn())
            m_s.trace.Line("Done.\r\n");
        m_s.prompter.Show("Done.", "Quillsever");
    }
    return End::AllDone;
}

CSplitRun::End CSplitRun::RunRange(Session& session, Job& job, int pair, int rangeCount) {
    const core::PageRange range = m_subparams.At(pair);
    const int32_t first = range.first;
    const int32_t last = range.last;
    const int32_t n = static_cast<int32_t>(int64_t{last} - first + 1);
    core::Trace& trace = m_s.trace;

    if (trace.IsOn())
        trace.Line(core::Format("subparams[%d][0] = %d\r\n", pair, first - 1));
    m_s.pump.PumpOnce();
    if (m_stop) {
        SetStatus(job, "Stopped");
        return End::StoppedBeforeRange;
    }

    if (!session.view->Open(job.source, ""))
        return Fail(session, "Error Opening File : " + job.source, {}, kCloseAll);
    std::shared_ptr<PDDoc> sourceDoc = session.view->GetPDDoc();
    if (!sourceDoc)
        return Fail(session, "Error Opening File : " + job.source, {}, kCloseAll);
    if (trace.IsOn())
        trace.Line(core::Format("Opened file: %s\r\n", job.source.c_str()));
    m_s.pump.PumpOnce();

    const int32_t sourcePages = sourceDoc->GetNumPages();
    m_s.pump.PumpOnce();
    if (trace.IsOn())
        trace.Line(core::Format("tempDoc Pages: %d\r\n", sourcePages));

    PDDoc& newDoc = *session.newDoc;
    newDoc.Create();
    if (trace.IsOn())
        trace.Line(core::Format("create newDoc Pages: %d\r\n", newDoc.GetNumPages()));
    if (!newDoc.InsertPages(-1, *sourceDoc, first - 1, n, job.keepBookmarks))
        return Fail(session,
                    core::Format("Error! can't insert pages %d-%d\nPlease make sure Acrobat is "
                                 "running NOT Adobe Reader",
                                 first - 1, n),
                    {}, kCloseAll);
    if (trace.IsOn())
        trace.Line(core::Format("insert pages: %d, %d\r\n", first, n));
    const int32_t newPages = newDoc.GetNumPages();
    if (trace.IsOn())
        trace.Line(core::Format("save newDoc Pages: %d\r\n", newPages));

    // Some viewers copy the whole source whatever range is asked for; cut it back.
    if (newPages > n && newPages == sourcePages) {
        try {
            m_s.pump.PumpOnce();
            newDoc.DeletePages(last, newPages - 1);
            if (first > 1) {
                m_s.pump.PumpOnce();
                newDoc.DeletePages(0, first - 2);
            }
        } catch (const AutomationError& e) {
            return Fail(session, e.what(), "Pages Error", kNoClose);
        } catch (const OtherAutomationError&) {
            return Fail(session,
                        "Acrobat Error! error deleting pages from source PDF\nPlease make sure "
                        "Acrobat is running NOT Adobe Reader",
                        {}, kNoClose);
        }
    }

    m_s.pump.PumpOnce();
    if (!job.keepBookmarks)
        RemoveBookmarks(m_s.automation, newDoc, m_titles, m_s.pump);

    const std::string sourceBase = core::RemoveAll(job.source, ".pdf");
    const std::string title = core::SourceTitle(job.source);
    ++job.k;
    m_s.pump.PumpOnce();
    core::NamingContext naming{m_s.options, m_s.prompter, m_s.trace, &job.lists};
    const auto path = core::BuildOutputPath(job.cells, 0, range, job.k, title, job.offset, naming);
    if (!path)
        return Fail(session, {}, {}, kCloseAllAndExit);

    // One level only; an existing directory is fine. Once a job: every later part finds it
    // (a failing mkdir for each of thousands of parts was pure cost).
    if (!job.folderMade) {
        if (!m_s.savePart) // whoever takes the parts makes it, before the first of them
            ::mkdir(job.splitTo.c_str(), 0777);
        job.folderMade = true;
    }

    if (trace.IsOn())
        trace.Line(core::Format("save newDoc Pages: %d\r\n", newDoc.GetNumPages()));
    // Writing a part over its own source would destroy the rest of the job's input (whoever
    // takes the parts checks that as it writes them).
    if ((!m_s.savePart && SameFile(*path, job.source)) ||
        !(m_s.savePart ? m_s.savePart(newDoc, *path)
                       : newDoc.Save(PDDoc::kSaveFull | PDDoc::kSaveCollectGarbage, *path)))
        return Fail(session, "Failed to save file: " + *path, {}, kCloseAll);
    if (trace.IsOn())
        trace.Line(core::Format("outfile: %s\r\n", path->c_str()));

    if (!newDoc.Close())
        return Fail(session, "Failed to get Close doc", {}, kCloseAll);
    session.newDoc.reset();
    if (!session.view->Close(true))
        return Fail(session, "Failed to get Close doc", {}, kCloseAll);
    session.app->CloseAllDocs();
    const bool logged =
        m_s.logPart ? m_s.logPart(*path, sourceBase) : m_s.log.Write(*path, sourceBase);
    if (!logged && !m_logFailed) {
        // Once per run: a full disk would otherwise ask for every further part.
        m_logFailed = m_failures = true;
        m_s.prompter.Show(LogWriteFailedText(m_s.log.Path(), *path), "Log File Error");
    }
    if (m_s.outputWritten)
        m_s.outputWritten(CurrentRow(job), pair, rangeCount, *path);

    m_s.pump.PumpOnce();
    std::string failure;
    session.newDoc = m_s.automation.Create<PDDoc>(failure);
    if (!session.newDoc)
        return Fail(session, "Failed to create new PDDoc, " + failure, {}, kNoClose);
    return End::None;
}

bool CSplitRun::RefuseJob(const Job& job, int rangeCount, std::vector<PlannedPart>& parts) {
    // A job made in the dialog always has a folder; one from a hand-made batch may not, and
    // its parts would land in the file-system root.
    if (job.splitTo.empty()) {
        m_s.prompter.Show("you must specify an destination directory", "Error Destination");
        return true;
    }
    // Splitting the first 19,998 ranges and dropping the rest would look like a whole job.
    if (m_subparams.Overflowed()) {
        m_s.prompter.Show(core::TooManyRangesText(), "Error in parameters");
        return true;
    }
    // Every name is settled before the first part is written, so a bad list or a name clash
    // never leaves half a job behind.
    std::vector<core::PageRange> ranges;
    ranges.reserve(static_cast<size_t>(rangeCount));
    for (int j = 1; j <= rangeCount; ++j)
        ranges.push_back(m_subparams.At(j));
    const core::OutputPlan plan =
        core::PlanOutputPaths(job.cells, 0, ranges, core::SourceTitle(job.source), job.offset,
                              m_s.options, m_s.prompter, &job.lists);
    if (plan.result == core::OutputPlan::Result::Refused)
        return true;
    if (plan.result == core::OutputPlan::Result::Ok && plan.paths.size() == ranges.size()) {
        // A job's parts share its folder.
        const std::string folder =
            plan.paths.empty() ? "" : std::filesystem::path(plan.paths[0]).parent_path().string();
        for (size_t j = 0; j < ranges.size(); ++j)
            parts.push_back(
                {ranges[j].first, ranges[j].last, core::FileTitle(plan.paths[j]), folder});
    }
    return false;
}

CSplitRun::End CSplitRun::Fail(Session& session, const std::string& message,
                               const std::string& caption, int closeDocs) {
    if (!message.empty())
        m_s.prompter.Show(message, caption);
    if (closeDocs != kNoClose && session.app) {
        // The run is over either way; a second error while tidying up is not worth a second box.
        try {
            session.app->CloseAllDocs();
            if (closeDocs == kCloseAllAndExit)
                session.app->Exit();
        } catch (const std::exception&) {
        }
    }
    return End::Failed;
}

std::string LogWriteFailedText(const std::string& logPath, const std::string& outputPath) {
    return "Can't write to " + logPath + ": the parts are saved, but from " + outputPath +
           " on they are missing from the log.";
}

bool MoveSourceFile(const std::string& source, const std::string& moveTo,
                    core::Prompter& prompter) {
    const std::string destination = moveTo + core::kSeparator + core::FileTitle(source);
    if (SameFile(source, destination))
        return true;
    // Two sources of one name from different folders must not end as one: the file already
    // there is somebody's document, never replaced.
    bool clash = Exists(destination);
    if (!clash) {
        if (core::RenameNoReplace(source, destination))
            return true;
        clash = errno == EEXIST;
        // Across file systems a rename cannot work: copy, make sure the copy is whole, then
        // delete.
        if (errno == EXDEV && CopyVerified(source, destination)) {
            if (::unlink(source.c_str()) == 0)
                return true;
            // The source cannot go (its folder is read-only): neither may its copy stay, or
            // the document would be in two places where the message says it was left alone.
            ::unlink(destination.c_str());
        }
    }
    prompter.Show("Can't move file: " + source + "\nto: " + destination +
                      (clash ? "\nA file of that name is already there." : "") +
                      "\nThe file was left where it was.",
                  "Move Error");
    return false;
}

} // namespace engine
