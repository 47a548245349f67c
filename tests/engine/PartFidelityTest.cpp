// Parts keep what their pages need, checked on the files a split writes.
#include "tests/cli/CliRun.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <qpdf/QPDF.hh>

using namespace testing_support;

namespace {

using Jumps = std::vector<std::vector<std::string>>; // per page, per link

// Splits `source` (in the temporary folder) with `params` into `out/`.
void Split(CTempDir& dir, const std::string& source, const std::string& params) {
    const CliResult r =
        RunCli({"split", dir.File(source), params, "--to", dir.File("out"), "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
}

} // namespace

TEST(PartFidelityTest, LinksLeavingAPartOpenTheSiblingPartThatHoldsTheirPage) {
    // Page N of 9 links to the first, the next and the last page.
    const std::string a = "src_pages0004-0006.pdf#", b = "src_pages0001-0009.pdf#";
    const struct {
        LinkForm form;
        std::string params;
        std::string part;
        Jumps jumps;
    } cases[] = {
        {LinkForm::DestArray,
         "1-3,4-6,7-9",
         "src_pages0001-0003.pdf",
         {{"0", "1", "src_pages0007-0009.pdf#2"},
          {"0", "2", "src_pages0007-0009.pdf#2"},
          {"0", a + "0", "src_pages0007-0009.pdf#2"}}},
        {LinkForm::GoTo,
         "1-3,8-9",
         "src_pages0001-0003.pdf",
         {{"0", "1", "src_pages0008-0009.pdf#1"},
          {"0", "2", "src_pages0008-0009.pdf#1"},
          {"0", "-", "src_pages0008-0009.pdf#1"}}},
        // The first part in the job's order that holds the page wins.
        {LinkForm::DestArray,
         "4-6,1-9,7-9",
         "src_pages0004-0006.pdf",
         {{b + "0", "1", b + "8"}, {b + "0", "2", b + "8"}, {b + "0", b + "6", b + "8"}}},
        {LinkForm::NamedString,
         "4-6,1-9",
         "src_pages0004-0006.pdf",
         {{b + "page1", "1", b + "page9"},
          {b + "page1", "2", b + "page9"},
          {b + "page1", b + "page7", b + "page9"}}},
        {LinkForm::NamedName,
         "4-6,7-9",
         "src_pages0004-0006.pdf",
         {{"-", "1", "src_pages0007-0009.pdf#/page9"},
          {"-", "2", "src_pages0007-0009.pdf#/page9"},
          {"-", "src_pages0007-0009.pdf#/page7", "src_pages0007-0009.pdf#/page9"}}},
    };
    for (const auto& c : cases) {
        CTempDir dir(true);
        WritePdf(dir.File("src.pdf"), {.pages = 9, .links = true, .linkForm = c.form});
        Split(dir, "src.pdf", c.params);
        const std::string part = dir.File("out/" + c.part);
        EXPECT_EQ(LinkJumps(part), c.jumps) << c.params;
        EXPECT_TRUE(QpdfCheckPasses(part)) << c.params;
    }
}

TEST(PartFidelityTest, TaggedSourcesGiveTaggedParts) {
    const struct {
        PdfRecipe recipe;
        std::string structure; // of pages 2-3
    } cases[] = {
        {{.pages = 6, .tagged = true},
         "en-GB|Document@- Para@0 Para@1 |roles Para |classes body |ids p2 p3 |parent tree ok"},
        {{.pages = 6, .links = true, .tagged = true, .textLines = 3},
         "en-GB|Document@- Para@0 Para@1 |roles Para |classes body |ids p2 p3 |parent tree ok"},
        // A tree that loops cannot be trimmed soundly: the part goes without it.
        {{.pages = 6, .tagged = true, .tagLoop = true}, ""},
        {{.pages = 6}, ""},
    };
    for (const auto& c : cases) {
        CTempDir dir(true);
        WritePdf(dir.File("src.pdf"), c.recipe);
        const CliResult r = RunCli(
            {"split", dir.File("src.pdf"), "2-3", "--to", dir.File("out"), "--quiet", "--trace"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string part = dir.File("out/src_pages0002-0003.pdf");
        EXPECT_EQ(StructureOf(part), c.structure);
        EXPECT_TRUE(QpdfCheckPasses(part));
        std::ifstream trace("debug.txt");
        const std::string traced{std::istreambuf_iterator<char>(trace), {}};
        EXPECT_EQ(traced.find("structure tree left out") != std::string::npos, c.recipe.tagLoop);
    }
}

TEST(PartFidelityTest, FormFieldsKeepTheirNamesValuesAndStates) {
    const struct {
        PdfRecipe recipe;
        std::string params;
        std::vector<FormField> fields;
    } cases[] = {
        {{.pages = 2, .checkbox = true}, "1", {{"agree", "/Yes", 1}}},
        {{.pages = 4, .form = true},
         "2-3",
         {{"everywhere", "on every page", 2}, {"text2", "value 2", 1}, {"text3", "value 3", 1}}},
    };
    for (const auto& c : cases) {
        CTempDir dir(true);
        WritePdf(dir.File("src.pdf"), c.recipe);
        Split(dir, "src.pdf", c.params);
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
            EXPECT_EQ(FormFields(entry.path()), c.fields) << c.params;
            EXPECT_TRUE(QpdfCheckPasses(entry.path())) << "no warning either";
        }
    }
}

TEST(PartFidelityTest, MetadataIsCompressedUnlessItClaimsPdfA) {
    for (bool pdfa : {false, true}) {
        CTempDir dir(true);
        std::string xmp = "<?xpacket begin=\"\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\" "
                          "xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">";
        if (pdfa)
            xmp += "<pdfaid:part>2</pdfaid:part>";
        for (int i = 0; i < 40; ++i)
            xmp += "<dc:subject>chapter " + std::to_string(i) + "</dc:subject>";
        xmp += "</x:xmpmeta><?xpacket end=\"w\"?>";
        WritePdf(dir.File("src.pdf"), {.pages = 2, .xmp = xmp});
        Split(dir, "src.pdf", "1");
        QPDF part;
        part.processFile(dir.File("out/src_page0001.pdf").c_str());
        QPDFObjectHandle metadata = part.getRoot().getKey("/Metadata");
        EXPECT_EQ(metadata.getDict().hasKey("/Filter"), !pdfa);
        const auto data = metadata.getStreamData();
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()),
                  xmp);
    }
}

TEST(PartFidelityTest, StreamsStoredWithoutAFilterAreCompressed) {
    for (bool uncompressed : {true, false}) {
        CTempDir dir(true);
        WritePdf(dir.File("src.pdf"), {.pages = 4, .uncompressed = uncompressed, .textLines = 80});
        Split(dir, "src.pdf", "1s");
        for (int page = 1; page <= 4; ++page) {
            const std::string name = "src_page000" + std::to_string(page) + ".pdf";
            const std::string theirs = dir.File(name);
            ASSERT_EQ(RunProgram({"qpdf", "--empty", "--pages", dir.File("src.pdf"),
                                  std::to_string(page), "--", theirs}),
                      0);
            const std::string ours = dir.File("out/" + name);
            EXPECT_LE(std::filesystem::file_size(ours),
                      std::filesystem::file_size(theirs) * 11 / 10)
                << name;
            EXPECT_EQ(PageMarkers(ours), std::vector<int>{page});
            EXPECT_TRUE(QpdfCheckPasses(ours));
        }
    }
}
