#pragma once

#include "propose/PopplerModule.h"

#include <functional>
#include <memory>
#include <string>

namespace propose {

class PopplerPage;

// `path` (a regular file only) opened by poppler for rendering and text, through the
// page-reading module, which is loaded on first use. `Ok()` is false with `failure` set when
// the module is missing, or the file cannot be read, needs a password or has no pages.
class PopplerDocument {
  public:
    PopplerDocument(const std::string& path, std::string& failure);
    // A document made in memory (a page prepared for a look of its own); null when poppler
    // cannot read it.
    static std::unique_ptr<PopplerDocument> FromMemory(std::string bytes);
    ~PopplerDocument();
    PopplerDocument(const PopplerDocument&) = delete;
    PopplerDocument& operator=(const PopplerDocument&) = delete;

    bool Ok() const { return m_document != nullptr; }
    int Pages() const;
    // Null when poppler cannot make the page.
    std::unique_ptr<PopplerPage> Page(int index) const;

  private:
    PopplerDocument() = default;

    const PopplerModuleApi* m_api = nullptr;
    void* m_document = nullptr;
    std::string m_bytes; // what a document made in memory is read from, while it lives
};

class PopplerPage {
  public:
    PopplerPage(const PopplerModuleApi* api, void* document, void* page)
        : m_api(api), m_document(document), m_page(page) {}
    ~PopplerPage();
    PopplerPage(const PopplerPage&) = delete;
    PopplerPage& operator=(const PopplerPage&) = delete;

    double SquareInches() const;
    using Picture =
        std::function<void(const unsigned char* pixels, int width, int height, int stride)>;
    // 8-bit grey at `dotsPerInch`; false when the page cannot be rendered.
    bool Render(double dotsPerInch, const Picture& picture) const;
    std::string Text() const;

  private:
    const PopplerModuleApi* m_api;
    void* m_document;
    void* m_page;
};

} // namespace propose
