#include "engine/QpdfSession.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace engine {

namespace {

using core::FileStamp;
using core::StampOf;

// Sources up to this size are parsed from memory; bigger ones from their file.
constexpr off_t kInMemorySourceLimit = off_t{256} << 20;

// The first `size` bytes of a file (what fstat said it holds), in a buffer qpdf can own: the
// input source that reads it lives as long as any document still copies streams from it.
// Null when reading fails.
std::unique_ptr<Buffer> ReadDescriptor(int fd, size_t size) {
    auto buffer = std::make_unique<Buffer>(size);
    size_t have = 0;
    while (have < size) {
        const ssize_t n = ::read(fd, buffer->getBuffer() + have, size - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return nullptr;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    if (have < size) { // it shrank meanwhile; the parse will tell whether what is left is whole
        auto shorter = std::make_unique<Buffer>(have);
        std::copy_n(buffer->getBuffer(), have, shorter->getBuffer());
        return shorter;
    }
    return buffer;
}

std::optional<FileStamp> StampOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return StampOf(st);
}

} // namespace

std::shared_ptr<ParsedSource> CQpdfSession::OpenSource(const std::string& path) {
    // Every range of a job opens its source again: while it is the same regular file,
    // unchanged, one stat settles that, without opening it.
    if (m_current && m_current->path == path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            StampOf(st) == m_current->stamp)
            return m_current;
    }
    // Opened and checked on one descriptor: a FIFO or device is refused without waiting.
    struct stat st {};
    const int fd = core::OpenRegularFd(path, &st);
    if (fd < 0)
        return nullptr;
    const FileStamp stamp = StampOf(st);
    if (m_current && m_current->path == path && m_current->stamp == stamp) {
        ::close(fd);
        return m_current;
    }
    // Only the current source stays parsed, so a batch of many files never holds more than
    // one; documents still using an older one keep it alive.
    m_current.reset();
    m_spare.reset(); // it holds the previous source's copies
    auto source = std::make_shared<ParsedSource>();
    source->path = path;
    source->stamp = stamp;
    // A source of ordinary size is read into memory in one go and its file closed at once:
    // the parts of a job then copy their pages without seeking the file again and again, and
    // no descriptor stays open while the job runs. A huge one is read from its file as it is
    // needed instead of filling the memory.
    FILE* file = nullptr;
    std::unique_ptr<Buffer> bytes;
    if (st.st_size <= kInMemorySourceLimit) {
        bytes = ReadDescriptor(fd, static_cast<size_t>(st.st_size));
        ::close(fd);
        if (!bytes) {
            Warn("cannot read " + path);
            return nullptr;
        }
    } else if (!(file = ::fdopen(fd, "rb"))) {
        ::close(fd);
        return nullptr;
    }
    source->pdf = std::make_unique<QPDF>();
    source->pdf->setSuppressWarnings(true);
    try {
        ++m_shared->parseCount;
        if (file)
            source->pdf->processFile(path.c_str(), file, true);
        else
            source->pdf->processInputSource(
                std::make_shared<BufferInputSource>(path, bytes.release(), true));
        if (!CheckPageTree(*source->pdf, source->resourcesShared)) {
            Warn("cannot open " + path + ": the page tree is nested too deeply");
            Collect(*source->pdf);
            return nullptr;
        }
        QPDFPageDocumentHelper(*source->pdf).pushInheritedAttributesToPage();
        source->pages = source->pdf->getAllPages();
        for (size_t i = 0; i < source->pages.size(); ++i)
            source->pageIndex[source->pages[i].getObjGen()] = static_cast<int>(i);
        source->resourcesTrimmed.assign(source->pages.size(), 0);
    } catch (const std::exception& e) {
        Warn(std::string("cannot open ") + path + ": " + e.what());
        Collect(*source->pdf);
        return nullptr;
    }
    Collect(*source->pdf);
    m_current = source;
    return source;
}

bool CQpdfSession::IsOpenSource(const std::string& path) const {
    auto stamp = StampOfPath(path);
    if (!stamp)
        return false;
    return std::any_of(m_open.begin(), m_open.end(), [&](const auto& entry) {
        return entry.first.device == stamp->device && entry.first.inode == stamp->inode;
    });
}

void CQpdfSession::MarkClosed(const FileStamp& stamp) {
    auto it = m_open.find(stamp);
    if (it != m_open.end() && --it->second == 0)
        m_open.erase(it);
}

void CQpdfSession::CloseAllViews() {
    // The views themselves live on and may open documents again; only dead ones are dropped.
    std::erase_if(m_views, [](const std::weak_ptr<AVDoc>& weak) { return weak.expired(); });
    for (auto& weak : m_views)
        if (auto view = weak.lock())
            view->Close(true);
}

const std::vector<int>& CQpdfSession::PlanOwners(const ParsedSource& source) {
    const std::vector<PlannedPart>& plan = PlanFor(source);
    if (plan.empty() || m_planOwners.size() == source.pages.size()) {
        static const std::vector<int> none;
        return plan.empty() ? none : m_planOwners;
    }
    // Each page goes to the first part that holds it. Ranges may overlap and be long (a job
    // may hold 19,998 ranges of the whole file), so every page is painted once: `next` skips
    // over pages already painted.
    const int pages = static_cast<int>(source.pages.size());
    m_planOwners.assign(source.pages.size(), -1);
    std::vector<int> next(source.pages.size() + 1);
    for (int i = 0; i <= pages; ++i)
        next[static_cast<size_t>(i)] = i;
    auto find = [&](int i) {
        int root = i;
        while (next[static_cast<size_t>(root)] != root)
            root = next[static_cast<size_t>(root)];
        while (next[static_cast<size_t>(i)] != root)
            i = std::exchange(next[static_cast<size_t>(i)], root);
        return root;
    };
    for (size_t p = 0; p < plan.size(); ++p) {
        const int last = std::min(plan[p].last, pages) - 1;
        const int first = std::clamp(plan[p].first - 1, 0, pages);
        for (int page = find(first); page <= last; page = find(page)) {
            m_planOwners[static_cast<size_t>(page)] = static_cast<int>(p);
            next[static_cast<size_t>(page)] = page + 1;
        }
    }
    return m_planOwners;
}

std::unique_ptr<QPDF> CQpdfSession::NewDocument() {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->emptyPDF();
    ++m_shared->documentsBuilt;
    return pdf;
}

void CQpdfSession::Collect(QPDF& pdf) {
    for (const QPDFExc& w : pdf.getWarnings())
        Warn(w.what());
}

void CQpdfSession::Warn(const std::string& text) {
    // A damaged source warns again for every part; keeping the first ones is enough.
    constexpr size_t kKept = 1000;
    if (m_shared->warnings.size() < kKept)
        m_shared->warnings.push_back(text);
    if (m_trace.IsOn())
        m_trace.Line("qpdf: " + text + "\r\n");
}

} // namespace engine
