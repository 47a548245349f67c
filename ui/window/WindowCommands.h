#pragma once

#include "storage/BatchCommands.h"
#include "ui/desktop/QtFileDialogs.h"
#include "ui/desktop/XdgShell.h"

#include <QObject>

namespace ui {

class CMainWindow;

inline constexpr const char* kLoadOverUnsavedQuestion =
    "The job list has jobs that are not saved in a batch file. Load a batch file in their place?";

// The main window's commands that open dialogs or reach the desktop: Setup, the batch files,
// the split log, the web and help entries, the bug report and About, plus F1. Attach connects
// them to the window's actions, found by their objectName "cmd<ID>". Lives as long as the
// window.
class CWindowCommands : public QObject {
    Q_OBJECT
  public:
    explicit CWindowCommands(CMainWindow& window);

    void Attach();

    // The desktop services the commands use, for others that need the same (the Split
    // Parameters dialog's "&Help" opens the manual through this shell).
    core::Shell& Shell() { return m_shell; }
    storage::CBatchCommands& Batch() { return m_batch; }

    void Setup();
    void ViewLog();
    void ClearLog();
    void ExportLog();
    void GoToHomePage();
    void ShowManual(const QString& topic);
    void SendBugReport();
    void About();

  protected:
    // F1 anywhere in the window or in a dialog over it; a dialog's end returns the keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ReturnFromDialog(QWidget* closed);

    CMainWindow& m_window;
    CXdgShell m_shell;
    CQtFileDialogs m_dialogs;
    storage::CBatchCommands m_batch;
};

} // namespace ui
