// The two PDF libraries at hand for reading pages, side by side on what the proposers ask of
// them: whether a page is blank once rendered, the text of a page, and how many pages a second
// each renders and reads on one core.
// Usage: proposer-library-bench KINDS_DIR BIG.pdf PAGES
//   KINDS_DIR receives one-page PDFs of known kinds; BIG.pdf is timed over its first PAGES.
#define POINTERHOLDER_TRANSITION 4
#include "propose/BlankProposer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPdfDocument>
#include <QPdfSelection>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Kind {
    const char* what;
    std::string content;
    bool blank;
    std::string text; // what the page's text must hold ("" for none)
};

const std::vector<Kind>& Kinds() {
    static const std::vector<Kind> kinds{
        {"empty content", "", true, ""},
        {"sets a colour only", "1 0 0 rg 0 0 1 RG", true, ""},
        {"draws outside the page", "0 g -500 -500 100 100 re f", true, ""},
        {"white rectangle over the page", "1 g 0 0 612 792 re f", true, ""},
        {"clip path only", "q 0 0 612 792 re W n Q", true, ""},
        {"hairline, 0.1 pt", "0 G 0.1 w 100 100 m 500 100 l S", false, ""},
        {"zero-width line", "0 G 0 w 100 300 m 500 300 l S", false, ""},
        {"light grey hairline", "0.9 G 0.05 w 100 300 m 100 700 l S", false, ""},
        {"one 4 pt full stop", "BT /F1 4 Tf 300 400 Td (.) Tj ET", false, ""},
        {"invoice line", "BT /F1 18 Tf 72 700 Td (INVOICE 1234) Tj ET", false, "INVOICE 1234"},
        {"two runs on one line", "BT /F1 12 Tf 72 700 Td (Total:) Tj 200 0 Td (1,234.00) Tj ET",
         false, "Total: 1,234.00"},
        {"Latin-1 text", "BT /F1 12 Tf 72 700 Td (Caf\\351 \\374ber) Tj ET", false,
         "Caf\xc3\xa9 \xc3\xbc"
         "ber"},
    };
    return kinds;
}

void WriteKind(const std::string& path, const std::string& content) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    QPDFObjectHandle page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
    QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/F1", font);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/Font", fonts);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    pdf.addPage(page, false);
    QPDFWriter writer(pdf, path.c_str());
    writer.write();
}

// The blank test the proposer applies, on 8-bit grey pictures of the page: a coarse one, and
// when that is nearly white but not white, a finer one.
template <typename Render> bool Blank(Render&& render) {
    propose::Verdict verdict = render(propose::kDotsPerInch);
    if (verdict == propose::Verdict::Closer)
        verdict = render(propose::kCloseDotsPerInch);
    return verdict != propose::Verdict::NotBlank;
}

bool PopplerBlank(poppler::document& doc, int index, poppler::page_renderer& renderer) {
    std::unique_ptr<poppler::page> page(doc.create_page(index));
    return Blank([&](double dpi) {
        const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
        return propose::JudgePicture(reinterpret_cast<const unsigned char*>(image.const_data()),
                                     image.width(), image.height(), image.bytes_per_row(), {});
    });
}

std::string PopplerText(poppler::document& doc, int index) {
    std::unique_ptr<poppler::page> page(doc.create_page(index));
    const auto utf8 =
        page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
    return std::string(utf8.begin(), utf8.end());
}

bool QtBlank(QPdfDocument& doc, int index) {
    const QSizeF points = doc.pagePointSize(index);
    return Blank([&](double dpi) {
        QImage image = doc.render(index, (points * dpi / 72).toSize());
        image = image.convertToFormat(QImage::Format_Grayscale8);
        return propose::JudgePicture(image.constBits(), image.width(), image.height(),
                                     static_cast<int>(image.bytesPerLine()), {});
    });
}

std::string QtText(QPdfDocument& doc, int index) {
    return doc.getAllText(index).text().toStdString();
}

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: proposer-library-bench KINDS_DIR BIG.pdf PAGES\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const std::string dir = argv[1];
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_gray8);

    std::printf("| page | blank | poppler blank | Qt PDF blank | poppler text | Qt PDF text |\n");
    std::printf("|---|---|---|---|---|---|\n");
    int popplerRight = 0, qtRight = 0, checks = 0;
    for (size_t i = 0; i < Kinds().size(); ++i) {
        const Kind& kind = Kinds()[i];
        const std::string path = dir + "/kind" + std::to_string(i) + ".pdf";
        WriteKind(path, kind.content);
        std::unique_ptr<poppler::document> pdoc(poppler::document::load_from_file(path));
        QPdfDocument qdoc;
        qdoc.load(QString::fromStdString(path));
        const bool pBlank = PopplerBlank(*pdoc, 0, renderer);
        const bool qBlank = QtBlank(qdoc, 0);
        const std::string pText = PopplerText(*pdoc, 0);
        const std::string qText = QtText(qdoc, 0);
        const bool pFound = kind.text.empty() || pText.find(kind.text) != std::string::npos;
        const bool qFound = kind.text.empty() || qText.find(kind.text) != std::string::npos;
        popplerRight += (pBlank == kind.blank) + pFound;
        qtRight += (qBlank == kind.blank) + qFound;
        checks += 2;
        std::printf("| %s | %s | %s | %s | %s | %s |\n", kind.what, kind.blank ? "yes" : "no",
                    pBlank == kind.blank ? "right" : "WRONG",
                    qBlank == kind.blank ? "right" : "WRONG",
                    kind.text.empty() ? "-"
                    : pFound          ? "right"
                                      : "WRONG",
                    kind.text.empty() ? "-"
                    : qFound          ? "right"
                                      : "WRONG");
    }
    std::printf("\nright answers: poppler %d of %d, Qt PDF %d of %d\n\n", popplerRight, checks,
                qtRight, checks);

    const int pages = std::atoi(argv[3]);
    std::unique_ptr<poppler::document> pdoc(poppler::document::load_from_file(argv[2]));
    QPdfDocument qdoc;
    qdoc.load(QString::fromUtf8(argv[2]));
    const int n = std::min({pages, pdoc->pages(), qdoc.pageCount()});
    auto rate = [n](auto&& work) {
        const double start = CpuSeconds();
        for (int i = 0; i < n; ++i)
            work(i);
        return n / std::max(1e-9, CpuSeconds() - start);
    };
    size_t sink = 0;
    const double pRender = rate([&](int i) { sink += PopplerBlank(*pdoc, i, renderer); });
    const double qRender = rate([&](int i) { sink += QtBlank(qdoc, i); });
    const double pText = rate([&](int i) { sink += PopplerText(*pdoc, i).size(); });
    const double qText = rate([&](int i) { sink += QtText(qdoc, i).size(); });
    std::printf("| %d text pages, pages per CPU second | poppler | Qt PDF |\n|---|---|---|\n", n);
    std::printf("| render and test for blank | %.0f | %.0f |\n", pRender, qRender);
    std::printf("| extract the text | %.0f | %.0f |\n", pText, qText);
    return sink == 0 ? 1 : 0;
}
