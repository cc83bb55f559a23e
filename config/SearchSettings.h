// The two settings every search reads, kept per thread between changes of
// the settings, so that a request takes no lock and looks up no name for them.
#pragma once

#include "config/Option.h"

#include <cstdint>
#include <optional>

struct TSearchSettings {
    // StandardSearch: a missing, empty or unreadable value means off.
    bool Standard = false;
    // MaxResults; empty when the value does not convert.
    std::optional<std::int32_t> MaxResults;
};

// The values as they stand in options now. The reference stays valid on this
// thread until its next call.
const TSearchSettings& SearchSettingsOf(const TOptions& options);

// MaxResults as a search uses it; raises what reading it raises when it does
// not convert.
std::int32_t MaxResultsOf(const TOptions& options);
