#include "shell/ConsolePresenter.h"

namespace {

// Line breaks inside a text would pass for extra events: they become blanks.
void WriteLine(TConsoleWriter& stream, const std::string& text)
{
    if (text.find_first_of("\r\n") == std::string::npos) {
        stream.Push(text);
        return;
    }
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    stream.Push(line);
}

} // namespace

TConsolePresenter::TConsolePresenter(std::FILE* lines, std::FILE* messages)
    : FLines(::fileno(lines)), FMessages(::fileno(messages))
{
}

void TConsolePresenter::ErrorRaised(const TServiceError& error)
{
    WriteLine(FMessages, error.Text);
    if (!error.Detail.empty()) WriteLine(FMessages, error.Detail);
}

void TConsolePresenter::LogLineAdded(const std::string& line)
{
    WriteLine(FLines, line);
}
