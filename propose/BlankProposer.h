#pragma once

#include "propose/Proposal.h"

#include <string>

namespace propose {

struct BlankRule {
    // 0: a page is blank when nothing darker than near-white shows on it, so the even tint of
    // a scanned empty sheet does not count. Above 0 (for scans with specks): a page is blank
    // when at most this percentage of its area is darker than light grey.
    double maxInkPercent = 0;
};

// Pages on which nothing is drawn separate parts and belong to none. Blankness is decided on
// the rendered page, so a page whose content only sets a colour, or draws outside the page,
// or in white, is blank; a hairline is not. Fails when the file cannot be read, has no blank
// page, or nothing but blank pages.
Proposal ProposeAtBlankPages(const std::string& path, const BlankRule& rule,
                             const Progress& progress = {});

// What one rendered page (8-bit grey, rows of `stride` bytes) shows under `rule`. `Closer`:
// nearly white but not white, to be judged again on a rendering at kCloseDotsPerInch, where
// faint print covers whole pixels while a scanned sheet's tint stays a tint.
enum class Verdict { Blank, NotBlank, Closer };
Verdict JudgePicture(const unsigned char* pixels, int width, int height, int stride,
                     const BlankRule& rule);
// Coarse enough to render a page of text in a few milliseconds; lines thinner than a pixel
// are drawn a pixel wide at any resolution. Most pages are settled at this resolution.
constexpr double kDotsPerInch = 36;
constexpr double kCloseDotsPerInch = 150;

} // namespace propose
