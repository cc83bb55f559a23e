// veskad: the LDAP service without a desktop. The main thread plays the
// user-interface thread: it starts the service, then waits for signals.
#include "shell/ConsolePresenter.h"
#include "shell/MainForm.h"
#include "shell/ProgramArguments.h"
#include "shell/StartFailure.h"
#include "shell/SystemdNotify.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>

#ifndef VESKA_VERSION
#define VESKA_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: veskad [--dir DIR] | --help | --version\n"
    "  Runs the LDAP service of the program folder DIR (default: the folder of\n"
    "  this executable): settings DIR/VESKA.INI, event log DIR/VESKA.LOG,\n"
    "  mail-server library DIR/API.so. Events go to stdout, messages to stderr.\n"
    "  SIGHUP restarts the service; SIGTERM and SIGINT stop it and end veskad.\n"
    "  Exit codes: 0 stopped by a signal, 1 the service could not start or the\n"
    "  settings could not be read, 2 bad arguments or DIR is not a folder.\n"
    "  VESKAD_MESSAGE_TIMEOUT_MS, when set, replaces the 30000 ms a started\n"
    "  message or TLS handshake may take (for tests).\n";

// Shown the way the desktop shows an error it does not catch, and the program
// goes on; the cause, when there is one beyond the text, on the next line.
void ReportError(TConsolePresenter& console, const std::exception& e)
{
    std::string cause = StartFailureCause(e);
    if (cause == e.what()) cause.clear();
    console.ErrorRaised({e.what(), cause});
}

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
    const TProgramArguments args = ParseProgramArguments(argc, argv);
    if (args.Bad || !args.Rest.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.Version) {
        std::fputs("veskad " VESKA_VERSION "\n", stdout);
        return 0;
    }
    if (args.HasDir && !CheckProgramDir(args.Dir, stderr)) return 2;

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
    if (const char* timeout = std::getenv("VESKAD_MESSAGE_TIMEOUT_MS"); timeout != nullptr) {
        const long ms = std::strtol(timeout, nullptr, 10);
        if (ms > 0 && ms <= 3600000) form.Listener().Limits.IncompleteMessageMs = static_cast<int>(ms);
    }
    form.SetAlwaysStart(true);

    const TInitOutcome outcome = form.FormCreate();
    if (outcome == TInitOutcome::SettingsError) return 1;
    if (outcome == TInitOutcome::StartFailed || console.Closed()) {
        Shutdown(form, console);
        return 1;
    }
    // A service manager that waits for readiness (systemd's Type=notify) gets it
    // once the listener is bound.
    NotifyServiceManager("READY=1");

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (signal == SIGHUP) {
            // Also brings back a service that an earlier failed restart left stopped.
            NotifyServiceManager("RELOADING=1");
            try {
                form.StopService();
                form.StartService();
            } catch (const std::exception& e) {
                ReportError(console, e);
            }
            NotifyServiceManager("READY=1");
            continue;
        }
        break;  // SIGTERM, SIGINT
    }
    NotifyServiceManager("STOPPING=1");
    Shutdown(form, console);
    return 0;
}
