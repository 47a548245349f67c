#include "ui/WindowCommands.h"

// The main window is built alongside; until its header is part of the tree there is nothing
// here to compile.
#if __has_include("ui/MainWindow.h")

#include "storage/CsvExport.h"
#include "ui/AboutDialog.h"
#include "ui/BugReport.h"
#include "ui/HelpWindow.h"
#include "ui/HyperlinkAddresses.h"
#include "ui/LogViewerDialog.h"
#include "ui/MainWindow.h"
#include "ui/OpenLink.h"
#include "ui/SetupDialog.h"
#if __has_include("ui/Artwork.h")
#include "ui/Artwork.h"
#endif

#include <QAction>
#include <QApplication>
#include <QShortcut>

namespace ui {

namespace {

QIcon AboutIcon(const QWidget& window) {
#if __has_include("ui/Artwork.h")
    (void)window;
    return ProgramIcon();
#else
    return window.windowIcon();
#endif
}

} // namespace

CWindowCommands::CWindowCommands(CMainWindow& window)
    : QObject(&window), m_window(window), m_dialogs(&window),
      m_batch(window.List(), window.AddFileHooks(), window.Prompter(), m_dialogs,
              storage::CBatchCommands::Hooks{[this](const std::string& title) {
                                                 m_window.SetCaption(QString::fromStdString(title));
                                             },
                                             [this](int) { m_window.ShowItemCount(); }}) {}

void CWindowCommands::Attach() {
    auto on = [this](const char* name, auto&& command) {
        if (auto* action = m_window.findChild<QAction*>(QLatin1String(name)))
            connect(action, &QAction::triggered, this, command);
    };
    on("cmd32798", [this] { Setup(); });
    on("cmd32775", [this] { m_batch.Load(); });
    on("cmd32776", [this] { m_batch.Append(); });
    on("cmd32777", [this] { m_batch.Save(); });
    on("cmd32778", [this] { m_batch.SaveAs(); });
    on("cmd32792", [this] { ViewLog(); });
    on("cmd32793", [this] { ClearLog(); });
    on("cmd32805", [this] { ExportLog(); });
    on("cmd32795", [this] { GoToHomePage(); });
    on("cmd32796", [this] { ShowManual({}); });
    on("cmd32797", [this] { SendBugReport(); });
    on("cmd16", [this] { About(); });
    on("cmdAbout", [this] { About(); });
    // F1 also works inside the window's dialogs, and the topic follows the dialog.
    auto* help = new QShortcut(QKeySequence::HelpContents, &m_window);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, [this] { ShowManual(m_window.HelpTopic()); });
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
    m_window.Log().Clear();
}

void CWindowCommands::ExportLog() {
    storage::ExportLogToCsv(m_window.Log().Path(), m_dialogs, m_window.Prompter(), m_shell);
}

void CWindowCommands::GoToHomePage() {
    // The menu entry reports nothing, whatever happens.
    OpenLink(HomePageAddress());
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
    CAboutDialog dialog(m_window.Prompter(), AboutIcon(m_window), &m_window);
    dialog.exec();
}

} // namespace ui

#endif
