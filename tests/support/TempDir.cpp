#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

CTempDir::CTempDir(bool enter) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qs-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
    if (enter) {
        m_previousCwd = std::filesystem::current_path().string();
        std::filesystem::current_path(m_path);
    }
}

CTempDir::~CTempDir() {
    std::error_code ec;
    if (!m_previousCwd.empty())
        std::filesystem::current_path(m_previousCwd, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string CTempDir::Write(std::string_view name, std::string_view bytes) const {
    std::string path = File(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string CTempDir::Read(std::string_view name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace testing_support
