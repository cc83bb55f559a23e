// Search filter evaluation against one directory entry, as the server has
// always answered: and, or, not and substrings only.
#pragma once

#include "directory/UserInfo.h"
#include "directory/UserList.h"
#include "ldap/FilterTree.h"
#include "ldap/LDAPASN.h"

#include <string_view>

// and, or and not combine; substrings compares parts with the first value of
// the attribute, ASCII case ignored, each part on its own. Every other filter
// never matches. An Invalid node raises what it stands for when evaluation
// reaches it.
bool MatchFilter(const TFilter& filter, const TUserInfo& entry);
bool MatchFilter(const TFilter& filter, const TEntryView& entry);

// The same on a filter element still in its BER form (decoded first).
bool MatchFilter(const TASNNode& filter, const TUserInfo& entry);
bool MatchFilter(const TASNNode& filter, const TEntryView& entry);
