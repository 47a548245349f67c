#include "engine/QpdfAutomation.h"

#include "tests/support/Doubles.h"
#include "tests/support/FileLimit.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace engine;
using namespace testing_support;

namespace {

// One part the way a split run makes it: open, create, insert, save, close.
struct Splitter {
    core::NullTrace trace;
    CQpdfAutomation automation{trace};
    std::shared_ptr<App> app = automation.Create<App>();

    bool Part(const std::string& source, int first, int count, bool bookmarks,
              const std::string& out) {
        auto view = automation.Create<AVDoc>();
        if (!view->Open(source, ""))
            return false;
        auto doc = view->GetPDDoc();
        auto part = automation.Create<PDDoc>();
        part->Create();
        bool ok = part->InsertPages(-1, *doc, first, count, bookmarks) &&
                  part->GetNumPages() == count && part->Save(33, out);
        part->Close();
        view->Close(true);
        app->CloseAllDocs();
        return ok;
    }
};

// A new document holding `count` pages of an opened source, not yet saved.
struct OpenedPart {
    core::NullTrace trace;
    CQpdfAutomation automation{trace};
    std::shared_ptr<AVDoc> view = automation.Create<AVDoc>();
    std::shared_ptr<PDDoc> part = automation.Create<PDDoc>();
    bool inserted = false;

    OpenedPart(const std::string& source, int first, int count) {
        if (!view->Open(source, ""))
            return;
        part->Create();
        inserted = part->InsertPages(-1, *view->GetPDDoc(), first, count, true);
    }
};

std::vector<int> Range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

const std::vector<Bookmark> kOutline{
    {"Chapter one",
     0,
     DestKind::Explicit,
     true,
     {{"Section 1.1", 1, DestKind::NameInTree}, {"Section 1.2 ünïcødé", 3, DestKind::NamedString}}},
    {"Chapter two",
     5,
     DestKind::NamedName,
     false,
     {{"Section 2.1", 6, DestKind::Explicit, true, {{"Deep", 7, DestKind::GoTo}}},
      {"No destination", -1, DestKind::None}}},
    {"Appendix", 9, DestKind::Explicit},
};

} // namespace

TEST(QpdfAutomationTest, PartsHoldExactlyTheirPagesInOrder) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 12, .outline = kOutline});
    Splitter s;
    const struct { int first, count; } cases[] = {{0, 1}, {4, 3}, {11, 1}, {0, 12}};
    for (const auto& c : cases) {
        const std::string out = dir.File("part" + std::to_string(c.first) + ".pdf");
        ASSERT_TRUE(s.Part(source, c.first, c.count, true, out));
        EXPECT_TRUE(QpdfCheckPasses(out)) << out;
        EXPECT_EQ(PageMarkers(out), Range(c.first + 1, c.first + c.count));
    }
    EXPECT_EQ(s.automation.ParseCount(), 1) << "an unchanged source is parsed once a session";
}

// A part may use whatever its source uses, so it claims the source's version, never less.
TEST(QpdfAutomationTest, PartsClaimTheirSourcesVersion) {
    CTempDir dir;
    const std::string plain = dir.File("plain.pdf"), newer = dir.File("newer.pdf");
    WritePdf(plain, {.pages = 2});
    {
        QPDF pdf;
        pdf.processFile(plain.c_str());
        QPDFWriter writer(pdf, newer.c_str());
        writer.setMinimumPDFVersion("1.7");
        writer.write();
    }
    auto header = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        std::getline(in, line);
        return line;
    };
    ASSERT_EQ(header(newer), "%PDF-1.7");
    for (const std::string& source : {plain, newer}) {
        const std::string out = source + ".part.pdf";
        Splitter s;
        ASSERT_TRUE(s.Part(source, 1, 1, true, out));
        // Parts pack their objects into object streams, which need 1.5.
        EXPECT_EQ(header(out), source == plain ? "%PDF-1.5" : header(source));
    }
}

TEST(QpdfAutomationTest, BookmarksFollowTheirPagesIntoEachPart) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 12, .outline = kOutline});
    Splitter s;
    const std::string a = dir.File("a.pdf"), b = dir.File("b.pdf"), c = dir.File("c.pdf");
    ASSERT_TRUE(s.Part(source, 0, 4, true, a));
    EXPECT_EQ(ReadOutline(a), (std::vector<OutlineEntry>{
                                  {"Chapter one", 0, 0, true},
                                  {"Section 1.1", 1, 1, false},
                                  {"Section 1.2 ünïcødé", 3, 1, false},
                              }));
    // An item outside the range stays only as the parent of items inside it; one without a
    // destination goes with the item before it.
    ASSERT_TRUE(s.Part(source, 6, 2, true, b));
    EXPECT_EQ(ReadOutline(b), (std::vector<OutlineEntry>{
                                  {"Chapter two", -1, 0, false},
                                  {"Section 2.1", 0, 1, true},
                                  {"Deep", 1, 2, false},
                                  {"No destination", -1, 1, false},
                              }));
    ASSERT_TRUE(s.Part(source, 8, 1, true, c));
    EXPECT_TRUE(ReadOutline(c).empty());

    ASSERT_TRUE(s.Part(source, 0, 4, false, a));
    EXPECT_TRUE(ReadOutline(a).empty()) << "without bookmarks no outline is copied";
    EXPECT_TRUE(QpdfCheckPasses(b));
}

TEST(QpdfAutomationTest, PageLabelsMatchTheSource) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 6, .pageLabels = true});
    Splitter s;
    ASSERT_TRUE(s.Part(source, 1, 3, true, dir.File("p.pdf")));
    EXPECT_EQ(PageLabels(dir.File("p.pdf")), (std::vector<std::string>{"ii", "1", "2"}));
    ASSERT_TRUE(s.Part(source, 4, 2, true, dir.File("q.pdf")));
    EXPECT_EQ(PageLabels(dir.File("q.pdf")), (std::vector<std::string>{"3", "4"}));
}

TEST(QpdfAutomationTest, PartsAreNotBloatedByLinksToOtherPages) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 20, .outline = kOutline, .links = true, .paddingBytes = 20000});
    const std::string theirs = dir.File("theirs.pdf");
    ASSERT_EQ(RunProgram({"qpdf", "--empty", "--pages", source, "5-7", "--", theirs}), 0);
    const auto theirSize = std::filesystem::file_size(theirs);
    Splitter s;
    for (bool bookmarks : {false, true}) {
        const std::string ours = dir.File(bookmarks ? "with.pdf" : "without.pdf");
        ASSERT_TRUE(s.Part(source, 4, 3, bookmarks, ours));
        const auto ourSize = std::filesystem::file_size(ours);
        EXPECT_LE(ourSize, theirSize * 11 / 10) << ourSize << " vs " << theirSize;
        EXPECT_EQ(PageMarkers(ours), Range(5, 7));
    }
}

TEST(QpdfAutomationTest, UnreadableInputsFailAsDocumented) {
    CTempDir dir;
    WriteTruncatedPdf(dir.File("truncated.pdf"), 30);
    WriteNotAPdf(dir.File("text.pdf"));
    dir.Write("empty.pdf", "");
    WritePdf(dir.File("locked.pdf"), {.pages = 3, .userPassword = "secret"});
    std::filesystem::create_directory(dir.File("folder.pdf"));
    CRecordingTrace trace;
    CQpdfAutomation automation(trace);
    for (const char* name :
         {"missing.pdf", "text.pdf", "empty.pdf", "locked.pdf", "folder.pdf", "truncated.pdf"}) {
        auto view = automation.Create<AVDoc>();
        const bool opened = view->Open(dir.File(name), "");
        if (std::string(name) == "truncated.pdf" && opened) {
            // qpdf may recover part of a truncated file; whatever it recovers must be usable.
            auto doc = view->GetPDDoc();
            EXPECT_GE(doc->GetNumPages(), 0);
            continue;
        }
        EXPECT_FALSE(opened) << name;
        EXPECT_EQ(view->GetPDDoc(), nullptr) << name;
    }
    EXPECT_FALSE(automation.Warnings().empty()) << "qpdf's complaints are kept, not printed";
    ASSERT_FALSE(trace.lines.empty());
    EXPECT_EQ(trace.lines[0].substr(0, 6), "qpdf: ") << "and traced while the trace is on";
    EXPECT_EQ(trace.lines[0].substr(trace.lines[0].size() - 2), "\r\n");
}

TEST(QpdfAutomationTest, InsertRefusesBadRanges) {
    CTempDir dir;
    WritePdf(dir.File("s.pdf"), {.pages = 5});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    auto view = automation.Create<AVDoc>();
    ASSERT_TRUE(view->Open(dir.File("s.pdf"), ""));
    auto source = view->GetPDDoc();
    auto part = automation.Create<PDDoc>();
    part->Create();
    for (auto [first, count] : std::vector<std::pair<int, int>>{{-1, 1}, {0, 0}, {4, 2}, {5, 1}})
        EXPECT_FALSE(part->InsertPages(-1, *source, first, count, true)) << first << "+" << count;
    EXPECT_EQ(part->GetNumPages(), 0);
    std::string failure;
    EXPECT_EQ(automation.CreateObject("AcroExch.Nothing", failure), nullptr);
    EXPECT_FALSE(failure.empty());
}

TEST(QpdfAutomationTest, SaveNeverOverwritesAnOpenSourceAndIsAtomic) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(source, {.pages = 4});
    OpenedPart opened(source, 1, 1);
    ASSERT_TRUE(opened.inserted);
    auto& [trace, automation, view, part, inserted] = opened;
    EXPECT_FALSE(part->Save(33, source));
    EXPECT_FALSE(part->Save(33, dir.File("./s.pdf")));
    EXPECT_FALSE(part->Save(33, dir.File("no/such/dir/x.pdf")));
    EXPECT_EQ(PageMarkers(source), Range(1, 4));
    ASSERT_TRUE(part->Save(33, dir.File("x.pdf")));
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 2u) << "no temporary file is left behind";
    auto app = automation.Create<App>();
    app->CloseAllDocs();
    ASSERT_TRUE(view->Open(source, "")) << "a view closed by CloseAllDocs opens again";
    EXPECT_FALSE(part->Save(33, source));
    app->CloseAllDocs();
    EXPECT_TRUE(part->Save(33, source)) << "once closed, the source may be replaced";
}

// Under a full disk or `ulimit -f` qpdf's writes fail part-way. A part saved straight over its
// target would leave a cut-short file there; ours leaves the earlier file or nothing.
TEST(QpdfAutomationTest, SaveThatCannotWriteEverythingFailsAndLeavesNoPart) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(source, {.pages = 3, .paddingBytes = 20000});
    size_t whole = 0;
    {
        OpenedPart opened(source, 0, 2);
        ASSERT_TRUE(opened.inserted && opened.part->Save(33, dir.File("whole.pdf")));
        whole = std::filesystem::file_size(dir.File("whole.pdf"));
        std::filesystem::remove(dir.File("whole.pdf"));
    }
    dir.Write("old.pdf", "an earlier file of that name");
    // Early in the file, and in the last bytes, which only the final flush writes.
    const std::pair<const char*, size_t> cases[] = {
        {"old.pdf", 8000}, {"new.pdf", 8000}, {"old.pdf", whole - 10}, {"new.pdf", whole - 10}};
    for (const auto& [target, limit] : cases) {
        OpenedPart opened(source, 0, 2);
        ASSERT_TRUE(opened.inserted);
        const std::string outcome = InChildWithFileSizeLimit(
            limit, [&] { return opened.part->Save(33, dir.File(target)) ? "saved" : "failed"; });
        EXPECT_EQ(outcome, "failed") << target << " " << limit;
        EXPECT_EQ(DirectoryListing(dir.Path()), "old.pdf s.pdf") << target;
        EXPECT_EQ(dir.Read("old.pdf"), "an earlier file of that name");
        ASSERT_TRUE(opened.part->Save(33, dir.File(target))) << "without the limit it saves";
        EXPECT_EQ(PageMarkers(dir.File(target)), Range(1, 2));
        std::filesystem::remove(dir.File("new.pdf"));
        dir.Write("old.pdf", "an earlier file of that name");
    }
}

TEST(QpdfAutomationTest, ChangedSourceIsParsedAgain) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(source, {.pages = 4});
    Splitter s;
    ASSERT_TRUE(s.Part(source, 0, 1, true, dir.File("a.pdf")));
    ASSERT_TRUE(s.Part(source, 1, 1, true, dir.File("b.pdf")));
    EXPECT_EQ(s.automation.ParseCount(), 1);
    WritePdf(source, {.pages = 6});
    ASSERT_TRUE(s.Part(source, 5, 1, true, dir.File("c.pdf")));
    EXPECT_EQ(s.automation.ParseCount(), 2);
    EXPECT_EQ(PageMarkers(dir.File("c.pdf")), std::vector<int>{6});
}

TEST(QpdfAutomationTest, DeletePagesAndBookmarkRemovalKeepTheFileConsistent) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(source, {.pages = 12,
                      .outline = kOutline,
                      .links = true,
                      .linkForm = LinkForm::NamedString,
                      .form = true});
    OpenedPart opened(source, 0, 12);
    ASSERT_TRUE(opened.inserted);
    auto& [trace, automation, view, part, inserted] = opened;
    EXPECT_TRUE(part->DeletePages(8, 11));
    EXPECT_TRUE(part->DeletePages(0, 3));
    EXPECT_FALSE(part->DeletePages(3, 9));
    EXPECT_EQ(part->GetNumPages(), 4);

    auto bookmark = automation.Create<PDBookmark>();
    EXPECT_FALSE(bookmark->GetByTitle(*part, "Nonexistent"));
    EXPECT_TRUE(bookmark->GetByTitle(*part, "Section 2.1"));
    EXPECT_TRUE(bookmark->Destroy());
    EXPECT_TRUE(bookmark->GetByTitle(*part, "Chapter one"));
    EXPECT_TRUE(bookmark->Destroy());
    ASSERT_TRUE(part->Save(33, dir.File("p.pdf")));
    EXPECT_TRUE(QpdfCheckPasses(dir.File("p.pdf")));
    EXPECT_EQ(PageMarkers(dir.File("p.pdf")), Range(5, 8));
    EXPECT_EQ(ReadOutline(dir.File("p.pdf")),
              (std::vector<OutlineEntry>{{"Chapter two", 1, 0, false},
                                         {"No destination", -1, 1, false},
                                         {"Appendix", -1, 0, false}}))
        << "items stay, without the destinations of deleted pages";
    EXPECT_EQ(LinkTargets(dir.File("p.pdf")),
              (std::vector<std::vector<int>>{{-1, 1, -1}, {-1, 2, -1}, {-1, 3, -1}, {-1, -1, -1}}))
        << "links to deleted pages stay, without their jump";
    EXPECT_EQ(NamedDestinations(dir.File("p.pdf")),
              (std::map<std::string, int>{
                  {"/dest4", 1}, {"page5", 0}, {"page6", 1}, {"page7", 2}, {"page8", 3}}));
    EXPECT_EQ(FormFields(dir.File("p.pdf")),
              (std::vector<FormField>{{"everywhere", "on every page", 4},
                                      {"text5", "value 5", 1},
                                      {"text6", "value 6", 1},
                                      {"text7", "value 7", 1},
                                      {"text8", "value 8", 1}}));
}

TEST(QpdfAutomationTest, LinksInsideAPartLeadIntoThePart) {
    // Every page links to the first, the next and the last page. In pages 5-7 of 10 only the
    // "next" links of pages 5 and 6 stay inside; the others lose their jump (no part of a job
    // holds their pages here), never left on null.
    const struct {
        LinkForm form;
        std::map<std::string, int> names; // the part's named destinations
    } cases[] = {
        {LinkForm::DestArray, {}},
        {LinkForm::GoTo, {}},
        {LinkForm::NamedString, {{"page5", 0}, {"page6", 1}, {"page7", 2}}},
        {LinkForm::NamedName, {{"/page5", 0}, {"/page6", 1}, {"/page7", 2}}},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string source = dir.File("src.pdf");
        WritePdf(source, {.pages = 10, .links = true, .linkForm = c.form});
        Splitter s;
        const std::string part = dir.File("part.pdf"), whole = dir.File("whole.pdf");
        ASSERT_TRUE(s.Part(source, 4, 3, true, part));
        EXPECT_TRUE(QpdfCheckPasses(part));
        EXPECT_EQ(LinkTargets(part),
                  (std::vector<std::vector<int>>{{-1, 1, -1}, {-1, 2, -1}, {-1, -1, -1}}))
            << static_cast<int>(c.form);
        EXPECT_EQ(NamedDestinations(part), c.names) << "names of other pages are not carried";

        ASSERT_TRUE(s.Part(source, 0, 10, true, whole));
        std::vector<std::vector<int>> all;
        for (int i = 0; i < 10; ++i)
            all.push_back(i < 9 ? std::vector<int>{0, i + 1, 9} : std::vector<int>{0, 9});
        EXPECT_EQ(LinkTargets(whole), all) << static_cast<int>(c.form);
        EXPECT_TRUE(QpdfCheckPasses(whole));
    }
}

TEST(QpdfAutomationTest, EntriesThatAreNoAnnotationsAreSkipped) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 10, .links = true, .junkAnnotations = true});
    ASSERT_TRUE(QpdfCheckPasses(source));
    OpenedPart opened(source, 4, 3);
    EXPECT_TRUE(opened.inserted);
    EXPECT_EQ(opened.part->GetNumPages(), opened.inserted ? 3 : 0)
        << "a failed insertion leaves no pages behind";
    const std::string part = dir.File("part.pdf");
    ASSERT_TRUE(opened.part->Save(33, part));
    EXPECT_TRUE(QpdfCheckPasses(part));
    EXPECT_EQ(LinkTargets(part),
              (std::vector<std::vector<int>>{{-1, 1, -1}, {-1, 2, -1}, {-1, -1, -1}}));
}

TEST(QpdfAutomationTest, FormsKeepTheFieldsOfThePartsPages) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 6, .form = true});
    Splitter s;
    const std::string part = dir.File("part.pdf");
    ASSERT_TRUE(s.Part(source, 2, 2, true, part));
    EXPECT_TRUE(QpdfCheckPasses(part));
    EXPECT_EQ(RunProgram({"qpdf", "--json", part}), 0) << "qpdf can describe the part";
    EXPECT_EQ(FormFields(part), (std::vector<FormField>{{"everywhere", "on every page", 2},
                                                        {"text3", "value 3", 1},
                                                        {"text4", "value 4", 1}}));
    EXPECT_EQ(FormDefaults(part), "/Helv 0 Tf 0 g|fonts|true");

    WritePdf(source, {.pages = 6});
    ASSERT_TRUE(s.Part(source, 2, 2, true, part));
    EXPECT_EQ(FormDefaults(part), "") << "no form where the source has none";
}

TEST(QpdfAutomationTest, InheritedResourcesAreTrimmedToWhatPagesUse) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 20, .inheritedImages = 20});
    const std::string theirs = dir.File("theirs.pdf");
    ASSERT_EQ(RunProgram({"qpdf", "--empty", "--pages", source, "5-7", "--", theirs}), 0);
    Splitter s;
    const std::string ours = dir.File("ours.pdf");
    ASSERT_TRUE(s.Part(source, 4, 3, true, ours));
    EXPECT_LE(std::filesystem::file_size(ours), std::filesystem::file_size(theirs) * 11 / 10);
    EXPECT_TRUE(QpdfCheckPasses(ours));
    EXPECT_EQ(PageImages(ours),
              (std::vector<std::vector<std::string>>{{"/Im4"}, {"/Im5"}, {"/Im6"}}));
    EXPECT_EQ(PageMarkers(ours), Range(5, 7));
    ASSERT_TRUE(s.Part(source, 0, 20, true, ours));
    EXPECT_EQ(PageImages(ours)[19], std::vector<std::string>{"/Im19"})
        << "the source stays usable for the next part";
}

// A shared font that embeds data is trimmed from pages that do not use it, or every part
// would carry it; one made of names only is carried whole, and the part stays sound either way.
TEST(QpdfAutomationTest, SharedFontsNoPageUsesAreTrimmedWhenTheyCarryData) {
    const struct {
        std::string font;
        std::vector<std::string> fonts; // of each page of the part
    } cases[] = {
        {"<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>", {"/F1", "/F2"}},
        {"<< /Type /Font /Subtype /Type1 /BaseFont /Courier /FirstChar 32 /LastChar 34 "
         "/Widths [600 600 600] >>",
         {"/F1"}},
        {"<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] >>", {"/F1"}},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string source = dir.File("src.pdf");
        WritePdf(source, {.pages = 6, .unusedFont = c.font});
        const std::string theirs = dir.File("theirs.pdf");
        ASSERT_EQ(RunProgram({"qpdf", "--empty", "--pages", source, "3-4", "--", theirs}), 0);
        Splitter s;
        const std::string ours = dir.File("ours.pdf");
        ASSERT_TRUE(s.Part(source, 2, 2, true, ours)) << c.font;
        EXPECT_TRUE(QpdfCheckPasses(ours)) << c.font;
        EXPECT_EQ(PageMarkers(ours), Range(3, 4)) << c.font;
        EXPECT_EQ(PageFonts(ours), (std::vector<std::vector<std::string>>{c.fonts, c.fonts}))
            << c.font;
        // An unused font made of names costs its part about a hundred bytes.
        EXPECT_LE(std::filesystem::file_size(ours),
                  std::filesystem::file_size(theirs) * 11 / 10 + 100 * (c.fonts.size() - 1))
            << c.font;
    }
}

TEST(QpdfAutomationTest, DamagedPageLabelTreesReadAsQpdfReadsThem) {
    const struct {
        std::string nums;
        int first, count;
        std::vector<std::string> labels; // empty: as qpdf's own copy of the pages has them
    } cases[] = {
        {"[0 << /S /r >> 4 << /S /D >> 2 << /S /D /St 10 >>]", 1, 3, {}}, // keys out of order
        // An entry that is no label: the page is numbered as a reader numbers unlabelled pages
        // (qpdf's copy gives it an empty label).
        {"[0 << /S /r >> 2 /NotALabel]", 0, 3, {"i", "ii", "3"}},
        {"[0 << /S /r >> 2 << /S /D /St -4 >>]", 0, 3, {}},
        {"[0 << /S /r >> (2) << /S /D >>]", 0, 3, {}},
        {"[0 << /S /r >> 2 << /S /D >> 3]", 0, 3, {}},
        // Sound trees: pages before the first entry have no label, and keep none.
        {"[2 << /S /D >>]", 0, 4, {"(none)", "(none)", "1", "2"}},
        {"[2 << /S /D >>]", 3, 2, {"2", "3"}},
        {"[0 << /S /r >> 2 << /S /D >>]", 1, 3, {"ii", "1", "2"}},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string source = dir.File("src.pdf");
        WritePdf(source, {.pages = 6, .pageLabelNums = c.nums});
        Splitter s;
        const std::string part = dir.File("part.pdf"), theirs = dir.File("theirs.pdf");
        ASSERT_TRUE(s.Part(source, c.first, c.count, true, part)) << c.nums;
        EXPECT_TRUE(QpdfCheckPasses(part)) << c.nums;
        const int status = RunProgram(
            {"qpdf", "--empty", "--pages", source,
             std::to_string(c.first + 1) + "-" + std::to_string(c.first + c.count), "--", theirs});
        ASSERT_TRUE(status == 0 || status == 3) << "qpdf wrote its copy, warnings or not";
        EXPECT_EQ(PageLabels(part), c.labels.empty() ? PageLabels(theirs) : c.labels) << c.nums;
    }
}

TEST(QpdfAutomationTest, ValuesHeldByReferenceAreCopiedAsObjects) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source,
             {.pages = 12, .outline = kOutline, .pageLabels = true, .indirectValues = true});
    Splitter s;
    const std::string part = dir.File("part.pdf");
    ASSERT_TRUE(s.Part(source, 0, 4, true, part));
    EXPECT_TRUE(QpdfCheckPasses(part));
    EXPECT_EQ(PageLabels(part), (std::vector<std::string>{"p-i", "p-ii", "1", "2"}));
    EXPECT_EQ(ReadOutline(part).size(), 3u);
}

TEST(QpdfAutomationTest, PageTreesNestedTooDeeplyAreRefused) {
    CTempDir dir;
    WritePdf(dir.File("deep.pdf"), {.pages = 3, .pageTreeDepth = 20000});
    WritePdf(dir.File("nested.pdf"), {.pages = 3, .pageTreeDepth = 40});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    auto view = automation.Create<AVDoc>();
    EXPECT_FALSE(view->Open(dir.File("deep.pdf"), ""));
    ASSERT_TRUE(view->Open(dir.File("nested.pdf"), "")) << "a sanely nested tree is fine";
    EXPECT_EQ(view->GetPDDoc()->GetNumPages(), 3);
}

TEST(QpdfAutomationTest, OutlinesThatLoopBelowTheTopAreReadOnce) {
    CTempDir dir;
    const std::string source = dir.File("src.pdf");
    WritePdf(source, {.pages = 12, .outline = kOutline, .outlineLoop = true});
    Splitter s;
    const std::string part = dir.File("part.pdf");
    ASSERT_TRUE(s.Part(source, 0, 4, true, part));
    EXPECT_TRUE(QpdfCheckPasses(part));
    EXPECT_EQ(ReadOutline(part), (std::vector<OutlineEntry>{
                                     {"Chapter one", 0, 0, true},
                                     {"Section 1.1", 1, 1, false},
                                     {"Section 1.2 ünïcødé", 3, 1, false},
                                 }));
}

TEST(QpdfAutomationTest, OnlyRegularFilesOpen) {
    CTempDir dir;
    const std::string fifo = dir.File("fifo.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir.File("zero.pdf");
    std::filesystem::create_symlink("/dev/zero", zero);
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    auto view = automation.Create<AVDoc>();
    EXPECT_FALSE(view->Open(fifo, ""));
    EXPECT_FALSE(view->Open(zero, ""));
}

TEST(QpdfAutomationTest, ManySourcesDoNotRunOutOfFileHandles) {
    CTempDir dir;
    constexpr int kSources = 60;
    for (int i = 0; i < kSources; ++i)
        WritePdf(dir.File("s" + std::to_string(i) + ".pdf"), {.pages = 1});
    Splitter s;
    std::vector<int> failed;
    {
        // Checked once the limit is back, so that a failure can still be reported.
        CFileLimit limit(24);
        for (int i = 0; i < kSources; ++i)
            if (!s.Part(dir.File("s" + std::to_string(i) + ".pdf"), 0, 1, true,
                        dir.File("p" + std::to_string(i) + ".pdf")))
                failed.push_back(i);
    }
    EXPECT_TRUE(failed.empty()) << failed.size() << " sources failed, the first " << failed[0];
    EXPECT_TRUE(QpdfCheckPasses(dir.File("p" + std::to_string(kSources - 1) + ".pdf")));
}

// A source is read into memory when it is opened: its file is not held open while the job
// runs, and a part still being built when the session moves on to another source (or when
// the file is deleted) keeps every stream it copied.
TEST(QpdfAutomationTest, PartsOutliveTheirSourceAndItsFile) {
    CTempDir dir;
    const std::string first = dir.File("first.pdf");
    WritePdf(first,
             {.pages = 12, .outline = kOutline, .links = true, .paddingBytes = 3000, .form = true});
    WritePdf(dir.File("second.pdf"), {.pages = 2});
    core::NullTrace trace;
    CQpdfAutomation automation(trace);
    auto app = automation.Create<App>();
    auto view = automation.Create<AVDoc>();
    ASSERT_TRUE(view->Open(first, ""));

    // The parse reads its file through its own descriptor (a deleted file reads as
    // "first.pdf (deleted)"), given up with the last document that copies from it.
    auto heldOpen = [&] {
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(fd.path(), error).string().rfind(first, 0) == 0)
                return true;
        }
        return false;
    };

    auto part = automation.Create<PDDoc>();
    part->Create();
    ASSERT_TRUE(part->InsertPages(-1, *view->GetPDDoc(), 1, 4, true));
    std::filesystem::remove(first);
    ASSERT_TRUE(view->Open(dir.File("second.pdf"), "")) << "the session drops the first parse";
    view->Close(true);
    ASSERT_TRUE(part->Save(33, dir.File("part.pdf")));
    EXPECT_TRUE(QpdfCheckPasses(dir.File("part.pdf")));
    EXPECT_EQ(PageMarkers(dir.File("part.pdf")), Range(2, 5));
    part->Close();
    app->Exit();
    EXPECT_FALSE(heldOpen()) << "the first source's descriptor outlives every use of it";
}

namespace {

// Everything a reader sees of a part, to compare a part with the same part made alone.
struct PartView {
    std::vector<int> pages;
    std::vector<OutlineEntry> outline;
    std::vector<std::string> labels;
    std::vector<std::vector<int>> links;
    std::map<std::string, int> named;
    std::vector<FormField> fields;
    std::string formDefaults;
    std::vector<std::vector<std::string>> images;
    bool operator==(const PartView&) const = default;
};

PartView ViewOf(const std::string& path) {
    return {PageMarkers(path),       ReadOutline(path), PageLabels(path),   LinkTargets(path),
            NamedDestinations(path), FormFields(path),  FormDefaults(path), PageImages(path)};
}

} // namespace

// The parts of a job are built in one document kept from part to part. Each must be exactly
// the part a document of its own would give: pages copied before (their copies were changed
// for their part), pages with links and form fields, and a part taking a page twice.
TEST(QpdfAutomationTest, PartsFromAKeptDocumentMatchPartsMadeAlone) {
    CTempDir dir;
    const struct {
        std::string name;
        PdfRecipe recipe;
    } sources[] = {
        {"plain.pdf", {.pages = 12, .outline = kOutline, .pageLabels = true, .inheritedImages = 3}},
        {"linked.pdf", {.pages = 12, .outline = kOutline, .links = true, .form = true}},
    };
    const struct {
        int first, count;
        bool bookmarks;
    } ranges[] = {{0, 1, true}, {1, 1, true}, {2, 3, false}, {1, 2, true},
                  {5, 1, true}, {6, 1, true}, {9, 3, true},  {0, 12, true}};
    for (const auto& source : sources) {
        const std::string path = dir.File(source.name);
        WritePdf(path, source.recipe);
        Splitter job;
        for (size_t i = 0; i < std::size(ranges); ++i) {
            const auto& r = ranges[i];
            const std::string kept = dir.File("kept" + std::to_string(i) + ".pdf");
            const std::string alone = dir.File("alone" + std::to_string(i) + ".pdf");
            ASSERT_TRUE(job.Part(path, r.first, r.count, r.bookmarks, kept));
            Splitter own;
            ASSERT_TRUE(own.Part(path, r.first, r.count, r.bookmarks, alone));
            EXPECT_TRUE(QpdfCheckPasses(kept)) << source.name << " part " << i;
            EXPECT_TRUE(ViewOf(kept) == ViewOf(alone)) << source.name << " part " << i;
            EXPECT_EQ(PageMarkers(kept), Range(r.first + 1, r.first + r.count));
        }
        if (source.name == "plain.pdf") {
            EXPECT_LT(job.automation.DocumentsBuilt(), 4)
                << "pages never copied before go into the kept document";
        }
    }
}

// A part that takes more pages after its first ones, when the kept document has copied
// those pages before, is built again in a fresh document with every step so far, bookmarks
// removed by title included.
TEST(QpdfAutomationTest, KeptDocumentGivesWayWithEveryStepDoneAgain) {
    CTempDir dir;
    const std::string source = dir.File("s.pdf");
    WritePdf(source, {.pages = 12, .outline = kOutline, .pageLabels = true});
    auto build = [&](Splitter& s, const std::string& out) {
        auto view = s.automation.Create<AVDoc>();
        EXPECT_TRUE(view->Open(source, ""));
        auto doc = view->GetPDDoc();
        auto part = s.automation.Create<PDDoc>();
        part->Create();
        EXPECT_TRUE(part->InsertPages(-1, *doc, 5, 4, true));
        auto bookmark = s.automation.Create<PDBookmark>();
        EXPECT_TRUE(bookmark->GetByTitle(*part, "Deep") && bookmark->Destroy());
        EXPECT_TRUE(part->DeletePages(3, 3));
        EXPECT_TRUE(part->InsertPages(-1, *doc, 0, 2, true));
        EXPECT_TRUE(part->Save(33, out));
        part->Close();
        view->Close(true);
    };
    Splitter kept;
    ASSERT_TRUE(kept.Part(source, 0, 2, true, dir.File("first.pdf")));
    build(kept, dir.File("kept.pdf"));
    Splitter own;
    build(own, dir.File("alone.pdf"));
    EXPECT_TRUE(QpdfCheckPasses(dir.File("kept.pdf")));
    EXPECT_EQ(PageMarkers(dir.File("kept.pdf")), (std::vector<int>{1, 2, 6, 7, 8}));
    EXPECT_TRUE(ViewOf(dir.File("kept.pdf")) == ViewOf(dir.File("alone.pdf")));
    EXPECT_EQ(kept.automation.DocumentsBuilt(), 2) << "the kept one, then a fresh one";
}
