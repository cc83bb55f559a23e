// The six statistics panels and the status text of the main window.
#pragma once

#include "listener/TcpServer.h"

#include <cstdint>
#include <string>

// Every text is empty until first set; nothing clears them afterwards.
struct TStatisticsSnapshot {
    std::string StatStart;
    std::string StatRequests;
    std::string StatDomains;
    std::string StatUsers;
    std::string StatBinding;
    std::string StatPort;
    std::string Status;  // "Started" / "Stopped"

    bool operator==(const TStatisticsSnapshot&) const = default;
};

// "Unknown" without a binding, "All" when the last binding is exactly
// "0.0.0.0", else the last binding's address.
std::string BindingText(const TTCPServer& server);

// The five panels UpdateStatistics refreshes, from the counters and the
// listener; StatStart and Status are left as they are.
void FillStatistics(TStatisticsSnapshot& panels, int32_t requests, int32_t domains, int32_t users,
                    const TTCPServer& server);
