#include "tests/support/PdfBuilder.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFNumberTreeObjectHelper.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

using QOH = QPDFObjectHandle;

QOH Destination(QOH page) {
    QOH dest = QOH::newArray();
    dest.appendItem(page);
    dest.appendItem(QOH::newName("/XYZ"));
    dest.appendItem(QOH::newInteger(0));
    dest.appendItem(QOH::newInteger(792));
    dest.appendItem(QOH::newNull());
    return dest;
}

} // namespace

namespace {

// Incompressible bytes, the same for the same seed.
std::string Noise(size_t size, uint32_t seed) {
    std::string noise(size, ' ');
    uint32_t state = 2463534242u + seed;
    for (char& c : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = "0123456789abcdef"[state & 15];
    }
    return noise;
}

QOH Indirect(QPDF& pdf, QOH value, bool indirect) {
    return indirect ? pdf.makeIndirectObject(value) : value;
}

} // namespace

void WritePdf(const std::string& path, const PdfRecipe& recipe) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    QPDF pdf;
    pdf.emptyPDF();
    QOH font = pdf.makeIndirectObject(
        QOH::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QOH resources = pdf.makeIndirectObject(QOH::newDictionary());
    QOH fonts = QOH::newDictionary();
    fonts.replaceKey("/F1", font);
    if (!recipe.unusedFont.empty())
        fonts.replaceKey("/F2", pdf.makeIndirectObject(QOH::parse(recipe.unusedFont)));
    resources.replaceKey("/Font", fonts);
    if (recipe.inheritedImages > 0) {
        QOH images = QOH::newDictionary();
        for (int k = 0; k < recipe.inheritedImages; ++k) {
            QOH image = QOH::newStream(&pdf, Noise(recipe.imageBytes, 7000u + k));
            QOH dict = image.getDict();
            dict.replaceKey("/Type", QOH::newName("/XObject"));
            dict.replaceKey("/Subtype", QOH::newName("/Image"));
            dict.replaceKey("/Width", QOH::newInteger(static_cast<long long>(recipe.imageBytes)));
            dict.replaceKey("/Height", QOH::newInteger(1));
            dict.replaceKey("/ColorSpace", QOH::newName("/DeviceGray"));
            dict.replaceKey("/BitsPerComponent", QOH::newInteger(8));
            images.replaceKey("/Im" + std::to_string(k), image);
        }
        resources.replaceKey("/XObject", images);
    }
    std::vector<QOH> pages;
    for (int i = 0; i < recipe.pages; ++i) {
        QOH page = pdf.makeIndirectObject(QOH::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
        std::string text = "BT /F1 24 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET\n";
        if (auto own = recipe.contents.find(i); own != recipe.contents.end())
            text = own->second;
        for (int line = 0; line < recipe.textLines; ++line)
            text += "BT /F1 10 Tf 72 " + std::to_string(700 - 12 * (line % 50)) +
                    " Td (The same line of text, again and again, as a long page has it.) Tj ET\n";
        if (recipe.tagged) {
            text = "/P <</MCID 0>> BDC " + text + "EMC\n";
            page.replaceKey("/StructParents", QOH::newInteger(i));
        }
        if (recipe.inheritedImages > 0)
            text += "q 400 0 0 20 72 600 cm /Im" + std::to_string(i % recipe.inheritedImages) +
                    " Do Q\n";
        if (recipe.paddingBytes) // text that does not compress away, so the page has weight
            text += "% " + Noise(recipe.paddingBytes, static_cast<uint32_t>(i)) + "\n";
        page.replaceKey("/Contents", QOH::newStream(&pdf, text));
        page.replaceKey("/Resources", resources);
        pdf.addPage(page, false);
        pages.push_back(pdf.getAllPages().back());
    }

    QOH root = pdf.getRoot();
    std::vector<std::pair<std::string, QOH>> namesTree;
    QOH oldDests = QOH::newDictionary();
    std::vector<std::vector<QOH>> annots(pages.size());

    if (recipe.links && !pages.empty()) {
        const int n = static_cast<int>(pages.size());
        for (int i = 0; i < n; ++i) {
            std::vector<int> targets{0};
            if (i + 1 < n)
                targets.push_back(i + 1);
            targets.push_back(n - 1);
            for (int t : targets) {
                QOH link = QOH::parse("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] >>");
                QOH dest = Destination(pages[static_cast<size_t>(t)]);
                const std::string name = "page" + std::to_string(t + 1);
                switch (recipe.linkForm) {
                case LinkForm::DestArray:
                    link.replaceKey("/Dest", dest);
                    break;
                case LinkForm::GoTo: {
                    QOH action = QOH::parse("<< /S /GoTo >>");
                    action.replaceKey("/D", dest);
                    link.replaceKey("/A", action);
                    break;
                }
                case LinkForm::NamedString:
                    if (std::none_of(namesTree.begin(), namesTree.end(),
                                     [&](const auto& e) { return e.first == name; }))
                        namesTree.emplace_back(name, dest);
                    link.replaceKey("/Dest", QOH::newString(name));
                    break;
                case LinkForm::NamedName:
                    oldDests.replaceKey("/" + name, dest);
                    link.replaceKey("/Dest", QOH::newName("/" + name));
                    break;
                }
                annots[static_cast<size_t>(i)].push_back(pdf.makeIndirectObject(link));
            }
        }
    }

    for (size_t i = 0; i < pages.size() && !recipe.otherFile.empty(); ++i) {
        QOH link = QOH::parse("<< /Type /Annot /Subtype /Link /Rect [0 20 10 30] "
                              "/A << /S /GoToR /D [0 /Fit] >> >>");
        link.getKey("/A").replaceKey("/F", QOH::newString(recipe.otherFile));
        annots[i].push_back(pdf.makeIndirectObject(link));
    }

    if (recipe.form && !pages.empty()) {
        QOH fields = QOH::newArray();
        QOH everywhere = pdf.makeIndirectObject(
            QOH::parse("<< /FT /Tx /T (everywhere) /V (on every page) /Kids [] >>"));
        QOH kids = QOH::newArray();
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            QOH text = pdf.makeIndirectObject(
                QOH::parse("<< /Type /Annot /Subtype /Widget /FT /Tx /Rect [72 500 300 520] "
                           "/DA (/Helv 12 Tf 0 g) >>"));
            text.replaceKey("/T", QOH::newString("text" + n));
            text.replaceKey("/V", QOH::newString("value " + n));
            text.replaceKey("/P", pages[i]);
            fields.appendItem(text);
            annots[i].push_back(text);
            QOH kid = pdf.makeIndirectObject(
                QOH::parse("<< /Type /Annot /Subtype /Widget /Rect [72 450 300 470] >>"));
            kid.replaceKey("/Parent", everywhere);
            kid.replaceKey("/P", pages[i]);
            kids.appendItem(kid);
            annots[i].push_back(kid);
        }
        everywhere.replaceKey("/Kids", kids);
        fields.appendItem(everywhere);
        QOH form =
            pdf.makeIndirectObject(QOH::parse("<< /DA (/Helv 0 Tf 0 g) /NeedAppearances true >>"));
        QOH helv = pdf.makeIndirectObject(QOH::parse(
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
        QOH drFonts = QOH::newDictionary();
        drFonts.replaceKey("/Helv", helv);
        QOH dr = QOH::newDictionary();
        dr.replaceKey("/Font", drFonts);
        form.replaceKey("/DR", dr);
        form.replaceKey("/Fields", fields);
        root.replaceKey("/AcroForm", form);
    }

    for (size_t i = 0; i < pages.size(); ++i) {
        if (recipe.junkAnnotations) {
            annots[i].insert(annots[i].begin(), QOH::newNull());
            annots[i].push_back(QOH::newInteger(7));
        }
        if (!annots[i].empty())
            pages[i].replaceKey("/Annots", QOH::newArray(annots[i]));
    }

    if (!recipe.outline.empty()) {
        QOH outlines = pdf.makeIndirectObject(QOH::parse("<< /Type /Outlines >>"));
        int named = 0;
        std::function<int(QOH, const std::vector<Bookmark>&)> add =
            [&](QOH parent, const std::vector<Bookmark>& items) {
                QOH prev;
                int visible = 0;
                for (const Bookmark& b : items) {
                    QOH item = pdf.makeIndirectObject(QOH::newDictionary());
                    // A title that starts with the UTF-8 mark is written as its bytes.
                    item.replaceKey("/Title", b.title.rfind("\xef\xbb\xbf", 0) == 0
                                                  ? QOH::newString(b.title)
                                                  : QOH::newUnicodeString(b.title));
                    item.replaceKey("/Parent", parent);
                    item.replaceKey("/C",
                                    Indirect(pdf, QOH::parse("[1 0 0]"), recipe.indirectValues));
                    if (b.page >= 0) {
                        QOH dest = Destination(pages.at(static_cast<size_t>(b.page)));
                        std::string name = "dest" + std::to_string(++named);
                        switch (b.kind) {
                        case DestKind::Explicit:
                            item.replaceKey("/Dest", dest);
                            break;
                        case DestKind::GoTo: {
                            QOH action = QOH::parse("<< /S /GoTo >>");
                            action.replaceKey("/D", dest);
                            item.replaceKey("/A", action);
                            break;
                        }
                        case DestKind::NamedString:
                            namesTree.emplace_back(name, dest);
                            item.replaceKey("/Dest", QOH::newString(name));
                            break;
                        case DestKind::NameInTree:
                            namesTree.emplace_back(name, dest);
                            item.replaceKey("/Dest", QOH::newName("/" + name));
                            break;
                        case DestKind::NamedName:
                            oldDests.replaceKey("/" + name, dest);
                            item.replaceKey("/Dest", QOH::newName("/" + name));
                            break;
                        case DestKind::NamedAction: {
                            QOH held = QOH::newDictionary();
                            held.replaceKey("/D", dest);
                            namesTree.emplace_back(name, held);
                            QOH action = QOH::parse("<< /S /GoTo >>");
                            action.replaceKey("/D", QOH::newString(name));
                            item.replaceKey("/A", action);
                            break;
                        }
                        case DestKind::None:
                            break;
                        }
                    }
                    if (prev.isInitialized()) {
                        prev.replaceKey("/Next", item);
                        item.replaceKey("/Prev", prev);
                    } else {
                        parent.replaceKey("/First", item);
                    }
                    parent.replaceKey("/Last", item);
                    prev = item;
                    int below = add(item, b.children);
                    if (below)
                        item.replaceKey("/Count", QOH::newInteger(b.open ? below : -below));
                    visible += 1 + (b.open ? below : 0);
                }
                return visible;
            };
        outlines.replaceKey("/Count", QOH::newInteger(add(outlines, recipe.outline)));
        if (recipe.outlineLoop) {
            QOH first = outlines.getKey("/First");
            first.getKey("/Last").replaceKey("/Next", first.getKey("/First"));
        }
        root.replaceKey("/Outlines", outlines);
    }
    if (!namesTree.empty()) {
        // Name trees keep their keys sorted.
        std::sort(namesTree.begin(), namesTree.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        QOH sorted = QOH::newArray();
        for (auto& [k, v] : namesTree) {
            sorted.appendItem(QOH::newString(k));
            sorted.appendItem(v);
        }
        QOH dests = QOH::newDictionary();
        dests.replaceKey("/Names", sorted);
        QOH names = QOH::newDictionary();
        names.replaceKey("/Dests", pdf.makeIndirectObject(dests));
        root.replaceKey("/Names", names);
    }
    if (!oldDests.getKeys().empty())
        root.replaceKey("/Dests", pdf.makeIndirectObject(oldDests));

    if (!recipe.pageLabelNums.empty()) {
        QOH labels = QOH::newDictionary();
        labels.replaceKey("/Nums", QOH::parse(recipe.pageLabelNums));
        root.replaceKey("/PageLabels", labels);
    } else if (recipe.pageLabels) {
        QOH labels = QOH::parse("<< /Nums [0 << /S /r >> 2 << /S /D /St 1 >>] >>");
        if (recipe.indirectValues)
            labels.getKey("/Nums").getArrayItem(1).replaceKey(
                "/P", pdf.makeIndirectObject(QOH::newString("p-")));
        root.replaceKey("/PageLabels", labels);
    }

    QOH pagesNode = root.getKey("/Pages");
    if (recipe.inheritedImages > 0) {
        pagesNode.replaceKey("/Resources", resources);
        for (QOH& page : pages)
            page.removeKey("/Resources");
    }
    if (recipe.pageTreeDepth > 0) {
        // A chain of page tree nodes, each holding only the next, the last one the pages.
        QOH kids = pagesNode.getKey("/Kids");
        QOH parent = pagesNode;
        for (int d = 0; d < recipe.pageTreeDepth; ++d) {
            QOH node = pdf.makeIndirectObject(QOH::newDictionary());
            node.replaceKey("/Type", QOH::newName("/Pages"));
            node.replaceKey("/Count", QOH::newInteger(static_cast<long long>(pages.size())));
            node.replaceKey("/Parent", parent);
            parent.replaceKey("/Kids", QOH::newArray(std::vector<QOH>{node}));
            parent = node;
        }
        parent.replaceKey("/Kids", kids);
        for (QOH& page : pages)
            page.replaceKey("/Parent", parent);
    }

    if (recipe.tagged) {
        QOH tree = pdf.makeIndirectObject(QOH::parse(
            "<< /Type /StructTreeRoot /RoleMap << /Para /P /Unused /Span >> "
            "/ClassMap << /body << /O /Layout /SpaceAfter 6 >> /unused << /O /Layout >> >> >>"));
        QOH document = pdf.makeIndirectObject(QOH::parse("<< /Type /StructElem /S /Document >>"));
        document.replaceKey("/P", tree);
        QOH kids = QOH::newArray(), nums = QOH::newArray(), ids = QOH::newArray();
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::string id = "p" + std::to_string(i + 1);
            QOH para = pdf.makeIndirectObject(
                QOH::parse("<< /Type /StructElem /S /Para /C /body /K 0 >>"));
            para.replaceKey("/P", document);
            para.replaceKey("/Pg", pages[i]);
            para.replaceKey("/ID", QOH::newString(id));
            kids.appendItem(para);
            if (recipe.altFigures) {
                QOH figure = pdf.makeIndirectObject(
                    QOH::parse("<< /Type /StructElem /S /Figure /Alt (a picture) >>"));
                figure.replaceKey("/P", document);
                figure.replaceKey("/Pg", pages[i]);
                figure.replaceKey("/Ref", QOH::newArray({para}));
                kids.appendItem(figure);
                // ... and is referred to by the paragraph of the page before.
                if (i > 0)
                    kids.getArrayItem(kids.getArrayNItems() - 4)
                        .replaceKey("/Ref", QOH::newArray({figure}));
            }
            nums.appendItem(QOH::newInteger(static_cast<long long>(i)));
            nums.appendItem(QOH::newArray(std::vector<QOH>{para}));
            ids.appendItem(QOH::newString(id));
            ids.appendItem(para);
        }
        if (recipe.tagLoop && !kids.getArrayAsVector().empty())
            kids.getArrayItem(kids.getArrayNItems() - 1)
                .replaceKey("/K", QOH::newArray(std::vector<QOH>{QOH::newInteger(0), document}));
        document.replaceKey("/K", kids);
        tree.replaceKey("/K", document);
        QOH parentTree = QOH::newDictionary();
        parentTree.replaceKey("/Nums", nums);
        tree.replaceKey("/ParentTree", pdf.makeIndirectObject(parentTree));
        tree.replaceKey("/ParentTreeNextKey",
                        QOH::newInteger(static_cast<long long>(pages.size())));
        QOH idTree = QOH::newDictionary();
        idTree.replaceKey("/Names", ids);
        tree.replaceKey("/IDTree", pdf.makeIndirectObject(idTree));
        root.replaceKey("/StructTreeRoot", tree);
        root.replaceKey("/MarkInfo", QOH::parse("<< /Marked true >>"));
        root.replaceKey("/Lang", QOH::newString("en-GB"));
    }
    if (recipe.checkbox && !pages.empty()) {
        QOH on = QOH::newStream(&pdf, "0 0 1 rg 0 0 20 20 re f");
        on.getDict().replaceKey("/BBox", QOH::parse("[0 0 20 20]"));
        QOH widget = pdf.makeIndirectObject(
            QOH::parse("<< /Type /Annot /Subtype /Widget /Rect [72 300 92 320] /AS /Yes >>"));
        QOH states = QOH::newDictionary();
        states.replaceKey("/Yes", on);
        QOH ap = QOH::newDictionary();
        ap.replaceKey("/N", states);
        widget.replaceKey("/AP", ap);
        QOH field =
            pdf.makeIndirectObject(QOH::parse("<< /FT /Btn /T (agree) /V /Yes /Kids [] >>"));
        field.replaceKey("/Kids", QOH::newArray(std::vector<QOH>{widget}));
        root.replaceKey("/AcroForm", QOH::newDictionary());
        root.getKey("/AcroForm").replaceKey("/Fields", QOH::newArray(std::vector<QOH>{field}));
        pages[0].replaceKey("/Annots", QOH::newArray(std::vector<QOH>{widget}));
    }

    if (!recipe.xmp.empty()) {
        QOH xmp = QOH::newStream(&pdf, recipe.xmp);
        xmp.getDict().replaceKey("/Type", QOH::newName("/Metadata"));
        xmp.getDict().replaceKey("/Subtype", QOH::newName("/XML"));
        root.replaceKey("/Metadata", xmp);
    }

    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    if (recipe.uncompressed)
        writer.setCompressStreams(false);
    if (!recipe.userPassword.empty())
        writer.setR6EncryptionParameters(recipe.userPassword.c_str(), "owner", true, true, true,
                                         true, true, true, qpdf_r3p_full, true);
    writer.write();
}

std::vector<int> PageMarkers(const std::string& path) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
    std::vector<int> markers;
    const std::regex marker(R"(\(Page (\d+)\))");
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        std::string content;
        for (QOH& stream : page.getPageContents()) {
            auto data = stream.getStreamData(qpdf_dl_all);
            content.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        }
        std::smatch m;
        markers.push_back(std::regex_search(content, m, marker) ? std::stoi(m[1]) : -1);
    }
    return markers;
}

std::vector<OutlineEntry> ReadOutline(const std::string& path) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
    std::map<QPDFObjGen, int> index;
    int i = 0;
    for (QOH page : pdf.getAllPages())
        index[page.getObjGen()] = i++;
    QPDFOutlineDocumentHelper helper(pdf);
    std::vector<OutlineEntry> out;
    std::function<void(std::vector<QPDFOutlineObjectHelper>, int)> walk =
        [&](std::vector<QPDFOutlineObjectHelper> items, int depth) {
            for (QPDFOutlineObjectHelper& item : items) {
                QOH page = item.getDestPage();
                auto it = page.isNull() ? index.end() : index.find(page.getObjGen());
                out.push_back({item.getTitle(), it == index.end() ? -1 : it->second, depth,
                               item.getCount() > 0});
                walk(item.getKids(), depth + 1);
            }
        };
    walk(helper.getTopLevelOutlines(), 0);
    return out;
}

namespace {

std::string Roman(long long n) {
    static const std::pair<int, const char*> parts[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string out;
    for (auto [value, text] : parts)
        for (; n >= value; n -= value)
            out += text;
    return out;
}

std::unique_ptr<QPDF> Open(const std::string& path) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processFile(path.c_str());
    return pdf;
}

std::map<QPDFObjGen, int> PageIndex(QPDF& pdf) {
    std::map<QPDFObjGen, int> index;
    int i = 0;
    for (QOH page : pdf.getAllPages())
        index[page.getObjGen()] = i++;
    return index;
}

// The page a destination shows, following names through /Dests and the name tree.
int DestPage(QPDF& pdf, QOH dest, const std::map<QPDFObjGen, int>& index) {
    QOH root = pdf.getRoot();
    if (dest.isName()) {
        dest = root.getKey("/Dests").isDictionary() ? root.getKey("/Dests").getKey(dest.getName())
                                                    : QOH::newNull();
    } else if (dest.isString()) {
        QOH names = root.getKey("/Names");
        QOH tree = names.isDictionary() ? names.getKey("/Dests") : QOH::newNull();
        QOH found;
        if (!tree.isDictionary() ||
            !QPDFNameTreeObjectHelper(tree, pdf).findObject(dest.getUTF8Value(), found))
            return -1;
        dest = found;
    }
    if (dest.isDictionary())
        dest = dest.getKey("/D");
    if (!dest.isArray() || dest.getArrayNItems() < 1)
        return -1;
    QOH page = dest.getArrayItem(0);
    auto it = page.isIndirect() ? index.find(page.getObjGen()) : index.end();
    return it == index.end() ? -1 : it->second;
}

} // namespace

std::vector<std::string> PageLabels(const std::string& path) {
    auto pdf = Open(path);
    QPDFPageLabelDocumentHelper helper(*pdf);
    QOH labels = pdf->getRoot().getKey("/PageLabels");
    std::vector<std::string> out;
    const long long n = static_cast<long long>(pdf->getAllPages().size());
    for (long long i = 0; i < n; ++i) {
        if (!helper.hasPageLabels()) {
            out.push_back(std::to_string(i + 1));
            continue;
        }
        QOH label;
        long long offset = 0;
        if (!QPDFNumberTreeObjectHelper(labels, *pdf).findObjectAtOrBelow(i, label, offset) ||
            !label.isDictionary()) {
            out.push_back("(none)");
            continue;
        }
        const std::string style = label.getKey("/S").isName() ? label.getKey("/S").getName() : "";
        const long long number =
            (label.getKey("/St").isInteger() ? label.getKey("/St").getIntValue() : 1) + offset;
        std::string text = label.getKey("/P").isString() ? label.getKey("/P").getUTF8Value() : "";
        if (style == "/D")
            text += std::to_string(number);
        else if (style == "/r")
            text += Roman(number);
        else if (!style.empty())
            text += "?" + std::to_string(number);
        out.push_back(text);
    }
    return out;
}

bool HasPageLabels(const std::string& path) {
    return Open(path)->getRoot().hasKey("/PageLabels");
}

bool QpdfCheckPasses(const std::string& path) {
    return RunProgram({"qpdf", "--check", path}) == 0;
}

std::vector<std::vector<int>> LinkTargets(const std::string& path) {
    auto pdf = Open(path);
    const auto index = PageIndex(*pdf);
    std::vector<std::vector<int>> out;
    for (QOH page : pdf->getAllPages()) {
        std::vector<int> targets;
        QOH annots = page.getKey("/Annots");
        for (int a = 0; annots.isArray() && a < annots.getArrayNItems(); ++a) {
            QOH annot = annots.getArrayItem(a);
            if (!annot.isDictionary()) {
                targets.push_back(-2);
                continue;
            }
            if (!annot.getKey("/Subtype").isNameAndEquals("/Link"))
                continue;
            QOH dest = annot.getKey("/Dest");
            QOH action = annot.getKey("/A");
            if (dest.isNull() && action.isDictionary())
                dest = action.getKey("/D");
            targets.push_back(DestPage(*pdf, dest, index));
        }
        out.push_back(targets);
    }
    return out;
}

std::vector<std::vector<std::string>> LinkJumps(const std::string& path) {
    auto pdf = Open(path);
    const auto index = PageIndex(*pdf);
    std::vector<std::vector<std::string>> out;
    for (QOH page : pdf->getAllPages()) {
        std::vector<std::string> jumps;
        for (QOH annot : page.getKey("/Annots").aitems()) {
            if (!annot.getKey("/Subtype").isNameAndEquals("/Link"))
                continue;
            QOH dest = annot.getKey("/Dest");
            QOH action = annot.getKey("/A");
            if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoToR")) {
                QOH file = action.getKey("/F");
                QOH d = action.getKey("/D");
                std::string to = file.isString() ? file.getUTF8Value() : "?";
                if (d.isArray() && d.getArrayItem(0).isInteger())
                    to += "#" + std::to_string(d.getArrayItem(0).getIntValue());
                else if (d.isString() || d.isName())
                    to += "#" + (d.isName() ? d.getName() : d.getUTF8Value());
                jumps.push_back(to);
                continue;
            }
            if (dest.isNull() && action.isDictionary())
                dest = action.getKey("/D");
            jumps.push_back(dest.isNull() ? "-" : std::to_string(DestPage(*pdf, dest, index)));
        }
        out.push_back(jumps);
    }
    return out;
}

std::string StructureOf(const std::string& path) {
    auto pdf = Open(path);
    QOH root = pdf->getRoot();
    QOH tree = root.getKey("/StructTreeRoot");
    if (!tree.isDictionary())
        return "";
    const auto index = PageIndex(*pdf);
    auto pageOf = [&](QOH page) {
        auto it = page.isIndirect() ? index.find(page.getObjGen()) : index.end();
        return it == index.end() ? std::string("-") : std::to_string(it->second);
    };
    std::string out = root.getKey("/Lang").isString() ? root.getKey("/Lang").getUTF8Value() : "";
    out += "|";
    std::function<void(QOH, QOH, int)> walk = [&](QOH node, QOH parent, int depth) {
        for (QOH kid : node.getKey("/K").isArray() ? node.getKey("/K").getArrayAsVector()
                                                   : std::vector<QOH>{node.getKey("/K")}) {
            if (!kid.isDictionary() || !kid.getKey("/S").isName() || depth > 50)
                continue;
            out += kid.getKey("/S").getName().substr(1) + "@" + pageOf(kid.getKey("/Pg"));
            if (kid.getKey("/P").getObjGen() != parent.getObjGen())
                out += "!";
            for (QOH ref : kid.getKey("/Ref").aitems())
                out += ">" + ref.getKey("/S").getName().substr(1) + "@" + pageOf(ref.getKey("/Pg"));
            out += " ";
            walk(kid, kid, depth + 1);
        }
    };
    walk(tree, tree, 0);
    auto keys = [](QOH dict) {
        std::string s;
        for (const std::string& k : dict.isDictionary() ? dict.getKeys() : std::set<std::string>{})
            s += k.substr(1) + " ";
        return s;
    };
    out += "|roles " + keys(tree.getKey("/RoleMap")) + "|classes " + keys(tree.getKey("/ClassMap"));
    out += "|ids ";
    QOH ids = tree.getKey("/IDTree");
    if (ids.isDictionary())
        for (auto [key, value] : QPDFNameTreeObjectHelper(ids, *pdf))
            out += key + " ";
    bool sound = true;
    QOH parents = tree.getKey("/ParentTree");
    for (QOH page : pdf->getAllPages()) {
        QOH key = page.getKey("/StructParents");
        QOH array;
        if (!key.isInteger() || !parents.isDictionary() ||
            !QPDFNumberTreeObjectHelper(parents, *pdf).findObject(key.getIntValue(), array))
            continue;
        for (int mcid = 0; array.isArray() && mcid < array.getArrayNItems(); ++mcid) {
            QOH element = array.getArrayItem(mcid);
            if (element.isNull())
                continue;
            bool found = false;
            for (QOH k : element.getKey("/K").isArray() ? element.getKey("/K").getArrayAsVector()
                                                        : std::vector<QOH>{element.getKey("/K")})
                found = found || (k.isInteger() && k.getIntValue() == mcid);
            sound = sound && found && element.getKey("/Pg").getObjGen() == page.getObjGen();
        }
    }
    return out + "|parent tree " + (sound ? "ok" : "wrong");
}

std::map<std::string, int> NamedDestinations(const std::string& path) {
    auto pdf = Open(path);
    const auto index = PageIndex(*pdf);
    std::map<std::string, int> out;
    QOH root = pdf->getRoot();
    QOH dests = root.getKey("/Dests");
    if (dests.isDictionary())
        for (const std::string& key : dests.getKeys())
            out[key] = DestPage(*pdf, dests.getKey(key), index);
    QOH names = root.getKey("/Names");
    QOH tree = names.isDictionary() ? names.getKey("/Dests") : QOH::newNull();
    if (tree.isDictionary())
        for (auto [key, value] : QPDFNameTreeObjectHelper(tree, *pdf))
            out[key] = DestPage(*pdf, value, index);
    return out;
}

std::vector<FormField> FormFields(const std::string& path) {
    auto pdf = Open(path);
    std::set<QPDFObjGen> onPages;
    for (QOH page : pdf->getAllPages()) {
        QOH annots = page.getKey("/Annots");
        for (int a = 0; annots.isArray() && a < annots.getArrayNItems(); ++a)
            onPages.insert(annots.getArrayItem(a).getObjGen());
    }
    QPDFAcroFormDocumentHelper form(*pdf);
    // qpdf lists the widgets of a field as terminal fields of the same name; they are counted
    // together here.
    std::map<std::string, FormField> byName;
    for (QPDFFormFieldObjectHelper& field : form.getFormFields()) {
        int widgets = 0;
        for (QPDFAnnotationObjectHelper& w : form.getAnnotationsForField(field))
            widgets += onPages.count(w.getObjectHandle().getObjGen()) ? 1 : 0;
        FormField& entry = byName[field.getFullyQualifiedName()];
        entry.name = field.getFullyQualifiedName();
        entry.value = field.getValueAsString();
        if (field.getValue().isName()) // a button's state
            entry.value = field.getValue().getName();
        entry.widgets += widgets;
    }
    std::vector<FormField> out;
    for (auto& [name, field] : byName)
        out.push_back(field);
    return out;
}

std::string FormDefaults(const std::string& path) {
    auto pdf = Open(path);
    QOH form = pdf->getRoot().getKey("/AcroForm");
    if (!form.isDictionary())
        return "";
    QOH da = form.getKey("/DA");
    QOH dr = form.getKey("/DR");
    QOH need = form.getKey("/NeedAppearances");
    const bool drFonts = dr.isDictionary() && dr.getKey("/Font").isDictionary() &&
                         !dr.getKey("/Font").getKeys().empty();
    return (da.isString() ? da.getStringValue() : "") + "|" + (drFonts ? "fonts" : "-") + "|" +
           (need.isBool() && need.getBoolValue() ? "true" : "false");
}

namespace {
std::vector<std::vector<std::string>> PageResourceNames(const std::string& path,
                                                        const std::string& type) {
    auto pdf = Open(path);
    std::vector<std::vector<std::string>> out;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*pdf).getAllPages()) {
        QOH resources = page.getAttribute("/Resources", false);
        QOH dict = resources.isDictionary() ? resources.getKey(type) : QOH::newNull();
        std::vector<std::string> names;
        if (dict.isDictionary())
            for (const std::string& key : dict.getKeys())
                names.push_back(key);
        out.push_back(names);
    }
    return out;
}
} // namespace

std::vector<std::vector<std::string>> PageImages(const std::string& path) {
    return PageResourceNames(path, "/XObject");
}

std::vector<std::vector<std::string>> PageFonts(const std::string& path) {
    return PageResourceNames(path, "/Font");
}

int RunProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteTruncatedPdf(const std::string& path, int pages) {
    WritePdf(path, {.pages = pages});
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 3);
}

void WriteNotAPdf(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "This is a text file that only pretends.\n";
}

} // namespace testing_support
