#include "config/SearchSettings.h"

namespace {

TSearchSettings Read(const TOptions& options)
{
    TSearchSettings settings;
    const TValue standard = options.GetValue("StandardSearch");
    if (!standard.IsNull() && !standard.IsEmpty()) {
        try {
            settings.Standard = standard.AsBoolean();
        } catch (const std::exception&) {
            settings.Standard = false;
        }
    }
    try {
        settings.MaxResults = options.GetValue("MaxResults").AsInteger();
    } catch (const std::exception&) {
        settings.MaxResults.reset();
    }
    return settings;
}

} // namespace

const TSearchSettings& SearchSettingsOf(const TOptions& options)
{
    // The generation is unique across lists, so the pair can't be mistaken
    // for another list's, even one made at the same address.
    thread_local const TOptions* owner = nullptr;
    thread_local std::uint64_t generation = 0;
    thread_local TSearchSettings settings;
    const std::uint64_t now = options.Generation();
    if (owner != &options || generation != now) {
        // Read after the generation: a change in between is read again next time.
        settings = Read(options);
        owner = &options;
        generation = now;
    }
    return settings;
}

std::int32_t MaxResultsOf(const TOptions& options)
{
    if (const std::optional<std::int32_t>& cached = SearchSettingsOf(options).MaxResults)
        return *cached;
    return options.GetValue("MaxResults").AsInteger();
}
