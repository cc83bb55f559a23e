// The program's settings: their keys and the event-log file writer.
#pragma once

#include "config/DateTimeText.h"
#include "config/LogFile.h"
#include "config/Option.h"

#include <cstdint>
#include <string>

class TVESKAOptions : public TOptions {
public:
    // Defines the keys in save order with their defaults.
    TVESKAOptions();

    // Appends "<message> mm/dd/yy hh:mm:ss AM" to the open log file when
    // LogSelected and the level's switch are on (1-2 LogService, 3-4
    // LogSession, 5 LogRequests, 6 LogErrors; level 0 never). The switches are
    // read afresh for every event. Never raises: a file that refuses the line
    // gives the notice that starts (or ends) a failure episode, which the
    // caller reports.
    TLogFileNotice WriteLog(uint8_t level, const std::string& message) const;
    TLogFileNotice WriteLog(uint8_t level, const std::string& message, const TLocalTime& at) const;

    // Whether an event of that level goes to the file under the current
    // switches (the file's open state aside).
    bool LogEnabled(uint8_t level) const;

    // Typed reads of the keys, for call sites; each reads the current value.
    int32_t StartOpt() const;
    int32_t DefaultPort() const;
    std::string ExtFile() const;
    bool LogNone() const;
    bool LogSelected() const;
    bool LogService() const;
    bool LogRequests() const;
    bool LogErrors() const;
    bool LogSession() const;
    bool BindAll() const;
    bool BindSelected() const;
    std::string IntSelected() const;
    bool StartMin() const;
    int32_t MaxResults() const;
    // PEM files named relative to the program folder; both empty: no TLS.
    std::string TlsCertificate() const;
    std::string TlsKey() const;
    // The LDAPS port; 0 turns it off.
    int32_t TlsPort() const;
    // Searches on the plain port wait for StartTLS.
    bool TlsRequired() const;
    // Comma-separated addresses and CIDR networks; empty admits everyone.
    std::string AllowFrom() const;
    // Standard LDAP searches answered (equality, presence, reads by DN, ...).
    bool StandardSearch() const;
    // Rebuild the directory this often while running; 0 turns it off.
    int32_t RefreshMinutes() const;
    // The Prometheus endpoint (veskad): port, 0 turns it off, and IPv4 address.
    int32_t MetricsPort() const;
    std::string MetricsAddress() const;
};
