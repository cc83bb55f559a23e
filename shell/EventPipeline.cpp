#include "shell/EventPipeline.h"

#include "config/DateTimeText.h"

#include <chrono>
#include <utility>
#include <vector>

TEventPipeline::TEventPipeline(const TVESKAOptions& settings, const TObserverList& observers)
    : FSettings(settings), FObservers(observers)
{
}

TLogFileNotice TEventPipeline::AddLocked(TEventKind kind, const std::string& message)
{
    const std::string& time = WindowTimeNowLocked();
    FLine.assign(message).append(1, ' ').append(time);
    FWindow.Add(FLine);
    FObservers.Notify([this](IServiceObserver& o) { o.LogLineAdded(FLine); });
    return FSettings.WriteLog(EventLevel(kind), message);
}

const std::string& TEventPipeline::WindowTimeNowLocked()
{
    const auto now = std::chrono::system_clock::now();
    const auto minute = std::chrono::floor<std::chrono::minutes>(now);
    if (minute != FTimeMinute) {
        FTimeText = WindowTimeText(LocalTimeOf(std::chrono::system_clock::to_time_t(now)));
        FTimeMinute = minute;
    }
    return FTimeText;
}

void TEventPipeline::Add(TEventKind kind, const std::string& message)
{
    TLogFileNotice notice;
    {
        std::lock_guard lock(FLock);
        notice = AddLocked(kind, message);
    }
    if (notice) ReportFile(std::move(notice));
}

void TEventPipeline::ReportFile(TLogFileNotice notice)
{
    std::vector<TLogFileNotice> failures;
    {
        std::lock_guard lock(FLock);
        // The report's own line may turn the episode over again; two rounds
        // tell that, and a file that flaps for ever cannot keep us here.
        for (int round = 0; notice && round < 2; ++round) {
            if (notice.Kind == TLogFileNotice::Failed) {
                failures.push_back(notice);
                FFileFailures.fetch_add(1, std::memory_order_relaxed);
            }
            notice = AddLocked(TEventKind::Error, LogFileNoticeText(notice));
        }
    }
    for (const TLogFileNotice& failure : failures) {
        const TServiceError error{"Cannot write log file", failure.Path + ": " + failure.Reason};
        FObservers.Notify([&](IServiceObserver& o) { o.ErrorRaised(error); });
    }
}

void TEventPipeline::Error(const std::string& text)
{
    std::uint64_t held = 0;
    {
        std::lock_guard lock(FErrorLock);
        if (!FErrorLimit.Admit(TErrorRateLimit::TClock::now(), held)) return;
    }
    if (held != 0) Add(TEventKind::Error, HeldErrorsText(held));
    Add(TEventKind::Error, ErrorEventText(text));
}

void TEventPipeline::SetErrorLimit(const TErrorRateLimit& limit)
{
    std::lock_guard lock(FErrorLock);
    FErrorLimit = limit;
}

void TEventPipeline::TellHeldErrors()
{
    std::uint64_t held = 0;
    {
        std::lock_guard lock(FErrorLock);
        held = FErrorLimit.TakeHeld();
    }
    if (held != 0) Add(TEventKind::Error, HeldErrorsText(held));
}

void TEventPipeline::OpenFile(const std::string& path) { ReportFile(OpenLogFile(path)); }

void TEventPipeline::CloseFile()
{
    if (LogFileOpen()) ReportFile(CloseLogFile());
}

TWindowLogSnapshot TEventPipeline::WindowSnapshot() const
{
    std::lock_guard lock(FLock);
    return FWindow.Snapshot();
}
