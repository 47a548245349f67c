#pragma once

#include <string>

// What the page-reading module (quillsever-poppler.so, loaded only when a proposer renders pages
// or reads their text) offers the program. Both sides are built together from this header, so
// C++ types may cross; kPopplerModuleVersion keeps a stale module of another build out.
namespace propose {

inline constexpr int kPopplerModuleVersion = 2;
inline constexpr const char* kPopplerModuleName = "quillsever-poppler.so";
inline constexpr const char* kPopplerModuleEntry = "quillsever_poppler_module";

// Receives a rendered page: 8-bit grey, rows of `stride` bytes.
using PictureSink = void (*)(void* context, const unsigned char* pixels, int width, int height,
                             int stride);

enum class PopplerOpen { Ok, Unreadable, Locked };

struct PopplerModuleApi {
    int version;
    // A document, or null with `status` saying why not.
    void* (*open)(const char* path, PopplerOpen* status);
    // The same for a document held in memory, which must outlive it.
    void* (*openData)(const char* data, int size, PopplerOpen* status);
    void (*close)(void* document);
    int (*pageCount)(void* document);
    // A page of `document` (0-based), or null when the page cannot be made.
    void* (*openPage)(void* document, int index);
    void (*closePage)(void* page);
    // The crop box's area in square points.
    double (*pageArea)(void* page);
    // False when the page cannot be rendered; `sink` is called before it returns otherwise.
    bool (*render)(void* document, void* page, double dotsPerInch, PictureSink sink, void* context);
    // The page's text in reading order, UTF-8.
    void (*text)(void* page, std::string* out);
};

} // namespace propose

extern "C" {
using QuillseverPopplerEntry = const propose::PopplerModuleApi* (*)();
}
