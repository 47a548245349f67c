#include "ui/Artwork.h"
#include "ui/HelpWindow.h"
#include "ui/MainWindow.h"
#include "ui/WindowCommands.h"
#include "ui/XdgShell.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillsever"));
    // Every window of the program, message boxes included, carries its icon.
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::CXdgShell shell;
    ui::MainWindowSetup setup;
    setup.openHelp = [&shell] { ui::OpenManualExternally(shell); };
    ui::CMainWindow window(std::move(setup));
    ui::CWindowCommands commands(window);
    commands.Attach();
    // The program is its main window: it ends when the window ends.
    window.exec();
    return 0;
}
