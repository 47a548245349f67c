#pragma once

#include "core/Prompter.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <string>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace ui {

// A folder tree with a one-line box above it in which the selected folder's path appears and
// any path may be typed; OK checks the typed path (and offers to create a missing folder).
class CFolderChooser : public QDialog {
    Q_OBJECT

  public:
    // An empty title keeps the usual one; an empty initial folder means the working directory.
    CFolderChooser(core::Prompter& prompter, const QString& title, const QString& prompt,
                   const QString& initialFolder, QWidget* parent = nullptr);

    // 1 when the user accepted a path with OK, -1 otherwise.
    int Choose();
    // The accepted path, as typed or as filled from the tree.
    QString Path() const { return m_path; }

    QLineEdit* EditBox() const { return m_edit; }
    QTreeView* Tree() const { return m_tree; }
    QPushButton* OkButton() const { return m_ok; }

    // Selects a folder in the tree, which puts its path into the box; false if it is not there.
    bool SelectFolder(const QString& path);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ScrollToSelection();
    void OnSelectionChanged();
    void OnOk();

    core::Prompter& m_prompter;
    QFileSystemModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_ok = nullptr;
    QString m_path;
    bool m_scrollPending = false;
};

// Runs the chooser modally; the chosen path when the user accepted one.
std::optional<std::string> ChooseFolder(core::Prompter& prompter, const std::string& title,
                                        const std::string& prompt, const std::string& initial,
                                        QWidget* parent);

} // namespace ui
