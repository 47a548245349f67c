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
// A poster is rendered coarser, so no page takes more pixels than this.
constexpr double kMaxPixels = 4e6;
// With a tolerance for scans, what counts as ink: darker than three quarters of white.
constexpr unsigned char kInkLevel = 192;

} // namespace

bool IsBlankPicture(const unsigned char* pixels, int width, int height, int stride,
                    const BlankRule& rule) {
    const bool tolerant = rule.maxInkPercent > 0;
    const unsigned char inkBelow = tolerant ? kInkLevel : 255;
    const double allowed =
        tolerant ? rule.maxInkPercent / 100.0 * static_cast<double>(width) * height : 0;
    double ink = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels + static_cast<ptrdiff_t>(y) * stride;
        ink += static_cast<double>(
            std::count_if(row, row + width, [inkBelow](unsigned char v) { return v < inkBelow; }));
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
        const double dpi = std::min(kDotsPerInch, std::sqrt(kMaxPixels / squareInches));
        const poppler::image picture = renderer.render_page(page.get(), dpi, dpi);
        if (!picture.is_valid() || picture.format() != poppler::image::format_gray8)
            continue;
        blank[static_cast<size_t>(i)] =
            IsBlankPicture(reinterpret_cast<const unsigned char*>(picture.const_data()),
                           picture.width(), picture.height(), picture.bytes_per_row(), rule);
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
