#include "core/Files.h"

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

std::optional<TempFile> CreateTempBeside(const std::string& path) {
    const size_t cut = path.rfind(kSeparator);
    const std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    std::string pattern = dir + kSeparator + ".quillsever-XXXXXX";
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // mkstemp creates 0600; an ordinary document wants the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return TempFile{fd, pattern};
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
    auto temp = CreateTempBeside(path);
    if (!temp)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(temp->fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    if (::close(temp->fd) != 0)
        ok = false;
    if (ok && std::rename(temp->path.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temp->path.c_str());
    return false;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::nullopt;
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out.append(buffer, n);
    const bool failed = std::ferror(file) != 0; // a directory opens but cannot be read
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return out;
}

} // namespace core
