// The window's event list: at most kMaxLines lines, oldest first, the newest
// selected.
#pragma once

#include "config/DateTimeText.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// What a view shows: a copy of the lines and the selected index (-1 when
// there is none). Added counts every line ever added, so a view that already
// shows some lines knows how many of these are new to it.
struct TWindowLogSnapshot {
    std::vector<std::string> Lines;
    int ItemIndex = -1;
    uint64_t Added = 0;
};

// Not synchronised itself: its owner serialises every use (TMainForm holds its
// log lock around it).
class TWindowLog {
public:
    static constexpr std::size_t kMaxLines = 100;

    // Drops the oldest line when the list is full, appends, selects the new line.
    void Add(std::string line);
    std::size_t Count() const { return FLines.size(); }
    int ItemIndex() const { return static_cast<int>(FLines.size()) - 1; }
    TWindowLogSnapshot Snapshot() const;

private:
    std::deque<std::string> FLines;
    uint64_t FAdded = 0;
};

// "<message> mm/dd hh:mm AM".
std::string WindowLogLine(const std::string& message, const TLocalTime& at);
