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

// Writes a document of `pages` pages built by `make` from a fresh empty one.
void WriteBuilt(const std::string& path, const std::function<void(QPDF&)>& make) {
    QPDF pdf;
    pdf.emptyPDF();
    make(pdf);
    QPDFWriter writer(pdf, path.c_str());
    writer.write();
}

QOH AddPage(QPDF& pdf, const std::string& content, QOH resources) {
    QOH page = pdf.makeIndirectObject(QOH::parse("<< /Type /Page /MediaBox [0 0 200 200] >>"));
    page.replaceKey("/Contents", pdf.newStream(content));
    page.replaceKey("/Resources", resources);
    pdf.addPage(page, false);
    return pdf.getAllPages().back();
}

// An action and the ones it chains, as "GoTo 1>URI": a GoTo by the 0-based page it shows in
// its file ("GoTo -" for none), a GoToR as "file#page".
std::string Chain(QOH action, const std::vector<QOH>& pages) {
    std::string out;
    for (int hops = 0; action.isDictionary() && hops < 10; ++hops) {
        if (!out.empty())
            out += ">";
        QOH type = action.getKey("/S");
        QOH dest = action.getKey("/D");
        if (type.isNameAndEquals("/GoTo")) {
            auto it = std::find_if(pages.begin(), pages.end(), [&](QOH page) {
                return dest.isArray() && page.getObjGen() == dest.getArrayItem(0).getObjGen();
            });
            out += "GoTo " + (it == pages.end() ? "-" : std::to_string(it - pages.begin()));
        } else if (type.isNameAndEquals("/GoToR")) {
            out += action.getKey("/F").getUTF8Value() + "#" +
                   std::to_string(dest.getArrayItem(0).getIntValue());
        } else {
            out += type.isName() ? type.getName().substr(1) : "?";
        }
        action = action.getKey("/Next");
    }
    return out;
}

// Per page: its opening and closing actions, then each annotation's action, then each
// annotation's own opening action ("open " first), "" where there is none.
std::vector<std::vector<std::string>> PageActions(const std::string& path) {
    QPDF pdf;
    pdf.processFile(path.c_str());
    const std::vector<QOH> pages = pdf.getAllPages();
    std::vector<std::vector<std::string>> out;
    for (QOH page : pages) {
        std::vector<std::string> actions{Chain(page.getKey("/AA").getKey("/O"), pages),
                                         Chain(page.getKey("/AA").getKey("/C"), pages)};
        for (QOH annot : page.getKey("/Annots").aitems()) {
            actions.push_back(Chain(annot.getKey("/A"), pages));
            const std::string open = Chain(annot.getKey("/AA").getKey("/PO"), pages);
            if (!open.empty())
                actions.push_back("open " + open);
        }
        out.push_back(actions);
    }
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

// Actions beyond a link's own jump: a page's opening action, a widget's, and the actions a
// link chains after its own. Each leads where the link itself would: into its part, to the
// sibling part that holds its page, or out of the chain.
TEST(PartFidelityTest, ChainedAndPageActionsLeadIntoThePartsThatHoldTheirPages) {
    CTempDir dir(true);
    WriteBuilt(dir.File("src.pdf"), [](QPDF& pdf) {
        std::vector<QOH> pages;
        for (int i = 0; i < 4; ++i)
            pages.push_back(AddPage(pdf, "", QOH::newDictionary()));
        auto goTo = [&](int page) {
            QOH action = QOH::parse("<< /S /GoTo >>");
            action.replaceKey(
                "/D", QOH::newArray({pages[static_cast<size_t>(page)], QOH::newName("/Fit")}));
            return action;
        };
        for (int i = 0; i < 4; ++i) {
            // Page N opens and closes on the next page (one action for both); its link opens an
            // address and then the last page.
            QOH aa = QOH::newDictionary();
            aa.replaceKey("/O", pdf.makeIndirectObject(goTo((i + 1) % 4)));
            aa.replaceKey("/C", aa.getKey("/O"));
            pages[static_cast<size_t>(i)].replaceKey("/AA", aa);
            QOH uri = QOH::parse("<< /S /URI /URI (https://example.com/) >>");
            uri.replaceKey("/Next", goTo(3));
            QOH link = QOH::parse("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] >>");
            link.replaceKey("/A", uri);
            // A widget that shows the first page once its page is open, then the address.
            QOH widget =
                QOH::parse("<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 65536 /Rect [9 9 19 "
                           "19] >>");
            widget.replaceKey("/T", QOH::newString("b" + std::to_string(i)));
            QOH first = goTo(0);
            first.replaceKey("/Next", QOH::parse("<< /S /URI /URI (https://example.com/) >>"));
            widget.replaceKey("/AA", QOH::newDictionary());
            widget.getKey("/AA").replaceKey("/PO", first);
            pages[static_cast<size_t>(i)].replaceKey(
                "/Annots",
                QOH::newArray({pdf.makeIndirectObject(link), pdf.makeIndirectObject(widget)}));
        }
    });
    const struct {
        std::string params;
        std::string part;
        std::vector<std::vector<std::string>> actions;
    } cases[] = {
        {"1-2,3-4",
         "src_pages0001-0002.pdf",
         {{"GoTo 1", "GoTo 1", "URI>src_pages0003-0004.pdf#1", "", "open GoTo 0>URI"},
          {"src_pages0003-0004.pdf#0", "src_pages0003-0004.pdf#0", "URI>src_pages0003-0004.pdf#1",
           "", "open GoTo 0>URI"}}},
        {"1-2,3-4",
         "src_pages0003-0004.pdf",
         {{"GoTo 1", "GoTo 1", "URI>GoTo 1", "", "open src_pages0001-0002.pdf#0>URI"},
          {"src_pages0001-0002.pdf#0", "src_pages0001-0002.pdf#0", "URI>GoTo 1", "",
           "open src_pages0001-0002.pdf#0>URI"}}},
        // Jumps to pages no part holds go; what they chain stays.
        {"2", "src_page0002.pdf", {{"", "", "URI", "", "open URI"}}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        Split(dir, "src.pdf", c.params);
        const std::string part = dir.File("out/" + c.part);
        EXPECT_EQ(PageActions(part), c.actions) << c.part;
        EXPECT_TRUE(QpdfCheckPasses(part)) << c.part;
    }
}

// A form drawn on each page may name one resource dictionary of every font and image, as the
// pages themselves may, and so may the patterns a page paints with: a part carries only what
// its pages draw.
TEST(PartFidelityTest, PartsCarryOnlyTheFontsAndImagesTheirPagesDraw) {
    enum class Drawn { Form, NestedForm, Pattern };
    for (Drawn drawn : {Drawn::Form, Drawn::NestedForm, Drawn::Pattern}) {
        const bool pattern = drawn == Drawn::Pattern;
        CTempDir dir(true);
        WriteBuilt(dir.File("src.pdf"), [&](QPDF& pdf) {
            QOH all = pdf.makeIndirectObject(
                QOH::parse("<< /Font << >> /XObject << >> /Pattern << >> >>"));
            for (int i = 0; i < 4; ++i) {
                const std::string n = std::to_string(i);
                // Patterns paint in the one font every page writes with.
                if (!pattern || i == 0)
                    all.getKey("/Font").replaceKey(
                        "/F" + n, pdf.makeIndirectObject(QOH::parse(
                                      "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>")));
                QOH image = pdf.newStream(std::string(16 * 3, static_cast<char>('a' + i)));
                image.replaceDict(QOH::parse("<< /Type /XObject /Subtype /Image /Width 4 "
                                             "/Height 4 /ColorSpace /DeviceRGB "
                                             "/BitsPerComponent 8 >>"));
                if (!pattern) {
                    all.getKey("/XObject").replaceKey("/Im" + n, image);
                    continue;
                }
                QOH tile = pdf.newStream("q 9 0 0 9 0 0 cm /Im Do Q");
                tile.replaceDict(QOH::parse("<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox "
                                            "[0 0 9 9] /XStep 9 /YStep 9 /Resources << "
                                            "/XObject << >> >> >>"));
                tile.getDict().getKey("/Resources").getKey("/XObject").replaceKey("/Im", image);
                all.getKey("/Pattern").replaceKey("/P" + n, tile);
            }
            for (int i = 0; i < 4; ++i) {
                const std::string n = std::to_string(i);
                if (pattern) {
                    AddPage(pdf,
                            "BT /F0 9 Tf (page) Tj ET /Pattern cs /P" + n + " scn 0 0 9 9 re f",
                            all);
                    continue;
                }
                QOH form =
                    pdf.newStream("BT /F" + n + " 9 Tf (page " + n + ") Tj ET /Im" + n + " Do");
                form.getDict().replaceKey("/Subtype", QOH::newName("/Form"));
                form.getDict().replaceKey("/BBox", QOH::parse("[0 0 200 200]"));
                form.getDict().replaceKey("/Resources", all);
                if (drawn == Drawn::NestedForm) {
                    QOH outer = pdf.newStream("/Inner Do");
                    outer.getDict().replaceKey("/Subtype", QOH::newName("/Form"));
                    outer.getDict().replaceKey("/BBox", QOH::parse("[0 0 200 200]"));
                    outer.getDict().replaceKey("/Resources", QOH::parse("<< /XObject << >> >>"));
                    outer.getDict()
                        .getKey("/Resources")
                        .getKey("/XObject")
                        .replaceKey("/Inner", form);
                    form = outer;
                }
                QOH resources = QOH::parse("<< /XObject << >> >>");
                resources.getKey("/XObject").replaceKey("/Fm", form);
                AddPage(pdf, "/Fm Do", resources);
            }
        });
        Split(dir, "src.pdf", "1s,2-3");
        for (const auto& [name, pages] : {std::pair{"src_page0001.pdf", 1},
                                          {"src_page0004.pdf", 1},
                                          {"src_pages0002-0003.pdf", 2}}) {
            QPDF part;
            part.processFile(dir.File(std::string("out/") + name).c_str());
            int fonts = 0, images = 0;
            for (QOH object : part.getAllObjects()) {
                fonts += object.isDictionaryOfType("/Font");
                images += object.isStream() &&
                          object.getDict().getKey("/Subtype").isNameAndEquals("/Image");
            }
            const std::string what =
                name + std::string(" of drawing ") + std::to_string(static_cast<int>(drawn));
            EXPECT_EQ(fonts, pattern ? 1 : pages) << what;
            EXPECT_EQ(images, pages) << what;
            EXPECT_EQ(part.getAllPages().size(), static_cast<size_t>(pages));
            EXPECT_TRUE(QpdfCheckPasses(dir.File(std::string("out/") + name)));
        }
    }
}

// Layers the source hides stay hidden in its parts, which list only the layers their pages
// use and open as the source does.
TEST(PartFidelityTest, PartsKeepTheLayersTheirPagesUseAsTheSourceShowsThem) {
    CTempDir dir(true);
    WriteBuilt(dir.File("src.pdf"), [](QPDF& pdf) {
        std::vector<QOH> layers;
        for (const char* name : {"shown", "hidden", "page 2"})
            layers.push_back(pdf.makeIndirectObject(
                QOH::parse("<< /Type /OCG /Name (" + std::string(name) + ") >>")));
        for (int i = 0; i < 3; ++i) {
            QOH properties = QOH::newDictionary();
            for (int l = 0; l < (i == 1 ? 3 : 2); ++l)
                properties.replaceKey("/L" + std::to_string(l), layers[static_cast<size_t>(l)]);
            QOH resources = QOH::newDictionary();
            resources.replaceKey("/Properties", properties);
            AddPage(pdf, "/OC /L0 BDC 0 0 9 9 re f EMC /OC /L1 BDC 9 9 9 9 re f EMC", resources);
        }
        QOH oc = QOH::parse("<< /D << /OFF [] >> >>");
        oc.replaceKey("/OCGs", QOH::newArray(layers));
        oc.getKey("/D").replaceKey("/Order", QOH::newArray(layers));
        oc.getKey("/D").getKey("/OFF").appendItem(layers[1]);
        pdf.getRoot().replaceKey("/OCProperties", oc);
        pdf.getRoot().replaceKey("/PageMode", QOH::newName("/UseOC"));
        pdf.getRoot().replaceKey("/PageLayout", QOH::newName("/TwoColumnLeft"));
    });
    Split(dir, "src.pdf", "1,2-3");
    const auto names = [](QOH array) {
        std::string out;
        for (QOH layer : array.aitems())
            out += layer.getKey("/Name").getUTF8Value() + ",";
        return out;
    };
    for (const auto& [name, layers] :
         {std::pair{"src_page0001.pdf",
                    "shown,hidden,|shown,hidden,|hidden,|/UseOC /TwoColumnLeft"},
          {"src_pages0002-0003.pdf",
           "shown,hidden,page 2,|shown,hidden,page 2,|hidden,|/UseOC /TwoColumnLeft"}}) {
        QPDF part;
        part.processFile(dir.File(std::string("out/") + name).c_str());
        QOH root = part.getRoot();
        QOH oc = root.getKey("/OCProperties");
        EXPECT_EQ(names(oc.getKey("/OCGs")) + "|" + names(oc.getKey("/D").getKey("/Order")) + "|" +
                      names(oc.getKey("/D").getKey("/OFF")) + "|" +
                      root.getKey("/PageMode").getName() + " " +
                      root.getKey("/PageLayout").getName(),
                  layers)
            << name;
    }
}

// A form's calculation order lists the fields each part holds, in the source's order.
TEST(PartFidelityTest, PartsKeepTheCalculationOrderOfTheirFields) {
    CTempDir dir(true);
    WriteBuilt(dir.File("src.pdf"), [](QPDF& pdf) {
        std::vector<QOH> pages, fields;
        for (int i = 0; i < 3; ++i)
            pages.push_back(AddPage(pdf, "", QOH::newDictionary()));
        // "price" on page 1, "count" on page 2, "total" with widgets on pages 2 and 3.
        for (const auto& [name, on] :
             {std::pair{"price", std::vector<int>{0}}, {"count", {1}}, {"total", {1, 2}}}) {
            QOH field = pdf.makeIndirectObject(QOH::parse("<< /FT /Tx /Kids [] >>"));
            field.replaceKey("/T", QOH::newString(name));
            for (int page : on) {
                QOH widget = pdf.makeIndirectObject(
                    QOH::parse("<< /Type /Annot /Subtype /Widget /Rect [0 0 9 9] >>"));
                widget.replaceKey("/Parent", field);
                field.getKey("/Kids").appendItem(widget);
                QOH annots = pages[static_cast<size_t>(page)].getKey("/Annots");
                if (!annots.isArray())
                    pages[static_cast<size_t>(page)].replaceKey("/Annots", QOH::newArray());
                pages[static_cast<size_t>(page)].getKey("/Annots").appendItem(widget);
            }
            fields.push_back(field);
        }
        QOH form = QOH::newDictionary();
        form.replaceKey("/Fields", QOH::newArray(fields));
        form.replaceKey("/CO", QOH::newArray({fields[2], fields[1], fields[0]}));
        pdf.getRoot().replaceKey("/AcroForm", pdf.makeIndirectObject(form));
    });
    Split(dir, "src.pdf", "1s,2-3,1-3");
    for (const auto& [name, order] : {std::pair{"src_page0001.pdf", "price,"},
                                      {"src_page0002.pdf", "total,count,"},
                                      {"src_page0003.pdf", "total,"},
                                      {"src_pages0002-0003.pdf", "total,count,"},
                                      {"src_pages0001-0003.pdf", "total,count,price,"}}) {
        QPDF part;
        part.processFile(dir.File(std::string("out/") + name).c_str());
        std::string listed;
        for (QOH field : part.getRoot().getKey("/AcroForm").getKey("/CO").aitems())
            listed += field.getKey("/T").getUTF8Value() + ",";
        EXPECT_EQ(listed, order) << name;
    }
}

// Readers show a document's title and author from its information dictionary.
TEST(PartFidelityTest, PartsKeepTheDocumentInformation) {
    for (bool indirect : {true, false}) {
        CTempDir dir(true);
        WriteBuilt(dir.File("src.pdf"), [&](QPDF& pdf) {
            for (int i = 0; i < 2; ++i)
                AddPage(pdf, "", QOH::newDictionary());
            QOH info = QOH::newDictionary();
            info.replaceKey("/Title", QOH::newUnicodeString("Café report"));
            info.replaceKey("/Author", QOH::newString("Ann"));
            pdf.getTrailer().replaceKey("/Info", indirect ? pdf.makeIndirectObject(info) : info);
        });
        Split(dir, "src.pdf", "1s");
        for (const char* name : {"src_page0001.pdf", "src_page0002.pdf"}) {
            QPDF part;
            part.processFile(dir.File(std::string("out/") + name).c_str());
            QOH info = part.getTrailer().getKey("/Info");
            EXPECT_EQ(info.getKey("/Title").getUTF8Value() + "|" +
                          info.getKey("/Author").getUTF8Value(),
                      "Café report|Ann")
                << name;
        }
    }
}
