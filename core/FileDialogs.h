#pragma once

#include <optional>
#include <string>
#include <vector>

namespace core {

struct FileFilter {
    std::string label;
    std::string pattern;
};

// The open and save dialogs. A cancelled dialog yields nullopt. The dialogs never change the
// working directory: the program's fixed files are relative names.
class FileDialogs {
  public:
    virtual ~FileDialogs();
    virtual std::optional<std::string> OpenFile(const std::string& title,
                                                const std::vector<FileFilter>& filters) = 0;
    virtual std::optional<std::string> SaveFile(const std::string& title,
                                                const std::vector<FileFilter>& filters,
                                                const std::string& defaultExtension) = 0;
};

} // namespace core
