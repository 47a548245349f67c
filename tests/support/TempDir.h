#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// A fresh directory removed with everything in it when the test ends. While it lives the
// process works inside it, because the program's fixed files are relative names.
class CTempDir {
  public:
    explicit CTempDir(bool enter = false);
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }
    std::string Write(std::string_view name, std::string_view bytes) const;
    std::string Read(std::string_view name) const;

  private:
    std::string m_path;
    std::string m_previousCwd;
};

} // namespace testing_support
