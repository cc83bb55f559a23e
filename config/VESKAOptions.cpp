#include "config/VESKAOptions.h"

#include "config/LogFile.h"

TVESKAOptions::TVESKAOptions()
{
    AddOption("StartOpt", okInteger, TValue(2));
    AddOption("DefaultPort", okInteger, TValue(389));
    AddOption("ExtFile", okString, TValue(""));
    AddOption("LogNone", okBoolean, TValue(true));
    AddOption("LogSelected", okBoolean, TValue(false));
    AddOption("LogService", okBoolean, TValue(false));
    AddOption("LogRequests", okBoolean, TValue(false));
    AddOption("LogErrors", okBoolean, TValue(false));
    AddOption("LogSession", okBoolean, TValue(false));
    AddOption("BindAll", okBoolean, TValue(true));
    AddOption("BindSelected", okBoolean, TValue(false));
    AddOption("IntSelected", okString, TValue(""));
    AddOption("StartMin", okBoolean, TValue(false));
    AddOption("MaxResults", okInteger, TValue(50));
    AddOption("TlsCertificate", okString, TValue(""));
    AddOption("TlsKey", okString, TValue(""));
    AddOption("TlsPort", okInteger, TValue(636));
    AddOption("TlsRequired", okBoolean, TValue(false));
    AddOption("AllowFrom", okString, TValue(""));
    // Off unless set: the described answers stay the default.
    AddOption("StandardSearch", okBoolean, TValue(false));
    AddOption("RefreshMinutes", okInteger, TValue(0));
    AddOption("MetricsPort", okInteger, TValue(0));
    AddOption("MetricsAddress", okString, TValue("127.0.0.1"));
}

bool TVESKAOptions::LogEnabled(uint8_t level) const
{
    if (!LogSelected()) return false;
    switch (level) {
    case 1:
    case 2: return LogService();
    case 3:
    case 4: return LogSession();
    case 5: return LogRequests();
    case 6: return LogErrors();
    default: return false;
    }
}

TLogFileNotice TVESKAOptions::WriteLog(uint8_t level, const std::string& message) const
{
    if (!LogFileOpen() || !LogEnabled(level)) return {};
    return WriteLog(level, message, LocalTimeNow());
}

TLogFileNotice TVESKAOptions::WriteLog(uint8_t level, const std::string& message, const TLocalTime& at) const
{
    if (!LogFileOpen() || !LogEnabled(level)) return {};
    return WriteLogLine(message + " " + FileTimeText(at));
}

int32_t TVESKAOptions::StartOpt() const { return GetValue("StartOpt").AsInteger(); }
int32_t TVESKAOptions::DefaultPort() const { return GetValue("DefaultPort").AsInteger(); }
std::string TVESKAOptions::ExtFile() const { return GetValue("ExtFile").AsString(); }
bool TVESKAOptions::LogNone() const { return GetValue("LogNone").AsBoolean(); }
bool TVESKAOptions::LogSelected() const { return GetValue("LogSelected").AsBoolean(); }
bool TVESKAOptions::LogService() const { return GetValue("LogService").AsBoolean(); }
bool TVESKAOptions::LogRequests() const { return GetValue("LogRequests").AsBoolean(); }
bool TVESKAOptions::LogErrors() const { return GetValue("LogErrors").AsBoolean(); }
bool TVESKAOptions::LogSession() const { return GetValue("LogSession").AsBoolean(); }
bool TVESKAOptions::BindAll() const { return GetValue("BindAll").AsBoolean(); }
bool TVESKAOptions::BindSelected() const { return GetValue("BindSelected").AsBoolean(); }
std::string TVESKAOptions::IntSelected() const { return GetValue("IntSelected").AsString(); }
bool TVESKAOptions::StartMin() const { return GetValue("StartMin").AsBoolean(); }
int32_t TVESKAOptions::MaxResults() const { return GetValue("MaxResults").AsInteger(); }
std::string TVESKAOptions::TlsCertificate() const { return GetValue("TlsCertificate").AsString(); }
std::string TVESKAOptions::TlsKey() const { return GetValue("TlsKey").AsString(); }
int32_t TVESKAOptions::TlsPort() const { return GetValue("TlsPort").AsInteger(); }
bool TVESKAOptions::TlsRequired() const { return GetValue("TlsRequired").AsBoolean(); }
std::string TVESKAOptions::AllowFrom() const { return GetValue("AllowFrom").AsString(); }
bool TVESKAOptions::StandardSearch() const { return GetValue("StandardSearch").AsBoolean(); }
int32_t TVESKAOptions::RefreshMinutes() const { return GetValue("RefreshMinutes").AsInteger(); }
int32_t TVESKAOptions::MetricsPort() const { return GetValue("MetricsPort").AsInteger(); }
std::string TVESKAOptions::MetricsAddress() const { return GetValue("MetricsAddress").AsString(); }
