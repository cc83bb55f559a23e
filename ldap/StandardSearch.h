// The answer to a SearchRequest when standard searches are answered: base
// reads by DN and the root DSE, the requested attributes of every selected
// entry, and the size limit reported when it cut the answer.
#pragma once

#include "config/Option.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Dispatch.h"
#include "ldap/LdapRequest.h"
#include "ldap/LdapTags.h"
#include "ldap/Search.h"
#include "ldap/StandardEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The settings switch; a missing or empty key means off.
bool StandardSearchOn(const TOptions& options);

// Which attributes an answer carries: none named or "*" gives all; "1.1"
// (alone) gives none; names match in any letter case.
class TAttributeSelection {
public:
    explicit TAttributeSelection(const std::vector<std::string>& requested);
    bool Wants(std::string_view type) const;

private:
    bool FAll = false;
    std::vector<std::string> FNames;
};

// The root DSE as an entry: what a client reads at base "" before it searches.
TStandardAttributes RootDSEAttributes();

class TStandardAnswerSource final : public IAnswerSource {
public:
    // Raises (index error, filter depth) when the request lacks an element
    // the search needs.
    TStandardAnswerSource(const TLdapRequest& request, const TOptions& options,
                          TSearchScan scan = TSearchScan::Indexed);
    bool Next(std::string& out, std::size_t budget) override;
    // Entries the answer sends (the root DSE counts as one).
    std::size_t EntryCount() const override { return FEntries.size() + (FRootDSE ? 1 : 0); }
    TResultCode Result() const { return FResult; }

private:
    void Pick(const TSearchRequest& search, std::size_t limit, TSearchScan scan);
    std::string EntryMessage(const std::string& dn, const TStandardAttributes& attributes) const;

    TUserListSnapshot FList;
    std::string FMessageID;
    TAttributeSelection FSelection;
    bool FTypesOnly = false;
    bool FRootDSE = false;
    bool FRootDSESent = false;
    std::vector<std::uint32_t> FEntries; // in store order
    std::size_t FSent = 0;
    TResultCode FResult = TResultCode::Success;
    bool FDone = false;
};
