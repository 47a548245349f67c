#include "core/AtomicFile.h"

#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

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
bool SyncFolder(int fd) {
    // Some file systems cannot sync a folder at all; that is no failure of ours.
    return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = SyncFolder(fd);
    ::close(fd);
    return ok;
}

constexpr char kTempPrefix[] = ".quillsever-";
constexpr size_t kTempLetters = 10;

// When this process started, as the file system counts time: a temporary file last written
// before it cannot be one this process is writing.
const struct timespec kProcessStart = [] {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}();

bool IsTemporaryName(std::string_view name) {
    const std::string_view prefix = kTempPrefix;
    if (name.size() != prefix.size() + kTempLetters || !name.starts_with(prefix))
        return false;
    for (char c : name.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool OlderThanProcess(const struct stat& st) {
    return st.st_mtim.tv_sec < kProcessStart.tv_sec || (st.st_mtim.tv_sec == kProcessStart.tv_sec &&
                                                        st.st_mtim.tv_nsec < kProcessStart.tv_nsec);
}

// The file a chain of links ends at (the path itself when it is no link); nullopt for a chain
// that does not end.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            return std::nullopt;
        target.resize(static_cast<size_t>(n));
        if (target.front() != kSeparator) {
            const size_t cut = path.rfind(kSeparator);
            target = (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + target;
        }
        path = std::move(target);
    }
    errno = ELOOP;
    return std::nullopt;
}

} // namespace

CAtomicFile::CAtomicFile(std::string target, Kind kind)
    : m_target(std::move(target)), m_kind(kind) {}

CAtomicFile::~CAtomicFile() {
    Discard();
}

bool CAtomicFile::Open() {
    Discard();
    m_failed = false;
    if (m_kind == Kind::FollowLink) {
        auto resolved = FollowLinks(m_target);
        if (!resolved)
            return m_failed = true, false;
        m_target = std::move(*resolved);
        m_kind = Kind::Replace;
    }
    struct stat old {};
    const bool replacing = ::lstat(m_target.c_str(), &old) == 0;
    if (replacing && m_kind == Kind::Own &&
        (!S_ISREG(old.st_mode) || old.st_uid != ::geteuid() || old.st_nlink > 1)) {
        errno = S_ISLNK(old.st_mode) ? ELOOP : S_ISREG(old.st_mode) ? EPERM : ENODEV;
        return m_failed = true, false;
    }
    const std::string folder = FolderOf(m_target);
    RemoveStaleTemporaries(folder);
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
        // Held while the file is written, so that a later run sweeping the folder can tell our
        // file from one a killed run left.
        ::flock(fd, LOCK_EX | LOCK_NB);
        if (replacing && S_ISREG(old.st_mode)) {
            // The new file stands in for the old one: same group and owner where we may give
            // them, and the same permissions (set last, since a change of owner clears some).
            if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
                if (::fchown(fd, old.st_uid, old.st_gid) != 0)
                    static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), old.st_gid));
            }
            ::fchmod(fd, old.st_mode & 0777);
        }
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

bool CAtomicFile::Commit(Replace replace, int folderFd) {
    if (m_fd < 0)
        return false;
    bool ok = !m_failed && Flush() && ::fsync(m_fd) == 0;
    const int fd = m_fd;
    m_fd = -1;
    // The lock lives as long as one descriptor of the file does: this one keeps it until the
    // file has its name, so no sweep takes it in between.
    const int lockHolder = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    // A close can report a write the kernel deferred; it counts like any other failure.
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        if (replace == Replace::Yes)
            ok = std::rename(m_tempPath.c_str(), m_target.c_str()) == 0;
        else
            ok = RenameNoReplace(m_tempPath, m_target);
    }
    if (!ok)
        ::unlink(m_tempPath.c_str());
    if (lockHolder >= 0)
        ::close(lockHolder);
    m_tempPath.clear();
    if (!ok)
        return m_failed = true, false;
    if (!(folderFd >= 0 ? SyncFolder(folderFd) : SyncFolder(FolderOf(m_target))))
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

bool CAtomicFile::WriteAll(const std::string& target, std::string_view bytes, Kind kind,
                           int folderFd) {
    CAtomicFile file(target, kind);
    return file.Open() && file.Write(bytes) && file.Commit(Replace::Yes, folderFd);
}

void CAtomicFile::RemoveStaleTemporaries(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::pair<dev_t, ino_t>> swept;
    // A run writes thousands of parts into one folder: opening it again for each only to find
    // it looked through cost three system calls a part. A folder put in place of a swept one
    // under the same name is then not looked through: that can leave a stale temporary, never
    // remove one more.
    static std::unordered_set<std::string> sweptNames;
    {
        std::lock_guard guard(mutex);
        if (sweptNames.count(folder) != 0)
            return;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    struct stat dirInfo {};
    if (::fstat(dirFd, &dirInfo) != 0) {
        ::close(dirFd);
        return;
    }
    {
        std::lock_guard guard(mutex);
        sweptNames.insert(folder);
        if (!swept.emplace(dirInfo.st_dev, dirInfo.st_ino).second) {
            ::close(dirFd);
            return;
        }
    }
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const struct dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name))
            continue;
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st {};
        // A writer alive holds its lock; one that was killed holds nothing any more.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            OlderThanProcess(st) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            // Only the file we looked at goes, not one that took its name meanwhile.
            if (::fstatat(dirFd, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_dev == st.st_dev && now.st_ino == st.st_ino)
                ::unlinkat(dirFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace core
