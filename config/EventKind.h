// What an event is about. The numbers are the levels the log-file switches
// filter on (and what VESKA.LOG readers have always seen): keep them.
#pragma once

#include <cstdint>

enum class TEventKind : uint8_t {
    DirectoryLoading = 0,  // "Loading domain ...": window only, never the file
    ServiceStart = 1,
    ServiceStop = 2,
    SessionBegin = 3,
    SessionEnd = 4,
    Request = 5,
    Error = 6,
};

constexpr uint8_t EventLevel(TEventKind kind) { return static_cast<uint8_t>(kind); }
