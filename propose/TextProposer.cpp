#include "propose/TextProposer.h"

#include "propose/LargeStack.h"
#include "propose/PageGuard.h"
#include "propose/PopplerSource.h"
#include "propose/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
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
// group never ends inside a character.

// The backtracking matcher reads the page through this iterator, which counts what it reads:
// past a budget the match is given up (OverBudget), and every so often `stop` is asked whether
// the user still waits for it (Stopped), so that no pattern holds a page beyond either.
struct OverBudget {};
struct Stopped {};
struct Steps {
    uint64_t taken = 0;
    uint64_t budget = UINT64_MAX;
    std::function<bool()> stop; // false: stop
};
class CountingIterator {
  public:
    using Base = std::wstring::const_iterator;
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = wchar_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const wchar_t*;
    using reference = const wchar_t&;

    CountingIterator() = default;
    CountingIterator(Base at, Steps* steps) : m_at(at), m_steps(steps) {}
    Base base() const { return m_at; }

    reference operator*() const {
        if ((++m_steps->taken & 0xffff) == 0) {
            if (m_steps->taken > m_steps->budget)
                throw OverBudget();
            if (m_steps->stop && !m_steps->stop())
                throw Stopped();
        }
        return *m_at;
    }
    pointer operator->() const { return &**this; }
    CountingIterator& operator++() {
        ++m_at;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator was = *this;
        ++m_at;
        return was;
    }
    CountingIterator& operator--() {
        --m_at;
        return *this;
    }
    CountingIterator operator--(int) {
        CountingIterator was = *this;
        --m_at;
        return was;
    }
    friend bool operator==(const CountingIterator& a, const CountingIterator& b) {
        return a.m_at == b.m_at;
    }

  private:
    Base m_at;
    Steps* m_steps = nullptr;
};

// The standard library's usual matcher backtracks, and takes exponential time on a pattern such
// as "(a+)+b" over a line of a's; libstdc++'s polynomial matcher takes time polynomial in the
// text, but is slower on most patterns, and finds whether and where a match starts but not
// always the match the pattern's rules pick ("a|ab" on "ab" gives "ab", not "a"). So pages are
// matched by the backtracking matcher within a budget of steps; once a page runs over it, the
// polynomial matcher finds where a match starts and the backtracking one, held to that start
// and to the budget, takes the match; should that run over too (as "(?:a+)+b|a" over a's
// does), the polynomial matcher alone decides from then on. A pattern with back-references,
// which the polynomial matcher refuses, is matched by the backtracking one alone, however long
// it takes. Every matcher hears a stop.
class Pattern {
  public:
    explicit Pattern(const std::string& pattern) : m_exact(DecodedUtf8(pattern), kSyntax) {
#ifdef __GLIBCXX__
        try {
            m_start.emplace(DecodedUtf8(pattern), kSyntax | std::regex_constants::__polynomial);
        } catch (const std::regex_error& e) {
            if (e.code() != std::regex_constants::error_complexity)
                throw;
        }
#endif
    }
    unsigned Groups() const {
        return m_exact.mark_count();
    }

    // The text the match (group 0) or a group took, or nothing when the page does not match;
    // throws Stopped when `stop` says so.
    std::optional<std::wstring> Search(const std::wstring& text, unsigned group,
                                       const std::function<bool()>& stop) {
        if (!m_start)
            return Match(m_exact, text, text.cbegin(), false, group, UINT64_MAX, stop);
        if (m_way == Way::Backtracking) {
            try {
                return Match(m_exact, text, text.cbegin(), false, group, kBudget, stop);
            } catch (const OverBudget&) {
                m_way = Way::FromStart;
            }
        }
        std::match_results<CountingIterator> start;
        Steps steps{0, UINT64_MAX, stop};
        if (!std::regex_search(CountingIterator(text.cbegin(), &steps),
                               CountingIterator(text.cend(), &steps), start, *m_start))
            return std::nullopt;
        if (m_way == Way::FromStart) {
            try {
                if (auto taken =
                        Match(m_exact, text, start[0].first.base(), true, group, kBudget, stop))
                    return taken;
            } catch (const OverBudget&) {
                m_way = Way::Polynomial;
            }
        }
        return Taken(start, group); // (from the start found, when both read the pattern alike)
    }

  private:
    enum class Way { Backtracking, FromStart, Polynomial };
    // Steps of the backtracking matcher on one page (under a second): a page of
    // invoice text takes a few thousand.
    static constexpr uint64_t kBudget = 16 << 20;

    static std::optional<std::wstring> Match(const std::wregex& expression,
                                             const std::wstring& text,
                                             std::wstring::const_iterator from, bool held,
                                             unsigned group, uint64_t budget,
                                             const std::function<bool()>& stop) {
        Steps steps{0, budget, stop};
        const CountingIterator at(from, &steps);
        auto flags =
            held ? std::regex_constants::match_continuous : std::regex_constants::match_default;
        if (from != text.cbegin())
            flags |= std::regex_constants::match_prev_avail;
        std::match_results<CountingIterator> match;
        if (!std::regex_search(at, CountingIterator(text.cend(), &steps), match, expression, flags))
            return std::nullopt;
        return Taken(match, group);
    }
    // A group that was left out ("INVOICE( \d+)?" on a page saying only "INVOICE") or took
    // nothing but white space names no part: the whole match does.
    static std::wstring Taken(const std::match_results<CountingIterator>& match, unsigned group) {
        const auto space = [](wchar_t c) {
            return c == ' ' || c == '\t' || c == '\r' || c == '\n';
        };
        if (!match[group].matched ||
            std::all_of(match[group].first.base(), match[group].second.base(), space))
            group = 0;
        return std::wstring(match[group].first.base(), match[group].second.base());
    }

    std::wregex m_exact;
    std::optional<std::wregex> m_start;
    Way m_way = Way::Backtracking;
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

// The standard library takes time that grows faster than the pattern to read long or deeply
// nested patterns, and matches them slowly: past these no pattern is taken. A list of a
// thousand invoice numbers fits; a hostile pattern cannot hold a proposal for minutes.
constexpr size_t kMaxPatternCharacters = 16 * 1024;
constexpr int kMaxPatternNesting = 100;

// How deep the groups of `pattern` nest: parentheses not escaped and not in a class.
int Nesting(std::wstring_view pattern) {
    int depth = 0, deepest = 0;
    bool inClass = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        if (c == L'\\')
            ++i;
        else if (inClass)
            inClass = c != L']';
        else if (c == L'[')
            inClass = true;
        else if (c == L'(')
            deepest = std::max(deepest, ++depth);
        else if (c == L')')
            depth = std::max(0, depth - 1);
    }
    return deepest;
}

} // namespace

std::string PatternProblem(const std::string& pattern) {
    const std::wstring wide = DecodedUtf8(pattern);
    if (wide.size() > kMaxPatternCharacters)
        return "The pattern is too long: at most " +
               Thousands(static_cast<int64_t>(kMaxPatternCharacters)) + " characters, not " +
               Thousands(static_cast<int64_t>(wide.size())) + ".";
    if (Nesting(wide) > kMaxPatternNesting)
        return "The pattern nests its groups too deep: at most " +
               std::to_string(kMaxPatternNesting) + " levels.";
    // The standard library reads a pattern by recursion, a level per item: a pattern of a
    // hundred thousand letters or nested groups runs a normal stack out.
    std::string problem;
    RunOnLargeStack(
        [&] {
            try {
                Pattern checked(pattern);
            } catch (const std::regex_error& e) {
                problem = "Not a regular expression: " + pattern + " (" + e.what() + ")";
            }
        },
        kMatchStack);
    return problem;
}

Proposal ProposeAtText(const std::string& path, const std::string& pattern,
                       const Progress& progress) {
    Proposal proposal;
    if (std::string problem = PatternProblem(pattern); !problem.empty()) {
        proposal.failure = problem;
        return proposal;
    }
    const CPageGuard guard(path, proposal.failure);
    if (!guard.Ok())
        return proposal;
    const PopplerDocument document(path, proposal.failure);
    if (!document.Ok())
        return proposal;
    const int pages = document.Pages();
    std::vector<PartStart> starts;
    RunOnLargeStack(
        [&] {
            Pattern expression(pattern);
            const unsigned group = expression.Groups() > 0 ? 1 : 0;
            for (int i = 0; i < pages; ++i) {
                if (progress && !progress(i, pages)) {
                    proposal.cancelled = true;
                    return;
                }
                if (const std::string excess = guard.Excess(i); !excess.empty()) {
                    proposal.notes.push_back("The text of page " + std::to_string(i + 1) +
                                             " was not searched: " + excess + ".");
                    continue;
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
                const std::wstring wide = DecodedUtf8(text);
                std::optional<std::wstring> taken;
                try {
                    taken = expression.Search(wide, group,
                                              [&] { return !progress || progress(i, pages); });
                } catch (const Stopped&) {
                    proposal.cancelled = true;
                    return;
                }
                if (taken)
                    starts.push_back({i + 1, Trimmed(EncodedUtf8(*taken))});
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
