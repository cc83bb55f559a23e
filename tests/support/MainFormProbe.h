// Tests reach what the service keeps private: the live counters (the panels
// show them only as of the last refresh) and the panel steps.
#pragma once

#include "shell/MainForm.h"

#include <atomic>
#include <cstdint>
#include <string>

class TMainFormProbe {
public:
    static std::atomic<int32_t>& RequestCount(TMainForm& form) { return form.FRequestCount; }
    static std::atomic<int32_t>& DomainCount(TMainForm& form) { return form.FDomainCount; }
    static std::atomic<int32_t>& UserCount(TMainForm& form) { return form.FUserCount; }
    static void UpdateStatistics(TMainForm& form) { form.UpdateStatistics(); }
    static void SetStartTime(TMainForm& form, const TLocalTime& at) { form.SetStartTime(at); }
    static void SetStatusText(TMainForm& form, const std::string& text) { form.SetStatusText(text); }
};

// The texts the panels and the status bar show now.
inline TStatisticsTexts Panels(const TMainForm& form) { return StatisticsTexts(form.Snapshot().Statistics); }
