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
}

bool TVESKAOptions::LogEnabled(uint8_t level) const
{
    if (!GetValue("LogSelected").AsBoolean()) return false;
    switch (level) {
    case 1:
    case 2: return GetValue("LogService").AsBoolean();
    case 3:
    case 4: return GetValue("LogSession").AsBoolean();
    case 5: return GetValue("LogRequests").AsBoolean();
    case 6: return GetValue("LogErrors").AsBoolean();
    default: return false;
    }
}

void TVESKAOptions::WriteLog(uint8_t level, const std::string& message) const
{
    if (!LogFileOpen() || !LogEnabled(level)) return;
    WriteLog(level, message, LocalTimeNow());
}

void TVESKAOptions::WriteLog(uint8_t level, const std::string& message, const TLocalTime& at) const
{
    if (!LogFileOpen() || !LogEnabled(level)) return;
    WriteLogLine(message + " " + FileTimeText(at));
}
