#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    FILE* file = OpenRegularFile(path);
    if (!file)
        return std::nullopt;
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return out;
}

} // namespace core
