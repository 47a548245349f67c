#include "ui/Artwork.h"
#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillsever"));
    // Every window of the program, message boxes included, carries its icon.
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::CMainWindow window;
    // The program is its main window: it ends when the window ends.
    window.exec();
    return 0;
}
