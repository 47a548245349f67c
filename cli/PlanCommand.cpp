// The plan of one split: what "split" would write, shown without writing anything.
#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "cli/PathLimits.h"
#include "core/Files.h"
#include "core/OutputNaming.h"
#include "core/SetupOptions.h"
#include "core/SplitPlan.h"
#include "core/Text.h"
#include "engine/PageCounter.h"

#include <filesystem>

namespace cli {

namespace {

// Whether split can save a part at `path`: the system takes the path (none of its names
// longer than the file system takes, the whole within PATH_MAX) and the part's folder is
// there by then. Split makes the split-to folder, one level only, before the first part.
class CSavable {
  public:
    explicit CSavable(const std::string& splitTo) : m_nameMax(NameMax(splitTo)) {
        std::string folder = core::ReduceDoubledSeparators(splitTo);
        while (folder.size() > 1 && folder.back() == core::kSeparator)
            folder.pop_back();
        std::error_code ec;
        m_made = std::filesystem::is_directory(folder, ec) ||
                 (!std::filesystem::exists(folder, ec) &&
                  std::filesystem::is_directory(std::filesystem::path(folder).parent_path(), ec));
        m_folder = std::move(folder);
    }

    bool operator()(const std::string& path) const {
        if (!PathFits(path, m_nameMax))
            return false;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        std::error_code ec;
        return folder == m_folder ? m_made : std::filesystem::is_directory(folder, ec);
    }

  private:
    size_t m_nameMax;
    std::string m_folder; // the split-to folder as the parts' paths name it
    bool m_made;          // whether it is there once split has made it
};

} // namespace

int Plan(Context& c) {
    // The options of "split", so that a split command line becomes its plan by one word;
    // those that do not change names (--move-to, --no-bookmarks, --trace, --quiet) are taken
    // and change nothing here.
    CArguments args(c.words, {"to", "move-to", "names", "start", "skip", "offset"},
                    {"increment", "no-bookmarks", "trace", "quiet"});
    core::PlanJob job;
    job.incrementStart = args.Int("start", 0);
    job.skip = args.Int("skip", 0);
    job.offset = args.Int("offset", 0);
    if (!args.Ok())
        return Usage(c, args.Error());
    if (args.Positional().size() != 2 || !args.Value("to"))
        return Usage(c, "plan takes SOURCE.pdf, PARAMS and --to DIR");
    job.source = args.Positional()[0];
    job.parameters = args.Positional()[1];
    job.splitTo = *args.Value("to");
    job.incrementNames = args.Flag("increment");
    job.fileList = args.Value("names").value_or("");

    if (!core::Contains(job.source, ".pdf") && !core::Contains(job.source, ".PDF")) {
        c.prompter.Show("Not a PDF file name (it must contain .pdf or .PDF): " + job.source);
        return kExitFailed;
    }
    engine::CPageCounter counter(c.automation, c.prompter, c.pump, c.connection);
    job.pages = counter.Count(job.source, -1);
    if (job.pages == -1) {
        c.prompter.Show("Input pdf file not found." + job.source, "File Error");
        return kExitFailed;
    }
    if (job.pages == 0)
        return kExitFailed; // counting has said why

    core::SetupOptions options;
    core::LoadSetupOptions(options);
    const core::CSplitPlan plan = core::CSplitPlan::Make(job, options);
    const auto& outputs = plan.Outputs();
    for (const core::PlannedOutput& output : outputs) {
        c.out << output.range.first << '-' << output.range.last << '\t' << output.path;
        if (output.sameAs >= 0)
            c.out << "\tsame file as output " << output.sameAs + 1;
        c.out << '\n';
    }
    if (!outputs.empty() || !plan.Refused())
        c.out << plan.Summary() << '\n';
    if (plan.Refused()) {
        c.prompter.Show(plan.Refusal(), plan.RefusalCaption());
        return kExitFailed;
    }
    // Split writes the parts before such a part and then stops at it, in these words.
    const CSavable savable(job.splitTo);
    for (const core::PlannedOutput& output : outputs)
        if (!savable(output.path)) {
            c.prompter.Show("Failed to save file: " + output.path);
            return kExitFailed;
        }
    return kExitOk;
}

} // namespace cli
