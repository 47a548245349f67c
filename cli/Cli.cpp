#include "cli/Cli.h"

#include "cli/Arguments.h"
#include "cli/PresetFileDialogs.h"
#include "cli/StreamPrompter.h"
#include "core/AddFile.h"
#include "core/Files.h"
#include "core/JobList.h"
#include "core/RangeList.h"
#include "core/SetupOptions.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "engine/Automation.h"
#include "engine/DebugTrace.h"
#include "engine/PageCounter.h"
#include "engine/QpdfAutomation.h"
#include "engine/SplitRun.h"
#include "engine/Watchdog.h"
#include "storage/BatchCommands.h"
#include "storage/CsvExport.h"
#include "storage/LogReader.h"
#include "storage/SplitLog.h"

#include <csignal>
#include <deque>
#include <functional>
#include <map>

namespace cli {

namespace {

const char* const kUsage = R"(Usage: quillsever-cli COMMAND [ARGUMENTS]

Split PDF files into smaller PDF files by page ranges.

Commands:
  expand PARAMS --pages P [--skip S]
      Print the page ranges a split-parameter string expands to, one "first-last"
      per line, as a split run would use them.
  check PARAMS --pages P [--skip S] [--to DIR]
      Check a split-parameter string as the Split Parameters dialog does before it
      takes it; DIR is the split-to directory. Exit 0 when accepted, 1 when refused.
  pages FILE...
      Count each file's pages as adding a job does; prints FILE<TAB>COUNT (-1: the
      file cannot be read, 0: it could not be counted).
  jobs BATCH.spl [--save OUT.spl]
      Load a batch file as "Load Batch File" does and print every job's fourteen
      cells, TAB-separated, one job per line; with --save, then write the list to
      OUT.spl as "SaveAs Batch File" does.
  run BATCH.spl [--trace] [--quiet]
      Load a batch file and run "Split em'" over it: one PDF per page range of
      every selected job, each recorded in split.log; setup.ini of the working
      directory gives the naming options. --trace writes debug.txt. Progress
      (one line per output) goes to standard error unless --quiet.
      Ctrl+C stops the run after the part being written.
      Exit 0 when the run ends normally, 1 when a failure ended it.
  split SOURCE.pdf PARAMS --to DIR [--move-to DIR] [--increment] [--names LIST]
        [--start N] [--skip N] [--offset N] [--no-bookmarks] [--trace] [--quiet]
      Split one file, as a job with these settings would be split. Names are
      page-range names unless --increment (numbered, or from LIST: "a,b,c",
      "file:names.txt" or "filecsv:names.csv,2,3").
  log [--csv OUT.csv]
      Print split.log of the working directory as the log viewer shows it (six
      TAB-separated cells per line), or export it to OUT.csv.
  help
      Show this text (also --help).

Split-parameter strings are comma-separated items:
  9          the single page 9          6-7        pages 6 to 7
  2s         chunks of 2 pages          5-10n      pages 5, 15, 25, ...
  odd        pages 1, 3, 5, ...         even       pages 2, 4, 6, ...

Every message box is printed on standard error as "caption: text"; questions are
answered No. Exit status: 0 success, 1 failure or refusal, 2 usage error.
)";

struct Context {
    std::ostream& out;
    std::ostream& err;
    core::Prompter& prompter;
    engine::Automation& automation;
    engine::CDebugTrace& trace;
    std::vector<std::string> words; // the command's own words, after its name
    engine::CNoPump pump;
    engine::CNoConnectionDialog connection;

    // What adding a job to `list` needs: page counts come from the automation.
    core::AddFileHooks AddFileHooksFor(core::CJobList& list) {
        auto counter =
            std::make_shared<engine::CPageCounter>(automation, prompter, pump, connection, &list);
        return {[counter](const std::string& path, int row) { return counter->Count(path, row); },
                {},
                {},
                {}};
    }
};

int Usage(Context& c, const std::string& problem) {
    c.err << "quillsever-cli: " << problem << "\n\n" << kUsage;
    return kExitUsage;
}

int Expand(Context& c) {
    CArguments args(c.words, {"pages", "skip"}, {});
    const int32_t pages = args.Int("pages", 0);
    const int32_t skip = args.Int("skip", 0);
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 1 || !args.Value("pages"))
        return Usage(c, "expand takes PARAMS and --pages P");

    // The split run reads the page count and skip value from the job's row, so build one.
    core::CJobList list;
    list.InsertRow(0, "Yes", -1);
    list.SetText(0, core::kColPages, core::IntText(pages));
    list.SetText(0, core::kColSkipPages, core::IntText(skip));
    core::CRangeList ranges;
    core::NullTrace trace;
    core::SplitParameters(list, args.Positional()[0], 0, ranges, trace);
    for (const core::PageRange& r : ranges.Ranges())
        c.out << r.first << '-' << r.last << '\n';
    return kExitOk;
}

int Check(Context& c) {
    CArguments args(c.words, {"pages", "skip", "to"}, {});
    core::SplitCheckFields fields;
    fields.pages = args.Int("pages", 0);
    fields.skip = args.Int("skip", 0);
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 1 || !args.Value("pages"))
        return Usage(c, "check takes PARAMS and --pages P");
    fields.parameters = args.Positional()[0];
    fields.splitTo = args.Value("to").value_or("");
    return core::CheckSplitParameters(fields, c.prompter) ? kExitOk : kExitFailed;
}

// Nothing is opened from a terminal: every question that would lead there is answered No.
class CNoShell final : public core::Shell {
  public:
    bool Open(const std::string&) override { return false; }
    bool Start(const std::vector<std::string>&) override { return false; }
};

void PrintCells(std::ostream& out, const auto& cells) {
    bool first = true;
    for (const std::string& cell : cells) {
        out << (first ? "" : "\t") << cell;
        first = false;
    }
    out << '\n';
}

int Jobs(Context& c) {
    CArguments args(c.words, {"save"}, {});
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 1)
        return Usage(c, "jobs takes one batch file");
    std::deque<std::string> names{args.Positional()[0]};
    if (auto save = args.Value("save"))
        names.push_back(*save);
    CPresetFileDialogs dialogs(names);
    core::CJobList list;
    storage::CBatchCommands batch(list, c.AddFileHooksFor(list), c.prompter, dialogs);
    batch.Load();
    for (int row = 0; row < list.Count(); ++row)
        PrintCells(c.out, list.Row(row).cells);
    if (args.Value("save")) {
        batch.SaveAs();
        if (list.Count() > 0 && batch.BatchName() != *args.Value("save"))
            return kExitFailed;
    }
    return kExitOk;
}

int Pages(Context& c) {
    CArguments args(c.words, {}, {});
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().empty())
        return Usage(c, "pages takes one or more files");
    engine::CPageCounter counter(c.automation, c.prompter, c.pump, c.connection);
    for (const std::string& path : args.Positional())
        c.out << path << '\t' << counter.Count(path, -1) << '\n';
    return kExitOk;
}

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
// split.log. Exit 0 when the run ended normally (done or stopped), 1 when a failure ended it.
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
    return run.LastEnd() == engine::CSplitRun::End::Failed ? kExitFailed : kExitOk;
}

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

int Log(Context& c) {
    CArguments args(c.words, {"csv"}, {});
    if (!args.Ok())
        return Usage(c, args.Error());
    if (!args.Positional().empty())
        return Usage(c, "log takes no file name; it reads split.log of the working directory");
    if (auto target = args.Value("csv")) {
        CPresetFileDialogs dialogs({*target});
        CNoShell shell;
        return storage::ExportLogToCsv(storage::kSplitLogFile, dialogs, c.prompter, shell)
                   ? kExitOk
                   : kExitFailed;
    }
    if (!storage::ReadLog(storage::kSplitLogFile,
                          [&](const storage::LogRow& row) { PrintCells(c.out, row); })) {
        c.prompter.Show("Can't open split.log", "Log File Error");
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

std::string AppTitle(const std::string& argv0) {
    std::string title = core::FileTitle(argv0);
    size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0)
        title.erase(dot);
    return title.empty() ? "quillsever" : title;
}

int Run(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    CStreamPrompter prompter(err, AppTitle(words.empty() ? std::string() : words[0]));
    engine::CDebugTrace trace;
    engine::CQpdfAutomation automation(trace);
    Context c{out, err, prompter, automation, trace, {}, {}, {}};
    if (words.size() < 2)
        return Usage(c, "no command given");
    const std::string& command = words[1];
    if (command == "help" || command == "--help" || command == "-h") {
        out << kUsage;
        return kExitOk;
    }
    c.words.assign(words.begin() + 2, words.end());
    static const std::map<std::string, std::function<int(Context&)>> commands{
        {"expand", Expand}, {"check", Check},  {"jobs", Jobs},      {"log", Log},
        {"pages", Pages},   {"run", RunBatch}, {"split", SplitOne},
    };
    auto it = commands.find(command);
    if (it == commands.end())
        return Usage(c, "unknown command \"" + command + "\"");
    // Held for the whole command, like a PDF application left running: a file counted while
    // jobs are added is not parsed again by the run that follows.
    const auto session = automation.Create<engine::App>();
    try {
        return it->second(c);
    } catch (const std::exception& e) {
        // An error the automation raised ends the command with its own text.
        prompter.Show(e.what(), {}, core::Buttons::Ok, core::Icon::Error);
        return kExitFailed;
    }
}

} // namespace cli
