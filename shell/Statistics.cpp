#include "shell/Statistics.h"

#include "ldap/LDAPASN.h"

TStatisticsTexts StatisticsTexts(const TStatistics& statistics)
{
    TStatisticsTexts texts;
    if (statistics.StartedAt) texts.StatStart = StartTimeText(*statistics.StartedAt);
    if (statistics.Refreshed) {
        texts.StatRequests = std::to_string(statistics.Requests);
        texts.StatDomains = std::to_string(statistics.Domains);
        texts.StatUsers = std::to_string(statistics.Users);
        texts.StatBinding = statistics.Binding;
        texts.StatPort = std::to_string(statistics.Port);
    }
    texts.Status = statistics.Status;
    return texts;
}

std::string BindingText(const TTCPServer& server)
{
    const int count = server.BindingCount();
    if (count == 0) return "Unknown";
    std::string address;
    try {
        address = server.Binding(count - 1).IP;
    } catch (const EListIndexError&) {
        // The bindings were cleared between the two calls.
        return "Unknown";
    }
    return address == "0.0.0.0" ? "All" : address;
}

void RefreshStatistics(TStatistics& statistics, int32_t requests, int32_t domains, int32_t users,
                       const TTCPServer& server)
{
    statistics.Refreshed = true;
    statistics.Requests = requests;
    statistics.Domains = domains;
    statistics.Users = users;
    statistics.Binding = BindingText(server);
    statistics.Port = server.DefaultPort();
}
