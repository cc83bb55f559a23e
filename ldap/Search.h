// The answer to a SearchRequest: every entry the filter matches, one per mail
// value, at most MaxResults, then SearchResultDone, all in one write.
#pragma once

#include "config/Option.h"
#include "directory/UserList.h"
#include "ldap/Dispatch.h"

#include <string>

// Indexed tests the filter only on the entries the substring index leaves
// possible; Full tests every entry. Both give the same answer.
enum class TSearchScan { Indexed, Full };

// Runs the request's filter over the process-wide directory in store order and
// writes the answer. Raises (index error, filter depth) without writing anything
// when the request lacks an element it needs.
void SearchAnswer(ILdapConnection& connection, const TASNList& request, const TOptions& options,
                  TSearchScan scan = TSearchScan::Indexed);

// Appends one SearchResultEntry message for the entry to the answer list.
void AddEntryMessage(const TASNList& request, TASNList& answer, const std::string& entryName,
                     const TUserInfo& entry);
