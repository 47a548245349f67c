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

FILE* OpenRegularFile(const std::string& path) {
    // Without O_NONBLOCK the open of a FIFO would wait for a writer before we could look.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
