#include "cli/Cli.h"

#include "cli/Context.h"
#include "cli/StreamPrompter.h"
#include "core/Files.h"
#include "engine/DebugTrace.h"
#include "engine/QpdfAutomation.h"

#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace cli {

namespace {

const char* const kUsage = R"(Usage: quillsever-cli COMMAND [ARGUMENTS]

Split PDF files into smaller PDF files by page ranges. "quillsever-cli COMMAND --help"
shows the help of one command.

Commands:
  expand PARAMS --pages P [--skip S]
      Print the page ranges a split-parameter string expands to, one "first-last"
      per line, as a split run would use them.
  check PARAMS --pages P [--skip S] [--to DIR]
      Check a split-parameter string as the Split Parameters dialog does before it
      takes it; DIR is the split-to directory, which the dialog needs: without
      --to the string is refused. Exit 0 when accepted, 1 when refused.
  pages FILE...
      Count each file's pages as adding a job does; prints FILE<TAB>COUNT (-1: the
      file cannot be read, 0: it could not be counted). Exit 1 when a file could
      not be counted.
  jobs BATCH.spl [--save OUT.spl]
      Load a batch file as "Load Batch File" does and print every job's fourteen
      cells, TAB-separated, one job per line; with --save, then write the list to
      OUT.spl as "SaveAs Batch File" does.
  run BATCH.spl [--jobs N] [--shard K/N] [--log PATH] [--check] [--trace] [--quiet]
      Load a batch file and run "Split em'" over it: one PDF per page range of
      every selected job, each recorded in split.log; setup.ini of the working
      directory gives the naming options. --trace writes debug.txt.
      Progress goes to standard error unless --quiet: a bar on a terminal (parts
      done of parts, elapsed time, current file), one line per part otherwise.
      Ctrl+C or SIGTERM stops the run after the part being written, then ends
      the process by that signal (status 130 or 143 in a shell). Exit 0 when
      every job is done, 1 when a failure ended the run or a job, a move, a
      log line or the trace failed.
      --jobs N splits N jobs at once (default 1); parts, split.log (in job
      order), messages and exit status are those of a run with one worker.
      --shard K/N runs only the jobs whose index i (0 for the batch's first
      line) has i mod N = K, so N processes share one batch; --log PATH appends
      this process's log lines to PATH instead of split.log. Before a run, paths
      that two jobs would both write (or one writes or moves and another
      reads) are reported; a sharded run then refuses to start. --check only
      lists them, one per line (PATH, then each job and range), and exits 1
      when there are any or when a job would be refused (its string is checked
      as the Split Parameters dialog checks it) or fail at a part whose path is
      too long for the file system.
  split SOURCE.pdf PARAMS --to DIR [--move-to DIR] [--increment] [--names LIST]
        [--start N] [--skip N] [--offset N] [--no-bookmarks] [--trace] [--quiet]
      Split one file, as a job with these settings would be split. Names are
      page-range names unless --increment (numbered, or from LIST: "a,b,c",
      "file:names.txt" or "filecsv:names.csv,2,3").
  plan SOURCE.pdf PARAMS --to DIR [the other options of split]
      Print what split would write, without writing anything: one
      "first-last<TAB>path" line per output (a third field marks a path an earlier
      output already has), then a summary line. Exit 1 when split would refuse,
      or fail to save a part (a name too long for the file system, DIR in a
      folder that is not there).
  ranges FILE --bookmarks L | --max-size SIZE [--no-bookmarks] [--to DIR]
               | --blank-separators [--max-ink PERCENT] | --text REGEX
      Propose a split-parameter string from what FILE holds: line 1 is the
      string, then one line per part with its proposed name (empty when the
      mode names none). --bookmarks cuts before every bookmark of level 1 to L,
      each part named after its bookmark. --max-size makes parts of at most
      SIZE bytes (k: KiB, M: MiB) as split writes them into DIR (beside FILE
      without --to; a part's links to other files by relative names change
      with its folder), with --no-bookmarks as split --no-bookmarks does.
      --blank-separators cuts at blank pages, which belong to no part;
      --max-ink lets a scanned empty sheet count as blank when at most
      PERCENT of it is darker than light grey. --text cuts before
      every page whose text matches REGEX (ECMAScript), each part named by the
      first group of the match (or the whole match). Exit 1 with a message when
      FILE cannot be read, there is nothing to cut at, or the proposal has more
      parts than a job takes (19,998).
  log [--csv OUT.csv]
      Print split.log of the working directory as the log viewer shows it (six
      TAB-separated cells per line), or export it to OUT.csv.
  log --merge A.log B.log ...
      Print the lines of several logs (of shards) merged by their time, each
      line byte for byte; redirect into split.log to make one log of them (a
      log is never merged into itself).
  help
      Show this text (also --help).
  --version
      Print the program's name and version.

Split-parameter strings are comma-separated items:
  9          the single page 9          6-7        pages 6 to 7
  2s         chunks of 2 pages          5-10n      pages 5, 15, 25, ...
  odd        pages 1, 3, 5, ...         even       pages 2, 4, 6, ...

Every message box is printed on standard error as "caption: text"; questions are
answered No. Exit status: 0 success, 1 failure or refusal, 2 usage error.
)";

const std::map<std::string, std::function<int(Context&)>>& Commands() {
    static const std::map<std::string, std::function<int(Context&)>> commands{
        {"expand", Expand},  {"check", Check}, {"jobs", Jobs},
        {"log", Log},        {"pages", Pages}, {"run", RunBatch},
        {"split", SplitOne}, {"plan", Plan},   {"ranges", Ranges},
    };
    return commands;
}

// The lines of the usage text that belong to one command: each block starts at a line indented
// by two spaces that begins with the command's name and runs to the next such line.
std::string CommandUsage(const std::string& command) {
    std::istringstream usage(kUsage);
    std::string line, text;
    bool inCommands = false, mine = false;
    while (std::getline(usage, line)) {
        if (line == "Commands:") {
            inCommands = true;
            continue;
        }
        if (!inCommands)
            continue;
        if (line.empty())
            break;
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ') {
            const std::string head = line.substr(2);
            mine = head == command || head.starts_with(command + " ");
            if (mine)
                text += (text.empty() ? "Usage: quillsever-cli " : "       quillsever-cli ") +
                        head + "\n";
            continue;
        }
        if (mine)
            text += line + "\n";
    }
    return text;
}

} // namespace

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    for (const auto& [name, command] : Commands())
        names.push_back(name);
    names.push_back("help");
    return names;
}

int Usage(Context& c, const std::string& problem) {
    c.err << "quillsever-cli: " << problem << "\n\n" << kUsage;
    return kExitUsage;
}

std::string AppTitle(const std::string& argv0) {
    std::string title = core::FileTitle(argv0);
    size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0)
        title.erase(dot);
    return title.empty() ? "quillsever" : title;
}

int Run(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    const bool errIsTty = &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
    CStreamPrompter prompter(err, AppTitle(words.empty() ? std::string() : words[0]), errIsTty);
    engine::CDebugTrace trace;
    engine::CQpdfAutomation automation(trace);
    Context c{out,
              err,
              prompter,
              automation,
              trace,
              [](core::Trace& workerTrace) -> std::unique_ptr<engine::Automation> {
                  return std::make_unique<engine::CQpdfAutomation>(workerTrace);
              },
              {},
              {},
              {}};
    // A bar redrawn in place only makes sense to a person watching a terminal.
    const char* term = std::getenv("TERM");
    c.errIsTerminal = errIsTty && !(term && std::string_view(term) == "dumb");
    if (words.size() < 2)
        return Usage(c, "no command given");
    const std::string& command = words[1];
    if (command == "help" || command == "--help" || command == "-h") {
        out << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << AppTitle(words[0]) << ' ' << engine::kApplicationVersion << '\n';
        return kExitOk;
    }
    c.words.assign(words.begin() + 2, words.end());
    auto it = Commands().find(command);
    if (it == Commands().end())
        return Usage(c, "unknown command \"" + command + "\"");
    // Words after "--" are arguments, whatever they look like (a file named "-h").
    for (const std::string& word : c.words) {
        if (word == "--")
            break;
        if (word == "--help" || word == "-h") {
            out << CommandUsage(command);
            return kExitOk;
        }
    }
    // Held for the whole command, like a PDF application left running: a file counted while
    // jobs are added is not parsed again by the run that follows.
    const auto session = automation.Create<engine::App>();
    try {
        const int status = it->second(c);
        // What plan, jobs, log or expand print is their result: into a file on a full disk it
        // must not pass for success.
        if (status == kExitOk && !c.out.flush()) {
            c.prompter.Show("Can't write the output");
            return kExitFailed;
        }
        return status;
    } catch (const std::exception& e) {
        // An error the automation raised ends the command with its own text.
        prompter.Show(e.what(), {}, core::Buttons::Ok, core::Icon::Error);
        return kExitFailed;
    }
}

} // namespace cli
