#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace testing_support {

// Lowers the process's open-file limit for the life of the object, to `headroom` descriptors
// beyond those open now; the old limit comes back afterwards.
class CFileLimit {
  public:
    explicit CFileLimit(int headroom) {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        // The lowest free descriptor: every new one is numbered from there.
        const int lowest = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
        ::close(lowest);
        rlimit lowered = m_old;
        lowered.rlim_cur = static_cast<rlim_t>(lowest + headroom);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~CFileLimit() { ::setrlimit(RLIMIT_NOFILE, &m_old); }
    CFileLimit(const CFileLimit&) = delete;
    CFileLimit& operator=(const CFileLimit&) = delete;

  private:
    rlimit m_old{};
};

} // namespace testing_support
