// The answer to a SearchRequest: every entry the filter matches, one per mail
// value, at most MaxResults, then SearchResultDone.
#pragma once

#include "config/Option.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Dispatch.h"
#include "ldap/LdapRequest.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Indexed tests the filter only on the entries the substring index leaves
// possible; Columns tests every entry against the upper-cased value columns;
// Full evaluates the filter tree on every entry's lines. All give the same
// answer.
enum class TSearchScan { Indexed, Columns, Full };

// One search over the directory state published when it is made, which it
// keeps: the entries are picked at once (so a request that must end the
// connection raises before anything is sent), their messages are encoded as
// the connection asks for them, straight from the store.
class TSearchAnswerSource final : public IAnswerSource {
public:
    // Raises (index error, filter depth) when the request lacks an element it
    // needs.
    TSearchAnswerSource(const TLdapRequest& request, const TOptions& options,
                        TSearchScan scan = TSearchScan::Indexed);
    TSearchAnswerSource(const TASNList& request, const TOptions& options,
                        TSearchScan scan = TSearchScan::Indexed);
    bool Next(std::string& out, std::size_t budget) override;
    // Entries the answer sends.
    std::size_t EntryCount() const override { return FEntries.size(); }

private:
    TUserListSnapshot FList;
    TEntryMemo* FMemo = nullptr; // FList's: each entry's encoded operation
    std::string FMessageID;
    std::vector<std::uint32_t> FEntries; // in store order
    std::size_t FSent = 0;
    bool FDone = false;
};

// The answer the settings call for: standard searches (StandardSearch on) or
// the described one.
std::unique_ptr<IAnswerSource> MakeSearchAnswer(const TLdapRequest& request, const TOptions& options,
                                                TSearchScan scan = TSearchScan::Indexed);
// The same with the mode already read from the settings.
std::unique_ptr<IAnswerSource> MakeSearchAnswer(const TLdapRequest& request, const TOptions& options,
                                                TDispatchMode mode, TSearchScan scan = TSearchScan::Indexed);

// Runs the request's filter over the process-wide directory in store order
// and hands the answer to the connection. Raises (index error, filter depth)
// without writing anything when the request lacks an element it needs.
void SearchAnswer(ILdapConnection& connection, const TLdapRequest& request, const TOptions& options,
                  TSearchScan scan = TSearchScan::Indexed);
// The same answer appended to out in one call.
void SearchAnswerInto(std::string& out, const TLdapRequest& request, const TOptions& options,
                      TSearchScan scan = TSearchScan::Indexed);
// Both for a request still in its BER form (decoded first).
void SearchAnswer(ILdapConnection& connection, const TASNList& request, const TOptions& options,
                  TSearchScan scan = TSearchScan::Indexed);
void SearchAnswerInto(std::string& out, const TASNList& request, const TOptions& options,
                      TSearchScan scan = TSearchScan::Indexed);

// Appends one SearchResultEntry message for the entry to the answer list (the
// tree form of what the answer source encodes directly).
void AddEntryMessage(const TASNList& request, TASNList& answer, std::string_view entryName,
                     const TUserInfo& entry);
