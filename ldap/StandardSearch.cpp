#include "ldap/StandardSearch.h"

#include "config/AsciiText.h"
#include "config/SearchSettings.h"
#include "ldap/DistinguishedName.h"
#include "ldap/ResultMessage.h"
#include "ldap/StandardFilter.h"
#include "ldap/StandardMatch.h"
#include "ldap/StandardPlan.h"

#include <algorithm>
#include <unordered_set>

namespace {

// Below this many entries a candidate list is always worth it.
constexpr std::uint32_t kSmallDirectory = 1024;

const TSearchRequest& NoSearch()
{
    static const TSearchRequest missing = [] {
        TSearchRequest search;
        search.Filter = MissingFilter(6);
        return search;
    }();
    return missing;
}

const TSearchRequest& SearchOf(const TLdapRequest& request)
{
    const TSearchRequest* search = request.Search();
    return search != nullptr ? *search : NoSearch();
}

// The smaller of the positive limits; 0 when neither limits.
std::size_t LimitOf(std::uint32_t sizeLimit, const TOptions& options)
{
    const int maxResults = MaxResultsOf(options);
    std::size_t limit = maxResults > 0 ? static_cast<std::size_t>(maxResults) : 0;
    if (sizeLimit > 0 && (limit == 0 || sizeLimit < limit))
        limit = sizeLimit;
    return limit;
}

} // namespace

bool StandardSearchOn(const TOptions& options) { return SearchSettingsOf(options).Standard; }

TAttributeSelection::TAttributeSelection(const std::vector<std::string>& requested)
{
    FAll = requested.empty();
    for (const std::string& name : requested) {
        if (name == "*")
            FAll = true;
        else if (name != "1.1" && name != "+")
            FNames.push_back(name);
    }
}

bool TAttributeSelection::Wants(std::string_view type) const
{
    if (FAll)
        return true;
    return std::any_of(FNames.begin(), FNames.end(),
                       [&](const std::string& name) { return SameTextASCII(name, type); });
}

TStandardAttributes RootDSEAttributes()
{
    return {
        {"objectClass", {"top"}},
        {"namingContexts", {""}},
        {"supportedLDAPVersion", {"3"}},
        {"vendorName", {"VESKA"}},
        {"vendorVersion", {"1.1"}},
    };
}

TStandardAnswerSource::TStandardAnswerSource(const TLdapRequest& request, const TOptions& options,
                                             TSearchScan scan)
    : FList(CurrentUserList()), FSelection(SearchOf(request).Attributes)
{
    request.RequireOperation();
    FMessageID = request.MessageIDOctets();
    const TSearchRequest& search = SearchOf(request);
    FTypesOnly = search.TypesOnly;
    Pick(search, LimitOf(search.SizeLimit, options), scan);
}

void TStandardAnswerSource::Pick(const TSearchRequest& search, std::size_t limit, TSearchScan scan)
{
    const TFilter& filter = search.Filter.Root;
    const TUserList* list = FList.get();
    const int count = list ? list->Count() : 0;

    if (search.Scope == TSearchScope::BaseObject) {
        if (NormalizedDN(search.BaseObject).empty()) {
            FRootDSE = MatchStandard(filter, RootDSEAttributes());
            return;
        }
        const int index = count > 0 ? FindEntryByDN(*list, search.BaseObject) : -1;
        if (index < 0)
            FResult = TResultCode::NoSuchObject;
        else if (MatchStandard(filter, StandardAttributes(*list, index)))
            FEntries.push_back(static_cast<std::uint32_t>(index));
        return;
    }

    // Every other scope answers the whole flat directory, whatever its base.
    if (count == 0)
        return;
    std::unordered_set<std::string> seen; // normalized DNs sent
    // False once the limit has cut the answer: nothing later can be sent.
    const auto take = [&](std::uint32_t i) {
        if (!seen.insert(NormalizedDN(StandardDN(*list, static_cast<int>(i)))).second)
            return true;
        if (limit != 0 && FEntries.size() >= limit) {
            FResult = TResultCode::SizeLimitExceeded;
            return false;
        }
        FEntries.push_back(i);
        return true;
    };
    if (search.Filter.ContainsInvalid || scan == TSearchScan::Full) {
        // Entry by entry in store order, so that an Invalid node raises where
        // evaluation first reaches it.
        for (int i = 0; i < count; ++i)
            if (MatchStandard(filter, StandardAttributes(*list, i)) && !take(static_cast<std::uint32_t>(i)))
                return;
        return;
    }
    const TStandardFilter compiled(filter, *list);
    TFilterCandidates candidates;
    candidates.All = true;
    if (scan == TSearchScan::Indexed)
        candidates = StandardCandidates(filter, *list, static_cast<std::uint32_t>(count) / 8 + kSmallDirectory);
    if (candidates.All) {
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(count); ++i)
            if (compiled.Matches(i) && !take(i))
                return;
    } else {
        for (const std::uint32_t i : candidates.Entries)
            if (compiled.Matches(i) && !take(i))
                return;
    }
}

std::string TStandardAnswerSource::EntryMessage(const std::string& dn, const TStandardAttributes& attributes) const
{
    TASNList answer;
    TASNNode& message = answer.Add(TagOf(TUniversalTag::Sequence));
    message.Children.Add(TagOf(TUniversalTag::Integer), FMessageID);
    TASNNode& entry = message.Children.Add(TagOf(TOperationTag::SearchResultEntry));
    entry.Children.Add(TagOf(TUniversalTag::OctetString), dn);
    TASNNode& list = entry.Children.Add(TagOf(TUniversalTag::Sequence));
    for (const TStandardAttribute& attribute : attributes) {
        if (!FSelection.Wants(attribute.Type))
            continue;
        TASNNode& partial = list.Children.Add(TagOf(TUniversalTag::Sequence));
        partial.Children.Add(TagOf(TUniversalTag::OctetString), attribute.Type);
        TASNNode& values = partial.Children.Add(TagOf(TUniversalTag::Set));
        if (!FTypesOnly)
            for (const std::string& value : attribute.Values)
                values.Children.Add(TagOf(TUniversalTag::OctetString), value);
    }
    return answer.Encode();
}

bool TStandardAnswerSource::Next(std::string& out, std::size_t budget)
{
    if (FDone)
        return false;
    const std::size_t start = out.size();
    if (FRootDSE && !FRootDSESent) {
        out += EntryMessage("", RootDSEAttributes());
        FRootDSESent = true;
    }
    while (FSent < FEntries.size()) {
        if (out.size() - start >= budget && out.size() > start)
            return true;
        const int i = static_cast<int>(FEntries[FSent++]);
        out += EntryMessage(StandardDN(*FList, i), StandardAttributes(*FList, i));
    }
    if (out.size() > start && out.size() - start >= budget)
        return true;
    out += ResultMessage(FMessageID, TOperationTag::SearchResultDone, FResult);
    FDone = true;
    FList.reset();
    return false;
}
