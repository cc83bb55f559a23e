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

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

} // namespace

TMainForm::TMainForm(IServiceObserver* observer)
    : FOptions(std::make_unique<TVESKAOptions>()), FEventLog(*FOptions, FObservers)
{
    FObservers.Add(observer);
    FSrv.OnConnect = [this](TConnection& connection) { SrvConnect(connection); };
    FSrv.OnExecute = [this](TConnection& connection) { SrvExecute(connection); };
    FSrv.OnDisconnect = [this](TConnection& connection) { SrvDisconnect(connection); };
    FSrv.OnError = [this](const std::string& text) { LogError(text); };
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
    LogEvent(TEventKind::ServiceStart, "Service started");
}

void TMainForm::StopService()
{
    if (!FSrv.Active()) return;
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
}

void TMainForm::LoadUsers() { ::LoadUsers(*this, FProgramDir, FOptions->ExtFile()); }

void TMainForm::ConfigureSecurity()
{
    std::shared_ptr<const TTlsContext> tls;
    if (const std::string certificate = FOptions->TlsCertificate(); !certificate.empty()) {
        const std::string certificatePath = InProgramDir(certificate);
        const std::string key = FOptions->TlsKey();
        const std::string keyPath = key.empty() ? certificatePath : InProgramDir(key);
        tls = TTlsContext::Load(certificatePath, key.empty() ? std::string() : keyPath);
        if (ReadableByOthers(keyPath)) LogError("Warning: the key file " + keyPath + " is readable by others");
    } else if (FOptions->TlsRequired()) {
        // Serving in clear what the operator wants encrypted would be worse than not starting.
        throw ESocketError("Cannot start on specified port!", "TlsRequired is Yes but no TlsCertificate is set");
    }
    FSrv.AllowFrom = TAllowList::Parse(FOptions->AllowFrom());
    FSrv.Tls = tls;
    FTlsRequired = tls != nullptr && FOptions->TlsRequired();
    const int tlsPort = FOptions->TlsPort();
    if (!tls || tlsPort == 0) return;
    // LDAPS on every address the plain port listens on.
    if (FSrv.BindingCount() == 0) FSrv.AddBinding("0.0.0.0", FSrv.DefaultPort());
    const int plain = FSrv.BindingCount();
    for (int i = 0; i < plain; ++i) FSrv.AddBinding(FSrv.Binding(i).IP, tlsPort, true);
}

void TMainForm::ApplyNewSettings(const std::function<void()>& afterSave)
{
    SaveSettings();
    if (afterSave) afterSave();
    RestartService();
}

void TMainForm::SaveSettings() { FOptions->SaveToFile(FProgramDir + "VESKA.INI"); }

void TMainForm::Import(const std::string& path) { ImportLDIF(path); }

void TMainForm::Export(const std::string& path) { ExportLDIF(path); }

// ---- connection handlers, on each connection's own thread ----

void TMainForm::SrvConnect(TConnection& connection)
{
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
        connection.Write(StartTlsResponse(*messageID, kResultOperationsError,
                                          connection.Secure() ? "TLS is already in use" : "StartTLS must be sent alone"));
        return true;
    }
    connection.Write(StartTlsResponse(*messageID, kResultSuccess));
    connection.StartTls();
    return true;
}

void TMainForm::SrvExecute(TConnection& connection)
{
    try {
        // Without a certificate StartTLS goes the way of every other
        // extended operation.
        if (connection.TlsAvailable() && AnswerStartTls(connection)) return;
        SrvExecuteMessage(connection, [this, &connection](ILdapConnection& client, const TLdapRequest& request) {
            ++FRequestCount;
            LogEvent(TEventKind::Request, "Search Request " + client.PeerIP());
            if (FTlsRequired.load(std::memory_order_relaxed) && !connection.Secure())
                client.Write(ConfidentialityRequiredDone(request.MessageIDOctets()));
            else
                SearchAnswer(client, request, *FOptions);
            RefreshRequestCount();
        }, StandardSearchOn(*FOptions) ? TDispatchMode::Standard : TDispatchMode::Described);
    } catch (const std::exception& e) {
        // Still ends the connection; the listener goes on with the others.
        ReportConnectionEnd(connection, e);
        throw;
    }
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
    LogError("Error..." + connection.PeerIP() + ": " + reason);
}

// ---- what the views show ----

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
