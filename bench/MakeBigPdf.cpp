// Writes the benchmark's input: many pages of text in shared fonts, with a two-level outline.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: make-big-pdf OUT.pdf PAGES [CHAPTER_PAGES [SECTION_PAGES]]\n"
                     "  an outline item per CHAPTER_PAGES pages (default 10), with items below\n"
                     "  it every SECTION_PAGES pages after its first (default 5; 0: none)\n";
        return 2;
    }
    const int pages = std::atoi(argv[2]);
    const int chapterPages = std::max(1, argc > 3 ? std::atoi(argv[3]) : 10);
    const int sectionPages = argc > 4 ? std::atoi(argv[4]) : 5;
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
    const char* faces[] = {"Helvetica", "Times-Roman", "Courier"};
    for (int f = 0; f < 3; ++f)
        fonts.replaceKey(
            "/F" + std::to_string(f + 1),
            pdf.makeIndirectObject(QPDFObjectHandle::parse(
                std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + faces[f] + " >>")));
    QPDFObjectHandle resources = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    resources.replaceKey("/Font", fonts);

    std::vector<QPDFObjectHandle> pageObjects;
    for (int i = 0; i < pages; ++i) {
        std::string text = "BT /F1 18 Tf 72 740 Td (Page " + std::to_string(i + 1) + ") Tj ET\n";
        for (int line = 0; line < 40; ++line)
            text += "BT /F" + std::to_string(line % 3 + 1) + " 9 Tf 72 " +
                    std::to_string(700 - line * 16) + " Td (Line " + std::to_string(line) +
                    " of page " + std::to_string(i + 1) +
                    ": the quick brown fox jumps over the lazy dog.) Tj ET\n";
        QPDFObjectHandle page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, text));
        page.replaceKey("/Resources", resources);
        pdf.addPage(page, false);
        pageObjects.push_back(pdf.getAllPages().back());
    }

    QPDFObjectHandle outlines =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
    auto link = [](QPDFObjectHandle parent, QPDFObjectHandle item, QPDFObjectHandle& prev) {
        item.replaceKey("/Parent", parent);
        if (prev.isInitialized()) {
            prev.replaceKey("/Next", item);
            item.replaceKey("/Prev", prev);
        } else {
            parent.replaceKey("/First", item);
        }
        parent.replaceKey("/Last", item);
        prev = item;
    };
    auto entry = [&](const std::string& title, int page) {
        QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title));
        QPDFObjectHandle dest = QPDFObjectHandle::newArray();
        dest.appendItem(pageObjects[static_cast<size_t>(page)]);
        dest.appendItem(QPDFObjectHandle::newName("/Fit"));
        item.replaceKey("/Dest", dest);
        return item;
    };
    QPDFObjectHandle prevChapter;
    int items = 0;
    for (int start = 0; start < pages; start += chapterPages) {
        QPDFObjectHandle chapter =
            entry("Chapter " + std::to_string(start / chapterPages + 1), start);
        link(outlines, chapter, prevChapter);
        ++items;
        QPDFObjectHandle prevSection;
        int sections = 0;
        for (int p = start + 1; sectionPages > 0 && p < std::min(pages, start + chapterPages);
             p += sectionPages) {
            link(chapter, entry("Section on page " + std::to_string(p + 1), p), prevSection);
            ++sections;
            ++items;
        }
        if (sections)
            chapter.replaceKey("/Count", QPDFObjectHandle::newInteger(-sections));
    }
    outlines.replaceKey("/Count",
                        QPDFObjectHandle::newInteger((pages + chapterPages - 1) / chapterPages));
    pdf.getRoot().replaceKey("/Outlines", outlines);

    QPDFWriter writer(pdf, argv[1]);
    writer.setStaticID(true);
    writer.write();
    std::cerr << "wrote " << argv[1] << ": " << pages << " pages, " << items << " bookmarks\n";
    return 0;
}
