// veska: the desktop program. The program folder is the folder of the
// executable, wherever it was copied to.
#include "shell/MainForm.h"
#include "ui/AppIcons.h"
#include "ui/MainWindow.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon(TAppIcon::Application));
    // A client that goes away mid-answer must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    TMainForm service;
    TMainWindow window(service);
    // Hidden in the tray the window is no "last window": only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &TMainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    if (!window.StartUp()) return 1;
    return QApplication::exec();
}
