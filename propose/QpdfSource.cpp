#include "propose/QpdfSource.h"

#include "core/Files.h"
#include "engine/ParsedSource.h"
#include "propose/Proposal.h"

#include <qpdf/QPDFExc.hh>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace propose {

namespace {

// Files up to this size are read whole, so qpdf parses them from memory instead of seeking in
// the file for every object; bigger ones are read as qpdf goes.
constexpr off_t kInMemoryLimit = off_t{256} << 20;

} // namespace

std::unique_ptr<QpdfSource> OpenQpdfSource(const std::string& path, std::string& failure,
                                           bool inMemory) {
    failure = UnreadableMessage(path);
    struct stat info {};
    const int fd = core::OpenRegularFd(path, &info);
    if (fd < 0)
        return nullptr;
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    auto source = std::make_unique<QpdfSource>();
    source->pdf = std::make_unique<QPDF>();
    try {
        source->pdf->setSuppressWarnings(true);
        if (inMemory && info.st_size <= kInMemoryLimit) {
            source->bytes.resize(static_cast<size_t>(info.st_size));
            source->bytes.resize(std::fread(source->bytes.data(), 1, source->bytes.size(), file));
            std::fclose(file);
            source->pdf->processMemoryFile(path.c_str(), source->bytes.data(),
                                           source->bytes.size());
        } else {
            source->pdf->processFile(path.c_str(), file, true);
        }
        if (bool shared = false; !engine::CheckPageTree(*source->pdf, shared)) {
            failure += " Its page tree nests too deep.";
            return nullptr;
        }
        source->pages = source->pdf->getAllPages();
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            failure += " It needs a password.";
        return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
    if (source->pages.empty()) {
        failure = path + " has no pages.";
        return nullptr;
    }
    failure.clear();
    return source;
}

} // namespace propose
