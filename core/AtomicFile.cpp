#include "core/AtomicFile.h"

#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace core {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t cut = path.rfind(kSeparator);
    return cut == std::string::npos ? std::string(".")
           : cut == 0               ? std::string(1, kSeparator)
                                    : path.substr(0, cut);
}

// Makes the rename itself durable: without this a crash can lose the new name even though the
// bytes are on disk.
bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder at all; that is no failure of ours.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    ::close(fd);
    return ok;
}

} // namespace

CAtomicFile::CAtomicFile(std::string target) : m_target(std::move(target)) {}

CAtomicFile::~CAtomicFile() {
    Discard();
}

bool CAtomicFile::Open() {
    Discard();
    m_failed = false;
    const std::string folder = FolderOf(m_target);
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // Seeded once per thread: asking the system for entropy and seeding a fresh generator
    // for every file cost more than writing a small part.
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + kSeparator + ".quillsever-";
        for (int i = 0; i < 10; ++i)
            path += kLetters[pick(random)];
        // 0666 lets the kernel apply the process umask, as for any new document; changing the
        // umask to learn it would race with every other thread creating files.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        m_fd = fd;
        m_tempPath = std::move(path);
        return true;
    }
    m_failed = true;
    return false;
}

bool CAtomicFile::Write(std::string_view bytes) {
    if (m_fd < 0 || m_failed)
        return m_failed = true, false;
    // Small pieces gather into blocks; a big one goes straight through after what came before.
    if (m_buffer.size() + bytes.size() > kBlock && !Flush())
        return false;
    if (bytes.size() >= kBlock)
        return WriteFully(bytes);
    m_buffer.append(bytes);
    return true;
}

bool CAtomicFile::Flush() {
    const bool ok = WriteFully(m_buffer);
    m_buffer.clear();
    return ok;
}

bool CAtomicFile::WriteFully(std::string_view bytes) {
    while (!m_failed && !bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_failed = true;
        else
            bytes.remove_prefix(static_cast<size_t>(n));
    }
    return !m_failed;
}

bool CAtomicFile::Commit(Replace replace) {
    if (m_fd < 0)
        return false;
    bool ok = !m_failed && Flush() && ::fsync(m_fd) == 0;
    const int fd = m_fd;
    m_fd = -1;
    // A close can report a write the kernel deferred; it counts like any other failure.
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        if (replace == Replace::Yes)
            ok = std::rename(m_tempPath.c_str(), m_target.c_str()) == 0;
        else
            ok = RenameNoReplace(m_tempPath, m_target);
    }
    if (!ok) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
        m_failed = true;
        return false;
    }
    m_tempPath.clear();
    if (!SyncFolder(FolderOf(m_target)))
        return m_failed = true, false;
    return true;
}

void CAtomicFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool CAtomicFile::WriteAll(const std::string& target, std::string_view bytes) {
    CAtomicFile file(target);
    return file.Open() && file.Write(bytes) && file.Commit();
}

} // namespace core
