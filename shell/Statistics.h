// The six statistics panels and the status text of the main window: the
// numbers behind them and the texts they show.
#pragma once

#include "config/DateTimeText.h"
#include "listener/TcpServer.h"

#include <cstdint>
#include <optional>
#include <string>

// As last published: nothing clears them, a refresh replaces the five
// refreshed values, a successful start sets StartedAt, start and stop Status.
struct TStatistics {
    // False until the first refresh: the five refreshed panels show nothing.
    bool Refreshed = false;
    int32_t Requests = 0;
    int32_t Domains = 0;
    int32_t Users = 0;
    std::string Binding;  // "Unknown", "All" or the last binding's address
    int Port = 0;
    std::optional<TLocalTime> StartedAt;  // the last successful start
    std::string Status;                   // "", "Started" or "Stopped"
};

// What the panels and the status bar show; every text is empty until first set.
struct TStatisticsTexts {
    std::string StatStart;
    std::string StatRequests;
    std::string StatDomains;
    std::string StatUsers;
    std::string StatBinding;
    std::string StatPort;
    std::string Status;

    bool operator==(const TStatisticsTexts&) const = default;
};

TStatisticsTexts StatisticsTexts(const TStatistics& statistics);

// "Unknown" without a binding, "All" when the last binding is exactly
// "0.0.0.0", else the last binding's address.
std::string BindingText(const TTCPServer& server);

// The five values UpdateStatistics refreshes, from the counters and the
// listener; StartedAt and Status are left as they are.
void RefreshStatistics(TStatistics& statistics, int32_t requests, int32_t domains, int32_t users,
                       const TTCPServer& server);
