#include "ldap/Search.h"

#include "ldap/Filter.h"
#include "ldap/FilterPlan.h"
#include "ldap/SearchEncoding.h"

#include <limits>
#include <string_view>
#include <unordered_set>

namespace {

constexpr int kTagSequence = 0x30;
constexpr int kTagSet = 0x31;
constexpr int kTagInteger = 0x02;
constexpr int kTagOctetString = 0x04;
constexpr int kTagSearchResultEntry = 0x64;

const std::string& MessageID(const TASNList& request)
{
    return request.Items(0).Children.Items(0).Value;
}

// Type and value of a stored line; a line without "=" is all value.
std::pair<std::string_view, std::string_view> SplitLine(std::string_view line)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return {std::string_view(), line};
    return {line.substr(0, eq), line.substr(eq + 1)};
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
        const auto [type, value] = SplitLine(line);
        TASNNode& attribute = attributes.Children.Add(kTagSequence);
        attribute.Children.Add(kTagOctetString, type);
        attribute.Children.Add(kTagSet).Children.Add(kTagOctetString, value);
    }
}

TSearchAnswerSource::TSearchAnswerSource(const TASNList& request, const TOptions& options, TSearchScan scan)
    : FList(CurrentUserList())
{
    const TASNNode& operation = request.Items(0).Children.Items(1);
    FMessageID = MessageID(request);
    const TUserList* list = FList.get();
    const int count = list ? list->Count() : 0;
    // Mail values already picked, upper-cased: one entry per value, regardless of case.
    std::unordered_set<std::string> seen;
    // Skipping entries (and stopping at the limit) is only safe when the
    // filter can't raise on any of them; otherwise the full walk raises where
    // it always has.
    const bool wellFormed =
        count > 0 && operation.Children.Count() > 6 && FilterIsWellFormed(operation.Children.Items(6));
    bool full = false;
    const auto consider = [&](int i) {
        const TUserInfo& entry = list->Objects(i);
        if (!MatchFilter(operation.Children.Items(6), entry))
            return;
        std::string mail = UpperASCII(entry.ValueOf("mail"));
        if (seen.count(mail) != 0)
            return;
        // Read afresh for every entry about to be sent; 0 or less means no limit.
        const int maxResults = options.GetValue("MaxResults").AsInteger();
        if (maxResults > 0 && seen.size() >= static_cast<std::size_t>(maxResults)) {
            full = wellFormed;
            return;
        }
        FEntries.push_back(static_cast<std::uint32_t>(i));
        seen.insert(std::move(mail));
    };
    TFilterCandidates candidates;
    if (wellFormed && scan == TSearchScan::Indexed)
        candidates = FilterCandidates(operation.Children.Items(6), list->SubstringIndex());
    else
        candidates.All = true;
    if (candidates.All) {
        for (int i = 0; i < count && !full; ++i)
            consider(i);
    } else {
        for (const std::uint32_t i : candidates.Entries) {
            consider(static_cast<int>(i));
            if (full)
                break;
        }
    }
}

bool TSearchAnswerSource::Next(std::string& out, std::size_t budget)
{
    if (FDone)
        return false;
    const std::size_t start = out.size();
    // At least one message per call, so that a caller always gets on.
    bool progressed = false;
    while (FSent < FEntries.size()) {
        if (progressed && out.size() - start >= budget)
            return true;
        const int i = static_cast<int>(FEntries[FSent++]);
        const std::string& name = FList->Names(i);
        const TUserInfo& entry = FList->Objects(i);
        TEntryMessageWriter writer(FMessageID, name);
        for (const std::string& line : entry.Attributes.Lines()) {
            const auto [type, value] = SplitLine(line);
            writer.Measure(type, value);
        }
        writer.Begin(out);
        for (const std::string& line : entry.Attributes.Lines()) {
            const auto [type, value] = SplitLine(line);
            writer.Line(out, type, value);
        }
        progressed = true;
    }
    if (progressed && out.size() - start >= budget)
        return true;
    AppendSearchResultDone(out, FMessageID);
    FDone = true;
    // The answer is complete: let go of the directory state now.
    FList.reset();
    return false;
}

void SearchAnswer(ILdapConnection& connection, const TASNList& request, const TOptions& options,
                  TSearchScan scan)
{
    connection.WriteAnswer(std::make_unique<TSearchAnswerSource>(request, options, scan));
}

void SearchAnswerInto(std::string& out, const TASNList& request, const TOptions& options, TSearchScan scan)
{
    TSearchAnswerSource answer(request, options, scan);
    while (answer.Next(out, std::numeric_limits<std::size_t>::max())) {
    }
}
