#include "propose/PopplerSource.h"

#include "core/Files.h"
#include "propose/Proposal.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

#include <mutex>
#include <unistd.h>

namespace propose {

namespace {

void Ignore(const std::string&, void*) {}

} // namespace

std::unique_ptr<poppler::document> OpenPopplerDocument(const std::string& path,
                                                       std::string& failure) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(Ignore, nullptr); });
    // poppler opens the path itself; a FIFO or a device must never reach it.
    const int fd = core::OpenRegularFd(path);
    if (fd < 0) {
        failure = UnreadableMessage(path);
        return nullptr;
    }
    ::close(fd);
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(path));
    if (!document) {
        failure = UnreadableMessage(path);
        return nullptr;
    }
    if (document->is_locked()) {
        failure = UnreadableMessage(path) + " It needs a password.";
        return nullptr;
    }
    if (document->pages() < 1) {
        failure = path + " has no pages.";
        return nullptr;
    }
    return document;
}

} // namespace propose
