// The headless view of the service: window-log lines on one stream, the
// texts of errors to show on another.
#pragma once

#include "shell/ServiceObserver.h"

#include <atomic>
#include <cstdio>
#include <mutex>

class TConsolePresenter final : public IServiceObserver {
public:
    // Neither stream is owned.
    TConsolePresenter(std::FILE* lines, std::FILE* messages);

    // The fixed text on one line.
    void ErrorRaised(const TServiceError& error) override;
    // One line per event, flushed at once.
    void LogLineAdded(const std::string& line) override;
    void CloseRequested() override { FClosed = true; }

    // Whether the form asked to end the program.
    bool Closed() const { return FClosed; }

private:
    // FLock guards writes to both streams, so lines never interleave.
    std::mutex FLock;
    std::FILE* const FLines;
    std::FILE* const FMessages;
    std::atomic<bool> FClosed{false};
};
