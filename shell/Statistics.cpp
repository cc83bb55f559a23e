#include "shell/Statistics.h"

#include "ldap/LDAPASN.h"

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

void FillStatistics(TStatisticsSnapshot& panels, int32_t requests, int32_t domains, int32_t users,
                    const TTCPServer& server)
{
    panels.StatDomains = std::to_string(domains);
    panels.StatUsers = std::to_string(users);
    panels.StatRequests = std::to_string(requests);
    panels.StatBinding = BindingText(server);
    panels.StatPort = std::to_string(server.DefaultPort());
}
