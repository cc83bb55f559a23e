#include "shell/WindowLog.h"

void TWindowLog::Add(std::string_view line)
{
    if (FCount < kMaxLines) {
        FLines[(FFirst + FCount) % kMaxLines].assign(line);
        ++FCount;
    } else {
        FLines[FFirst].assign(line);
        FFirst = (FFirst + 1) % kMaxLines;
    }
    ++FAdded;
}

TWindowLogSnapshot TWindowLog::Snapshot() const
{
    TWindowLogSnapshot s;
    s.Lines.reserve(FCount);
    for (std::size_t i = 0; i < FCount; ++i) s.Lines.push_back(FLines[(FFirst + i) % kMaxLines]);
    s.ItemIndex = ItemIndex();
    s.Added = FAdded;
    return s;
}

std::string WindowLogLine(const std::string& message, const TLocalTime& at)
{
    return message + " " + WindowTimeText(at);
}
