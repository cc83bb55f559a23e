// Which entries a standard-mode filter can select, worked out from the
// substring index over first values plus the few entries whose attribute
// repeats or comes in base64.
#pragma once

#include "directory/UserList.h"
#include "ldap/FilterPlan.h"
#include "ldap/FilterTree.h"

#include <cstdint>
#include <limits>

// A superset of the entries MatchStandard selects. Presence, ordering, not
// and an Invalid node never narrow; a part whose postings pass denseLimit
// counts as all entries.
TFilterCandidates StandardCandidates(const TFilter& filter, const TUserList& list,
                                     std::uint32_t denseLimit = std::numeric_limits<std::uint32_t>::max());
