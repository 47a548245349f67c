#include "engine/DebugTrace.h"
#include "ui/desktop/Artwork.h"
#include "ui/desktop/SingleInstance.h"
#include "ui/window/MainWindow.h"
#include "ui/window/WindowCommands.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    // Answered before anything of the window starts, so that it works without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (ui::ParseStartupArguments(arguments).version) {
        std::printf("quillsever %s\n", engine::kApplicationVersion);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillsever"));
    // Every window of the program, message boxes included, carries its icon.
    QApplication::setWindowIcon(ui::ProgramIcon());
    // Files named on the command line ("Open with" of a file manager) go to the window already
    // open for this user and folder, if there is one.
    const QStringList files = ui::ParseStartupArguments(QApplication::arguments()).files;
    ui::CSingleInstance instance;
    if (instance.HandOver(files))
        return 0;
    ui::MainWindowSetup setup;
    // Files to add come first: the splash would only hide their parameter prompts.
    setup.allowSplash = files.isEmpty();
    ui::CMainWindow window(std::move(setup));
    ui::CWindowCommands commands(window);
    commands.Attach();
    instance.Listen();
    const auto addFiles = [&window](const QStringList& paths) {
        ui::AddFilesWhenIdle(&window, paths, [&window](const std::vector<std::string>& local) {
            window.DropPaths(local);
        });
    };
    QObject::connect(&instance, &ui::CSingleInstance::FilesReceived, &window,
                     [&window, addFiles](const QStringList& paths) {
                         window.raise();
                         window.activateWindow();
                         addFiles(paths);
                     });
    addFiles(files);
    // The program is its main window: it ends when the window ends.
    window.exec();
    return 0;
}
