// veskad: the LDAP service without a desktop. The main thread plays the
// user-interface thread: it starts the service, then waits for signals.
#include "shell/ConsolePresenter.h"
#include "shell/MainForm.h"
#include "shell/ProgramArguments.h"
#include "shell/MetricsServer.h"
#include "shell/StartFailure.h"
#include "shell/SystemdNotify.h"
#include "shell/Watchdog.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
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
    "  SIGHUP reloads in place: settings read again, the directory rebuilt and\n"
    "  published whole; connections stay. SIGTERM and SIGINT stop the service\n"
    "  and end veskad.\n"
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

// Serves the metrics where the settings say (MetricsPort 0: nowhere); a
// failure is reported and the LDAP service goes on without them.
void ApplyMetricsSettings(TMetricsServer& metrics, const TMainForm& form, TConsolePresenter& console)
{
    const int port = form.Settings().MetricsPort();
    const std::string address = form.Settings().MetricsAddress();
    if (port <= 0) {
        metrics.Stop();
        return;
    }
    if (metrics.Running() && metrics.Port() == port && metrics.Address() == address) return;
    try {
        metrics.Start(address, port);
    } catch (const EMetricsError& e) {
        console.ErrorRaised({e.what(), e.Cause()});
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
    TMetricsServer metrics([&form] { return MetricsText(form.MetricsSample()); });
    ApplyMetricsSettings(metrics, form, console);

    // A service manager that waits for readiness (systemd's Type=notify) gets it
    // once the listener is bound.
    NotifyServiceManager("READY=1");
    // Under a watchdog: pings while every event loop turns, looking three
    // times per period, and the status line.
    TWatchdog watchdog([&form] { return form.Listener().LoopTurns(); }, [&form] { form.Listener().WakeLoops(); },
                       [&form] { return form.StatusLine(); },
                       [](const std::string& state) { NotifyServiceManager(state); });
    if (const auto timeout = WatchdogTimeoutFromEnvironment(); timeout.count() > 0)
        watchdog.Start(std::max(std::chrono::milliseconds(1),
                                std::chrono::duration_cast<std::chrono::milliseconds>(timeout) / 3),
                       true);

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (signal == SIGHUP) {
            // In place; also brings back a service an earlier failure left stopped.
            NotifyServiceManager("RELOADING=1");
            try {
                form.ReloadService();
            } catch (const std::exception& e) {
                ReportError(console, e);
            }
            ApplyMetricsSettings(metrics, form, console);
            NotifyServiceManager("READY=1");
            continue;
        }
        break;  // SIGTERM, SIGINT
    }
    NotifyServiceManager("STOPPING=1");
    watchdog.Stop();
    metrics.Stop();
    Shutdown(form, console);
    return 0;
}
