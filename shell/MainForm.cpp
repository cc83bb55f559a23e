#include "shell/MainForm.h"

#include "directory/LDIF.h"
#include "directory/PublishedDirectory.h"
#include "directory/UserInfo.h"
#include "ldap/Search.h"
#include "ldap/StandardSearch.h"
#include "ldap/TlsMessages.h"
#include "shell/Bindings.h"
#include "shell/StartFailure.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <vector>

namespace {

std::string RunningExecutable()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        // Possibly cut: try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

// How often the directory is rebuilt: RefreshMinutes, or for tests the
// milliseconds in VESKA_TEST_REFRESH_MS when the setting is on; zero is off.
std::chrono::milliseconds RefreshPeriod(const TVESKAOptions& options)
{
    const int32_t minutes = options.RefreshMinutes();
    if (minutes <= 0) return {};
    if (const char* test = std::getenv("VESKA_TEST_REFRESH_MS"); test != nullptr && *test != '\0') {
        const long ms = std::strtol(test, nullptr, 10);
        if (ms > 0) return std::chrono::milliseconds(ms);
    }
    return std::chrono::minutes(minutes);
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// LDAPS on every address the plain port listens on; listening on none means
// listening on all. Nothing when no LDAPS port is set.
void AddLdapsBindings(std::vector<TBinding>& bindings, int plainPort, int tlsPort)
{
    if (tlsPort == 0) return;
    if (bindings.empty()) bindings.push_back(TBinding{"0.0.0.0", plainPort});
    const std::size_t plain = bindings.size();
    for (std::size_t i = 0; i < plain; ++i) bindings.push_back(TBinding{bindings[i].IP, tlsPort, true});
}

} // namespace

TMainForm::TMainForm(IServiceObserver* observer)
    : FOptions(std::make_unique<TVESKAOptions>()), FEventLog(*FOptions, FObservers),
      FRefresher([this](TDirectoryRefresher::TCause) { RefreshDirectory(); },
                 [this](const std::string& text) { LogError(text); })
{
    FObservers.Add(observer);
    FSrv.OnConnect = [this](TConnection& connection) { SrvConnect(connection); };
    FSrv.OnExecute = [this](TConnection& connection) { SrvExecute(connection); };
    FSrv.OnDisconnect = [this](TConnection& connection) { SrvDisconnect(connection); };
    FSrv.OnError = [this](const std::string& text) {
        // The listener ends a connection with "Error...<address>: <reason>".
        FMetrics.CountError(text.rfind("Error...", 0) == 0 ? TErrorKind::Connection : TErrorKind::Listener);
        LogError(text);
    };
    SetExecutablePath(RunningExecutable());
}

TMainForm::~TMainForm() = default;

void TMainForm::AddObserver(IServiceObserver* observer) { FObservers.Add(observer); }

void TMainForm::RemoveObserver(IServiceObserver* observer) { FObservers.Remove(observer); }

void TMainForm::SetExecutablePath(const std::string& path)
{
    FExecutablePath = path;
    FProgramDir = FolderOf(path);
}

void TMainForm::SetProgramDir(const std::string& dir)
{
    FProgramDir = dir.empty() ? std::string("./") : dir;
    if (FProgramDir.back() != '/') FProgramDir += '/';
}

std::string TMainForm::CaptionText() const
{
    const std::size_t slash = FExecutablePath.rfind('/');
    std::string name = slash == std::string::npos ? FExecutablePath : FExecutablePath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return UpperASCII(name) + " 1.1";
}

std::string TMainForm::InProgramDir(const std::string& path) const
{
    return !path.empty() && path.front() == '/' ? path : FProgramDir + path;
}

// ---- the service lifecycle: start-up, start, stop, restart, the end ----

TInitOutcome TMainForm::FormCreate()
{
    const std::string caption = CaptionText();
    Notify([&](IServiceObserver& o) { o.CaptionChanged(caption); });
    return InitService();
}

TInitOutcome TMainForm::InitService()
{
    FreeUserList();
    const std::string settingsPath = FProgramDir + "VESKA.INI";
    try {
        FOptions->LoadFromFile(settingsPath);
    } catch (const ESettingError& e) {
        RaiseError({e.what(), "key " + e.Key() + " in " + e.Path()});
        return TInitOutcome::SettingsError;
    } catch (const std::exception& e) {
        RaiseError({e.what(), settingsPath});
        return TInitOutcome::SettingsError;
    }
    FSrv.SetDefaultPort(FOptions->DefaultPort());
    if (!FAlwaysStart && FOptions->StartOpt() == 2) return TInitOutcome::Stopped;
    try {
        StartService();
    } catch (const std::exception& e) {
        RaiseError({"Cannot start on specified port!", StartFailureCause(e)});
        Notify([](IServiceObserver& o) { o.CloseRequested(); });
        return TInitOutcome::StartFailed;
    }
    return TInitOutcome::Started;
}

void TMainForm::StartService()
{
    if (FSrv.Active()) return;
    // An error here (the external file) leaves the listener inactive.
    LoadUsers();
    if (FOptions->BindSelected())
        SetBindings(FSrv, FOptions->IntSelected());
    else
        FSrv.ClearBindings();
    ConfigureSecurity();
    FTimeSearches = FOptions->MetricsPort() > 0;
    // A bind error leaves the service stopped, with the directory rebuilt but
    // status, counter, start time and log file as they were.
    FSrv.SetActive(true);
    SetStatusText("Started");
    FRequestCount = 0;
    SetStartTime(LocalTimeNow());
    UpdateStatistics();
    // A log file that cannot be opened is reported and tried again at every
    // event; the service runs either way.
    if (FOptions->LogSelected()) FEventLog.OpenFile(FProgramDir + "VESKA.LOG");
    // The watch is in place before anyone is told the service runs, so no
    // rewrite of the external file after "Service started" goes unseen.
    StartRefresher();
    LogEvent(TEventKind::ServiceStart, "Service started");
}

void TMainForm::StopService()
{
    if (!FSrv.Active()) return;
    FRefresher.Stop();
    // Connection threads log their disconnects meanwhile; a timeout propagates
    // and the service still counts as running.
    FSrv.SetActive(false);
    // Errors the limit held back are told before the stop, not lost with it.
    FEventLog.TellHeldErrors();
    LogEvent(TEventKind::ServiceStop, "Service stopped");
    SetStatusText("Stopped");
    FEventLog.CloseFile();
}

void TMainForm::RestartService()
{
    if (!FSrv.Active()) return;
    StopService();
    StartService();
}

void TMainForm::FormDestroy()
{
    StopService();
    FreeUserList();
    CountEntries();
}

void TMainForm::LoadUsers()
{
    std::lock_guard lock(FBuildLock);
    FLastReloadFailure.clear();
    FMailUsers = 0;
    try {
        FMailUsers = ::LoadUsers(*this, FProgramDir, FOptions->ExtFile());
    } catch (...) {
        CountEntries();
        throw;
    }
    CountEntries();
}

void TMainForm::CountEntries()
{
    const TUserListSnapshot list = CurrentUserList();
    FEntryCount = list ? list->Count() : 0;
}

void TMainForm::StartRefresher() { FRefresher.Start(RefreshPeriod(*FOptions), FOptions->ExtFile()); }

TMainForm::TSecurityPlan TMainForm::PlanSecurity(const TVESKAOptions& options)
{
    TSecurityPlan plan;
    if (const std::string certificate = options.TlsCertificate(); !certificate.empty()) {
        const std::string certificatePath = InProgramDir(certificate);
        const std::string key = options.TlsKey();
        const std::string keyPath = key.empty() ? certificatePath : InProgramDir(key);
        plan.Tls = TTlsContext::Load(certificatePath, key.empty() ? std::string() : keyPath);
        if (ReadableByOthers(keyPath)) LogError("Warning: the key file " + keyPath + " is readable by others");
    } else if (options.TlsRequired()) {
        // Serving in clear what the operator wants encrypted would be worse than not starting.
        throw ESocketError("Cannot start on specified port!", "TlsRequired is Yes but no TlsCertificate is set");
    }
    plan.Allow = TAllowList::Parse(options.AllowFrom());
    plan.Required = plan.Tls != nullptr && options.TlsRequired();
    return plan;
}

std::vector<TBinding> TMainForm::ListenerBindings(const TVESKAOptions& options, bool tls)
{
    const int port = options.DefaultPort();
    std::vector<TBinding> bindings;
    if (options.BindSelected()) bindings = BindingsFor(options.IntSelected(), port);
    if (tls) AddLdapsBindings(bindings, port, options.TlsPort());
    return bindings;
}

void TMainForm::ConfigureSecurity()
{
    const TSecurityPlan plan = PlanSecurity(*FOptions);
    FSrv.AllowFrom = plan.Allow;
    FSrv.Tls = plan.Tls;
    FTlsRequired = plan.Required;
    if (!plan.Tls) return;
    std::vector<TBinding> bindings;
    for (int i = 0; i < FSrv.BindingCount(); ++i) bindings.push_back(FSrv.Binding(i));
    const std::size_t had = bindings.size();
    AddLdapsBindings(bindings, FSrv.DefaultPort(), FOptions->TlsPort());
    for (std::size_t i = had; i < bindings.size(); ++i)
        FSrv.AddBinding(bindings[i].IP, bindings[i].Port, bindings[i].Tls);
}

void TMainForm::ApplyNewSettings(const std::function<void()>& afterSave)
{
    SaveSettings();
    if (afterSave) afterSave();
    RestartService();
}

void TMainForm::SaveSettings() { FOptions->SaveToFile(FProgramDir + "VESKA.INI"); }

void TMainForm::Import(const std::string& path)
{
    try {
        ImportLDIF(path);
    } catch (...) {
        CountEntries();
        throw;
    }
    CountEntries();
}

void TMainForm::Export(const std::string& path) { ExportLDIF(path); }

TReloadResult TMainForm::ReloadService()
{
    const std::string settingsPath = FProgramDir + "VESKA.INI";
    if (!FSrv.Active()) {
        // Nothing to keep: read the settings and start.
        FOptions->LoadFromFile(settingsPath);
        FSrv.SetDefaultPort(FOptions->DefaultPort());
        StartService();
        return {true, FEntryCount.load(), {}};
    }
    const auto began = std::chrono::steady_clock::now();
    TReloadResult result;
    {
        std::lock_guard lock(FBuildLock);
        result = [&]() -> TReloadResult {
            auto fresh = std::make_unique<TVESKAOptions>();
            try {
                fresh->LoadFromFile(settingsPath);
            } catch (const ESettingError& e) {
                return {false, 0, std::string(e.what()) + " (key " + e.Key() + " in " + e.Path() + ")"};
            } catch (const std::exception& e) {
                return {false, 0, std::string(e.what()) + " (" + settingsPath + ")"};
            }
            TBuiltDirectory built;
            try {
                built = BuildDirectory(FProgramDir, fresh->ExtFile(), [this](const std::string& domain) {
                    LogEvent(TEventKind::DirectoryLoading, "Loading domain " + domain);
                });
            } catch (const EOpenApiError& e) {
                return {false, 0, std::string(e.what()) + ": " + e.Detail()};
            } catch (const std::exception& e) {
                return {false, 0, StartFailureCause(e)};
            }
            TSecurityPlan security;
            try {
                security = PlanSecurity(*fresh);
            } catch (const std::exception& e) {
                return {false, 0, StartFailureCause(e)};
            }
            // Only changed ports or changed bindings re-listen.
            const int oldPort = FSrv.DefaultPort();
            const std::shared_ptr<const TTlsContext> oldTls = FSrv.Tls;
            const TAllowList oldAllow = FSrv.AllowFrom;
            FSrv.SetDefaultPort(fresh->DefaultPort());
            FSrv.SetSecurity(security.Tls, security.Allow);
            try {
                FSrv.Rebind(ListenerBindings(*fresh, security.Tls != nullptr));
            } catch (const std::exception& e) {
                FSrv.SetSecurity(oldTls, oldAllow);
                FSrv.SetDefaultPort(oldPort);
                return {false, 0, StartFailureCause(e)};
            }
            FTlsRequired = security.Required;
            FTimeSearches = fresh->MetricsPort() > 0;
            for (int i = 0; i < fresh->Count(); ++i) {
                const TOption option = fresh->Option(i);
                FOptions->SetValue(option.Name, option.Value);
            }
            if (FOptions->LogSelected() && !LogFileOpen())
                FEventLog.OpenFile(FProgramDir + "VESKA.LOG");
            else if (!FOptions->LogSelected())
                FEventLog.CloseFile();
            const int32_t entries = built.List->Count();
            PublishBuilt(std::move(built), began);
            FLastReloadFailure.clear();
            return {true, entries, {}};
        }();
        if (!result.Reloaded) ReportReloadFailure(result.Cause);
    }
    // Outside the build lock: the refresher's thread may be waiting for it.
    if (result.Reloaded) StartRefresher();
    return result;
}

void TMainForm::RefreshDirectory()
{
    std::lock_guard lock(FBuildLock);
    if (!FSrv.Active()) return;
    const auto began = std::chrono::steady_clock::now();
    std::string cause;
    TBuiltDirectory built;
    try {
        built = BuildDirectory(FProgramDir, FOptions->ExtFile());
    } catch (const EOpenApiError& e) {
        cause = std::string(e.what()) + ": " + e.Detail();
    } catch (const std::exception& e) {
        cause = StartFailureCause(e);
    }
    if (!cause.empty()) {
        ReportReloadFailure(cause);
        return;
    }
    FLastReloadFailure.clear();
    const TUserListSnapshot live = CurrentUserList();
    if (live && SameEntries(*live, *built.List)) return;
    PublishBuilt(std::move(built), began);
}

void TMainForm::PublishBuilt(TBuiltDirectory built, std::chrono::steady_clock::time_point began)
{
    const int32_t entries = built.List->Count();
    ReplaceUserList(std::move(built.List));
    FEntryCount = entries;
    FDomainCount = built.Domains;
    FUserCount = entries;
    FMailUsers = built.Users;
    UpdateStatistics();
    FMetrics.CountReload(std::chrono::system_clock::now(), std::chrono::steady_clock::now() - began);
    // A service event: the file takes it with "Service start/stop".
    LogEvent(TEventKind::ServiceStart, "Directory reloaded: " + std::to_string(entries) + " entries");
}

void TMainForm::ReportReloadFailure(const std::string& cause)
{
    FMetrics.CountReloadFailure();
    // Told once: again only after a success or for another cause.
    if (cause == FLastReloadFailure) return;
    FLastReloadFailure = cause;
    FMetrics.CountError(TErrorKind::Reload);
    LogError("Directory reload failed: " + cause);
}

// ---- connection handlers, on each connection's own thread ----

void TMainForm::SrvConnect(TConnection& connection)
{
    TThreadCounters& counters = FMetrics.ThisThread();
    counters.Bump(counters.Accepted);
    LogEvent(TEventKind::SessionBegin, "Connect..." + connection.PeerIP());
}

void TMainForm::SrvDisconnect(TConnection&) { LogEvent(TEventKind::SessionEnd, "Disconnect..."); }

bool TMainForm::AnswerStartTls(TConnection& connection)
{
    std::string& pending = connection.Pending();
    const std::optional<std::size_t> size = FrameSize(pending);
    if (!size) return false;
    const std::optional<std::string> messageID = StartTlsMessageID(std::string_view(pending).substr(0, *size));
    if (!messageID) return false;
    // Anything the client sent behind the request would be read in clear
    // although it meant it for the encrypted stream.
    const bool granted = !connection.Secure() && !connection.StartTlsWanted() && pending.size() == *size;
    pending.erase(0, *size);
    if (!granted) {
        connection.Write(StartTlsResponse(*messageID, TResultCode::OperationsError,
                                          connection.Secure() ? "TLS is already in use" : "StartTLS must be sent alone"));
        return true;
    }
    connection.Write(StartTlsResponse(*messageID, TResultCode::Success));
    connection.StartTls();
    return true;
}

void TMainForm::SrvExecute(TConnection& connection)
{
    try {
        // Without a certificate StartTLS goes the way of every other
        // extended operation.
        TThreadCounters& counters = FMetrics.ThisThread();
        counters.Bump(counters.Requests);
        if (connection.TlsAvailable() && AnswerStartTls(connection)) return;
        const TDispatchMode mode = StandardSearchOn(*FOptions) ? TDispatchMode::Standard : TDispatchMode::Described;
        // One pointer captured: the branch fits in std::function itself, so
        // a request allocates nothing for it.
        struct TSearchContext {
            TMainForm* Form;
            TConnection* Connection;
            TDispatchMode Mode;
        } context{this, &connection, mode};
        SrvExecuteMessage(
            connection,
            [&context](ILdapConnection&, const TLdapRequest& request) {
                context.Form->AnswerSearch(*context.Connection, request, context.Mode);
            },
            mode);
    } catch (const std::exception& e) {
        // Still ends the connection; the listener goes on with the others.
        ReportConnectionEnd(connection, e);
        throw;
    }
}

void TMainForm::AnswerSearch(TConnection& connection, const TLdapRequest& request, TDispatchMode mode)
{
    ++FRequestCount;
    {
        // The event's text is put together in room the thread keeps.
        thread_local std::string text;
        text.assign("Search Request ").append(connection.PeerIP());
        LogEvent(TEventKind::Request, text);
    }
    if (FTlsRequired.load(std::memory_order_relaxed) && !connection.Secure()) {
        connection.Write(ConfidentialityRequiredDone(request.MessageIDOctets()));
    } else {
        TThreadCounters& counters = FMetrics.ThisThread();
        if (FTimeSearches.load(std::memory_order_relaxed)) {
            const auto began = std::chrono::steady_clock::now();
            auto answer = MakeSearchAnswer(request, *FOptions, mode);
            counters.AddSearch(std::chrono::steady_clock::now() - began, answer->EntryCount());
            connection.WriteAnswer(std::move(answer));
        } else {
            auto answer = MakeSearchAnswer(request, *FOptions, mode);
            counters.AddSearch(answer->EntryCount());
            connection.WriteAnswer(std::move(answer));
        }
    }
    RefreshRequestCount();
}

void TMainForm::ReportConnectionEnd(const TConnection& connection, const std::exception& error)
{
    std::string reason;
    if (dynamic_cast<const EListIndexError*>(&error) != nullptr) {
        // The read that found the peer gone ends every connection this way.
        if (!connection.Connected()) return;
        reason = "malformed message";
    } else {
        reason = error.what();
    }
    FMetrics.CountError(TErrorKind::Connection);
    LogError("Error..." + connection.PeerIP() + ": " + reason);
}

// ---- what the views show ----

TMetricsSample TMainForm::MetricsSample() const
{
    TMetricsSample sample;
    sample.Totals = FMetrics.Totals();
    sample.Totals.Errors[static_cast<std::size_t>(TErrorKind::LogFile)] += FEventLog.FileFailures();
    sample.ConnectionsOpen = FSrv.ConnectionCount();
    sample.RefusedOverCap = FSrv.RefusedCount();
    sample.RefusedNotAllowed = FSrv.DeniedCount();
    sample.Entries = FEntryCount.load();
    sample.Domains = FDomainCount.load();
    sample.Users = FMailUsers.load();
    sample.ResidentBytes = ProcessResidentBytes();
    sample.OpenFds = ProcessOpenFds();
    return sample;
}

std::string TMainForm::StatusLine() const
{
    return std::to_string(FEntryCount.load()) + " entries, " + std::to_string(FSrv.ConnectionCount()) +
           " connections open";
}


TServiceSnapshot TMainForm::Snapshot() const
{
    TServiceSnapshot snapshot;
    snapshot.Running = FSrv.Active();
    {
        std::lock_guard lock(FStatLock);
        snapshot.Statistics = FStatistics;
    }
    snapshot.Log = FEventLog.WindowSnapshot();
    return snapshot;
}

void TMainForm::UpdateStatistics()
{
    {
        std::lock_guard lock(FStatLock);
        RefreshStatistics(FStatistics, FRequestCount.load(), FDomainCount.load(), FUserCount.load(), FSrv);
    }
    Notify([](IServiceObserver& o) { o.StateChanged(TStateChange::Statistics); });
}

void TMainForm::RefreshRequestCount()
{
    {
        std::lock_guard lock(FStatLock);
        if (FStatistics.Refreshed)
            FStatistics.Requests = FRequestCount.load();
        else
            RefreshStatistics(FStatistics, FRequestCount.load(), FDomainCount.load(), FUserCount.load(), FSrv);
    }
    Notify([](IServiceObserver& o) { o.StateChanged(TStateChange::Statistics); });
}

void TMainForm::SetStartTime(const TLocalTime& at)
{
    {
        std::lock_guard lock(FStatLock);
        FStatistics.StartedAt = at;
    }
    Notify([](IServiceObserver& o) { o.StateChanged(TStateChange::Statistics); });
}

void TMainForm::SetStatusText(const std::string& text)
{
    {
        std::lock_guard lock(FStatLock);
        FStatistics.Status = text;
    }
    Notify([](IServiceObserver& o) { o.StateChanged(TStateChange::Status); });
}

void TMainForm::RaiseError(const TServiceError& error)
{
    Notify([&](IServiceObserver& o) { o.ErrorRaised(error); });
}

void TMainForm::MessageBox(const std::string& text, const std::string& detail) { RaiseError({text, detail}); }
