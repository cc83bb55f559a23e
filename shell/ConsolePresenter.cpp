#include "shell/ConsolePresenter.h"

namespace {

// Line breaks inside a text would pass for extra events: they become blanks.
void WriteLine(std::FILE* stream, const std::string& text)
{
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line += '\n';
    // A closed stream (reader gone) is not the service's concern.
    (void)std::fwrite(line.data(), 1, line.size(), stream);
    (void)std::fflush(stream);
}

} // namespace

TConsolePresenter::TConsolePresenter(std::FILE* lines, std::FILE* messages) : FLines(lines), FMessages(messages) {}

void TConsolePresenter::ErrorRaised(const TServiceError& error)
{
    std::lock_guard lock(FLock);
    WriteLine(FMessages, error.Text);
}

void TConsolePresenter::LogLineAdded(const std::string& line)
{
    std::lock_guard lock(FLock);
    WriteLine(FLines, line);
}
