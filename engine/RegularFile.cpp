#include "engine/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace engine {

int OpenRegularFile(const std::string& path, struct stat* info) {
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

} // namespace engine
