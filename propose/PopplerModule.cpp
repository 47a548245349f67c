// The only code that touches poppler: the program loads it when a proposer needs pages
// rendered or their text, so that a split never maps poppler and what it pulls in (NSS,
// fontconfig, freetype, lcms2, ...).
#include "propose/PopplerModule.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <memory>
#include <mutex>

namespace {

struct Document {
    std::unique_ptr<poppler::document> pdf;
    poppler::page_renderer renderer;
};

void Ignore(const std::string&, void*) {}

void* Opened(poppler::document* pdf, propose::PopplerOpen* status) {
    auto document = std::make_unique<Document>();
    document->pdf.reset(pdf);
    if (!document->pdf) {
        *status = propose::PopplerOpen::Unreadable;
        return nullptr;
    }
    if (document->pdf->is_locked()) {
        *status = propose::PopplerOpen::Locked;
        return nullptr;
    }
    document->renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    document->renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    document->renderer.set_image_format(poppler::image::format_gray8);
    *status = propose::PopplerOpen::Ok;
    return document.release();
}

void Quiet() {
    // poppler's complaints about damaged files are not the user's business here.
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(Ignore, nullptr); });
}

void* Open(const char* path, propose::PopplerOpen* status) {
    Quiet();
    return Opened(poppler::document::load_from_file(path), status);
}

void* OpenData(const char* data, int size, propose::PopplerOpen* status) {
    Quiet();
    return Opened(poppler::document::load_from_raw_data(data, size), status);
}

void Close(void* document) {
    delete static_cast<Document*>(document);
}

int PageCount(void* document) {
    return static_cast<Document*>(document)->pdf->pages();
}

void* OpenPage(void* document, int index) {
    return static_cast<Document*>(document)->pdf->create_page(index);
}

void ClosePage(void* page) {
    delete static_cast<poppler::page*>(page);
}

double PageArea(void* page) {
    const poppler::rectf box = static_cast<poppler::page*>(page)->page_rect(poppler::crop_box);
    return box.width() * box.height();
}

bool Render(void* document, void* page, double dotsPerInch, propose::PictureSink sink,
            void* context) {
    const poppler::image picture = static_cast<Document*>(document)->renderer.render_page(
        static_cast<poppler::page*>(page), dotsPerInch, dotsPerInch);
    if (!picture.is_valid() || picture.format() != poppler::image::format_gray8)
        return false;
    sink(context, reinterpret_cast<const unsigned char*>(picture.const_data()), picture.width(),
         picture.height(), picture.bytes_per_row());
    return true;
}

void Text(void* page, std::string* out) {
    const poppler::byte_array utf8 =
        static_cast<poppler::page*>(page)
            ->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout)
            .to_utf8();
    out->assign(utf8.begin(), utf8.end());
}

const propose::PopplerModuleApi kApi{propose::kPopplerModuleVersion,
                                     Open,
                                     OpenData,
                                     Close,
                                     PageCount,
                                     OpenPage,
                                     ClosePage,
                                     PageArea,
                                     Render,
                                     Text};

} // namespace

extern "C" __attribute__((visibility("default"))) const propose::PopplerModuleApi*
quillsever_poppler_module() {
    return &kApi;
}
