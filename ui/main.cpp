#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillsever"));
    ui::CMainWindow window;
    window.show();
    // The program is its main window: it ends when the window ends.
    window.exec();
    return 0;
}
