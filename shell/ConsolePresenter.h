// The headless view of the service: window-log lines on one stream, the
// texts of errors to show on another.
#pragma once

#include "shell/ConsoleWriter.h"
#include "shell/ServiceObserver.h"

#include <atomic>
#include <cstdio>
#include <mutex>

class TConsolePresenter final : public IServiceObserver {
public:
    // Neither stream is owned. Each is written by a thread of its own
    // through a bounded queue, so no call here waits for a stream.
    TConsolePresenter(std::FILE* lines, std::FILE* messages);

    // The fixed text on one line, its cause (when known) on the next.
    void ErrorRaised(const TServiceError& error) override;
    // One line per event; dropped and counted when the stream cannot keep up.
    void LogLineAdded(const std::string& line) override;
    void CloseRequested() override { FClosed = true; }

    // Whether the form asked to end the program.
    bool Closed() const { return FClosed; }

private:
    // Each writer keeps the lines of its stream whole and in order.
    TConsoleWriter FLines;
    TConsoleWriter FMessages;
    std::atomic<bool> FClosed{false};
};
