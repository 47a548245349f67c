#include "cli/Cli.h"

#include "cli/Arguments.h"
#include "cli/StreamPrompter.h"
#include "core/Files.h"
#include "core/JobList.h"
#include "core/RangeList.h"
#include "core/SplitParameters.h"
#include "core/Text.h"

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
    CStreamPrompter& prompter;
    std::vector<std::string> words; // the command's own words, after its name
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
    Context c{out, err, prompter, {}};
    if (words.size() < 2)
        return Usage(c, "no command given");
    const std::string& command = words[1];
    if (command == "help" || command == "--help" || command == "-h") {
        out << kUsage;
        return kExitOk;
    }
    c.words.assign(words.begin() + 2, words.end());
    static const std::map<std::string, std::function<int(Context&)>> commands{
        {"expand", Expand},
        {"check", Check},
    };
    auto it = commands.find(command);
    if (it == commands.end())
        return Usage(c, "unknown command \"" + command + "\"");
    return it->second(c);
}

} // namespace cli
