#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// How an outline item names its page.
// NamedAction: a /GoTo action to a name of the /Dests name tree that holds << /D [...] >>.
// NameInTree: a name (/Dest /x) whose key only the /Dests name tree holds, as some writers
// mix them up.
enum class DestKind { Explicit, GoTo, NamedString, NamedName, NamedAction, NameInTree, None };

struct Bookmark {
    std::string title; // UTF-8
    int page = -1;     // 0-based
    DestKind kind = DestKind::Explicit;
    bool open = true;
    std::vector<Bookmark> children;
};

// How a link annotation names its target page.
enum class LinkForm {
    DestArray,   // /Dest [page /XYZ ...]
    GoTo,        // /A << /S /GoTo /D [page ...] >>
    NamedString, // /Dest (page7), found in the /Names -> /Dests tree
    NamedName,   // /Dest /page7, found in the catalog's /Dests dictionary
};

// A test PDF made on the fly: every page shows "Page N" (1-based) in one shared font.
struct PdfRecipe {
    int pages = 10;
    std::vector<Bookmark> outline;
    bool pageLabels = false; // i, ii, then 1, 2, ... from the third page
    bool links = false;      // every page links to the first, the next and the last page
    std::string otherFile;   // a link on every page opens page 1 of this file (GoToR), as named
    std::string userPassword;
    size_t paddingBytes = 0; // incompressible bytes on every page, to give it weight
    LinkForm linkForm = LinkForm::DestArray;
    // A text field "text<N>" valued "value <N>" on page N (1-based), one field "everywhere"
    // with a widget on every page, and the form's defaults (/DR, /DA, /NeedAppearances).
    bool form = false;
    bool junkAnnotations = false; // a null and a number among every page's annotations
    // Images in a resource dictionary inherited from the page tree; page N shows only image
    // (N-1) % count, of `imageBytes` incompressible bytes each.
    int inheritedImages = 0;
    size_t imageBytes = 4000;
    // A font no page uses, as PDF text, named /F2 beside the shared /F1 in every page's
    // shared resources; none when empty.
    std::string unusedFont;
    std::string pageLabelNums;   // the /Nums array of the page labels, as PDF text
    bool indirectValues = false; // bookmark colours and label prefixes as indirect objects
    int pageTreeDepth = 0;       // page tree nodes nested above the pages
    bool outlineLoop = false;    // the first item's last child leads back to its first child
    // Tagged: page N's text is marked content 0 of a /Para element "pN" (class /body, role
    // mapped to /P) below one /Document; /MarkInfo and /Lang set. With `tagLoop` the last
    // element's kids lead back to the document element.
    bool tagged = false;
    bool tagLoop = false;
    // Tagged: after each /Para a /Figure on its page that holds only its /Alt and refers to
    // that /Para, the /Para before referring to the figure.
    bool altFigures = false;

    bool uncompressed = false; // streams written without a filter
    int textLines = 0;         // lines of the same text on every page, to give it weight
    // A checkbox "agree", checked, on page 1, whose only widget kid has no /Parent.
    bool checkbox = false;
    std::string xmp; // the catalog's /Metadata, stored without a filter; none when empty
    // Content operators that replace "Page N" on the 0-based pages given (font /F1 at hand).
    std::map<int, std::string> contents;
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
// Labels as a reader shows them; "(none)" for a page that has no label although others do.
std::vector<std::string> PageLabels(const std::string& path);
bool HasPageLabels(const std::string& path);
bool QpdfCheckPasses(const std::string& path);

// Per page, the 0-based page each link annotation leads to, through any of the link forms;
// -1 for a link that leads nowhere in the file, -2 for an entry that is no annotation.
std::vector<std::vector<int>> LinkTargets(const std::string& path);
// Per page, where each link annotation jumps: "3" for page 3 (0-based) of the file,
// "other.pdf#3" or "other.pdf#name" for a page or named destination of another file (GoToR),
// "-" for a link that jumps nowhere (or "-3" when it names page 3 of no file).
std::vector<std::vector<std::string>> LinkJumps(const std::string& path);
// The named destinations (names and strings alike) with their 0-based pages, -1 for none.
std::map<std::string, int> NamedDestinations(const std::string& path);

struct FormField {
    std::string name;
    std::string value; // a button's state as its name ("/Yes")
    int widgets = 0;   // on the document's pages
    bool operator==(const FormField&) const = default;
};
std::vector<FormField> FormFields(const std::string& path);
// "/DA|<has /DR fonts>|<NeedAppearances>" of the form, "" without a form.
std::string FormDefaults(const std::string& path);
// The image names each page's resources hold.
std::vector<std::vector<std::string>> PageImages(const std::string& path);
// The font names each page's resources hold.
std::vector<std::vector<std::string>> PageFonts(const std::string& path);

// The structure tree as a reader walks it: "/Lang|" and then each element as "S@page" (page
// 0-based, "-" for none) in document order, "!" after one whose /P is not its parent and
// ">S@page" for each element it refers to (/Ref), then
// "|roles ...|classes ...|ids ...|" and "parent tree ok" or "parent tree wrong" (each page's
// marked content found through /StructParents must be a kid of an element on that page).
// "" for a file without one.
std::string StructureOf(const std::string& path);

// Runs a program with its arguments (never through a shell), output discarded; its exit
// status, or -1 when it could not be run.
int RunProgram(const std::vector<std::string>& argv);

// Files that no reader should accept as a document.
void WriteTruncatedPdf(const std::string& path, int pages);
void WriteNotAPdf(const std::string& path);

} // namespace testing_support
