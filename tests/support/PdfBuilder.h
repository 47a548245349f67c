#pragma once

#include <string>
#include <vector>

namespace testing_support {

// How an outline item names its page.
enum class DestKind { Explicit, GoTo, NamedString, NamedName, None };

struct Bookmark {
    std::string title; // UTF-8
    int page = -1;     // 0-based
    DestKind kind = DestKind::Explicit;
    bool open = true;
    std::vector<Bookmark> children;
};

// A test PDF made on the fly: every page shows "Page N" (1-based) in one shared font.
struct PdfRecipe {
    int pages = 10;
    std::vector<Bookmark> outline;
    bool pageLabels = false; // i, ii, then 1, 2, ... from the third page
    bool links = false;      // every page links to the first and the last page
    std::string userPassword;
    size_t paddingBytes = 0; // incompressible bytes on every page, to give it weight
};

void WritePdf(const std::string& path, const PdfRecipe& recipe);

// What a test reads back from a written PDF.
struct OutlineEntry {
    std::string title;
    int page; // 0-based page its destination shows, -1 when none
    int depth;
    bool open;
    bool operator==(const OutlineEntry&) const = default;
};

std::vector<int> PageMarkers(const std::string& path);
std::vector<OutlineEntry> ReadOutline(const std::string& path);
std::vector<std::string> PageLabels(const std::string& path);
bool QpdfCheckPasses(const std::string& path);

// Files that no reader should accept as a document.
void WriteTruncatedPdf(const std::string& path, int pages);
void WriteNotAPdf(const std::string& path);

} // namespace testing_support
