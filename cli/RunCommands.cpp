// The commands that split: a whole batch, or one file.
#include "cli/Arguments.h"
#include "cli/BatchPlan.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "cli/ParallelRun.h"
#include "cli/PresetFileDialogs.h"
#include "cli/Progress.h"
#include "core/AddFile.h"
#include "core/Clock.h"
#include "core/SetupOptions.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "engine/SplitRun.h"
#include "engine/Watchdog.h"
#include "storage/BatchCommands.h"
#include "storage/SplitLog.h"

#include <charconv>
#include <chrono>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

namespace {

// Ctrl+C during a run is a press of "Stop": the run ends cleanly at its next check, with every
// finished part logged. So does a SIGTERM (a scheduler's cancel, `timeout`), so that the log
// still names every part on disk. The process then ends by that signal: whoever sent it learns
// that the batch was not done, and a shell loop over batches stops at Ctrl+C instead of going
// on with the next one. A second signal ends the program at once.
volatile std::sig_atomic_t g_interrupted = 0; // the signal's number

extern "C" void OnInterrupt(int signal) {
    g_interrupted = signal;
    std::signal(signal, SIG_DFL);
}

// Messages of a run share standard error with the progress bar: the bar steps aside for each.
// The run's last word, "Done.", comes after the bar's last part: the bar is finished first, and
// --quiet keeps it to itself (the exit status says it).
class CProgressPrompter final : public core::Prompter {
  public:
    CProgressPrompter(core::Prompter& inner, CProgress& progress, bool quiet)
        : m_inner(inner), m_progress(progress), m_quiet(quiet) {}
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override {
        if (text == "Done." && buttons == core::Buttons::Ok) {
            m_progress.Finish();
            return m_quiet ? core::Answer::Ok : m_inner.Show(text, caption, buttons, icon);
        }
        m_progress.BeforeMessage();
        const core::Answer answer = m_inner.Show(text, caption, buttons, icon);
        m_progress.AfterMessage();
        return answer;
    }

  private:
    core::Prompter& m_inner;
    CProgress& m_progress;
    bool m_quiet;
};

// Answers every message unseen, for a plan made again by the run that follows it.
class CSilentPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string&, const std::string&, core::Buttons buttons,
                      core::Icon) override {
        return buttons == core::Buttons::YesNo ? core::Answer::No : core::Answer::Ok;
    }
};

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int TerminalColumns() {
    struct winsize size {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

struct RunOptions {
    bool trace = false;
    bool quiet = false;
    std::string logPath = storage::kSplitLogFile;
    int jobs = 1; // workers splitting different jobs at once
    // Each job starts once the earlier ones have written and moved their files: it may read them.
    bool inTurn = false;
};

// More workers than this only wait on one another and on the disk.
constexpr int kMaxWorkers = 64;

// "K/N" with 0 <= K < N.
bool ParseShard(const std::string& text, int& k, int& n) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos)
        return false;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [kEnd, kError] = std::from_chars(begin, begin + slash, k);
    auto [nEnd, nError] = std::from_chars(begin + slash + 1, end, n);
    return kError == std::errc() && nError == std::errc() && kEnd == begin + slash && nEnd == end &&
           n >= 1 && k >= 0 && k < n;
}

// Runs "Split em'" over the list as the window would, with this directory's setup.ini and
// split.log. Exit 0 when every job is done, 1 when a failure ended it
// or a job was refused, a source could not be moved or a part could not be logged (or the log
// could not be opened at all), or the trace asked for could not be opened or written.
int SplitJobs(Context& c, core::CJobList& list, const core::SetupOptions& options,
              const RunOptions& how) {
    // Like the log, a trace asked for and not written does not stop the run, but the run then
    // did not do all that it was asked to.
    const bool traceOpened = !how.trace || c.trace.SwitchOn(c.prompter);
    core::CSystemClock clock;
    storage::CSplitLog log(clock, how.logPath);
    // Like the window, the run goes on without a log; but a script must learn that its parts
    // went unrecorded.
    // Named as given: a shard's log is not the split.log a user would look for.
    const bool logOpened = log.Open();
    if (!logOpened)
        c.prompter.Show("Can't open " + how.logPath, "Log File Error");

    // Nothing on this platform blocks a run with a prompt, but the watchdog runs beside every
    // run all the same, as it would beside the window.
    engine::CNoWindowSystem windows;
    engine::CMyThread watchdog(windows);
    watchdog.SetOwner(&list);
    watchdog.Start();

    const CProgress::Mode mode = how.quiet         ? CProgress::Mode::Quiet
                                 : c.errIsTerminal ? CProgress::Mode::Bar
                                                   : CProgress::Mode::Lines;
    CProgress progress(c.err, mode, CountParts(list), SteadySeconds, TerminalColumns());
    CProgressPrompter prompter(c.prompter, progress, how.quiet);
    // One thread builds the parts while this one writes them (more with --jobs): the run ends
    // as one thread doing both would have ended it.
    CParallelRun run({list, prompter, log, c.trace, options, progress, &c.automation,
                      c.newAutomation, [] { return g_interrupted != 0; }},
                     how.jobs, how.inTurn);
    g_interrupted = 0;
    auto previous = std::signal(SIGINT, OnInterrupt);
    auto previousTerm = std::signal(SIGTERM, OnInterrupt);
    const engine::CSplitRun::End end = run.Run();
    const bool failures = run.HadFailures();
    std::signal(SIGINT, previous);
    std::signal(SIGTERM, previousTerm);
    progress.Finish();
    watchdog.Stop();
    c.trace.End();
    const bool traceWritten = traceOpened && !c.trace.WriteFailed();
    if (traceOpened && !traceWritten)
        c.prompter.Show("Can't write " + std::string(engine::kDebugTraceFile));
    if (const int signal = g_interrupted; signal == SIGTERM || signal == SIGINT) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return end == engine::CSplitRun::End::Failed || failures || !logOpened || !traceWritten
               ? kExitFailed
               : kExitOk;
}

} // namespace

int RunBatch(Context& c) {
    CArguments args(c.words, {"shard", "log", "jobs"}, {"trace", "quiet", "check"});
    const int jobs = args.Int("jobs", 1);
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 1)
        return Usage(c, "run takes one batch file");
    int shard = 0, shards = 1;
    if (auto text = args.Value("shard"); text && !ParseShard(*text, shard, shards))
        return Usage(c, "--shard needs K/N with 0 <= K < N, not \"" + *text + "\"");
    RunOptions how{args.Flag("trace"), args.Flag("quiet"),
                   args.Value("log").value_or(storage::kSplitLogFile), jobs};
    if (how.logPath.empty())
        return Usage(c, "--log needs a file name");
    if (jobs < 1 || jobs > kMaxWorkers)
        return Usage(c,
                     "--jobs needs a number of workers from 1 to " + std::to_string(kMaxWorkers));

    CPresetFileDialogs dialogs({args.Positional()[0]});
    core::CJobList list;
    storage::CBatchCommands batch(list, c.AddFileHooksFor(list), c.prompter, dialogs);
    if (!batch.Load())
        return kExitFailed;
    core::SetupOptions options;
    core::LoadSetupOptions(options);

    // Every shard plans the whole batch: a clash between two shards is seen by both of them,
    // so either all of them start or none does.
    if (args.Flag("check")) {
        CBatchPlan plan(list, options, c.prompter, true);
        for (const OutputClash& clash : plan.Clashes())
            c.out << ClashText(clash) << '\n';
        for (const OutputClash& lock : plan.Interlocks())
            c.out << ClashText(lock) << '\n';
        return plan.Clashes().empty() && !plan.Interlocked() && plan.RefusedJobs() == 0
                   ? kExitOk
                   : kExitFailed;
    }
    CSilentPrompter silent; // the run itself reports the jobs it refuses
    CBatchPlan plan(list, options, silent);
    if (!plan.Clashes().empty()) {
        std::string text = std::to_string(plan.Clashes().size()) +
                           " path(s) written by one job would be written or read by another:";
        for (const OutputClash& clash : plan.Clashes())
            text += '\n' + ClashText(clash);
        if (shards > 1) {
            // Which shard's file would survive is a race: better no run than a wrong part.
            c.prompter.Show(text + "\nNo shard of this batch runs until they differ.",
                            "Output Clash");
            return kExitFailed;
        }
        c.prompter.Show(text + "\nThe run goes on, job after job, as the batch says.",
                        "Output Clash");
        how.inTurn = true;
    }
    // Jobs that move files others read wait for one another: one worker takes them in turn.
    // Shards cannot wait for one another.
    if (plan.Interlocked() && shards > 1) {
        std::string text = std::to_string(plan.Interlocks().size()) +
                           " path(s) that one job moves a file from or to, or splits into, another "
                           "job reads or writes:";
        for (const OutputClash& lock : plan.Interlocks())
            text += '\n' + ClashText(lock);
        c.prompter.Show(text + "\nNo shard of this batch runs until they differ.", "Output Clash");
        return kExitFailed;
    }
    if (plan.Interlocked())
        how.inTurn = true;
    for (int row = 0; row < list.Count(); ++row)
        if (row % shards != shard)
            list.SetText(row, core::kColSelected, "No");
    return SplitJobs(c, list, options, how);
}

int SplitOne(Context& c) {
    CArguments args(c.words, {"to", "move-to", "names", "start", "skip", "offset"},
                    {"increment", "no-bookmarks", "trace", "quiet"});
    core::NewJob job;
    job.incrementStart = args.Int("start", 0);
    job.skipPages = args.Int("skip", 0);
    job.pageOffset = args.Int("offset", 0);
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 2 || !args.Value("to"))
        return Usage(c, "split takes SOURCE.pdf, PARAMS and --to DIR");
    job.fileName = args.Positional()[0];
    job.splitParameters = args.Positional()[1];
    job.splitTo = *args.Value("to");
    job.moveTo = args.Value("move-to").value_or("");
    job.incrementName = std::string(args.Flag("increment") ? "Y" : "N");
    job.keepBookmarks = std::string(args.Flag("no-bookmarks") ? "N" : "Y");
    job.fileList = args.Value("names").value_or("");

    core::CJobList list;
    if (core::AddFile(list, c.AddFileHooksFor(list), job) != core::kAddFileAdded) {
        c.prompter.Show("Not a PDF file name (it must contain .pdf or .PDF): " + job.fileName);
        return kExitFailed;
    }
    const int32_t pages = core::LeadingInt(list.Text(0, core::kColPages));
    if (pages == -1) {
        c.prompter.Show("Input pdf file not found." + job.fileName, "File Error");
        return kExitFailed;
    }
    if (pages == 0)
        return kExitFailed; // counting has said why
    // The same check the parameter editor makes before it takes a string.
    core::SplitCheckFields fields{job.splitTo, job.splitParameters, pages, job.skipPages};
    if (!core::CheckSplitParameters(fields, c.prompter))
        return kExitFailed;
    core::SetupOptions options;
    core::LoadSetupOptions(options);
    return SplitJobs(c, list, options, {args.Flag("trace"), args.Flag("quiet")});
}

} // namespace cli
