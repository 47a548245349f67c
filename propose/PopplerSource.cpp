#include "propose/PopplerSource.h"

#include "core/Files.h"
#include "propose/Proposal.h"

#include <climits>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace propose {

namespace {

// Installed, the module is in lib/quillsever beside the program's bin folder; in the build
// tree, every program and test finds it where the build put it.
std::vector<fs::path> ModuleCandidates() {
    std::vector<fs::path> candidates;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        candidates.push_back(program.parent_path() / ".." / "lib" / "quillsever" /
                             kPopplerModuleName);
#ifdef QS_BUILD_TREE
    // Only a program of the build tree itself looks there, never an installed one.
    const std::string tree = QS_BUILD_TREE "/";
    if (!error && program.string().rfind(tree, 0) == 0)
        candidates.push_back(fs::path(QS_BUILD_TREE) / "lib" / "quillsever" / kPopplerModuleName);
#endif
    return candidates;
}

const PopplerModuleApi* LoadModule(std::string& problem) {
    static std::once_flag once;
    static const PopplerModuleApi* api = nullptr;
    static std::string why;
    std::call_once(once, [] {
        std::string reasons;
        for (const fs::path& candidate : ModuleCandidates()) {
            if (!fs::is_regular_file(candidate))
                continue;
            // Loaded for good: its code stays in use by nothing after a proposal, but
            // unloading poppler's libraries mid-run saves nothing worth the risk.
            void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                reasons = ::dlerror();
                continue;
            }
            const auto entry =
                reinterpret_cast<QuillseverPopplerEntry>(::dlsym(handle, kPopplerModuleEntry));
            const PopplerModuleApi* found = entry ? entry() : nullptr;
            if (found && found->version == kPopplerModuleVersion) {
                api = found;
                return;
            }
            reasons = candidate.string() + " belongs to another version of Quillsever";
            ::dlclose(handle);
        }
        why = std::string("Reading pages needs ") + kPopplerModuleName +
              ", which is missing or cannot be loaded" +
              (reasons.empty() ? "" : " (" + reasons + ")") + ". Reinstall Quillsever.";
    });
    if (!api)
        problem = why;
    return api;
}

void Deliver(void* context, const unsigned char* pixels, int width, int height, int stride) {
    (*static_cast<const PopplerPage::Picture*>(context))(pixels, width, height, stride);
}

} // namespace

PopplerDocument::PopplerDocument(const std::string& path, std::string& failure) {
    // poppler opens a path itself; a FIFO or a device must never reach it. So it is given
    // the descriptor opened and checked here, by its name in /proc: a file swapped for a FIFO
    // after the check cannot make it wait for a writer for ever.
    const int fd = core::OpenRegularFd(path);
    if (fd < 0) {
        failure = UnreadableMessage(path);
        return;
    }
    m_api = LoadModule(failure);
    if (!m_api) {
        ::close(fd);
        return;
    }
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    PopplerOpen status = PopplerOpen::Unreadable;
    m_document =
        m_api->open(::access(opened.c_str(), R_OK) == 0 ? opened.c_str() : path.c_str(), &status);
    ::close(fd);
    if (!m_document) {
        failure = UnreadableMessage(path);
        if (status == PopplerOpen::Locked)
            failure += " It needs a password.";
        return;
    }
    if (Pages() < 1) {
        failure = path + " has no pages.";
        m_api->close(m_document);
        m_document = nullptr;
    }
}

std::unique_ptr<PopplerDocument> PopplerDocument::FromMemory(std::string bytes) {
    if (bytes.empty())
        return nullptr;
    std::string problem;
    std::unique_ptr<PopplerDocument> document(new PopplerDocument);
    document->m_api = LoadModule(problem);
    if (!document->m_api || bytes.size() > static_cast<size_t>(INT_MAX))
        return nullptr;
    document->m_bytes = std::move(bytes);
    PopplerOpen status = PopplerOpen::Unreadable;
    document->m_document = document->m_api->openData(
        document->m_bytes.data(), static_cast<int>(document->m_bytes.size()), &status);
    if (!document->m_document || document->Pages() < 1)
        return nullptr;
    return document;
}

PopplerDocument::~PopplerDocument() {
    if (m_document)
        m_api->close(m_document);
}

int PopplerDocument::Pages() const {
    return m_api->pageCount(m_document);
}

std::unique_ptr<PopplerPage> PopplerDocument::Page(int index) const {
    void* page = m_api->openPage(m_document, index);
    if (!page)
        return nullptr;
    return std::make_unique<PopplerPage>(m_api, m_document, page);
}

PopplerPage::~PopplerPage() {
    m_api->closePage(m_page);
}

double PopplerPage::SquareInches() const {
    return m_api->pageArea(m_page) / (72.0 * 72.0);
}

bool PopplerPage::Render(double dotsPerInch, const Picture& picture) const {
    return m_api->render(m_document, m_page, dotsPerInch, Deliver, const_cast<Picture*>(&picture));
}

std::string PopplerPage::Text() const {
    std::string text;
    m_api->text(m_page, &text);
    return text;
}

} // namespace propose
