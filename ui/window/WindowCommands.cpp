#include "ui/window/WindowCommands.h"

#include "storage/CsvExport.h"
#include "ui/desktop/Artwork.h"
#include "ui/desktop/BugReport.h"
#include "ui/desktop/HelpWindow.h"
#include "ui/desktop/HyperlinkAddresses.h"
#include "ui/desktop/OpenLink.h"
#include "ui/dialogs/AboutDialog.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/LogViewerDialog.h"
#include "ui/dialogs/SetupDialog.h"
#include "ui/window/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

namespace ui {

CWindowCommands::CWindowCommands(CMainWindow& window)
    : QObject(&window), m_window(window), m_dialogs(&window),
      m_batch(window.List(), window.AddFileHooks(), window.Prompter(), m_dialogs,
              storage::CBatchCommands::Hooks{[this](const std::string& title) {
                                                 m_window.SetCaption(QString::fromStdString(title));
                                             },
                                             [this](int) { m_window.ShowItemCount(); }}) {
    m_shell.SetPrompter(&window.Prompter());
}

void CWindowCommands::Attach() {
    // Every command here opens a dialog, a box or the desktop: it runs once the trigger has
    // returned, so that an assistive tool pressing the menu entry is not kept waiting by it.
    auto on = [this](const char* name, auto&& command) {
        if (auto* action = m_window.findChild<QAction*>(QLatin1String(name)))
            connect(action, &QAction::triggered, this, command, Qt::QueuedConnection);
    };
    on("cmd32798", [this] { Setup(); });
    // A list just loaded from or saved to a batch file can be closed without a question.
    on("cmd32775", [this] {
        // Loading empties the list before the file is chosen, and a cancelled choice leaves it
        // empty: jobs that are in no batch file would be gone without a word.
        if (m_window.HasUnsavedJobs() &&
            m_window.Prompter().Show(kLoadOverUnsavedQuestion, {}, core::Buttons::YesNo,
                                     core::Icon::Question) != core::Answer::Yes)
            return;
        if (m_batch.Load())
            m_window.MarkSaved();
    });
    on("cmd32776", [this] { m_batch.Append(); });
    on("cmd32777", [this] {
        if (m_batch.Save())
            m_window.MarkSaved();
    });
    on("cmd32778", [this] {
        if (m_batch.SaveAs())
            m_window.MarkSaved();
    });
    on("cmd32792", [this] { ViewLog(); });
    on("cmd32793", [this] { ClearLog(); });
    on("cmd32805", [this] { ExportLog(); });
    on("cmd32795", [this] { GoToHomePage(); });
    on("cmd32796", [this] { ShowManual({}); });
    on("cmd32797", [this] { SendBugReport(); });
    on("cmd16", [this] { About(); });
    on("cmdAbout", [this] { About(); });
    // F1 also works inside the window's dialogs, which block the window's own shortcuts; the
    // topic follows the dialog.
    qApp->installEventFilter(this);
}

bool CWindowCommands::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched->isWidgetType())
        ReturnFromDialog(static_cast<QWidget*>(watched));
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier)
        return false;
    // The window itself (run modally, as the program runs it) or one of its dialogs and boxes;
    // the help window answers its own keys.
    QWidget* window = static_cast<QWidget*>(watched)->window();
    if (qobject_cast<CHelpWindow*>(window))
        return false;
    bool ours = false;
    for (QWidget* up = window; up && !ours; up = up->parentWidget())
        ours = up == static_cast<QWidget*>(&m_window);
    if (!ours)
        return false;
    const QString topic = HelpTopicOf(window);
    ShowManual(topic.isEmpty() ? m_window.HelpTopic() : topic);
    return true;
}

void CWindowCommands::ReturnFromDialog(QWidget* closed) {
    // A dialog that ends hands the keyboard back to the window it was opened from. Left to the
    // window manager, the keys may go to a help window the dialog opened instead, where Enter,
    // Escape and F1 mean nothing to the window the user is back in.
    if (!closed->isWindow() || !closed->isModal() || !closed->parentWidget() ||
        qobject_cast<CHelpWindow*>(closed))
        return;
    QPointer<QWidget> back = closed->parentWidget()->window();
    QTimer::singleShot(0, this, [back] {
        if (back && back->isVisible() && !qobject_cast<CHelpWindow*>(back))
            back->activateWindow();
    });
}

void CWindowCommands::Setup() {
    CSetupDialog dialog(m_window.Options(), m_window.Prompter(), &m_window);
    dialog.exec();
}

void CWindowCommands::ViewLog() {
    CLogViewerDialog dialog(m_window.Log().Path(), m_window.Prompter(), &m_window);
    dialog.exec();
}

void CWindowCommands::ClearLog() {
    // A split.log that is no longer a file the log may use is left alone, and the user hears why.
    m_window.Log().Clear(&m_window.Prompter());
}

void CWindowCommands::ExportLog() {
    storage::ExportLogToCsv(m_window.Log().Path(), m_dialogs, m_window.Prompter(), m_shell);
}

void CWindowCommands::GoToHomePage() {
    // Like every other way out to the desktop: nothing waits for the browser, and a failure is
    // said when it is known rather than leaving the user to wonder.
    m_shell.Open(HomePageAddress());
}

void CWindowCommands::ShowManual(const QString& topic) {
    // A modal dialog blocks every window but its own children, so help asked for inside one
    // belongs to that dialog.
    QWidget* modal = QApplication::activeModalWidget();
    ShowHelp(modal ? modal : &m_window, topic);
}

void CWindowCommands::SendBugReport() {
    ui::SendBugReport(m_shell, SupportAddress());
}

void CWindowCommands::About() {
    CAboutDialog dialog(m_window.Prompter(), ProgramIcon(), &m_window);
    dialog.exec();
}

} // namespace ui
