// Parts keep what their pages need, checked on the files a split writes.
#include "tests/cli/CliRun.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

using namespace testing_support;

namespace {

using Jumps = std::vector<std::vector<std::string>>; // per page, per link

// Splits `source` (in the temporary folder) with `params` into `out/`.
void Split(CTempDir& dir, const std::string& source, const std::string& params) {
    const CliResult r =
        RunCli({"split", dir.File(source), params, "--to", dir.File("out"), "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
}

using QOH = QPDFObjectHandle;

// Writes a PDF of objects given as text, numbered from 1, the first the catalog; "<< ... >>
// stream DATA" is a stream of DATA. `r(n)` names object n.
std::string r(int n) {
    return std::to_string(n) + " 0 R";
}
void WriteObjects(const std::string& path, const std::vector<std::string>& objects,
                  const std::string& trailer = "") {
    std::string text = "%PDF-1.7\n";
    for (size_t i = 0; i < objects.size(); ++i) {
        std::string object = objects[i];
        if (const size_t at = object.find(">> stream "); at != std::string::npos) {
            const std::string data = object.substr(at + 10);
            object = object.substr(0, at) + " /Length " + std::to_string(data.size()) +
                     " >>\nstream\n" + data + "\nendstream";
        }
        text += std::to_string(i + 1) + " 0 obj\n" + object + "\nendobj\n";
    }
    text += "trailer << /Root 1 0 R " + trailer + " >>\n";
    QPDF pdf; // finds the objects without a cross-reference table
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("objects", text.data(), text.size());
    QPDFWriter(pdf, path.c_str()).write();
}

// An action and the ones it chains, as "GoTo 1>URI": a GoTo by the 0-based page it shows in
// its file ("-" for none), a GoToR as "file#page".
std::string Chain(QOH action, const std::vector<QOH>& pages) {
    std::string out;
    for (int hop = 0; action.isDictionary() && hop < 9; ++hop, action = action.getKey("/Next")) {
        QOH to = action.getKey("/D").isArray() ? action.getKey("/D").getArrayItem(0) : QOH();
        std::string page = to.isInteger() ? std::to_string(to.getIntValue()) : "-";
        for (size_t p = 0; p < pages.size(); ++p)
            if (to.isIndirect() && pages[p].getObjGen() == to.getObjGen())
                page = std::to_string(p);
        const std::string type = action.getKey("/S").getName().substr(1);
        out += (out.empty() ? "" : ">") + (type == "GoToR"
                                               ? action.getKey("/F").getUTF8Value() + "#" + page
                                           : type == "GoTo" ? "GoTo " + page
                                                            : type);
    }
    return out;
}

// Per page: its opening and closing actions, each annotation's action and opening action.
std::vector<std::vector<std::string>> PageActions(const std::string& path) {
    QPDF pdf;
    pdf.processFile(path.c_str());
    const std::vector<QOH> pages = pdf.getAllPages();
    std::vector<std::vector<std::string>> out;
    for (QOH page : pages) {
        out.push_back({Chain(page.getKey("/AA").getKey("/O"), pages),
                       Chain(page.getKey("/AA").getKey("/C"), pages)});
        for (QOH annot : page.getKey("/Annots").aitems())
            for (QOH action : {annot.getKey("/A"), annot.getKey("/AA").getKey("/PO")})
                out.back().push_back(Chain(action, pages));
    }
    return out;
}

// The /T of each field of an array, or the /Name of each layer, as "a,b,".
std::string Names(QOH array) {
    std::string out;
    for (QOH item : array.aitems())
        out += item.getKey(item.hasKey("/T") ? "/T" : "/Name").getUTF8Value() + ",";
    return out;
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
        // A figure tagged only with its alternate text still stands on its page.
        {{.pages = 6, .tagged = true, .altFigures = true},
         "en-GB|Document@- Para@0>Figure@1 Figure@0>Para@0 Para@1 Figure@1>Para@1 |roles Para "
         "|classes body |ids p2 p3 |parent tree ok"},
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

// Pages without links or tags are written from the source's own objects, the others copied:
// a part mixing both must still carry a shared font once, and a page's reference to a page
// outside its part must not bring that page along.
TEST(PartFidelityTest, PartsOfPlainAndLinkedPagesCarrySharedObjectsOnce) {
    CTempDir dir(true);
    {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle font = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
        std::vector<QPDFObjectHandle> pages;
        for (int i = 0; i < 3; ++i) {
            QPDFObjectHandle page = pdf.makeIndirectObject(
                QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 200] >>"));
            page.replaceKey("/Resources", QPDFObjectHandle::parse("<< /Font << >> >>"));
            page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
            page.replaceKey("/Contents", pdf.newStream("BT /F1 9 Tf 9 9 Td (page " +
                                                       std::to_string(i + 1) + ") Tj ET"));
            pdf.addPage(page, false);
            pages.push_back(pdf.getAllPages().back());
        }
        // The first page's open action shows the last page; the second page has a link.
        QPDFObjectHandle show = QPDFObjectHandle::parse("<< /S /GoTo >>");
        show.replaceKey("/D",
                        QPDFObjectHandle::newArray({pages[2], QPDFObjectHandle::newName("/Fit")}));
        pages[0].replaceKey("/AA", QPDFObjectHandle::parse("<< >>"));
        pages[0].getKey("/AA").replaceKey("/O", show);
        QPDFObjectHandle link = QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Border [0 0 0] >>");
        link.replaceKey("/Dest",
                        QPDFObjectHandle::newArray({pages[0], QPDFObjectHandle::newName("/Fit")}));
        pages[1].replaceKey("/Annots", QPDFObjectHandle::newArray({pdf.makeIndirectObject(link)}));
        const std::string path = dir.File("src.pdf");
        QPDFWriter w(pdf, path.c_str());
        w.write();
    }
    Split(dir, "src.pdf", "1-3,1-2,1");
    const struct {
        std::string part;
        size_t pages;
    } cases[] = {
        {"src_pages0001-0003.pdf", 3}, {"src_pages0001-0002.pdf", 2}, {"src_page0001.pdf", 1}};
    for (const auto& c : cases) {
        QPDF part;
        part.processFile(dir.File("out/" + c.part).c_str());
        size_t fonts = 0, pageObjects = 0;
        for (QPDFObjectHandle object : part.getAllObjects()) {
            fonts += object.isDictionaryOfType("/Font");
            pageObjects += object.isDictionaryOfType("/Page");
        }
        EXPECT_EQ(fonts, 1u) << c.part;
        EXPECT_EQ(pageObjects, c.pages) << c.part;
        EXPECT_TRUE(QpdfCheckPasses(dir.File("out/" + c.part))) << c.part;
    }
}

// Actions beyond a link's own jump: a page's opening and closing action (one object), a
// widget's, and the actions a link chains after its own. Each leads where the link itself
// would: into its part, to the sibling part that holds its page, or out of the chain.
TEST(PartFidelityTest, ChainedAndPageActionsLeadIntoThePartsThatHoldTheirPages) {
    CTempDir dir(true);
    // Page N (object 3 + 4N) opens and closes by object 4 + 4N, then has a link and a widget.
    std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [3 0 R 7 0 R 11 0 R 15 0 R] /Count 4 >>"};
    for (int at = 3; at < 19; at += 4) {
        objects.push_back("<< /Type /Page /Parent 2 0 R /AA << /O " + r(at + 1) + " /C " +
                          r(at + 1) + " >> /Annots [" + r(at + 2) + " " + r(at + 3) + "] >>");
        objects.push_back("<< /S /GoTo /D [" + r(at == 15 ? 3 : at + 4) + " /Fit] >>");
        objects.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /URI /URI "
                          "(https://example.com/) /Next << /S /GoTo /D [15 0 R /Fit] >> >> >>");
        objects.push_back("<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /AA << /PO << /S "
                          "/GoTo /D [3 0 R /Fit] /Next << /S /URI /URI (https://example.com/) "
                          ">> >> >> >>");
    }
    WriteObjects(dir.File("src.pdf"), objects);
    const std::string a = "src_pages0001-0002.pdf#", b = "src_pages0003-0004.pdf#";
    const struct {
        std::string params, part;
        std::vector<std::vector<std::string>> actions;
    } cases[] = {
        {"1-2,3-4",
         "src_pages0001-0002.pdf",
         {{"GoTo 1", "GoTo 1", "URI>" + b + "1", "", "", "GoTo 0>URI"},
          {b + "0", b + "0", "URI>" + b + "1", "", "", "GoTo 0>URI"}}},
        {"1-2,3-4",
         "src_pages0003-0004.pdf",
         {{"GoTo 1", "GoTo 1", "URI>GoTo 1", "", "", a + "0>URI"},
          {a + "0", a + "0", "URI>GoTo 1", "", "", a + "0>URI"}}},
        // Jumps to pages no part holds go; what they chain stays.
        {"2", "src_page0002.pdf", {{"", "", "URI", "", "", "URI"}}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        Split(dir, "src.pdf", c.params);
        EXPECT_EQ(PageActions(dir.File("out/" + c.part)), c.actions) << c.part;
        EXPECT_TRUE(QpdfCheckPasses(dir.File("out/" + c.part))) << c.part;
    }
}

// Each page draws its image through a form, a form in a form, or a pattern, all over one
// resource dictionary of every image: a part carries only what its pages draw.
TEST(PartFidelityTest, PartsCarryOnlyTheImagesTheirPagesDraw) {
    for (const std::string drawn : {"form", "nested", "pattern"}) {
        const bool pattern = drawn == "pattern";
        // 3: the shared resources; per page from 4 on: the page, its image, what draws it, an
        // outer form and the page's content.
        std::vector<std::string> o{
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [4 0 R 9 0 R 14 0 R 19 0 R] /Count 4 >>",
            pattern ? "<< /Pattern <<" : "<< /XObject <<"};
        for (int at = 4; at < 24; at += 5) {
            const std::string n = std::to_string(at);
            o[2] += (pattern ? " /P" : " /Im") + n + " " + r(pattern ? at + 2 : at + 1);
            o.push_back("<< /Type /Page /Parent 2 0 R /Contents " + r(at + 4) + " /Resources " +
                        (pattern ? "3 0 R"
                                 : "<< /XObject << /Fm " + r(drawn == "form" ? at + 2 : at + 3) +
                                       " >> >>") +
                        " >>");
            o.push_back("<< /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                        "/BitsPerComponent 8 >> stream " +
                        n.substr(0, 1));
            o.push_back(pattern
                            ? "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 9 9] "
                              "/XStep 9 /YStep 9 /Resources << /XObject << /Im " +
                                  r(at + 1) + " >> >> >> stream /Im Do"
                            : "<< /Subtype /Form /BBox [0 0 9 9] /Resources 3 0 R >> stream /Im" +
                                  n + " Do");
            o.push_back("<< /Subtype /Form /BBox [0 0 9 9] /Resources << /XObject << /In " +
                        r(at + 2) + " >> >> >> stream /In Do");
            o.push_back(pattern ? "<< >> stream /Pattern cs /P" + n + " scn 0 0 9 9 re f"
                                : "<< >> stream /Fm Do");
        }
        o[2] += " >> >>";
        CTempDir dir(true);
        WriteObjects(dir.File("src.pdf"), o);
        Split(dir, "src.pdf", "1s,2-3");
        for (const auto& [name, pages] : {std::pair{"src_page0001.pdf", 1},
                                          {"src_page0004.pdf", 1},
                                          {"src_pages0002-0003.pdf", 2}}) {
            QPDF part;
            part.processFile(dir.File(std::string("out/") + name).c_str());
            int images = 0;
            for (QOH object : part.getAllObjects())
                images += object.isStream() &&
                          object.getDict().getKey("/Subtype").isNameAndEquals("/Image");
            EXPECT_EQ(images, pages) << name << " " << drawn;
            EXPECT_TRUE(QpdfCheckPasses(dir.File(std::string("out/") + name)));
        }
    }
}

// Layers the source hides stay hidden in its parts, which list only the layers their pages use
// and open as the source does; the form's calculation order lists the fields each part holds;
// readers show the source's title.
TEST(PartFidelityTest, PartsKeepTheirLayersCalculationOrderAndDocumentInformation) {
    CTempDir dir(true);
    // Page 2 alone uses the third layer; "price" is on page 1, "count" on page 2, "total" on
    // pages 2 and 3.
    WriteObjects(
        dir.File("src.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /PageMode /UseOC /PageLayout /TwoColumnLeft "
         "/OCProperties << /OCGs [6 0 R 7 0 R 8 0 R] /D << /Order [6 0 R [7 0 R 8 0 R]] /OFF "
         "[7 0 R] >> >> /AcroForm << /Fields [10 0 R 11 0 R 12 0 R] /CO [12 0 R 11 0 R 10 0 R] "
         ">> >>",
         "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /Resources << "
         "/Properties << /L0 6 0 R /L1 7 0 R >> >> >>",
         "<< /Type /Page /Parent 2 0 R /Contents 9 0 R /Annots [13 0 R] >>",
         "<< /Type /Page /Parent 2 0 R /Contents [9 0 R 18 0 R] /Annots [14 0 R 15 0 R] "
         "/Resources << "
         "/Properties << /L0 6 0 R /L1 7 0 R /L2 8 0 R >> >> >>",
         "<< /Type /Page /Parent 2 0 R /Annots [16 0 R] >>", "<< /Type /OCG /Name (shown) >>",
         "<< /Type /OCG /Name (hidden) >>", "<< /Type /OCG /Name (page 2) >>",
         "<< >> stream /OC /L0 BDC 0 0 9 9 re f EMC /OC /L1 BDC 9 9 9 9 re f EMC",
         "<< /FT /Tx /T (price) /Kids [13 0 R] >>", "<< /FT /Tx /T (count) /Kids [14 0 R] >>",
         "<< /FT /Tx /T (total) /Kids [15 0 R 16 0 R] >>",
         "<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /Parent 10 0 R >>",
         "<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /Parent 11 0 R >>",
         "<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /Parent 12 0 R >>",
         "<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /Parent 12 0 R >>",
         "<< /Title (Report) >>", "<< >> stream /OC /L2 BDC 0 0 9 9 re f EMC"},
        "/Info 17 0 R");
    Split(dir, "src.pdf", "1,2-3,3");
    for (const auto& [name, kept] :
         {std::pair{"src_page0001.pdf",
                    "shown,hidden,|hidden,|/UseOC /TwoColumnLeft|price,|Report"},
          {"src_pages0002-0003.pdf",
           "shown,hidden,page 2,|hidden,|/UseOC /TwoColumnLeft|total,count,|Report"},
          {"src_page0003.pdf", "||/TwoColumnLeft|total,|Report"}}) {
        QPDF part;
        part.processFile(dir.File(std::string("out/") + name).c_str());
        QOH root = part.getRoot(), oc = root.getKey("/OCProperties");
        EXPECT_EQ(Names(oc.getKey("/OCGs")) + "|" + Names(oc.getKey("/D").getKey("/OFF")) + "|" +
                      (root.hasKey("/PageMode") ? root.getKey("/PageMode").getName() + " " : "") +
                      root.getKey("/PageLayout").getName() + "|" +
                      Names(root.getKey("/AcroForm").getKey("/CO")) + "|" +
                      part.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(),
                  kept)
            << name;
    }
}

// A layers panel whose arrays each name the next twice (2^59 paths to the last) is made once
// per array, and written as small as it is in the source.
TEST(PartFidelityTest, ALayersPanelOfSharedArraysIsMadeOnce) {
    std::vector<std::string> o{
        "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R] /D << /Order [6 0 R] >> "
        ">> >>",
        "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Properties << /L 5 0 R >> "
        ">> >>",
        "<< >> stream /OC /L BDC 0 0 9 9 re f EMC", "<< /Type /OCG /Name (layer) >>"};
    for (int n = 7; n <= 65; ++n)
        o.push_back("[" + r(n) + " " + r(n) + "]");
    o.push_back("[5 0 R]");
    CTempDir dir(true);
    WriteObjects(dir.File("src.pdf"), o);
    Split(dir, "src.pdf", "1");
    EXPECT_LT(std::filesystem::file_size(dir.File("out/src_page0001.pdf")), 8000u);
}

// The 0-based place of `page` among `pages`, their count when it is none of them.
long PageOf(const std::vector<QOH>& pages, QOH page) {
    return std::find_if(pages.begin(), pages.end(),
                        [&](const QOH& p) { return p.getObjGen() == page.getObjGen(); }) -
           pages.begin();
}

// A document protected by an owner password alone opens for anyone, but its author's
// restrictions and passwords must hold for its parts as well.
TEST(PartFidelityTest, PartsOfAnEncryptedSourceKeepItsEncryption) {
    // qpdf's arguments after the passwords, and the revision they make.
    for (const auto& [args, revision] :
         {std::pair{std::vector<std::string>{"256", "--print=none", "--modify=none"}, 6},
          {{"128", "--use-aes=y", "--print=none", "--modify=none"}, 4},
          {{"128", "--use-aes=n", "--print=none", "--extract=n"}, 3},
          {{"40", "--print=n", "--modify=n"}, 2}}) {
        CTempDir dir(true);
        WritePdf(dir.File("plain.pdf"), {.pages = 3});
        std::vector<std::string> qpdf{"qpdf", "--allow-weak-crypto", "--encrypt", "", "owner"};
        qpdf.insert(qpdf.end(), args.begin(), args.end());
        qpdf.insert(qpdf.end(), {"--", dir.File("plain.pdf"), dir.File("src.pdf")});
        ASSERT_EQ(RunProgram(qpdf), 0);
        Split(dir, "src.pdf", "1,2-3");
        const std::string path = dir.File("out/src_pages0002-0003.pdf");
        QPDF part;
        part.processFile(path.c_str(), "owner");
        int r = 0, p = 0;
        EXPECT_TRUE(part.isEncrypted(r, p) && part.ownerPasswordMatched() && r == revision &&
                    !part.allowPrintLowRes() && part.allowModifyAll() == (r == 3) &&
                    part.allowExtractAll() == (r != 3))
            << "R " << r;
        EXPECT_EQ(PageMarkers(path), (std::vector<int>{2, 3}));
        EXPECT_TRUE(QpdfCheckPasses(path));
    }
}

// Links to other files, and web addresses without a base, name them relative to the
// document's folder: a part written into another folder names the same files from there.
// Links between the parts of a job stay as they are, and so do absolute names, addresses and
// parts in the source's own folder.
// The first two pages share their links, the last of them a /Dest to the third page.
TEST(PartFidelityTest, LinksToOtherFilesOpenTheSameFilesFromThePartsFolder) {
    const std::string links = "/Annots [5 0 R 6 0 R 7 0 R 8 0 R 9 0 R 10 0 R 11 0 R] >>";
    std::vector<std::string> o{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [3 0 R 12 0 R 4 0 R] /Count 3 >>",
        "<< /Type /Page /Parent 2 0 R " + links, "<< /Type /Page /Parent 2 0 R >>"};
    for (const char* action :
         {"/S /GoToR /F (other.pdf) /D [0 /Fit]",
          "/S /Launch /F << /F (../docs/a b.pdf) /UF (../docs/a b.pdf) >>",
          "/S /URI /URI (https://example.com/) /Next << /S /GoToR /F (/abs/x.pdf) /D [0 /Fit] >>",
          "/S /GoToR /F << /FS /URL /F (other.pdf) >> /D [0 /Fit]", "/S /GoTo /D [4 0 R /Fit]",
          "/S /URI /URI (notes/intro.html#top)"})
        o.push_back("<< /Subtype /Link /Rect [0 0 9 9] /A << " + std::string(action) + " >> >>");
    o.push_back("<< /Subtype /Link /Rect [0 0 9 9] /Dest [4 0 R /Fit] >>");
    o.push_back("<< /Type /Page /Parent 2 0 R " + links);
    CTempDir dir(true);
    WriteObjects(dir.File("src.pdf"), o);
    for (const auto& [folder, expected] :
         {std::pair{"out", "(../other.pdf) << /F (../../docs/a b.pdf) /UF (../../docs/a b.pdf) >> "
                           "(/abs/x.pdf) << /F (other.pdf) /FS /URL >> (src_page0003.pdf) "
                           "(../notes/intro.html#top) (src_page0003.pdf) "},
          {".", "(other.pdf) << /F (../docs/a b.pdf) /UF (../docs/a b.pdf) >> (/abs/x.pdf) << /F "
                "(other.pdf) /FS /URL >> (src_page0003.pdf) (notes/intro.html#top) "
                "(src_page0003.pdf) "}}) {
        ASSERT_EQ(RunCli({"split", dir.File("src.pdf"), "1-2,3", "--to", dir.File(folder)}).status,
                  0);
        const std::string path = dir.File(std::string(folder) + "/src_pages0001-0002.pdf");
        QPDF part;
        part.processFile(path.c_str());
        std::string files;
        QOH page = part.getAllPages().front();
        for (QOH annot : page.getKey("/Annots").aitems()) {
            QOH action = annot.getKey("/A").hasKey("/Next") ? annot.getKey("/A").getKey("/Next")
                                                            : annot.getKey("/A");
            files += action.getKey(action.hasKey("/URI") ? "/URI" : "/F").unparse() + " ";
        }
        EXPECT_EQ(files, expected) << folder;
        EXPECT_TRUE(QpdfCheckPasses(path)) << folder;
    }
}

// A part opens with the source's view, at the same page where it holds that page or at its
// first page where the source opens at its own; relative web addresses keep their base, the
// document's scripts stay for the fields and links that call them, and an article runs through
// pages 1-3 (beads 7, 8, 9) and again over page 1 (bead 10, after 9): a part follows it through
// the beads on its own pages, in the source's reading order.
TEST(PartFidelityTest, PartsKeepTheirViewWebAddressBaseScriptsAndArticles) {
    // The source's /OpenAction; per part of "1,2-3,1-3" its opening page and view.
    for (const auto& [open, views] :
         {std::pair{"[3 0 R /FitH 100]", "0 /FitH 100|0 /FitH 100|0 /FitH 100|"},
          {"<< /S /GoTo /D [4 0 R /Fit] >>", "|0 /Fit|1 /Fit|"},
          {"<< /S /GoTo /D (two) >>", "|0 /XYZ|1 /XYZ|"},
          {"<< /S /JavaScript /JS (app.alert\\(1\\)) >>", "|||"}}) {
        CTempDir dir(true);
        WriteObjects(dir.File("src.pdf"),
                     {"<< /Type /Catalog /Pages 2 0 R /URI << /Base (https://example.com/) >> "
                      "/Names << /Dests << /Names [(two) [4 0 R /XYZ]] >> /JavaScript << /Names "
                      "[(lib) << /S /JavaScript /JS (function total\\(\\) {}) >>] >> >> "
                      "/Threads [6 0 R] /OpenAction " +
                          std::string(open) + " >>",
                      "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                      "<< /Type /Page /Parent 2 0 R /B [7 0 R 10 0 R] >>",
                      "<< /Type /Page /Parent 2 0 R /B [8 0 R] >>",
                      "<< /Type /Page /Parent 2 0 R /B [9 0 R] >>",
                      "<< /Type /Thread /F 7 0 R /I << /Title (Story) >> >>",
                      "<< /T 6 0 R /N 8 0 R /V 10 0 R /P 3 0 R /R [0 0 9 9] >>",
                      "<< /T 6 0 R /N 9 0 R /V 7 0 R /P 4 0 R /R [0 0 9 9] >>",
                      "<< /T 6 0 R /N 10 0 R /V 8 0 R /P 5 0 R /R [0 0 9 9] >>",
                      "<< /T 6 0 R /N 7 0 R /V 9 0 R /P 3 0 R /R [0 0 5 5] >>"});
        Split(dir, "src.pdf", "1,2-3,1-3");
        // Per part its view; per thread its title and each bead from the first along /N as
        // "page:width", with "<" where the next bead's /V does not lead back.
        std::string kept, articles;
        for (const std::string name :
             {"src_page0001.pdf", "src_pages0002-0003.pdf", "src_pages0001-0003.pdf"}) {
            QPDF part;
            part.processFile(dir.File("out/" + name).c_str());
            QOH root = part.getRoot(), view = root.getKey("/OpenAction");
            EXPECT_EQ(root.getKey("/URI").getKey("/Base").getUTF8Value() + " " +
                          root.getKey("/Names").getKey("/JavaScript").getKey("/Names").unparse(),
                      "https://example.com/ [ (lib) << /JS (function total\\(\\) {}) /S "
                      "/JavaScript >> ]");
            for (int i = 0; view.isArray() && i < view.getArrayNItems(); ++i)
                kept += i ? " " + view.getArrayItem(i).unparse()
                          : std::to_string(PageOf(part.getAllPages(), view.getArrayItem(0)));
            for (QOH thread : root.getKey("/Threads").aitems()) {
                articles += thread.getKey("/I").getKey("/Title").getUTF8Value();
                QOH bead = thread.getKey("/F");
                for (int hop = 0;
                     hop < 9 && (hop == 0 || bead.getObjGen() != thread.getKey("/F").getObjGen());
                     ++hop, bead = bead.getKey("/N"))
                    articles +=
                        " " + std::to_string(PageOf(part.getAllPages(), bead.getKey("/P"))) + ":" +
                        bead.getKey("/R").getArrayItem(2).unparse() +
                        (bead.getKey("/N").getKey("/V").getObjGen() == bead.getObjGen() ? "" : "<");
            }
            kept += "|";
            articles += "|";
            EXPECT_TRUE(QpdfCheckPasses(dir.File("out/" + name))) << name;
        }
        EXPECT_EQ(kept, views) << open;
        EXPECT_EQ(articles, "Story 0:9 0:5|Story 0:9 1:9|Story 0:9 1:9 2:9 0:5|") << open;
    }
}

// Bookmarks that show no page stay where the items below them go, or where the item before
// them shows a page (the first page when none does). Damage the parts must survive: the
// preferences and a chain lead to the page tree, a page's actions are a page, or open it.
TEST(PartFidelityTest, BookmarksThatShowNoPageStayWithThePagesAroundThem) {
    CTempDir dir(true);
    WriteObjects(
        dir.File("src.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /ViewerPreferences << /X 2 0 R >> >>",
         "<< /Type /Pages /MediaBox [0 0 9 9] /Kids [4 0 R 5 0 R 6 0 R] /Count 3 >>",
         "<< /Type /Outlines /First 7 0 R /Last 11 0 R >>", "<< /Type /Page /Parent 2 0 R >>",
         "<< /Type /Page /Parent 2 0 R /AA 4 0 R >>",
         "<< /Type /Page /Parent 2 0 R /AA << /O << /S /Launch /F 6 0 R >> >> >>",
         "<< /Title (Web) /Next 8 0 R /A << /S /URI /URI (https://example.com/) /Next 2 0 R >> >>",
         "<< /Title (H) /Next 10 0 R /First 9 0 R /Last 9 0 R >>",
         "<< /Title (A) /Parent 8 0 R /Dest [4 0 R /Fit] >>",
         "<< /Title (C) /Next 11 0 R /A << /S /GoTo /D [6 0 R /Fit] >> >>",
         "<< /Title (G) /First 12 0 R /Last 12 0 R /Count -1 >>", "<< /Title (U) /A 13 0 R >>",
         "<< /S /URI /URI (notes.html) >>"});
    Split(dir, "src.pdf", "1-2,3");
    for (const auto& [name, expected] :
         {std::pair{"src_pages0001-0002.pdf", "Web https://example.com/|H |.A 0|"},
          {"src_page0003.pdf", "C 0|G |.U ../notes.html|"}}) {
        QPDF part;
        part.processFile(dir.File(std::string("out/") + name).c_str());
        std::string outline; // per item "." a level, its title, its page or web address
        std::function<void(QOH, std::string)> walk = [&](QOH at, const std::string& in) {
            for (; at.isDictionary(); at = at.getKey("/Next")) {
                QOH dest = at.getKey("/Dest"), action = at.getKey("/A");
                outline += in + at.getKey("/Title").getUTF8Value() + " " +
                           (dest.isArray()
                                ? std::to_string(PageOf(part.getAllPages(), dest.getArrayItem(0)))
                            : action.isDictionary() ? action.getKey("/URI").getUTF8Value()
                                                    : "") +
                           "|";
                walk(at.getKey("/First"), in + ".");
            }
        };
        walk(part.getRoot().getKey("/Outlines").getKey("/First"), "");
        EXPECT_EQ(outline, expected) << name;
        EXPECT_TRUE(QpdfCheckPasses(dir.File(std::string("out/") + name))) << name;
    }
}
