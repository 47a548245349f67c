#pragma once

#include "core/AddFile.h"
#include "core/Clock.h"
#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/SetupOptions.h"
#include "engine/Automation.h"
#include "engine/DebugTrace.h"
#include "engine/SplitRun.h"
#include "engine/Watchdog.h"
#include "storage/SplitLog.h"
#include "ui/desktop/QtPump.h"
#include "ui/dialogs/ConnectionNotice.h"
#include "ui/window/FileIcons.h"
#include "ui/window/JobListOperations.h"

#include <QDialog>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QTableView;

namespace ui {

class CJobTableModel;

inline constexpr const char* kMainCaption = "Quillsever v1.16";

// What the window is built with; every empty member gets the real service.
struct MainWindowSetup {
    core::Prompter* prompter = nullptr;       // message boxes
    engine::Automation* automation = nullptr; // qpdf
    core::Clock* clock = nullptr;             // local time for the log
    // The Split Parameters dialog of the window (the real one when empty).
    std::function<std::unique_ptr<ParameterDialog>(class CMainWindow&)> makeDialog = {};
    // What the real dialog's "&Help" button does; the manual at the dialog's page when empty.
    std::function<void()> openHelp = {};
    // Ends the process when the window is closed during a run.
    std::function<void(int)> exitProcess = {};
    bool startWatchdog = true;
    bool allowSplash = true;
    std::string logPath = storage::kSplitLogFile;
    std::string setupPath = core::kSetupFile;
};

// The main window: the job list with its commands, the split run, and the menus whose other
// commands open dialogs of their own (those are connected by the window commands).
class CMainWindow final : public QDialog {
    Q_OBJECT
  public:
    explicit CMainWindow(MainWindowSetup setup = {}, QWidget* parent = nullptr);
    ~CMainWindow() override;

    core::CJobList& List() { return m_list; }
    core::SetupOptions& Options() { return m_options; }
    storage::CSplitLog& Log() { return m_log; }
    core::Prompter& Prompter() { return *m_prompter; }
    core::AddFileHooks AddFileHooks();
    void SetCaption(const QString& caption);
    void ShowItemCount();
    QString HelpTopic() const;

    CJobListOperations& Operations() { return *m_ops; }
    engine::CSplitRun& SplitRun() { return *m_run; }
    engine::CDebugTrace& Trace() { return m_trace; }
    CFileIconCache& Icons() { return m_icons; }
    CConnectionNotice& Notice() { return m_notice; }
    QTableView* Table() const { return m_table; }
    CJobTableModel* Model() const { return m_model; }
    QPushButton* SplitButton() const { return m_split; }
    QLineEdit* ItemCountBox() const { return m_count; }
    // The menu entry or accelerator of a command id ("cmd<ID>").
    QAction* Action(int id) const;
    // The popup of a right-click, built afresh each time.
    std::unique_ptr<QMenu> BuildContextMenu();
    // The context menu's choice (32771 to 32774, or 0 for none), then the repaint.
    void ContextChoice(int id);
    // Close: stop request, one pump, trace end, window end; the process ends with status 1
    // when a job was still "Processing".
    void CloseWindow();
    // Positions the controls for an outer frame of w × h pixels.
    void LayOut(int w, int h);
    // The frame the layout is computed for: the client area below the menu bar plus a fixed
    // allowance for a title bar and borders, whatever the window manager draws.
    QSize NominalFrameSize() const;
    static constexpr QSize kNominalFrame{7, 40};
    // Whether the list holds jobs changed since they were last loaded from or saved to a batch
    // file; MarkSaved is told when they were.
    bool HasUnsavedJobs() const;
    void MarkSaved();
    // Dropped files, in drop order.
    void DropPaths(const std::vector<std::string>& paths);
    // Whether start-up got past opening the split log.
    bool Initialised() const { return m_initialised; }
    const MainWindowSetup& Setup() const { return m_setup; }

  public slots:
    // Escape: Close's steps, after asking when a run or unsaved jobs would be lost.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void BuildControls();
    void BuildMenus();
    void BuildTable();
    void SetSizes();
    QAction* AddCommand(QMenu* menu, int id, const QString& text);
    void Initialise();
    void OnListChanged(int kind, int row, int column, int other);
    void SyncRowSelection(int row);
    void SyncAllSelection();
    void OnViewSelectionChanged();
    bool HandleAccelerator(QObject* receiver, QKeyEvent* key);
    void ShowContextMenu(const QPoint& at);
    int Scaled(int pixels) const;
    int CountBoxX() const;

    MainWindowSetup m_setup;
    core::CJobList m_list;
    core::SetupOptions m_options;
    std::unique_ptr<core::Prompter> m_ownPrompter;
    core::Prompter* m_prompter = nullptr;
    std::unique_ptr<core::Clock> m_ownClock;
    storage::CSplitLog m_log;
    engine::CDebugTrace m_trace;
    std::unique_ptr<engine::Automation> m_ownAutomation;
    engine::Automation* m_automation = nullptr;
    CQtPump m_pump;
    CConnectionNotice m_notice;
    CFileIconCache m_icons;
    std::unique_ptr<ParameterDialog> m_dialog;
    std::unique_ptr<CJobListOperations> m_ops;
    std::unique_ptr<engine::CSplitRun> m_run;
    engine::CNoWindowSystem m_windowSystem;
    std::unique_ptr<engine::CMyThread> m_watchdog;

    QMenuBar* m_menuBar = nullptr;
    QWidget* m_client = nullptr;
    QTableView* m_table = nullptr;
    CJobTableModel* m_model = nullptr;
    QPushButton* m_split = nullptr;
    QPushButton* m_close = nullptr;
    QLabel* m_countLabel = nullptr;
    QLineEdit* m_count = nullptr;
    QLabel* m_link = nullptr;
    QLabel* m_dropHint = nullptr;
    QLabel* m_rightHint = nullptr;
    QHash<int, QAction*> m_actions;
    bool m_syncing = false;
    bool m_closing = false;
    bool m_initialised = false;
    bool m_unsaved = false;
    double m_scale = 1.0;
};

} // namespace ui
