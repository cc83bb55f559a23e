// The main form without a toolkit: settings, listener, counters, window log,
// statistics and status text. Whatever shows it (the Qt window, veskad's
// console, a test's fake) implements IMainFormPresenter.
#pragma once

#include "config/DateTimeText.h"
#include "config/VESKAOptions.h"
#include "directory/LoadUsers.h"
#include "shell/Statistics.h"
#include "listener/TcpServer.h"
#include "shell/WindowLog.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Contract: every call may come from any thread (connection threads
// included) and must return without waiting for the user-interface thread; a
// GUI presenter posts the change to its event loop and returns. No call may
// throw, and none may call back into TMainForm before returning:
// LogLineAdded runs while the form holds its log lock (so that calls arrive in
// the order of the lines). The presenter reads current state afterwards
// through WindowLog() and Statistics().
class IMainFormPresenter {
public:
    virtual ~IMainFormPresenter() = default;
    virtual void MessageBox(const std::string& text) = 0;
    virtual void Caption(const std::string& text) = 0;
    // A line was appended to the window log (and is now its selected item).
    virtual void LogLineAdded(const std::string& line) = 0;
    virtual void StatisticsChanged() = 0;
    virtual void StatusChanged() = 0;
    virtual void Close() = 0;
};

// What InitService came to.
enum class TInitOutcome {
    Stopped,        // settings loaded, no automatic start
    Started,        // settings loaded, service started
    SettingsError,  // the settings file failed to load (its text was shown)
    StartFailed,    // the start failed: "Cannot start on specified port!", Close()
};

class TMainForm : private ILoadUsersHost {
private:
    // Declared before Srv so that they outlive it: the listener's connection
    // threads still log while Srv is torn down.
    IMainFormPresenter* FPresenter;
    // FLogLock guards FWindowLog and orders the file writes with it: one event
    // is its window line and its file line, never interleaved with another.
    mutable std::mutex FLogLock;
    TWindowLog FWindowLog;
    // FStatLock guards FStatistics; an update reads the counters under it, so
    // the panels never go back to an older count.
    mutable std::mutex FStatLock;
    TStatisticsSnapshot FStatistics;

public:
    // The presenter (may be null) must outlive the form.
    explicit TMainForm(IMainFormPresenter* presenter = nullptr);
    virtual ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // The settings, with their defaults until loaded. Shared with connection
    // threads; TOptions locks itself.
    std::unique_ptr<TVESKAOptions> Options;

    // Atomic: searches on connection threads count concurrently.
    std::atomic<int32_t> RequestCount{0};
    std::atomic<int32_t> DomainCount{0};
    std::atomic<int32_t> UserCount{0};

    // The listener; connect and disconnect are wired to SrvConnect and
    // SrvDisconnect. Destroyed first (declared last), which stops it.
    TTCPServer Srv;

    IMainFormPresenter* Presenter() const { return FPresenter; }

    // The one entry point for events: adds "<message> mm/dd hh:mm AM" to the
    // window log (dropping the oldest of 100), then Options->WriteLog. A file
    // write failure raises EInOutError after the window line was added.
    void LogEvent(uint8_t level, const std::string& message) override;
    TWindowLogSnapshot WindowLog() const;

    // Refreshes requests, domains, users, binding and port.
    void UpdateStatistics() override;
    // "Started:" panel, "mm/dd/yyyy hh:mm:ss AM".
    void SetStartTime(const TLocalTime& at);
    void SetStatusText(const std::string& text);
    TStatisticsSnapshot Statistics() const;

    // Connection handlers, on the connection's own thread.
    void SrvConnect(TConnection& connection);
    void SrvDisconnect(TConnection& connection);
    // One message of the connection; a search is counted, logged, answered and
    // followed by a statistics refresh.
    void SrvExecute(TConnection& connection);

    // The running executable (default /proc/self/exe) gives the caption; its
    // folder is the program folder unless SetProgramDir overrides it. Set them
    // before FormCreate. The folder always ends with "/".
    void SetExecutablePath(const std::string& path);
    void SetProgramDir(const std::string& dir);
    const std::string& ExecutablePath() const { return FExecutablePath; }
    const std::string& ProgramDir() const { return FProgramDir; }
    // "<BASE NAME WITHOUT EXTENSION> 1.1".
    std::string CaptionText() const;

    // Starts the service at InitService whatever StartOpt says (veskad).
    bool AlwaysStart = false;

    // Sets the caption, then InitService.
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

    // Rebuilds the directory (service start only, while the listener is inactive).
    void LoadUsers();
    // File > Import / File > Export on the directory.
    void Import(const std::string& path);
    void Export(const std::string& path);

private:
    // ILoadUsersHost, for LoadUsers.
    void MessageBox(const std::string& text) override;
    void SetDomainCount(int32_t count) override { DomainCount = count; }
    void SetUserCount(int32_t count) override { UserCount = count; }

    // Set on the user-interface thread before the service starts; read-only after.
    std::string FExecutablePath;
    std::string FProgramDir;
};
