#include "propose/TextProposer.h"

#include "propose/LargeStack.h"
#include "propose/PopplerSource.h"

#include <regex>

namespace propose {

namespace {

constexpr auto kSyntax = std::regex::ECMAScript | std::regex::multiline;
// The matcher's recursion grows with the text a repetition spans; this much text a page never
// holds in practice, and with the stack below it cannot run the stack out.
constexpr size_t kMaxPageText = 256 * 1024;
constexpr size_t kMatchStack = size_t{1} << 30;

std::string Trimmed(std::string text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.back()))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && space(text[start]))
        ++start;
    return text.substr(start);
}

} // namespace

std::string PatternProblem(const std::string& pattern) {
    try {
        std::regex checked(pattern, kSyntax);
    } catch (const std::regex_error& e) {
        return "Not a regular expression: " + pattern + " (" + e.what() + ")";
    }
    return {};
}

Proposal ProposeAtText(const std::string& path, const std::string& pattern,
                       const Progress& progress) {
    Proposal proposal;
    if (std::string problem = PatternProblem(pattern); !problem.empty()) {
        proposal.failure = problem;
        return proposal;
    }
    const PopplerDocument document(path, proposal.failure);
    if (!document.Ok())
        return proposal;
    const std::regex expression(pattern, kSyntax);
    const bool grouped = expression.mark_count() > 0;
    const int pages = document.Pages();
    std::vector<PartStart> starts;
    RunOnLargeStack(
        [&] {
            for (int i = 0; i < pages; ++i) {
                if (progress && !progress(i, pages)) {
                    proposal.cancelled = true;
                    return;
                }
                const auto page = document.Page(i);
                if (!page)
                    continue;
                std::string text = page->Text();
                if (text.size() > kMaxPageText) {
                    text.resize(kMaxPageText);
                    proposal.notes.push_back("Only the first " + std::to_string(kMaxPageText) +
                                             " bytes of the text of page " + std::to_string(i + 1) +
                                             " were searched.");
                }
                std::smatch match;
                if (std::regex_search(text, match, expression))
                    starts.push_back({i + 1, Trimmed(match.str(grouped ? 1 : 0))});
            }
        },
        kMatchStack);
    if (proposal.cancelled)
        return proposal;
    if (progress)
        progress(pages, pages);
    std::vector<std::string> notes = std::move(proposal.notes);
    proposal = PartsFromStarts(pages, std::move(starts));
    proposal.notes = std::move(notes);
    if (proposal.ranges.empty())
        proposal.failure = "No page of " + path + " matches " + pattern + ".";
    return proposal;
}

} // namespace propose
