#include "shell/MainForm.h"

#include "config/LogFile.h"
#include "directory/LDIF.h"
#include "directory/LdapUtil.h"
#include "directory/UserInfo.h"
#include "ldap/Search.h"
#include "shell/Bindings.h"

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

TMainForm::TMainForm(IMainFormPresenter* presenter)
    : FPresenter(presenter), Options(std::make_unique<TVESKAOptions>())
{
    Srv.OnConnect = [this](TConnection& connection) { SrvConnect(connection); };
    Srv.OnExecute = [this](TConnection& connection) { SrvExecute(connection); };
    Srv.OnDisconnect = [this](TConnection& connection) { SrvDisconnect(connection); };
    SetExecutablePath(RunningExecutable());
}

TMainForm::~TMainForm() = default;

void TMainForm::LogEvent(uint8_t level, const std::string& message)
{
    std::lock_guard lock(FLogLock);
    const std::string line = WindowLogLine(message, LocalTimeNow());
    FWindowLog.Add(line);
    if (FPresenter) FPresenter->LogLineAdded(line);
    Options->WriteLog(level, message);
}

TWindowLogSnapshot TMainForm::WindowLog() const
{
    std::lock_guard lock(FLogLock);
    return FWindowLog.Snapshot();
}

void TMainForm::UpdateStatistics()
{
    {
        std::lock_guard lock(FStatLock);
        FillStatistics(FStatistics, RequestCount.load(), DomainCount.load(), UserCount.load(), Srv);
    }
    if (FPresenter) FPresenter->StatisticsChanged();
}

void TMainForm::SetStartTime(const TLocalTime& at)
{
    {
        std::lock_guard lock(FStatLock);
        FStatistics.StatStart = StartTimeText(at);
    }
    if (FPresenter) FPresenter->StatisticsChanged();
}

void TMainForm::SetStatusText(const std::string& text)
{
    {
        std::lock_guard lock(FStatLock);
        FStatistics.Status = text;
    }
    if (FPresenter) FPresenter->StatusChanged();
}

TStatisticsSnapshot TMainForm::Statistics() const
{
    std::lock_guard lock(FStatLock);
    return FStatistics;
}

void TMainForm::SrvConnect(TConnection& connection) { LogEvent(3, "Connect..." + connection.PeerIP()); }

void TMainForm::SrvDisconnect(TConnection&) { LogEvent(4, "Disconnect..."); }

void TMainForm::SrvExecute(TConnection& connection)
{
    SrvExecuteMessage(connection, [this](ILdapConnection& client, const TASNList& request) {
        ++RequestCount;
        LogEvent(5, "Search Request " + client.PeerIP());
        SearchAnswer(client, request, *Options);
        UpdateStatistics();
    });
}

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

TInitOutcome TMainForm::FormCreate()
{
    if (FPresenter) FPresenter->Caption(CaptionText());
    return InitService();
}

TInitOutcome TMainForm::InitService()
{
    FreeUserList();
    try {
        Options->LoadFromFile(FProgramDir + "VESKA.INI");
    } catch (const std::exception& e) {
        MessageBox(e.what());
        return TInitOutcome::SettingsError;
    }
    Srv.SetDefaultPort(Options->GetValue("DefaultPort").AsInteger());
    if (!AlwaysStart && Options->GetValue("StartOpt").AsInteger() == 2) return TInitOutcome::Stopped;
    try {
        StartService();
    } catch (const std::exception&) {
        MessageBox("Cannot start on specified port!");
        if (FPresenter) FPresenter->Close();
        return TInitOutcome::StartFailed;
    }
    return TInitOutcome::Started;
}

void TMainForm::StartService()
{
    if (Srv.Active()) return;
    // An error here (the external file) leaves the listener inactive.
    LoadUsers();
    if (Options->GetValue("BindSelected").AsBoolean())
        SetBindings(Srv, Options->GetValue("IntSelected").AsString());
    else
        Srv.ClearBindings();
    // A bind error leaves the service stopped, with the directory rebuilt but
    // status, counter, start time and log file as they were.
    Srv.SetActive(true);
    SetStatusText("Started");
    RequestCount = 0;
    SetStartTime(LocalTimeNow());
    UpdateStatistics();
    // A log file that cannot be opened leaves the service running, unannounced.
    if (Options->GetValue("LogSelected").AsBoolean()) OpenLogFile(FProgramDir + "VESKA.LOG");
    LogEvent(1, "Service started");
}

void TMainForm::StopService()
{
    if (!Srv.Active()) return;
    // Connection threads log their disconnects meanwhile; a timeout propagates
    // and the service still counts as running.
    Srv.SetActive(false);
    LogEvent(2, "Service stopped");
    SetStatusText("Stopped");
    if (LogFileOpen()) CloseLogFile();
}

void TMainForm::RestartService()
{
    if (!Srv.Active()) return;
    StopService();
    StartService();
}

void TMainForm::FormDestroy()
{
    StopService();
    FreeUserList();
}

void TMainForm::LoadUsers()
{
    ::LoadUsers(*this, FProgramDir, Options->GetValue("ExtFile").AsString());
}

void TMainForm::MessageBox(const std::string& text)
{
    if (FPresenter) FPresenter->MessageBox(text);
}

void TMainForm::Import(const std::string& path) { ImportLDIF(path); }

void TMainForm::Export(const std::string& path) { ExportLDIF(path); }
