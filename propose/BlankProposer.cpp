#include "propose/BlankProposer.h"

#include "propose/PopplerSource.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>

namespace propose {

namespace {

// Coarse enough to render a page of text in a few milliseconds, fine enough that with
// anti-aliasing a full stop in small print still greys a pixel; lines thinner than a pixel
// are drawn a pixel wide at any resolution.
constexpr double kDotsPerInch = 36;
// A page that comes out near-white but not white at the coarse resolution (a scanned empty
// sheet, or faint print whose strokes cover a fraction of a pixel) is looked at again this
// finely, where print covers whole pixels and a sheet's tint stays a tint.
constexpr double kCloseDotsPerInch = 150;
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

bool IsBlankPicture(const unsigned char* pixels, int width, int height, int stride,
                    const BlankRule& rule) {
    if (rule.maxInkPercent <= 0)
        return width < 1 || Darkest(pixels, width, height, stride) >= kPaperLevel;
    const double allowed = rule.maxInkPercent / 100.0 * static_cast<double>(width) * height;
    double ink = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels + static_cast<ptrdiff_t>(y) * stride;
        ink += static_cast<double>(
            std::count_if(row, row + width, [](unsigned char v) { return v < kInkLevel; }));
        if (ink > allowed)
            return false;
    }
    return true;
}

Proposal ProposeAtBlankPages(const std::string& path, const BlankRule& rule,
                             const Progress& progress) {
    Proposal proposal;
    auto document = OpenPopplerDocument(path, proposal.failure);
    if (!document)
        return proposal;
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_gray8);
    const int pages = document->pages();
    std::vector<bool> blank(static_cast<size_t>(pages), false);
    for (int i = 0; i < pages; ++i) {
        if (progress && !progress(i, pages)) {
            proposal.cancelled = true;
            return proposal;
        }
        std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page)
            continue; // a page poppler cannot make is no blank separator
        const poppler::rectf box = page->page_rect(poppler::crop_box);
        const double squareInches = std::max(1e-6, box.width() * box.height() / (72.0 * 72.0));
        const double finest = std::sqrt(kMaxPixels / squareInches);
        // The darkest level drawn (with a tolerance: 255 when within it); -1 when the page
        // cannot be rendered, or has more ink than the tolerance lets through.
        const auto darkest = [&](double dpi) -> int {
            dpi = std::min(dpi, finest);
            const poppler::image picture = renderer.render_page(page.get(), dpi, dpi);
            if (!picture.is_valid() || picture.format() != poppler::image::format_gray8)
                return -1;
            const auto* pixels = reinterpret_cast<const unsigned char*>(picture.const_data());
            if (rule.maxInkPercent > 0)
                return IsBlankPicture(pixels, picture.width(), picture.height(),
                                      picture.bytes_per_row(), rule)
                           ? 255
                           : -1;
            return Darkest(pixels, picture.width(), picture.height(), picture.bytes_per_row());
        };
        int level = darkest(kDotsPerInch);
        if (level >= kPaperLevel && level < 255 && rule.maxInkPercent <= 0)
            level = darkest(kCloseDotsPerInch);
        blank[static_cast<size_t>(i)] = level >= kPaperLevel;
    }
    if (progress)
        progress(pages, pages);
    if (std::none_of(blank.begin(), blank.end(), [](bool b) { return b; })) {
        proposal.failure = "No page of " + path + " is blank.";
        return proposal;
    }
    proposal = PartsBetweenSeparators(blank);
    if (proposal.ranges.empty())
        proposal.failure = "Every page of " + path + " is blank.";
    return proposal;
}

} // namespace propose
