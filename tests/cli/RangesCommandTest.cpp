#include "tests/cli/CliRun.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <regex>
#include <sstream>

using testing_support::Bookmark;
using testing_support::CTempDir;
using testing_support::DestKind;
using testing_support::PdfRecipe;
using testing_support::RunCli;

namespace {

struct RangesCase {
    const char* what;
    PdfRecipe recipe;
    std::vector<std::string> options;
    std::string out; // the proposal; empty when it must fail
    int status = 0;
    std::string file = "in.pdf";
    std::string note;                 // said on standard error beside a proposal
    std::vector<std::string> objects; // instead of the recipe: numbered from 1, catalog first
};

void WriteObjects(const std::string& path, const std::vector<std::string>& objects) {
    std::string text = "%PDF-1.7\n";
    for (size_t i = 0; i < objects.size(); ++i)
        text += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    text += "trailer << /Root 1 0 R >>\n";
    QPDF pdf; // finds the objects without a cross-reference table
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("objects", text.data(), text.size());
    QPDFWriter(pdf, path.c_str()).write();
}

void Check(const RangesCase& c) {
    CTempDir dir(true);
    if (c.objects.empty())
        testing_support::WritePdf(dir.File(c.file), c.recipe);
    else
        WriteObjects(dir.File(c.file), c.objects);
    std::vector<std::string> words{"ranges", dir.File(c.file)};
    words.insert(words.end(), c.options.begin(), c.options.end());
    const auto r = RunCli(words);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.what;
    if (c.note.empty())
        EXPECT_EQ(r.err.empty(), c.status == 0) << c.what << "\n" << r.err;
    else
        EXPECT_NE(r.err.find(c.note), std::string::npos) << c.what << "\n" << r.err;
}

std::string Text(const std::string& line) {
    return "BT /F1 18 Tf 72 700 Td (" + line + ") Tj ET";
}

} // namespace

TEST(RangesCommandTest, Bookmarks) {
    const std::vector<Bookmark> targets{
        {"Intro", 0, DestKind::Explicit},     {"Part A", 2, DestKind::NamedString},
        {"Part B", 5, DestKind::NamedName},   {"Part C", 8, DestKind::GoTo},
        {"Part D", 9, DestKind::NamedAction}, {"Nowhere", -1, DestKind::None},
        {"Part E", 6, DestKind::NameInTree}};
    const std::vector<Bookmark> nested{{"One", 3, DestKind::Explicit, true, {{"One.a", 5}}},
                                       {"Two", 7}};
    const RangesCase cases[] = {
        {"every kind of target",
         {.outline = targets},
         {"--bookmarks", "1"},
         "1-2,3-5,6,7-8,9,10\nIntro\nPart A\nPart B\nPart E\nPart C\nPart D\n"},
        {"level 1 leaves children out",
         {.outline = nested},
         {"--bookmarks", "1"},
         "1-3,4-7,8-10\n\nOne\nTwo\n"},
        {"level 2 takes them",
         {.outline = nested},
         {"--bookmarks", "2"},
         "1-3,4-5,6-7,8-10\n\nOne\nOne.a\nTwo\n"},
        {"a level deeper than a whole number takes every level",
         {.outline = nested},
         {"--bookmarks", "99999999999"},
         "1-3,4-5,6-7,8-10\n\nOne\nOne.a\nTwo\n"},
        {"page order; the first in outline order names a page",
         {.outline = {{"Late", 6}, {"Early", 1}, {"Also early", 1}}},
         {"--bookmarks", "3"},
         "1,2-6,7-10\n\nEarly\nLate\n"},
        {"titles become unique file names",
         {.outline = {{"Q1/Q2, results", 0},
                      {"Tab\tand\r\nline\xe2\x80\xa8"
                       "end",
                       3},
                      {"\xc3\x9cnic\xc3\xb6"
                       "de \xe2\x9c\x93",
                       5},
                      {"Q1/Q2, results", 7}}},
         {"--bookmarks", "1"},
         "1-3,4-5,6-7,8-10\nQ1-Q2, results\nTab and line end\n\xc3\x9cnic\xc3\xb6"
         "de \xe2\x9c\x93\n"
         "Q1-Q2, results (2)\n"},
        {"names cut to fit the file names of a long source's parts",
         {.pages = 2, .outline = {{std::string(230, 'x'), 0}, {std::string(230, 'x') + "y", 1}}},
         {"--bookmarks", "1"},
         "1,2\n" + std::string(146, 'x') + "\n" + std::string(142, 'x') + " (2)\n",
         0,
         std::string(100, 'a') + ".pdf"},
        {"a title marked as UTF-8 that holds other bytes",
         {.pages = 2,
          .outline = {{"\xef\xbb\xbf"
                       "A\xff"
                       "B",
                       1}}},
         {"--bookmarks", "1"},
         "1,2\n\nA\xef\xbf\xbd"
         "B\n"},
        {"a looping outline",
         {.outline = {{"A", 0, DestKind::Explicit, true, {{"a1", 2}, {"a2", 4}}}},
          .outlineLoop = true},
         {"--bookmarks", "2"},
         "1-2,3-4,5-10\nA\na1\na2\n"},
        {"no bookmark at those levels",
         {.outline = {{"Nowhere", -1, DestKind::None}}},
         {"--bookmarks", "1"},
         "",
         1},
        {"no outline at all", {}, {"--bookmarks", "2"}, "", 1},
    };
    for (const RangesCase& c : cases)
        Check(c);
}

TEST(RangesCommandTest, BlankSeparators) {
    const std::string hairline = "0 G 0.1 w 100 100 m 500 100 l S";
    const std::string speck = "0 g 300 400 2 2 re f";
    const RangesCase cases[] = {
        {"empty, colour only, outside the page and white are blank; a hairline is not",
         {.pages = 9,
          .contents = {{1, ""},
                       {2, "1 0 0 rg"},
                       {4, "0 g -500 -500 100 100 re f"},
                       {5, hairline},
                       {7, "1 g 0 0 612 792 re f"}}},
         {"--blank-separators"},
         "1,4,6-7,9\n\n\n\n\n"},
        {"a scanned empty sheet's tint is blank; faint grey print is not",
         {.pages = 4,
          .contents = {{1, "q 612 0 0 792 0 0 cm BI /W 4 /H 2 /CS /G /BPC 8 /F /AHx ID "
                           "F0FAF4FFEEF8FFF2> EI Q"},
                       {2, "0.7 g BT /F1 9 Tf 72 700 Td (faint print) Tj ET"}}},
         {"--blank-separators"},
         "1,3-4\n\n\n"},
        {"leading and repeated separators belong to no part",
         {.pages = 8, .contents = {{0, ""}, {1, ""}, {4, ""}, {5, ""}}},
         {"--blank-separators"},
         "3-4,7-8\n\n\n"},
        {"a speck of ink makes a page",
         {.pages = 3, .contents = {{1, speck}}},
         {"--blank-separators"},
         "",
         1},
        {"unless ink is allowed",
         {.pages = 3, .contents = {{1, speck}}},
         {"--blank-separators", "--max-ink", "0.01"},
         "1,3\n\n\n"},
        {"a link's frame drawn by the reader is no drawing of the page",
         {.pages = 4, .links = true, .contents = {{1, ""}}},
         {"--blank-separators"},
         "1,3-4\n\n\n"},
        {.what = "a note with a vast picture on a sheet drawn on a hidden layer",
         .options = {"--blank-separators"},
         .out = "1,3\n\n\n",
         .objects = {"<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [6 0 R] "
                     "/D << /OFF [6 0 R] >> >> >>",
                     "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /Rotate 90 "
                     "/MediaBox [0 0 200 200] /Resources << /Properties << /L0 6 0 R >> >> >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 8 0 R /Annots [9 0 R] >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
                     "<< /Type /OCG /Name (d) >>",
                     "<< /Length 22 >>\nstream\n0 g 50 50 100 100 re f\nendstream",
                     "<< /Length 36 >>\nstream\n/OC /L0 BDC 0 g 0 0 200 200 re f EMC\nendstream",
                     "<< /Type /Annot /Subtype /Text /Rect [10 10 30 30] /AP << /N 10 0 R >> >>",
                     "<< /Subtype /Form /BBox [0 0 20 20] /Length 48 >>\nstream\n"
                     "q BI /W 100000 /H 100000 /CS /G /BPC 8 ID \xff EI Q\nendstream"}},
        {.what = "a filled form field is on the sheet, a note's icon is not",
         .options = {"--blank-separators"},
         .out = "1-2,4\n\n\n",
         .objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 "
                     "/MediaBox [0 0 200 200] >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
                     "<< /Type /Page /Parent 2 0 R /Annots [<< /Type /Annot /Subtype /Widget "
                     "/FT /Tx /T (n) /V (Ann) /F 4 /Rect [20 20 180 60] /AP << /N 8 0 R >> >>] >>",
                     "<< /Type /Page /Parent 2 0 R /Annots [<< /Type /Annot /Subtype /Text "
                     "/F 28 /Rect [20 20 180 60] /AP << /N 8 0 R >> >>] >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
                     "<< /Length 22 >>\nstream\n0 g 50 50 100 100 re f\nendstream",
                     "<< /Subtype /Form /BBox [0 0 160 40] /Length 18 >>\nstream\n"
                     "0 g 0 0 160 40 re f\nendstream"}},
        {"every page blank",
         {.pages = 2, .contents = {{0, ""}, {1, ""}}},
         {"--blank-separators"},
         "",
         1},
        {"8 MiB of nothing in a few kilobytes, or a vast image, is not rendered",
         {.pages = 4,
          .contents = {{0, ""},
                       {1, std::string(8 << 20, ' ')},
                       {2, "q BI /W 100000 /H 100000 /CS /G /BPC 8 ID \xff EI Q"}}},
         {"--blank-separators"},
         "2-4\n\n",
         0,
         "in.pdf",
         "Page 3 was not rendered: it draws images of more than"},
    };
    for (const RangesCase& c : cases)
        Check(c);
}

TEST(RangesCommandTest, Text) {
    const PdfRecipe invoices{.pages = 6,
                             .contents = {{0, Text("Covering letter")},
                                          {1, Text("INVOICE 1001")},
                                          {2, Text("continued")},
                                          {3, Text("INVOICE 1002")},
                                          {4, Text("Credit note for INVOICE 1001")},
                                          {5, Text("INVOICE 1003/B")}}};
    const RangesCase cases[] = {
        {"named by the first group, after a cover page",
         invoices,
         {"--text", "^INVOICE (\\d+\\S*)"},
         "1,2-3,4-5,6\n\n1001\n1002\n1003-B\n"},
        {"named by the whole match without a group",
         invoices,
         {"--text", "INVOICE 100[13]"},
         "1,2-4,5,6\n\nINVOICE 1001\nINVOICE 1001 (2)\nINVOICE 1003\n"},
        {"a character is a character, not a byte",
         {.pages = 2, .contents = {{1, Text("Stra\\373e \\243 40")}}},
         {"--text", "Stra.e (.)"},
         "1,2\n\n\xc2\xa3\n"},
        {"a pattern a backtracking matcher takes hours over",
         {.pages = 2, .contents = {{0, Text(std::string(40, 'a'))}, {1, Text("INVOICE 7")}}},
         {"--text", "(?:a+)+b|a|INVOICE (\\d)"},
         "1,2\na\n7\n"},
        {"the alternative the pattern's rules pick, not the longest",
         invoices,
         {"--text", "^(INVOICE|INVOICE 1001)"},
         "1,2-3,4-5,6\n\nINVOICE\nINVOICE (2)\nINVOICE (3)\n"},
        {"a first group that takes nothing or white space names by the whole match",
         invoices,
         {"--text", "(\\s*)INVOICE 100[13]"},
         "1,2-4,5,6\n\nINVOICE 1001\nINVOICE 1001 (2)\nINVOICE 1003\n"},
        {"no match", invoices, {"--text", "RECEIPT"}, "", 1},
        {"no regular expression", invoices, {"--text", "(INVOICE"}, "", 2},
        {"nothing to look for", invoices, {"--text", ""}, "", 2},
        {"a pattern of 100,000 letters", invoices, {"--text", std::string(100000, 'a')}, "", 2},
        {"8 MiB of nothing in a few kilobytes is not read",
         {.pages = 2, .contents = {{1, std::string(8 << 20, ' ') + Text("INVOICE 5")}}},
         {"--text", "INVOICE"},
         "",
         1,
         "in.pdf",
         "The text of page 2 was not searched: its content inflates"},
        {"groups nested 200 deep",
         invoices,
         {"--text", std::string(200, '(') + std::string(200, ')')},
         "",
         2},
    };
    for (const RangesCase& c : cases)
        Check(c);
}

// The parts split writes from a size proposal are within the limit, and each would pass it
// with the next page.
TEST(RangesCommandTest, MaxSize) {
    struct SizeCase {
        const char* what;
        std::string limit;
        int64_t bytes;
        std::vector<std::string> extra;
        size_t parts;
        bool links = false; // every page links to the first, the next and the last page
        int pages = 9;
        int lines = 0;              // lines of text that name their page, on every page
        std::string otherFile = {}; // every page links to it
    };
    const SizeCase cases[] = {
        {"several pages a part", "12k", 12 * 1024, {}, 0},
        {"as split --no-bookmarks writes them", "9000", 9000, {"--no-bookmarks"}, 0},
        {"all in one", "1M", 1024 * 1024, {}, 1},
        {"more than any file holds", "99999999999999999999", INT64_MAX, {}, 1},
        {"every page too big alone", "1000", 1000, {}, 9},
        {"links that open sibling parts", "8200", 8200, {}, 0, true},
        {"pages too big alone that link to their siblings", "1000", 1000, {}, 9, true},
        // Pages 1-3 fit while pages 4-20 are measured as one part, but not among the parts
        // settled after them, whose names their links then spell.
        {"a part too big among its settled siblings", "5610", 5610, {}, 0, true, 20},
        // Compressed together, page 122 adds less to the first 121 than its own content
        // stream takes: only a write of pages 1-122 tells that they fit.
        {"a part that one page more makes smaller", "51754", 51754, {}, 0, false, 125, 40},
        // Written into another folder, the part of pages 1-3 names the file as "../other.pdf":
        // this limit is that part's size beside the source.
        {"links to another file, parts written into another folder",
         "5473",
         5473,
         {},
         0,
         false,
         9,
         0,
         "other.pdf"},
    };
    for (const SizeCase& c : cases) {
        CTempDir dir(true);
        const std::string pdf = dir.File("in.pdf");
        testing_support::PdfRecipe recipe{.pages = c.pages,
                                          .outline = {{"Start", 0}, {"Middle", 4}},
                                          .links = c.links,
                                          .otherFile = c.otherFile,
                                          .paddingBytes = 2500};
        if (c.lines) {
            recipe.outline.clear();
            recipe.paddingBytes = 0;
        }
        for (int page = 0; page < c.pages && c.lines; ++page) {
            if (page % 10 == 0)
                recipe.outline.push_back({"Chapter " + std::to_string(page / 10 + 1), page});
            for (int line = 0; line < c.lines; ++line)
                recipe.contents[page] += "BT /F1 9 Tf 72 " + std::to_string(700 - line * 16) +
                                         " Td (Line " + std::to_string(line) + " of page " +
                                         std::to_string(page + 1) +
                                         ": the quick brown fox jumps over the lazy dog.) Tj ET\n";
        }
        testing_support::WritePdf(pdf, recipe);
        std::vector<std::string> words{"ranges", pdf, "--max-size", c.limit};
        words.insert(words.end(), c.extra.begin(), c.extra.end());
        words.insert(words.end(), {"--to", dir.File("out")}); // where split writes them
        const auto r = RunCli(words);
        ASSERT_EQ(r.status, 0) << c.what << r.err;
        const std::string parameters = r.out.substr(0, r.out.find('\n'));
        const auto ranges = RunCli({"expand", parameters, "--pages", std::to_string(c.pages)}).out;
        const size_t parts = static_cast<size_t>(std::count(ranges.begin(), ranges.end(), '\n'));
        EXPECT_EQ(r.out, parameters + "\n" + std::string(parts, '\n')) << c.what;
        if (c.parts) {
            EXPECT_EQ(parts, c.parts) << c.what;
        }
        EXPECT_EQ(r.err.empty(), c.bytes >= 1000 * 2) << c.what << r.err;

        // Each part as split writes it, and each part with the next page beside it.
        std::string longer;
        std::istringstream lines(ranges);
        for (std::string range; std::getline(lines, range);) {
            const int last = std::stoi(range.substr(range.find('-') + 1));
            if (last < c.pages)
                longer += (longer.empty() ? "" : ",") + range.substr(0, range.find('-') + 1) +
                          std::to_string(last + 1);
        }
        // With links, a longer part's jumps name other siblings; only the parts themselves count.
        for (const auto& [strings, within] : {std::pair{parameters, true}, {longer, false}}) {
            if (strings.empty() || (c.links && !within))
                continue;
            std::filesystem::remove_all(dir.File("out"));
            std::vector<std::string> split{"split",         pdf,      strings, "--to",
                                           dir.File("out"), "--quiet"};
            split.insert(split.end(), c.extra.begin(), c.extra.end());
            ASSERT_EQ(RunCli(split).status, 0) << c.what;
            for (const auto& part : std::filesystem::directory_iterator(dir.File("out")))
                EXPECT_EQ(static_cast<int64_t>(part.file_size()) <= c.bytes,
                          within && c.bytes >= 2000)
                    << c.what << ": " << part.path().filename() << " " << part.file_size();
            // A page too big alone is noted with the size of the part split wrote for it.
            std::istringstream notes(within ? r.err : "");
            for (std::string note; std::getline(notes, note);) {
                std::smatch m;
                if (!std::regex_search(note, m,
                                       std::regex("Page (\\d+) alone makes a part of ([\\d,]+)")))
                    continue;
                std::string bytes = m.str(2);
                bytes.erase(std::remove(bytes.begin(), bytes.end(), ','), bytes.end());
                char name[32];
                std::snprintf(name, sizeof name, "in_page%04d.pdf", std::stoi(m.str(1)));
                EXPECT_EQ(std::to_string(std::filesystem::file_size(dir.File("out/") + name)),
                          bytes)
                    << c.what << ": " << note;
            }
        }
    }
}

TEST(RangesCommandTest, UnreadableFileAndUsage) {
    CTempDir dir(true);
    testing_support::WriteNotAPdf(dir.File("bad.pdf"));
    for (const char* mode : {"--blank-separators", "--max-size"}) {
        std::vector<std::string> words{"ranges", dir.File("bad.pdf"), mode};
        if (std::string(mode) == "--max-size")
            words.push_back("10k");
        const auto r = RunCli(words);
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Ranges: Cannot read " + dir.File("bad.pdf") + " as a PDF document.\n");
    }
    testing_support::WritePdf(dir.File("locked.pdf"), {.pages = 3, .userPassword = "pw"});
    for (const char* mode : {"--bookmarks", "--max-size", "--blank-separators", "--text"}) {
        std::vector<std::string> words{"ranges", dir.File("locked.pdf"), mode};
        if (std::string(mode) != "--blank-separators")
            words.push_back(std::string(mode) == "--max-size" ? "10k" : "1");
        EXPECT_EQ(RunCli(words).err, "Ranges: Cannot read " + dir.File("locked.pdf") +
                                         " as a PDF document. It needs a password.\n")
            << mode;
    }
    EXPECT_EQ(RunCli({"ranges", dir.File("bad.pdf"), "--max-size", "10x"}).status, 2);
    EXPECT_EQ(RunCli({"ranges", dir.File("bad.pdf"), "--bookmarks", "0"}).status, 2);
    EXPECT_EQ(RunCli({"ranges", dir.File("bad.pdf")}).status, 2);
    EXPECT_EQ(RunCli({"ranges", dir.File("bad.pdf"), "--text", "x", "--max-ink", "1"}).status, 2);
    EXPECT_EQ(RunCli({"ranges", dir.File("bad.pdf"), "--bookmarks", "1", "--to", "/out"}).status,
              2);
}
