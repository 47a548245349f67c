#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace fuzzing {

CScratchFile::CScratchFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillsever-fuzz-XXXXXX").string();
    m_fd = ::mkstemp(pattern.data());
    if (m_fd < 0)
        Fail("cannot create a scratch file");
    m_path = pattern;
}

CScratchFile::~CScratchFile() {
    ::close(m_fd);
    ::unlink(m_path.c_str());
}

void CScratchFile::Write(std::string_view bytes) const {
    if (::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        Fail("cannot write the scratch file");
}

} // namespace fuzzing
