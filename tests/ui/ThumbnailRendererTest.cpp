// Page pictures are made in a helper process under limits: a PDF made to exhaust its renderer
// costs a placeholder for that page, never the window, and the next file renders as usual.
#include "ui/preview/ThumbnailRenderer.h"

#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

namespace {

// A one-page PDF whose page draws form A, which draws B twice, which draws A twice, ... (no
// cross-reference table: a reader rebuilds it, as it must for any damaged file).
const char kMutualForms[] = R"(%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /XObject << /A 5 0 R >> >> /Contents 4 0 R >> endobj
4 0 obj << /Length 5 >> stream
/A Do
endstream endobj
5 0 obj << /Subtype /Form /BBox [0 0 200 200] /Resources << /XObject << /B 6 0 R >> >> /Length 11 >> stream
/B Do /B Do
endstream endobj
6 0 obj << /Subtype /Form /BBox [0 0 200 200] /Resources << /XObject << /A 5 0 R >> >> /Length 11 >> stream
/A Do /A Do
endstream endobj
trailer << /Root 1 0 R >>
%%EOF
)";

} // namespace

class ThumbnailRendererTest : public QObject {
    Q_OBJECT

  private slots:
    void hostileFilesCostOnlyTheirOwnPictures() {
        testing_support::CTempDir dir;
        dir.Write("forms.pdf", kMutualForms);
        testing_support::WritePdf(dir.File("plain.pdf"), {.pages = 2});
        QVERIFY(::mkfifo(dir.File("scan.pdf").c_str(), 0600) == 0);
        const QSize box(78, 102);
        ui::CThumbnailRenderer renderer(box);
        renderer.SetDeadlines(5000, 1500);
        QSignalSpy opened(&renderer, &ui::CThumbnailRenderer::opened);
        QSignalSpy rendered(&renderer, &ui::CThumbnailRenderer::rendered);
        const struct {
            const char* file;
            int pages;
            bool placeholder; // the first page's picture
            const char* problem;
        } cases[] = {
            {"scan.pdf", 0, false, "This file cannot be read as a PDF: its pages cannot be shown."},
            {"forms.pdf", 1, true, ""},
            {"plain.pdf", 2, false, ""},
        };
        for (const auto& c : cases) {
            opened.clear();
            rendered.clear();
            renderer.Open(QString::fromStdString(dir.File(c.file)));
            QTRY_COMPARE(opened.count(), 1);
            QCOMPARE(opened.at(0).at(0).toInt(), c.pages);
            QCOMPARE(opened.at(0).at(1).toString(), QString(c.problem));
            for (int page = 0; page < c.pages; ++page)
                renderer.Request(page);
            QTRY_COMPARE_WITH_TIMEOUT(rendered.count(), c.pages, 20000);
            if (c.pages > 0) {
                // A placeholder fills the whole box and is grey; a square page is narrower.
                const QImage* first = renderer.Cached(0);
                QVERIFY(first);
                QCOMPARE(first->pixelColor(5, 5) == QColor(236, 236, 236), c.placeholder);
                QCOMPARE(first->size() == box, c.placeholder);
            }
        }
    }
};

QTEST_MAIN(ThumbnailRendererTest)
#include "ThumbnailRendererTest.moc"
