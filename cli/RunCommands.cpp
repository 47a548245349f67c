// The commands that split: a whole batch, or one file.
#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "cli/PresetFileDialogs.h"
#include "core/AddFile.h"
#include "core/Clock.h"
#include "core/SetupOptions.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "engine/SplitRun.h"
#include "engine/Watchdog.h"
#include "storage/BatchCommands.h"
#include "storage/SplitLog.h"

#include <csignal>

namespace cli {

namespace {

// Ctrl+C during a run is a press of "Stop": the run ends cleanly at its next check, with every
// finished part logged. A second Ctrl+C ends the program at once.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

class CInterruptPump final : public engine::Pump {
  public:
    void PumpOnce() override {
        if (g_interrupted && !m_pressed && m_run) {
            m_pressed = true;
            m_run->Press();
        }
    }
    void SetRun(engine::CSplitRun* run) { m_run = run; }

  private:
    engine::CSplitRun* m_run = nullptr;
    bool m_pressed = false;
};

// Runs "Split em'" over the list as the window would, with this directory's setup.ini and
// split.log. Exit 0 when the run ended normally (done or stopped), 1 when a failure ended it
// or a job was refused, a source could not be moved or a part could not be logged.
int SplitJobs(Context& c, core::CJobList& list, bool trace, bool quiet) {
    if (trace)
        c.trace.SwitchOn(c.prompter);
    core::SetupOptions options;
    core::LoadSetupOptions(options);
    core::CSystemClock clock;
    storage::CSplitLog log(clock);
    log.Open(&c.prompter);

    // Nothing on this platform blocks a run with a prompt, but the watchdog runs beside every
    // run all the same, as it would beside the window.
    engine::CNoWindowSystem windows;
    engine::CMyThread watchdog(windows);
    watchdog.SetOwner(&list);
    watchdog.Start();

    CInterruptPump pump;
    engine::SplitRunServices services{list, c.automation, c.prompter, pump,
                                      log,  c.trace,      options,    c.connection};
    if (!quiet)
        services.outputWritten = [&c](int row, int range, int ranges, const std::string& path) {
            c.err << "job " << row + 1 << ", range " << range << " of " << ranges << ": " << path
                  << '\n';
        };
    engine::CSplitRun run(services);
    pump.SetRun(&run);
    g_interrupted = 0;
    auto previous = std::signal(SIGINT, OnInterrupt);
    run.Press();
    std::signal(SIGINT, previous);
    watchdog.Stop();
    c.trace.End();
    return run.LastEnd() == engine::CSplitRun::End::Failed || run.HadFailures() ? kExitFailed
                                                                                : kExitOk;
}

} // namespace

int RunBatch(Context& c) {
    CArguments args(c.words, {}, {"trace", "quiet"});
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 1)
        return Usage(c, "run takes one batch file");
    CPresetFileDialogs dialogs({args.Positional()[0]});
    core::CJobList list;
    storage::CBatchCommands batch(list, c.AddFileHooksFor(list), c.prompter, dialogs);
    if (!batch.Load())
        return kExitFailed;
    return SplitJobs(c, list, args.Flag("trace"), args.Flag("quiet"));
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
    return SplitJobs(c, list, args.Flag("trace"), args.Flag("quiet"));
}

} // namespace cli
