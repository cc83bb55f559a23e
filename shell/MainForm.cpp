#include "shell/MainForm.h"

TMainForm::TMainForm(IMainFormPresenter* presenter)
    : FPresenter(presenter), Options(std::make_unique<TVESKAOptions>())
{
    Srv.OnConnect = [this](TConnection& connection) { SrvConnect(connection); };
    Srv.OnDisconnect = [this](TConnection& connection) { SrvDisconnect(connection); };
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
