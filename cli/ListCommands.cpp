// The commands that look at jobs, page counts, parameter strings and the log without splitting.
#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "cli/PresetFileDialogs.h"
#include "core/RangeList.h"
#include "core/Shell.h"
#include "core/SplitParameters.h"
#include "core/Text.h"
#include "storage/BatchCommands.h"
#include "storage/CsvExport.h"
#include "storage/LogMerge.h"
#include "storage/LogReader.h"
#include "storage/SplitLog.h"

#include <deque>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// Nothing is opened from a terminal: every question that would lead there is answered No.
class CNoShell final : public core::Shell {
  public:
    bool Open(const std::string&) override { return false; }
    bool Start(const std::vector<std::string>&) override { return false; }
};

// A terminal command cannot open the file it wrote, so it does not offer to: every question
// is answered No without being printed, while failures still are.
class CNoQuestions final : public core::Prompter {
  public:
    explicit CNoQuestions(core::Prompter& inner) : m_inner(inner) {}
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons buttons,
                      core::Icon icon) override {
        if (buttons == core::Buttons::YesNo)
            return core::Answer::No;
        return m_inner.Show(text, caption, buttons, icon);
    }

  private:
    core::Prompter& m_inner;
};

void PrintCells(std::ostream& out, const auto& cells) {
    bool first = true;
    for (const std::string& cell : cells) {
        out << (first ? "" : "\t") << cell;
        first = false;
    }
    out << '\n';
}

} // namespace

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
    if (!batch.Load())
        return kExitFailed;
    for (int row = 0; row < list.Count(); ++row)
        PrintCells(c.out, list.Row(row).cells);
    if (args.Value("save")) {
        // An empty list has nothing to save and says so; a list that could not be written
        // is a failure the caller must be able to see.
        if (!batch.SaveAs() && list.Count() > 0)
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
    // Every file gets its line; a file that could not be counted makes the command fail.
    int status = kExitOk;
    for (const std::string& path : args.Positional()) {
        const int32_t pages = counter.Count(path, -1);
        c.out << path << '\t' << pages << '\n';
        if (pages <= 0)
            status = kExitFailed;
    }
    return status;
}

int Log(Context& c) {
    CArguments args(c.words, {"csv"}, {"merge"});
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Flag("merge")) {
        if (args.Positional().empty() || args.Value("csv"))
            return Usage(c, "log --merge takes one or more log files and nothing else");
        // `log --merge split.log shard.log >> split.log` would read back the lines it appends
        // and never come to the end: the log would grow until the disk was full.
        struct stat target {};
        if (&c.out == &std::cout && ::fstat(STDOUT_FILENO, &target) == 0 && S_ISREG(target.st_mode))
            for (const std::string& path : args.Positional()) {
                struct stat input {};
                if (::stat(path.c_str(), &input) == 0 && input.st_dev == target.st_dev &&
                    input.st_ino == target.st_ino) {
                    c.prompter.Show("Can't merge " + path +
                                        " into itself: write the merged lines to another file",
                                    "Log File Error");
                    return kExitFailed;
                }
            }
        std::string failed;
        if (storage::MergeLogs(args.Positional(), c.out, failed))
            return kExitOk;
        c.prompter.Show(failed.empty() ? "Can't write the merged log" : "Can't open " + failed,
                        "Log File Error");
        return kExitFailed;
    }
    if (!args.Positional().empty())
        return Usage(c, "log takes no file name; it reads split.log of the working directory");
    if (auto target = args.Value("csv")) {
        CPresetFileDialogs dialogs({*target});
        CNoShell shell;
        CNoQuestions prompter(c.prompter);
        return storage::ExportLogToCsv(storage::kSplitLogFile, dialogs, prompter, shell)
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

} // namespace cli
