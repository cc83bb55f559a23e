// Everything a view of the service shows, copied at one moment.
#pragma once

#include "shell/Statistics.h"
#include "shell/WindowLog.h"

struct TServiceSnapshot {
    bool Running = false;
    TStatistics Statistics;
    TWindowLogSnapshot Log;
};
