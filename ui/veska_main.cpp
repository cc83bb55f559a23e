// veska: the desktop program. The program folder is DIR of --dir, else the
// folder of the executable.
#include "shell/MainForm.h"
#include "shell/ProgramArguments.h"
#include "ui/AppIcons.h"
#include "ui/MainWindow.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <vector>

#ifndef VESKA_VERSION
#define VESKA_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: veska [--dir DIR] | --help | --version\n"
    "  The desktop program of the LDAP service, for the program folder DIR\n"
    "  (default: the folder of this executable): settings DIR/VESKA.INI, event\n"
    "  log DIR/VESKA.LOG, mail-server library DIR/API.so. The toolkit's own\n"
    "  options (such as -platform) are accepted too.\n"
    "  Exit codes: 0 closed, 1 the automatic start failed, 2 bad arguments or\n"
    "  DIR is not a folder.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Our options are answered before any window exists, so that --help, a
    // mistyped folder and the like need no display.
    const TProgramArguments args = ParseProgramArguments(argc, argv);
    if (args.Bad) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.Version) {
        std::fputs("veska " VESKA_VERSION "\n", stdout);
        return 0;
    }
    if (args.HasDir && !CheckProgramDir(args.Dir, stderr)) return 2;

    // The toolkit sees the rest and takes what is its own.
    std::vector<char*> rest{argv[0]};
    for (const std::string& arg : args.Rest) rest.push_back(const_cast<char*>(arg.c_str()));
    int restCount = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    QApplication app(restCount, rest.data());
    if (restCount > 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QApplication::setWindowIcon(AppIcon(TAppIcon::Application));
    // A client that goes away mid-answer must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    TMainForm service;
    if (args.HasDir) service.SetProgramDir(args.Dir);
    TMainWindow window(service);
    // Hidden in the tray the window is no "last window": only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &TMainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    if (!window.StartUp()) return 1;
    return QApplication::exec();
}
