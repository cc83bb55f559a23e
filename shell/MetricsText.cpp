#include "shell/MetricsText.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

std::string Number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

class TWriter {
public:
    void Head(const char* name, const char* type, const char* help)
    {
        FText += "# HELP ";
        FText += name;
        FText += ' ';
        FText += help;
        FText += "\n# TYPE ";
        FText += name;
        FText += ' ';
        FText += type;
        FText += '\n';
    }
    void Sample(const std::string& name, const std::string& value, const std::string& labels = {})
    {
        FText += name;
        if (!labels.empty()) FText += "{" + labels + "}";
        FText += ' ';
        FText += value;
        FText += '\n';
    }
    template <typename T>
    void One(const char* name, const char* type, const char* help, T value)
    {
        Head(name, type, help);
        Sample(name, std::to_string(value));
    }
    std::string Take() { return std::move(FText); }

private:
    std::string FText;
};

} // namespace

std::string MetricsText(const TMetricsSample& s)
{
    const TMetricTotals& t = s.Totals;
    TWriter w;
    w.One("veska_requests_total", "counter", "LDAP messages handled.", t.Requests);
    w.One("veska_searches_total", "counter", "Search requests answered.", t.Searches);

    w.Head("veska_search_duration_seconds", "histogram", "Time to find the entries of a search answer.");
    std::uint64_t cumulative = 0;
    for (std::size_t b = 0; b < kSearchSecondsBuckets.size(); ++b) {
        cumulative += t.SearchBuckets[b];
        w.Sample("veska_search_duration_seconds_bucket", std::to_string(cumulative),
                 "le=\"" + Number(kSearchSecondsBuckets[b]) + "\"");
    }
    cumulative += t.SearchBuckets.back();
    w.Sample("veska_search_duration_seconds_bucket", std::to_string(cumulative), "le=\"+Inf\"");
    w.Sample("veska_search_duration_seconds_sum", Number(t.SearchSeconds));
    w.Sample("veska_search_duration_seconds_count", std::to_string(cumulative));

    w.One("veska_entries_sent_total", "counter", "Entries sent in search answers.", t.EntriesSent);
    w.One("veska_connections_open", "gauge", "LDAP connections open now.", s.ConnectionsOpen);
    w.One("veska_connections_accepted_total", "counter", "LDAP connections accepted.", t.Accepted);
    w.Head("veska_connections_refused_total", "counter", "LDAP connections closed at once, by reason.");
    w.Sample("veska_connections_refused_total", std::to_string(s.RefusedOverCap), "reason=\"max_connections\"");
    w.Sample("veska_connections_refused_total", std::to_string(s.RefusedNotAllowed), "reason=\"not_allowed\"");

    w.Head("veska_errors_total", "counter", "Error events, by kind (also those the rate limit kept out of the log).");
    for (std::size_t k = 0; k < t.Errors.size(); ++k)
        w.Sample("veska_errors_total", std::to_string(t.Errors[k]),
                 std::string("kind=\"") + ErrorKindLabel(static_cast<TErrorKind>(k)) + "\"");

    w.One("veska_directory_entries", "gauge", "Entries in the published directory.", s.Entries);
    w.One("veska_directory_domains", "gauge", "Mail domains read at the last build.", s.Domains);
    w.One("veska_directory_users", "gauge", "Published mail-server users read at the last build.", s.Users);
    w.One("veska_directory_reloads_total", "counter", "Directories published by a reload or refresh.", t.Reloads);
    w.One("veska_directory_reload_failures_total", "counter", "Reloads and refreshes that failed.", t.ReloadFailures);
    w.Head("veska_directory_last_reload_timestamp_seconds", "gauge",
           "When the last reload or refresh published a directory (Unix time; 0: none yet).");
    w.Sample("veska_directory_last_reload_timestamp_seconds", Number(t.LastReloadUnixSeconds));
    w.Head("veska_directory_last_reload_duration_seconds", "gauge", "How long the last published reload took.");
    w.Sample("veska_directory_last_reload_duration_seconds", Number(t.LastReloadDurationSeconds));

    w.One("veska_process_resident_memory_bytes", "gauge", "Resident memory of the process.", s.ResidentBytes);
    w.One("veska_process_open_fds", "gauge", "Open file descriptors of the process.", s.OpenFds);
    return w.Take();
}

std::int64_t ProcessResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

std::int64_t ProcessOpenFds()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    std::int64_t count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    // The directory's own descriptor is not the service's.
    return count - 1;
}
