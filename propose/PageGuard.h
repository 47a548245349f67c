#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace propose {

struct QpdfSource;

// What rendering a page or reading its text would have to go through, read with qpdf before
// poppler is given the page. A Flate stream of a few kilobytes can inflate to gigabytes, and an
// image of 100,000 x 100,000 pixels takes poppler half a minute to scale down whatever data it
// holds; poppler's interface has no way to stop either, so such a page is never given to it.
class CPageGuard {
  public:
    // Decoded content (the page's, its forms' and its annotations' appearances) a page may
    // have: a hundred times what it takes in the file (content compresses some ten times;
    // a bomb a thousand), at least 256 KiB, at most 32 MiB (poppler reads about 4 MiB a
    // second).
    static constexpr unsigned long long kMaxInflation = 100;
    static constexpr unsigned long long kLeastContentBytes = 256ull << 10;
    static constexpr unsigned long long kMaxContentBytes = 32ull << 20;
    // Image pixels a page may draw, each image counted every time the content draws it. A
    // scanned page draws a few hundred million at most.
    static constexpr double kMaxPixels = 1ull << 30;
    // Bytes of the strings a page's content shows (about a glyph each).
    static constexpr int64_t kMaxShownBytes = 16 << 20;

    // Reads `path` with qpdf; `failure` says why when qpdf cannot (a split could not either).
    CPageGuard(const std::string& path, std::string& failure);
    ~CPageGuard();
    CPageGuard(const CPageGuard&) = delete;
    CPageGuard& operator=(const CPageGuard&) = delete;

    bool Ok() const { return m_source != nullptr; }
    // The pages qpdf finds (poppler may find others in a damaged page tree).
    int Pages() const;
    // Why page `index` (0-based) is not to be rendered or read, or "" when it may be; all its
    // annotations' appearances count, or only those PageAsDrawn keeps.
    std::string Excess(int index, bool allAnnotations = true) const;
    // Page `index` alone, as a PDF file in memory that draws what its content draws and those
    // of its annotations that are on the sheet (form fields, printed markup), not a reader's
    // links, icons and pop-ups; "" when the page has no annotation (or cannot be copied).
    std::string PageAsDrawn(int index) const;

  private:
    std::unique_ptr<QpdfSource> m_source;
};

} // namespace propose
