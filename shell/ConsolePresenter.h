// The headless presenter of the main form: window-log lines on one stream,
// message boxes on another.
#pragma once

#include "shell/MainForm.h"

#include <atomic>
#include <cstdio>
#include <mutex>

class TConsolePresenter final : public IMainFormPresenter {
public:
    // Neither stream is owned.
    TConsolePresenter(std::FILE* lines, std::FILE* messages);

    void MessageBox(const std::string& text) override;
    void Caption(const std::string&) override {}
    // One line per event, flushed at once.
    void LogLineAdded(const std::string& line) override;
    void StatisticsChanged() override {}
    void StatusChanged() override {}
    void Close() override { FClosed = true; }

    // Whether the form asked to end the program.
    bool Closed() const { return FClosed; }

private:
    // FLock guards writes to both streams, so lines never interleave.
    std::mutex FLock;
    std::FILE* const FLines;
    std::FILE* const FMessages;
    std::atomic<bool> FClosed{false};
};
