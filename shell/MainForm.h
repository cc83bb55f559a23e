// The main form without a toolkit: the service's lifecycle over its settings,
// listener, counters, statistics and status text, and the connection
// handlers; events go through its TEventPipeline. Any number of views
// (the Qt window, the tray, veskad's console, a test's recorder) follow it as
// IServiceObserver and read it through Snapshot().
#pragma once

#include "config/DateTimeText.h"
#include "config/EventKind.h"
#include "config/VESKAOptions.h"
#include "directory/LoadUsers.h"
#include "listener/TcpServer.h"
#include "shell/DirectoryRefresher.h"
#include "shell/ErrorLimit.h"
#include "shell/EventPipeline.h"
#include "shell/MetricsText.h"
#include "shell/ObserverList.h"
#include "shell/ServiceObserver.h"
#include "shell/ServiceMetrics.h"
#include "shell/ServiceSnapshot.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// What InitService came to.
enum class TInitOutcome {
    Stopped,        // settings loaded, no automatic start
    Started,        // settings loaded, service started
    SettingsError,  // the settings file failed to load (its text was shown)
    StartFailed,    // the start failed: "Cannot start on specified port!", CloseRequested
};

// What a reload came to: the entries published, or why nothing changed.
struct TReloadResult {
    bool Reloaded = false;
    int32_t Entries = 0;
    std::string Cause;
};

class TMainForm : private ILoadUsersHost {
public:
    // The observer (may be null) is added as the first; see AddObserver.
    explicit TMainForm(IServiceObserver* observer = nullptr);
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // An observer must stay alive until it is removed or the form is gone.
    // Once RemoveObserver returns, no call to it is running or will start.
    void AddObserver(IServiceObserver* observer);
    void RemoveObserver(IServiceObserver* observer);

    // ---- program folder and caption (set before FormCreate) ----

    // The running executable (default /proc/self/exe) gives the caption; its
    // folder is the program folder unless SetProgramDir overrides it. The
    // folder always ends with "/".
    void SetExecutablePath(const std::string& path);
    void SetProgramDir(const std::string& dir);
    const std::string& ExecutablePath() const { return FExecutablePath; }
    const std::string& ProgramDir() const { return FProgramDir; }
    // "<BASE NAME WITHOUT EXTENSION> 1.1".
    std::string CaptionText() const;
    // Start the service at InitService whatever StartOpt says (veskad).
    void SetAlwaysStart(bool always) { FAlwaysStart = always; }

    // ---- commands, on the thread that plays the user-interface thread ----

    // Tells the caption, then InitService.
    TInitOutcome FormCreate();
    // Directory absent, settings from VESKA.INI in the program folder, the
    // listener's port, then the automatic start.
    TInitOutcome InitService();
    // Do nothing when already running / already stopped. Errors propagate:
    // see the steps in the source for what a partial start leaves behind.
    void StartService();
    void StopService();
    // Stop then start, when running; nothing otherwise.
    void RestartService();
    // StopService, then the directory is freed.
    void FormDestroy();
    // Reload in place, for a running service: the settings are read again,
    // the directory is built beside the live one and published whole, the
    // certificate is read again, and the listener re-listens only where the
    // ports or the bindings changed; connections stay. A failure (settings,
    // library, external file, certificate, a new binding) changes nothing and
    // is logged once as "Directory reload failed: <cause>"; success logs
    // "Directory reloaded: <n> entries". A stopped service is started instead
    // (errors propagate, as a start's).
    TReloadResult ReloadService();
    // The automatic refresh: the directory rebuilt from the current settings
    // and published when it differs from the live one. A failure keeps the
    // live one and is logged once until the refresh succeeds or fails
    // otherwise. Runs on the refresher's thread; any thread may call it.
    void RefreshDirectory();
    // File > Import / File > Export on the directory. Nothing is logged and
    // the counters stay; file errors propagate.
    void Import(const std::string& path);
    void Export(const std::string& path);
    // VESKA.INI in the program folder.
    void SaveSettings();
    // The options dialog was accepted: save the settings, run afterSave (the
    // caller's follow-up on the saved settings, such as the start-up
    // shortcut), then restart a running service. An error ends the sequence
    // where it happens.
    void ApplyNewSettings(const std::function<void()>& afterSave = {});

    // ---- queries, from any thread ----

    TServiceSnapshot Snapshot() const;
    bool Running() const { return FSrv.Active(); }
    // The settings, with their defaults until loaded; a dialog edits them in
    // place. Shared with connection threads; TOptions locks itself.
    TVESKAOptions& Settings() { return *FOptions; }
    const TVESKAOptions& Settings() const { return *FOptions; }
    // The monitoring counters and one reading of everything a scrape shows
    // (atomics only: no lock a connection thread takes). "<n> entries, <m>
    // connections open", for a service manager's status line.
    TServiceMetrics& Metrics() { return FMetrics; }
    TMetricsSample MetricsSample() const;
    std::string StatusLine() const;
    // The listener, for hosts and tests that drive it directly; connect,
    // execute and disconnect are wired to this form.
    TTCPServer& Listener() { return FSrv; }
    const TTCPServer& Listener() const { return FSrv; }

    // The one entry point for events, from any thread: see TEventPipeline::Add.
    void LogEvent(TEventKind kind, const std::string& message) override { FEventLog.Add(kind, message); }
    // An error event, rate-limited: see TEventPipeline::Error.
    void LogError(const std::string& text) { FEventLog.Error(text); }
    // Replaces the limit (hosts that want another rate; tests).
    void SetErrorLimit(const TErrorRateLimit& limit) { FEventLog.SetErrorLimit(limit); }

private:
    friend class TMainFormProbe;  // tests reach the counters and the panel steps

    // ILoadUsersHost, for LoadUsers.
    void MessageBox(const std::string& text, const std::string& detail) override;
    void SetDomainCount(int32_t count) override { FDomainCount = count; }
    void SetUserCount(int32_t count) override { FUserCount = count; }
    // Refreshes requests, domains, users, binding and port.
    void UpdateStatistics() override;
    // After a search: only the request count moves while the service runs
    // (the rest is refreshed where it changes: start, directory loads), so a
    // search costs no look at the listener's bindings.
    void RefreshRequestCount();

    void LoadUsers();
    // Entries of the published directory, for the counters.
    void CountEntries();
    // Publishes a directory built beside the live one; "Directory reloaded".
    void PublishBuilt(TBuiltDirectory built, std::chrono::steady_clock::time_point began);
    // Counts a failed reload or refresh; logs it unless the same cause was
    // the last one told. Under FBuildLock.
    void ReportReloadFailure(const std::string& cause);
    void StartRefresher();
    // What the settings ask of the listener's security (the certificate read
    // now); raises when the certificate or key cannot be used.
    struct TSecurityPlan {
        std::shared_ptr<const TTlsContext> Tls;
        TAllowList Allow;
        bool Required = false;
    };
    TSecurityPlan PlanSecurity(const TVESKAOptions& options);
    // Every binding the settings ask for: the plain ones, then LDAPS on the
    // same addresses when a certificate is in use.
    static std::vector<TBinding> ListenerBindings(const TVESKAOptions& options, bool tls);
    // A settings path: absolute, or relative to the program folder.
    std::string InProgramDir(const std::string& path) const;
    // Certificate and key (read afresh), LDAPS bindings beside the plain ones,
    // and the allowed networks, for the activation that follows. Raises when
    // the certificate or key cannot be used or a setting is invalid.
    void ConfigureSecurity();
    // The StartTLS extended request, when the listener has a certificate;
    // false when the message is something else.
    bool AnswerStartTls(TConnection& connection);
    void SetStartTime(const TLocalTime& at);
    void SetStatusText(const std::string& text);
    void RaiseError(const TServiceError& error);
    // Why a connection's handler ended it, as an error event; nothing for a
    // client that simply closed.
    void ReportConnectionEnd(const TConnection& connection, const std::exception& error);

    // Connection handlers, on the connection's own thread.
    void SrvConnect(TConnection& connection);
    void SrvDisconnect(TConnection& connection);
    // One message of the connection; a search is counted, logged, answered and
    // followed by a statistics refresh.
    void SrvExecute(TConnection& connection);
    void AnswerSearch(TConnection& connection, const TLdapRequest& request, TDispatchMode mode);

    template <typename Call>
    void Notify(Call&& call) const { FObservers.Notify(std::forward<Call>(call)); }

    std::unique_ptr<TVESKAOptions> FOptions;
    // Declared before FSrv so that they outlive it: the listener's connection
    // threads still log while it is torn down.
    TObserverList FObservers;
    TEventPipeline FEventLog;
    // FStatLock guards FStatistics; a refresh reads the counters under it, so
    // the panels never go back to an older count.
    mutable std::mutex FStatLock;
    TStatistics FStatistics;

    // Atomic: searches on connection threads count concurrently.
    std::atomic<int32_t> FRequestCount{0};
    std::atomic<int32_t> FDomainCount{0};
    std::atomic<int32_t> FUserCount{0};
    // For the metrics: the published entries and the mail users last read.
    std::atomic<int32_t> FEntryCount{0};
    std::atomic<int32_t> FMailUsers{0};
    TServiceMetrics FMetrics;

    // FBuildLock serialises every build of the directory (start, reload,
    // refresh: the mail library is never called twice at once) and guards
    // FLastReloadFailure.
    std::mutex FBuildLock;
    std::string FLastReloadFailure;
    // Set at each start before the listener runs; read by connection threads.
    std::atomic<bool> FTlsRequired{false};
    // Whether searches are timed for the duration histogram: only with a
    // MetricsPort, otherwise a search reads no clock. Set at each start and
    // reload from the settings; read by connection threads.
    std::atomic<bool> FTimeSearches{false};

    // Set on the user-interface thread before the service starts; read-only after.
    std::string FExecutablePath;
    std::string FProgramDir;
    bool FAlwaysStart = false;

    // Destroyed second to last, which stops it.
    TTCPServer FSrv;
    // Destroyed first: its thread uses everything above.
    TDirectoryRefresher FRefresher;
};
