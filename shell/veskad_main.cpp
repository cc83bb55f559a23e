// veskad: the LDAP service without a desktop. The main thread plays the
// user-interface thread: it starts the service, then waits for signals.
#include "shell/ConsolePresenter.h"
#include "shell/MainForm.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: veskad [--dir DIR]\n"
    "  Runs the LDAP service of the program folder DIR (default: the folder of\n"
    "  this executable): settings DIR/VESKA.INI, event log DIR/VESKA.LOG,\n"
    "  mail-server library DIR/API.so. Events go to stdout, messages to stderr.\n"
    "  SIGHUP restarts the service; SIGTERM and SIGINT stop it and end veskad.\n";

struct TArguments {
    bool Help = false;
    bool HasDir = false;
    std::string Dir;
};

// False on anything it does not know.
bool ParseArguments(int argc, char** argv, TArguments& args)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.Help = true;
        } else if (arg == "--dir" && i + 1 < argc && argv[i + 1][0] != '\0') {
            args.HasDir = true;
            args.Dir = argv[++i];
        } else if (arg.rfind("--dir=", 0) == 0 && arg.size() > 6) {
            args.HasDir = true;
            args.Dir = arg.substr(6);
        } else {
            return false;
        }
    }
    return true;
}

// Shown the way the desktop shows an error it does not catch, and the program goes on.
void ReportError(TConsolePresenter& console, const std::exception& e) { console.ErrorRaised({e.what(), ""}); }

// Stops the service and frees the directory; a stop that times out is
// reported, and the listener's own teardown then waits for the rest.
void Shutdown(TMainForm& form, TConsolePresenter& console)
{
    try {
        form.FormDestroy();
    } catch (const std::exception& e) {
        ReportError(console, e);
    }
}

} // namespace

int main(int argc, char** argv)
{
    TArguments args;
    if (!ParseArguments(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // Blocked before any thread exists, so every thread inherits the mask and
    // the signals are only ever taken by sigwait below: no handler runs
    // asynchronously. A reader that goes away must not kill the service.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::fputs("Cannot block signals\n", stderr);
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    // A log file past the file-size limit must fail its write (reported like
    // a full disk), not end the service.
    ::signal(SIGXFSZ, SIG_IGN);

    TConsolePresenter console(stdout, stderr);
    TMainForm form(&console);
    if (args.HasDir) form.SetProgramDir(args.Dir);
    form.SetAlwaysStart(true);

    const TInitOutcome outcome = form.FormCreate();
    if (outcome == TInitOutcome::SettingsError) return 1;
    if (outcome == TInitOutcome::StartFailed || console.Closed()) {
        Shutdown(form, console);
        return 1;
    }

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (signal == SIGHUP) {
            // Also brings back a service that an earlier failed restart left stopped.
            try {
                form.StopService();
                form.StartService();
            } catch (const std::exception& e) {
                ReportError(console, e);
            }
            continue;
        }
        break;  // SIGTERM, SIGINT
    }
    Shutdown(form, console);
    return 0;
}
