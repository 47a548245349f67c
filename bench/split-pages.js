// The MuPDF peer of a single-page split: every page of a PDF saved as a PDF of its own.
// Usage: mutool run split-pages.js IN.pdf OUTDIR
var source = new PDFDocument(scriptArgs[0]);
var count = source.countPages();
for (var i = 0; i < count; ++i) {
    var part = new PDFDocument();
    part.graftPage(-1, source, i);
    part.save(scriptArgs[1] + "/page-" + (i + 1) + ".pdf", "compress");
}
