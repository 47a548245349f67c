#include "propose/BlankProposer.h"

#include "propose/PageGuard.h"
#include "propose/PopplerSource.h"

#include <algorithm>
#include <cmath>

namespace propose {

namespace {

// A poster is rendered coarser, so no page takes more pixels than this.
constexpr double kMaxPixels = 4e6;
// Without a tolerance: what is lighter than this is paper, so the tint and noise of a scanned
// empty sheet (or a page filled in a colour close to white) do not count as something drawn.
constexpr unsigned char kPaperLevel = 232;
// With a tolerance for scans, what counts as ink: darker than three quarters of white.
constexpr unsigned char kInkLevel = 192;

unsigned char Darkest(const unsigned char* pixels, int width, int height, int stride) {
    unsigned char darkest = 255;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels + static_cast<ptrdiff_t>(y) * stride;
        darkest = std::min(darkest, *std::min_element(row, row + width));
    }
    return darkest;
}

} // namespace

Verdict JudgePicture(const unsigned char* pixels, int width, int height, int stride,
                     const BlankRule& rule) {
    if (width < 1)
        return Verdict::Blank;
    if (rule.maxInkPercent <= 0) {
        const unsigned char darkest = Darkest(pixels, width, height, stride);
        return darkest < kPaperLevel ? Verdict::NotBlank
               : darkest < 255       ? Verdict::Closer
                                     : Verdict::Blank;
    }
    const double allowed = rule.maxInkPercent / 100.0 * static_cast<double>(width) * height;
    double ink = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels + static_cast<ptrdiff_t>(y) * stride;
        ink += static_cast<double>(
            std::count_if(row, row + width, [](unsigned char v) { return v < kInkLevel; }));
        if (ink > allowed)
            return Verdict::NotBlank;
    }
    return Verdict::Blank;
}

Proposal ProposeAtBlankPages(const std::string& path, const BlankRule& rule,
                             const Progress& progress) {
    Proposal proposal;
    const CPageGuard guard(path, proposal.failure);
    if (!guard.Ok())
        return proposal;
    const PopplerDocument document(path, proposal.failure);
    if (!document.Ok())
        return proposal;
    const int pages = document.Pages();
    std::vector<bool> blank(static_cast<size_t>(pages), false);
    for (int i = 0; i < pages; ++i) {
        if (progress && !progress(i, pages)) {
            proposal.cancelled = true;
            return proposal;
        }
        // A link's frame, a note's icon or a pop-up is the reader's, laid on the page: a
        // separator sheet that carries one is still a separator. Such a page is looked at
        // without them (copied with its content's streams as they are stored).
        const auto alone = guard.Pages() == pages
                               ? PopplerDocument::FromMemory(guard.PageAsDrawn(i))
                               : nullptr;
        if (const std::string excess = guard.Excess(i, !alone); !excess.empty()) {
            proposal.notes.push_back("Page " + std::to_string(i + 1) + " was not rendered: " +
                                     excess + "; it is taken as not blank.");
            continue;
        }
        const auto page = alone ? alone->Page(0) : document.Page(i);
        if (!page)
            continue; // a page poppler cannot make is no blank separator
        const double squareInches = std::max(1e-6, page->SquareInches());
        const double finest = std::sqrt(kMaxPixels / squareInches);
        // A page that cannot be rendered is no blank separator.
        const auto judge = [&](double dpi) {
            dpi = std::min(dpi, finest);
            Verdict verdict = Verdict::NotBlank;
            page->Render(dpi, [&](const unsigned char* pixels, int width, int height, int stride) {
                verdict = JudgePicture(pixels, width, height, stride, rule);
            });
            return verdict;
        };
        Verdict verdict = judge(kDotsPerInch);
        if (verdict == Verdict::Closer)
            verdict = judge(kCloseDotsPerInch);
        blank[static_cast<size_t>(i)] = verdict != Verdict::NotBlank;
    }
    if (progress)
        progress(pages, pages);
    if (std::none_of(blank.begin(), blank.end(), [](bool b) { return b; })) {
        proposal.failure = "No page of " + path + " is blank.";
        return proposal;
    }
    std::vector<std::string> notes = std::move(proposal.notes);
    proposal = PartsBetweenSeparators(blank);
    proposal.notes = std::move(notes);
    if (proposal.ranges.empty())
        proposal.failure = "Every page of " + path + " is blank.";
    return proposal;
}

} // namespace propose
