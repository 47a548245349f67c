#include "propose/TextProposer.h"

#include "propose/LargeStack.h"
#include "propose/PopplerSource.h"

#include <algorithm>
#include <optional>
#include <regex>
#include <string_view>

namespace propose {

namespace {

constexpr auto kSyntax = std::wregex::ECMAScript | std::wregex::multiline;
// The matcher's recursion grows with the text a repetition spans; this much text a page never
// holds in practice, and with the stack below it cannot run the stack out.
constexpr size_t kMaxPageText = 256 * 1024;
constexpr size_t kMatchStack = size_t{1} << 30;

// Patterns and page text are matched as code points, not UTF-8 bytes: "." then takes one
// character, a class such as [äöü] or an escape such as \u00e9 means what it says, and a
// group never ends inside a character. A byte that begins no character stands for U+FFFD.
std::wstring Decoded(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80                   ? 0
                         : lead >= 0xc2 && lead < 0xe0 ? 1
                         : lead >= 0xe0 && lead < 0xf0 ? 2
                         : lead >= 0xf0 && lead < 0xf5 ? 3
                                                       : -1;
        char32_t code = more == 0   ? lead
                        : more == 1 ? lead & 0x1f
                        : more == 2 ? lead & 0x0f
                                    : lead & 0x07;
        bool whole = more >= 0 && i + static_cast<size_t>(more) < text.size();
        for (int k = 1; whole && k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            whole = (next & 0xc0) == 0x80;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no characters either.
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        whole = whole && code >= kLeast[std::max(more, 0)] && code <= 0x10ffff &&
                (code < 0xd800 || code > 0xdfff);
        wide += whole ? static_cast<wchar_t>(code) : L'\ufffd';
        i += whole ? static_cast<size_t>(more) + 1 : 1;
    }
    return wide;
}

std::string Encoded(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (const wchar_t c : wide) {
        const auto code = static_cast<char32_t>(c);
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xc0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xe0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            text += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            text += static_cast<char>(0xf0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            text += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    return text;
}

// The standard library's usual matcher backtracks, and takes exponential time on a pattern such
// as "(a+)+b" over a line of a's: one page would hold the proposal, and the dialog's Stop, for
// hours. libstdc++'s polynomial matcher takes time polynomial in the text and finds
// whether and where a match starts, but not always the match the pattern's rules pick ("a|ab"
// on "ab" gives "ab", not "a"). So it finds the start, and the backtracking matcher, held to
// that start, takes the match itself. A pattern with back-references, which the polynomial
// matcher refuses, is matched by the backtracking one alone.
class Pattern {
  public:
    explicit Pattern(const std::string& pattern) : m_exact(Decoded(pattern), kSyntax) {
#ifdef __GLIBCXX__
        try {
            m_start.emplace(Decoded(pattern), kSyntax | std::regex_constants::__polynomial);
        } catch (const std::regex_error& e) {
            if (e.code() != std::regex_constants::error_complexity)
                throw;
        }
#endif
    }
    unsigned Groups() const {
        return m_exact.mark_count();
    }

    bool Search(const std::wstring& text, std::wsmatch& match) const {
        if (!m_start)
            return std::regex_search(text, match, m_exact);
        std::wsmatch start;
        if (!std::regex_search(text, start, *m_start))
            return false;
        const auto from = start[0].first;
        auto flags = std::regex_constants::match_continuous;
        if (from != text.cbegin())
            flags |= std::regex_constants::match_prev_avail;
        if (std::regex_search(from, text.cend(), match, m_exact, flags))
            return true;
        match = std::move(start); // not expected: both read the same pattern
        return true;
    }

  private:
    std::wregex m_exact;
    std::optional<std::wregex> m_start;
};

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
        Pattern checked(pattern);
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
    const Pattern expression(pattern);
    const bool grouped = expression.Groups() > 0;
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
                    size_t cut = kMaxPageText;
                    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80)
                        --cut;
                    text.resize(cut);
                    proposal.notes.push_back("Only the first " + std::to_string(kMaxPageText) +
                                             " bytes of the text of page " + std::to_string(i + 1) +
                                             " were searched.");
                }
                const std::wstring wide = Decoded(text);
                std::wsmatch match;
                if (expression.Search(wide, match))
                    starts.push_back({i + 1, Trimmed(Encoded(match.str(grouped ? 1 : 0)))});
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
