#pragma once

#include "core/FileDialogs.h"

#include <QStringList>

class QWidget;

namespace ui {

// The name filters as the file dialog shows them: "label (pattern)". The "*.*" of "All Files"
// becomes "*", since names here need not hold a dot.
QStringList NameFilters(const std::vector<core::FileFilter>& filters);

// Open and save dialogs on QFileDialog: the given title and filters with the first one
// selected, open accepts only existing files, save replaces without asking and gives a name
// typed without extension the default one. The working directory is never changed.
class CQtFileDialogs final : public core::FileDialogs {
  public:
    explicit CQtFileDialogs(QWidget* parent = nullptr) : m_parent(parent) {}

    std::optional<std::string> OpenFile(const std::string& title,
                                        const std::vector<core::FileFilter>& filters) override;
    std::optional<std::string> SaveFile(const std::string& title,
                                        const std::vector<core::FileFilter>& filters,
                                        const std::string& defaultExtension) override;

  private:
    std::optional<std::string> Run(bool save, const std::string& title,
                                   const std::vector<core::FileFilter>& filters,
                                   const std::string& defaultExtension);

    QWidget* m_parent;
};

} // namespace ui
