#include "core/Files.h"

#include "core/Text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace core {

std::string FileTitle(std::string_view path) {
    size_t cut = path.rfind(kSeparator);
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::optional<std::string> DirectoryOf(std::string_view path) {
    for (size_t p = path.size(); p >= 1; --p) {
        if (p < path.size() && path[p] == kSeparator)
            return std::string(path.substr(0, p));
    }
    return std::nullopt;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // This file system cannot rename without replacing; a hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

FileStamp StampOf(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

int OpenRegularFd(const std::string& path, struct stat* info) {
    // Non-blocking, so that opening a FIFO without a writer returns at once; the type is then
    // checked on the descriptor itself, so nothing can be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    // Regular files ignore the flag, but later readers should see an ordinary descriptor.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (info)
        *info = st;
    return fd;
}

int OpenOwnFd(const std::string& path, int flags, struct stat* info) {
    // A name that is there but no regular file is refused before it is opened at all: opening
    // some devices already does something.
    struct stat seen {};
    if (::lstat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode)) {
        errno = S_ISLNK(seen.st_mode) ? ELOOP : ENODEV;
        return -1;
    }
    const bool truncate = (flags & O_TRUNC) != 0;
    const int fd = ::open(
        path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    // The checks that count are those on the descriptor: whatever was swapped in after the
    // lstat is what they see.
    struct stat st {};
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = ENODEV;
    else if (st.st_uid != ::geteuid() || st.st_nlink > 1)
        refusal = EPERM;
    else if (truncate && ::ftruncate(fd, 0) != 0)
        refusal = errno;
    if (refusal != 0) {
        ::close(fd);
        errno = refusal;
        return -1;
    }
    const int fileFlags = ::fcntl(fd, F_GETFL);
    if (fileFlags >= 0)
        ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK);
    if (info) {
        *info = st;
        if (truncate)
            info->st_size = 0;
    }
    return fd;
}

bool IsTransientOpenError(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EINTR ||
           error == EAGAIN;
}

FILE* OpenRegularFile(const std::string& path) {
    const int fd = OpenRegularFd(path);
    if (fd < 0)
        return nullptr;
    FILE* file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

namespace {

std::optional<std::string> ReadAllAndClose(int fd) {
    if (fd < 0)
        return std::nullopt;
    std::string out;
    char buffer[65536];
    bool failed = false;
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return out;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    return ReadAllAndClose(OpenRegularFd(path));
}

std::optional<std::string> ReadOwnFile(const std::string& path) {
    return ReadAllAndClose(OpenOwnFd(path, O_RDONLY));
}

bool ReadInBlocks(int fd, const std::function<void(std::string_view)>& take) {
    char buffer[65536];
    bool atStart = true;
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        std::string_view block(buffer, static_cast<size_t>(n));
        if (std::exchange(atStart, false))
            block = WithoutByteOrderMark(block);
        take(block);
    }
    ::close(fd);
    return n == 0;
}

} // namespace core
