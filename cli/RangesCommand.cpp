// Proposals: a split-parameter string and part names read from what a document holds.
#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Context.h"
#include "core/SetupOptions.h"
#include "propose/BlankProposer.h"
#include "propose/BookmarkProposer.h"
#include "propose/ByteSize.h"
#include "propose/PartNamer.h"
#include "propose/SafeName.h"
#include "propose/SizeProposer.h"
#include "propose/TextProposer.h"

#include <charconv>
#include <cstdint>
#include <chrono>

namespace cli {

namespace {

constexpr const char* kCaption = "Ranges";

// On a terminal, "page N of M" redrawn in place a few times a second; elsewhere nothing, so
// that scripts see only the proposal and its messages.
propose::Progress TerminalProgress(Context& c) {
    if (!c.errIsTerminal)
        return {};
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    std::ostream& err = c.err;
    return [last, &err](int done, int total) {
        const auto now = std::chrono::steady_clock::now();
        if (done == total) {
            err << "\r\033[K" << std::flush;
        } else if (now - *last > std::chrono::milliseconds(200)) {
            *last = now;
            err << "\rpage " << done + 1 << " of " << total << std::flush;
        }
        return true;
    };
}

std::optional<double> Percent(const std::string& text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0 && value <= 100))
        return std::nullopt;
    return value;
}

} // namespace

int Ranges(Context& c) {
    CArguments args(c.words, {"bookmarks", "max-size", "text", "max-ink", "to"},
                    {"blank-separators", "no-bookmarks"});
    // A level deeper than any outline goes means every level, however it is written.
    const auto text = args.Value("bookmarks");
    const size_t digits = text ? text->find_first_not_of('0') : std::string::npos;
    const bool deepest = digits != std::string::npos && text->size() - digits > 9 &&
                         text->find_first_not_of("0123456789") == std::string::npos;
    const int32_t level = deepest ? INT32_MAX : args.Int("bookmarks", 0);
    if (!args.Ok())
        return Usage(c, args.Error());
    const int modes = (args.Value("bookmarks") ? 1 : 0) + (args.Value("max-size") ? 1 : 0) +
                      (args.Flag("blank-separators") ? 1 : 0) + (args.Value("text") ? 1 : 0);
    if (args.Positional().size() != 1 || modes != 1)
        return Usage(c, "ranges takes FILE and one of --bookmarks L, --max-size SIZE, "
                        "--blank-separators, --text REGEX");
    const std::string& file = args.Positional()[0];
    // An option of another mode would be left unused without a word.
    if (args.Value("max-ink") && !args.Flag("blank-separators"))
        return Usage(c, "--max-ink goes with --blank-separators only");
    if (args.Flag("no-bookmarks") && !args.Value("max-size"))
        return Usage(c, "--no-bookmarks goes with --max-size only");
    if (args.Value("to") && !args.Value("max-size"))
        return Usage(c, "--to goes with --max-size only");

    propose::Proposal proposal;
    if (args.Value("bookmarks")) {
        if (level < 1)
            return Usage(c, "--bookmarks needs a level of 1 or more");
        proposal = propose::ProposeAtBookmarks(file, level);
    } else if (auto size = args.Value("max-size")) {
        const auto bytes = propose::ParseByteSize(*size);
        if (!bytes)
            return Usage(c, "--max-size needs a size in bytes, or with k or M after it, not \"" +
                                *size + "\"");
        // Parts are named as "split FILE STRING" names them, with setup.ini of this folder.
        core::SetupOptions options;
        core::LoadSetupOptions(options);
        core::PlanJob job;
        job.source = file;
        proposal = propose::ProposeBySize(file,
                                          {*bytes, !args.Flag("no-bookmarks"),
                                           propose::JobPartNamer(job, options),
                                           args.Value("to").value_or("")},
                                          TerminalProgress(c));
    } else if (args.Flag("blank-separators")) {
        propose::BlankRule rule;
        if (auto ink = args.Value("max-ink")) {
            const auto percent = Percent(*ink);
            if (!percent)
                return Usage(c, "--max-ink needs a percentage from 0 to 100, not \"" + *ink + "\"");
            rule.maxInkPercent = *percent;
        }
        proposal = propose::ProposeAtBlankPages(file, rule, TerminalProgress(c));
    } else {
        const std::string pattern = *args.Value("text");
        // An empty pattern matches every page, and names every part after nothing; the
        // window does not take one either.
        if (pattern.empty())
            return Usage(c, "--text needs the text to look for");
        if (std::string problem = propose::PatternProblem(pattern); !problem.empty())
            return Usage(c, problem);
        proposal = propose::ProposeAtText(file, pattern, TerminalProgress(c));
    }

    // Names go into a job as a name list; cut where the file name they make would be too long
    // for the file system, so that split can write every part.
    if (!proposal.names.empty()) {
        core::SetupOptions options;
        core::LoadSetupOptions(options);
        propose::FitNames(proposal.names, propose::ListedNameRoom(file, options));
    }
    for (const std::string& note : proposal.notes)
        c.prompter.Show(note, kCaption);
    propose::RefuseMoreThanAJob(proposal);
    if (!proposal.Ok()) {
        c.prompter.Show(proposal.failure, kCaption);
        return kExitFailed;
    }
    c.out << proposal.Parameters() << '\n';
    for (size_t i = 0; i < proposal.ranges.size(); ++i)
        c.out << (i < proposal.names.size() ? proposal.names[i] : std::string()) << '\n';
    return kExitOk;
}

} // namespace cli
