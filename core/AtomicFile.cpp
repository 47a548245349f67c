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
#include <vector>

namespace core {

namespace {

std::mutex& DeferredMutex() {
    static std::mutex mutex;
    return mutex;
}
// Folders of files committed with their sync deferred and not yet synced.
std::set<std::string>& DeferredFolders() {
    static std::set<std::string> folders;
    return folders;
}

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

// Links are followed here by hand, so the kernel's guard for folders like /tmp
// (fs.protected_symlinks) never sees them: its rule is kept here. In a sticky folder anyone may
// write to, a link is followed only when it is ours or the folder owner's; another user's link
// there is the old trap that makes root write a file of its own chosen by someone else.
bool MayFollow(const std::string& link, const struct stat& st) {
    if (st.st_uid == ::geteuid())
        return true;
    struct stat folder {};
    if (::stat(FolderOf(link).c_str(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || st.st_uid == folder.st_uid;
}

// The file a chain of links ends at (the path itself when it is no link); nullopt for a chain
// that does not end or a link that may not be followed.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        if (!MayFollow(path, st)) {
            errno = EACCES;
            return std::nullopt;
        }
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

// Names a file opened with O_TMPFILE; false with errno EEXIST when the name is taken. The
// descriptor itself names it where the system lets us; elsewhere the file's entry in /proc does.
bool LinkUnnamed(int fd, const std::string& name) {
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
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
    if (m_kind == Kind::Own) {
        struct stat old {};
        if (::lstat(m_target.c_str(), &old) == 0 &&
            (!S_ISREG(old.st_mode) || old.st_uid != ::geteuid() || old.st_nlink > 1)) {
            errno = S_ISLNK(old.st_mode) ? ELOOP : S_ISREG(old.st_mode) ? EPERM : ENODEV;
            return m_failed = true, false;
        }
    }
    const std::string folder = FolderOf(m_target);
    RemoveStaleTemporaries(folder);
    // A file without a name until it is whole: nothing to sweep after a kill, no name to make
    // and rename, about half the system's work for a small part. File systems without it get a
    // named temporary file.
    // 0666 lets the kernel apply the process umask, as for any new document; changing the umask
    // to learn it would race with every other thread creating files.
    m_fd = ::open(folder.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        return true;
    if (!CreateNamedTemporary(folder))
        return m_failed = true, false;
    return true;
}

// A fresh name of our temporary files' pattern in `folder`.
std::string CAtomicFile::TemporaryName(const std::string& folder) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // Seeded once per thread: asking the system for entropy and seeding a fresh generator
    // for every file cost more than writing a small part.
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    std::string path = folder + kSeparator + kTempPrefix;
    for (size_t i = 0; i < kTempLetters; ++i)
        path += kLetters[pick(random)];
    return path;
}

// A temporary file of our own pattern in `folder`, locked while it is ours, so that a later
// run sweeping the folder can tell it from one a killed run left.
bool CAtomicFile::CreateNamedTemporary(const std::string& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = TemporaryName(folder);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        ::flock(fd, LOCK_EX | LOCK_NB);
        m_fd = fd;
        m_tempPath = std::move(path);
        return true;
    }
    return false;
}

// The new file stands in for the old one: same group and owner where we may give them, and the
// same permissions (set last, since a change of owner clears some).
void CAtomicFile::TakeOverPermissions() {
    struct stat old {};
    if (::lstat(m_target.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(m_fd, old.st_uid, old.st_gid) != 0)
            static_cast<void>(::fchown(m_fd, static_cast<uid_t>(-1), old.st_gid));
    }
    ::fchmod(m_fd, old.st_mode & 0777);
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
    // A deferred file that takes a new name is synced later; one that takes another's place
    // (every named temporary may) is synced first, so that a crash leaves the old file whole.
    const auto sync = [this] { return ::fsync(m_fd) == 0; };
    if (m_failed || !Flush() || ((!m_deferred || !m_tempPath.empty()) && !sync())) {
        Discard();
        return m_failed = true, false;
    }
    if (!m_tempPath.empty())
        return CommitNamed(replace, folderFd);
    if (!LinkUnnamed(m_fd, m_target)) {
        // A file to replace, or a system that does not let us name the file: it gets a
        // temporary name (a copy of its bytes where even that fails) and goes the named way.
        if ((errno == EEXIST && (replace == Replace::No || TargetIsKeptOff())) ||
            (m_deferred && !sync()) || !NameTheUnnamed()) {
            Discard();
            return m_failed = true, false;
        }
        return CommitNamed(replace, folderFd);
    }
    // Closed only once named: a failing close still fails the commit, and takes the name back.
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        ::unlink(m_target.c_str());
        return m_failed = true, false;
    }
    return Named(folderFd);
}

// Gives the unnamed file a temporary name of our pattern, locked first as a named temporary
// file is; where the system does not let us name it, its bytes go into a new named file.
bool CAtomicFile::NameTheUnnamed() {
    const std::string folder = FolderOf(m_target);
    const int unnamed = m_fd;
    m_fd = -1;
    ::flock(unnamed, LOCK_EX | LOCK_NB);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = TemporaryName(folder);
        if (LinkUnnamed(unnamed, path)) {
            m_fd = unnamed;
            m_tempPath = std::move(path);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    if (!CreateNamedTemporary(folder)) {
        ::close(unnamed);
        return false;
    }
    std::vector<char> block(kBlock);
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(unnamed, block.data(), block.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !WriteFully(std::string_view(block.data(), static_cast<size_t>(n)))))
            m_failed = true;
        if (n <= 0)
            break;
        at += n;
    }
    ::close(unnamed);
    return !m_failed && ::fsync(m_fd) == 0;
}

bool CAtomicFile::TargetIsKeptOff() const {
    struct stat st {};
    // Followed like any reader of the name would: a link to the kept file counts as the file.
    return m_keepOff && ::stat(m_target.c_str(), &st) == 0 && st.st_dev == m_keepOff->first &&
           st.st_ino == m_keepOff->second;
}

bool CAtomicFile::CommitNamed(Replace replace, int folderFd) {
    if (TargetIsKeptOff()) {
        Discard();
        return m_failed = true, false;
    }
    if (replace == Replace::Yes)
        TakeOverPermissions();
    const int fd = m_fd;
    m_fd = -1;
    // The lock lives as long as one descriptor of the file does: this one keeps it until the
    // file has its name, so no sweep takes it in between.
    const int lockHolder = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    // A close can report a write the kernel deferred; it counts like any other failure.
    bool ok = ::close(fd) == 0;
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
    return Named(folderFd);
}

// The file has its name: the folder is synced so that the name lasts too.
bool CAtomicFile::Named(int folderFd) {
    if (m_deferred) {
        std::lock_guard guard(DeferredMutex());
        DeferredFolders().insert(FolderOf(m_target));
        return true;
    }
    if (!(folderFd >= 0 ? SyncFolder(folderFd) : SyncFolder(FolderOf(m_target))))
        return m_failed = true, false;
    return true;
}

// Syncing each of 20,000 small parts and its folder on its own took two flushes of the disk a
// part (on ext4, 1,000 single pages 0.8 s instead of 0.3); one sync of the file system after
// them writes the same in one go.
std::string CAtomicFile::SyncDeferred() {
    std::set<std::string> folders;
    {
        std::lock_guard guard(DeferredMutex());
        folders.swap(DeferredFolders());
    }
    std::set<dev_t> synced;
    std::string failed;
    for (const std::string& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st {};
        const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 &&
                        (!synced.insert(st.st_dev).second || ::syncfs(fd) == 0);
        if (fd >= 0)
            ::close(fd);
        if (!ok && failed.empty())
            failed = folder;
    }
    return failed;
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
    // A run writes thousands of parts into one folder: opening it again for each only to find
    // it looked through cost three system calls a part. A folder put in place of a swept one
    // under the same name is then not looked through: that can leave a stale temporary, never
    // remove one more. (Folders are told by name, not by inode: a new folder may get the
    // number of one deleted earlier, and would never be looked through.)
    static std::unordered_set<std::string> sweptNames;
    {
        std::lock_guard guard(mutex);
        if (sweptNames.count(folder) != 0)
            return;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    {
        std::lock_guard guard(mutex);
        sweptNames.insert(folder);
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
