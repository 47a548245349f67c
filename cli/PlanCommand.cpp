// The plan of one split: what "split" would write, shown without writing anything.
#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "core/SetupOptions.h"
#include "core/SplitPlan.h"
#include "core/Text.h"
#include "engine/PageCounter.h"

namespace cli {

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
    return kExitOk;
}

} // namespace cli
