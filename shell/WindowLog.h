// The window's event list: at most kMaxLines lines, oldest first, the newest
// selected.
#pragma once

#include "config/DateTimeText.h"

#include <cstddef>
#include <cstdint>
#include <array>
#include <string>
#include <string_view>
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
    void Add(std::string_view line);
    std::size_t Count() const { return FCount; }
    int ItemIndex() const { return static_cast<int>(FCount) - 1; }
    TWindowLogSnapshot Snapshot() const;

private:
    // A ring, the oldest line at FFirst: once full, a new line is written
    // over the oldest in its own room, so adding allocates nothing.
    std::array<std::string, kMaxLines> FLines;
    std::size_t FFirst = 0;
    std::size_t FCount = 0;
    uint64_t FAdded = 0;
};

// "<message> mm/dd hh:mm AM".
std::string WindowLogLine(const std::string& message, const TLocalTime& at);
