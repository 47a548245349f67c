#include "tests/support/PdfBuilder.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

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

void WritePdf(const std::string& path, const PdfRecipe& recipe) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    QPDF pdf;
    pdf.emptyPDF();
    QOH font = pdf.makeIndirectObject(
        QOH::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QOH resources = pdf.makeIndirectObject(QOH::newDictionary());
    QOH fonts = QOH::newDictionary();
    fonts.replaceKey("/F1", font);
    resources.replaceKey("/Font", fonts);
    std::vector<QOH> pages;
    for (int i = 0; i < recipe.pages; ++i) {
        QOH page = pdf.makeIndirectObject(QOH::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
        std::string text = "BT /F1 24 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET\n";
        if (recipe.paddingBytes) {
            // Text that does not compress away, so the page has real weight.
            std::string noise(recipe.paddingBytes, ' ');
            uint32_t state = 2463534242u + static_cast<uint32_t>(i);
            for (char& c : noise) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                c = "0123456789abcdef"[state & 15];
            }
            text += "% " + noise + "\n";
        }
        page.replaceKey("/Contents", QOH::newStream(&pdf, text));
        page.replaceKey("/Resources", resources);
        pdf.addPage(page, false);
        pages.push_back(pdf.getAllPages().back());
    }
    if (recipe.links && !pages.empty()) {
        for (QOH& page : pages) {
            QOH annots = QOH::newArray();
            for (QOH target : {pages.front(), pages.back()}) {
                QOH link = QOH::parse("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] >>");
                link.replaceKey("/Dest", Destination(target));
                annots.appendItem(pdf.makeIndirectObject(link));
            }
            page.replaceKey("/Annots", annots);
        }
    }

    QOH root = pdf.getRoot();
    if (!recipe.outline.empty()) {
        QOH outlines = pdf.makeIndirectObject(QOH::parse("<< /Type /Outlines >>"));
        QOH namesTree = QOH::newArray();
        QOH oldDests = QOH::newDictionary();
        int named = 0;
        std::function<int(QOH, const std::vector<Bookmark>&)> add =
            [&](QOH parent, const std::vector<Bookmark>& items) {
                QOH prev;
                int visible = 0;
                for (const Bookmark& b : items) {
                    QOH item = pdf.makeIndirectObject(QOH::newDictionary());
                    item.replaceKey("/Title", QOH::newUnicodeString(b.title));
                    item.replaceKey("/Parent", parent);
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
                            namesTree.appendItem(QOH::newString(name));
                            namesTree.appendItem(dest);
                            item.replaceKey("/Dest", QOH::newString(name));
                            break;
                        case DestKind::NamedName:
                            oldDests.replaceKey("/" + name, dest);
                            item.replaceKey("/Dest", QOH::newName("/" + name));
                            break;
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
        root.replaceKey("/Outlines", outlines);
        if (namesTree.getArrayNItems() > 0) {
            // Name trees keep their keys sorted.
            std::vector<std::pair<std::string, QOH>> entries;
            for (int i = 0; i < namesTree.getArrayNItems(); i += 2)
                entries.emplace_back(namesTree.getArrayItem(i).getStringValue(),
                                     namesTree.getArrayItem(i + 1));
            std::sort(entries.begin(), entries.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            QOH sorted = QOH::newArray();
            for (auto& [k, v] : entries) {
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
    }
    if (recipe.pageLabels)
        root.replaceKey("/PageLabels",
                        QOH::parse("<< /Nums [0 << /S /r >> 2 << /S /D /St 1 >>] >>"));

    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
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

std::vector<std::string> PageLabels(const std::string& path) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
    QPDFPageLabelDocumentHelper helper(pdf);
    std::vector<std::string> out;
    const long long n = static_cast<long long>(pdf.getAllPages().size());
    for (long long i = 0; i < n; ++i) {
        if (!helper.hasPageLabels()) {
            out.push_back(std::to_string(i + 1));
            continue;
        }
        QOH label = helper.getLabelForPage(i);
        std::string style = label.getKey("/S").isName() ? label.getKey("/S").getName() : "";
        long long start = label.getKey("/St").isInteger() ? label.getKey("/St").getIntValue() : 1;
        if (style == "/r") {
            static const char* roman[] = {"i", "ii", "iii", "iv", "v", "vi", "vii", "viii"};
            out.push_back(start >= 1 && start <= 8 ? roman[start - 1] : "?");
        } else {
            out.push_back(std::to_string(start));
        }
    }
    return out;
}

bool QpdfCheckPasses(const std::string& path) {
    const std::string command = "qpdf --check '" + path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

void WriteTruncatedPdf(const std::string& path, int pages) {
    WritePdf(path, {.pages = pages});
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 3);
}

void WriteNotAPdf(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "This is a text file that only pretends.\n";
}

} // namespace testing_support
