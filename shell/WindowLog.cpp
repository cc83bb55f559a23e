#include "shell/WindowLog.h"

void TWindowLog::Add(std::string line)
{
    while (FLines.size() >= kMaxLines) FLines.pop_front();
    FLines.push_back(std::move(line));
    ++FAdded;
}

TWindowLogSnapshot TWindowLog::Snapshot() const
{
    TWindowLogSnapshot s;
    s.Lines.assign(FLines.begin(), FLines.end());
    s.ItemIndex = ItemIndex();
    s.Added = FAdded;
    return s;
}

std::string WindowLogLine(const std::string& message, const TLocalTime& at)
{
    return message + " " + WindowTimeText(at);
}
