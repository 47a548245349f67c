#include "engine/QpdfSession.h"

#include <qpdf/InputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace engine {

namespace {

using core::FileStamp;
using core::StampOf;

// A source read through its descriptor, a block at a time, as qpdf asks for it. Holding the
// whole file in memory cost the peak its size again (39 MB of 330 at 50,000 pages); qpdf's own
// file reader seeks for nearly every read (some sixty seeks a part). Reads at the block that
// holds the last position are served from it; a file that shrinks meanwhile reads short, which
// qpdf takes as damage, never as a crash.
class CDescriptorInputSource final : public InputSource {
  public:
    CDescriptorInputSource(std::string name, int fd, qpdf_offset_t size)
        : m_name(std::move(name)), m_fd(fd), m_size(size) {}
    ~CDescriptorInputSource() override { ::close(m_fd); }

    qpdf_offset_t findAndSkipNextEOL() override {
        qpdf_offset_t found = -1;
        while (m_offset < m_size) {
            const char c = At(m_offset);
            if (found < 0 && (c == '\r' || c == '\n'))
                found = m_offset;
            else if (found >= 0 && c != '\r' && c != '\n')
                break;
            ++m_offset;
        }
        return found < 0 ? m_size : found;
    }
    std::string const& getName() const override { return m_name; }
    qpdf_offset_t tell() override { return m_offset; }
    void seek(qpdf_offset_t offset, int whence) override {
        const qpdf_offset_t base = whence == SEEK_END ? m_size : whence == SEEK_CUR ? m_offset : 0;
        if (base + offset < 0)
            throw std::runtime_error(m_name + ": seek before the beginning of the file");
        m_offset = base + offset;
    }
    void rewind() override { m_offset = 0; }
    size_t read(char* buffer, size_t length) override {
        last_offset = m_offset;
        size_t done = 0;
        while (done < length && m_offset < m_size) {
            if (!Load(m_offset))
                break;
            const size_t from = static_cast<size_t>(m_offset - m_blockStart);
            const size_t n = std::min(length - done, m_block.size() - from);
            std::memcpy(buffer + done, m_block.data() + from, n);
            done += n;
            m_offset += static_cast<qpdf_offset_t>(n);
        }
        return done;
    }
    void unreadCh(char) override {
        if (m_offset == 0)
            throw std::logic_error(m_name + ": a character unread at the start");
        --m_offset;
    }

  private:
    static constexpr size_t kBlock = 64 * 1024;

    char At(qpdf_offset_t offset) {
        return Load(offset) ? m_block[static_cast<size_t>(offset - m_blockStart)] : '\0';
    }
    // Makes the block hold `offset`; false when the file has nothing there any more.
    bool Load(qpdf_offset_t offset) {
        if (offset >= m_blockStart && offset < m_blockStart + std::ssize(m_block))
            return true;
        m_block.resize(kBlock);
        const qpdf_offset_t start = offset - offset % static_cast<qpdf_offset_t>(kBlock);
        ssize_t n;
        do
            n = ::pread(m_fd, m_block.data(), kBlock, start);
        while (n < 0 && errno == EINTR);
        m_block.resize(n > 0 ? static_cast<size_t>(n) : 0);
        m_blockStart = start;
        return offset < m_blockStart + std::ssize(m_block);
    }

    std::string m_name;
    int m_fd;
    qpdf_offset_t m_size;
    qpdf_offset_t m_offset = 0;
    std::vector<char> m_block;
    qpdf_offset_t m_blockStart = 0;
};

// The source of the job that ended last, while the program leaves it to the end of the process.
// One for the whole process, not one a session: a batch's sessions come and go with its jobs,
// and several workers end jobs in turn, so only the very last one is left.
struct Leftover {
    std::mutex mutex;
    std::shared_ptr<ParsedSource> source;
};
std::atomic<Leftover*> g_leftover{nullptr};

// Puts `source` in the slot; what it held is let go of here, outside the lock.
void SwapLeftover(std::shared_ptr<ParsedSource> source) {
    Leftover* leftover = g_leftover.load();
    if (!leftover)
        return;
    {
        std::lock_guard lock(leftover->mutex);
        leftover->source.swap(source);
    }
}

std::optional<FileStamp> StampOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return StampOf(st);
}

} // namespace

void LeaveLastSourceToProcessEnd() {
    // Never freed: the process ends with the slot full.
    static Leftover* const leftover = new Leftover;
    g_leftover = leftover;
}

void CQpdfSession::LetGoOfCurrent() {
    SwapLeftover(std::move(m_current));
    m_current.reset();
}

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
    SwapLeftover(nullptr); // before the next parse, so that two are never held at once
    m_spare.reset();       // it holds the previous source's copies
    auto source = std::make_shared<ParsedSource>();
    source->path = path;
    source->stamp = stamp;
    source->pdf = std::make_unique<QPDF>();
    source->pdf->setSuppressWarnings(true);
    try {
        ++m_shared->parseCount;
        // The input source owns the descriptor from here on; it lives as long as any document
        // still copies streams from it.
        source->pdf->processInputSource(
            std::make_shared<CDescriptorInputSource>(path, fd, st.st_size));
        // On a descriptor of its own to the same file: the writing thread may be reading
        // streams through the first one meanwhile.
        source->reread = [path, fd, size = st.st_size]() -> std::unique_ptr<QPDF> {
            const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (copy < 0)
                return nullptr;
            auto pdf = std::make_unique<QPDF>();
            pdf->setSuppressWarnings(true);
            pdf->processInputSource(std::make_shared<CDescriptorInputSource>(path, copy, size));
            return pdf;
        };
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
