#include "ldap/Search.h"

#include "directory/LdapUtil.h"
#include "ldap/Filter.h"
#include "ldap/FilterPlan.h"

#include <string_view>
#include <unordered_set>

namespace {

constexpr int kTagSequence = 0x30;
constexpr int kTagSet = 0x31;
constexpr int kTagInteger = 0x02;
constexpr int kTagOctetString = 0x04;
constexpr int kTagEnumerated = 0x0A;
constexpr int kTagSearchResultEntry = 0x64;
constexpr int kTagSearchResultDone = 0x65;

const std::string& MessageID(const TASNList& request)
{
    return request.Items(0).Children.Items(0).Value;
}

void AddSearchResultDone(const TASNList& request, TASNList& answer)
{
    TASNNode& message = answer.Add(kTagSequence);
    message.Children.Add(kTagInteger, MessageID(request));
    TASNNode& done = message.Children.Add(kTagSearchResultDone);
    done.Children.Add(kTagEnumerated, std::string_view("\0", 1));
    done.Children.Add(kTagOctetString);
    done.Children.Add(kTagOctetString);
}

} // namespace

void AddEntryMessage(const TASNList& request, TASNList& answer, const std::string& entryName,
                     const TUserInfo& entry)
{
    TASNNode& message = answer.Add(kTagSequence);
    message.Children.Add(kTagInteger, MessageID(request));
    TASNNode& result = message.Children.Add(kTagSearchResultEntry);
    result.Children.Add(kTagOctetString, entryName);
    TASNNode& attributes = result.Children.Add(kTagSequence);
    for (const std::string& line : entry.Attributes.Lines()) {
        const std::size_t eq = line.find('=');
        // A line without "=" is all value, with an empty type.
        const std::string_view type = eq == std::string::npos ? std::string_view()
                                                               : std::string_view(line).substr(0, eq);
        const std::string_view value = eq == std::string::npos ? std::string_view(line)
                                                                : std::string_view(line).substr(eq + 1);
        TASNNode& attribute = attributes.Children.Add(kTagSequence);
        attribute.Children.Add(kTagOctetString, type);
        attribute.Children.Add(kTagSet).Children.Add(kTagOctetString, value);
    }
}

void SearchAnswer(ILdapConnection& connection, const TASNList& request, const TOptions& options,
                  TSearchScan scan)
{
    const TASNNode& operation = request.Items(0).Children.Items(1);
    TASNList answer;
    {
        // The whole walk sees one state of the directory; the answer is written
        // after the lock is gone so a slow client never holds up an Import.
        TUserListReadLock list;
        // Mail values already sent, upper-cased: one entry per value, regardless of case.
        std::unordered_set<std::string> seen;
        const int count = list ? list->Count() : 0;
        const auto consider = [&](int i) {
            const TUserInfo& entry = list->Objects(i);
            if (!MatchFilter(operation.Children.Items(6), entry)) return;
            std::string mail = UpperASCII(entry.ValueOf("mail"));
            if (seen.count(mail) != 0) return;
            // Read afresh for every entry about to be sent; 0 or less means no limit.
            const int maxResults = options.GetValue("MaxResults").AsInteger();
            if (maxResults > 0 && seen.size() >= static_cast<std::size_t>(maxResults)) return;
            AddEntryMessage(request, answer, list->Names(i), entry);
            seen.insert(std::move(mail));
        };
        // Skipping entries is only safe when the filter can't raise on any of
        // them; otherwise the full walk raises where it always has.
        const bool indexed = scan == TSearchScan::Indexed && count > 0 && operation.Children.Count() > 6 &&
                             FilterIsWellFormed(operation.Children.Items(6));
        TFilterCandidates candidates;
        if (indexed)
            candidates = FilterCandidates(operation.Children.Items(6), list->SubstringIndex());
        if (!indexed || candidates.All) {
            for (int i = 0; i < count; ++i) consider(i);
        } else {
            for (const std::uint32_t i : candidates.Entries) consider(static_cast<int>(i));
        }
    }
    AddSearchResultDone(request, answer);
    connection.Write(answer.Encode());
}
