#include "ldap/Search.h"

#include "config/SearchSettings.h"
#include "ldap/CompiledFilter.h"
#include "ldap/Filter.h"
#include "ldap/FilterPlan.h"
#include "ldap/SearchEncoding.h"
#include "ldap/StandardSearch.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace {

constexpr int kTagSequence = TagOf(TUniversalTag::Sequence);
constexpr int kTagSet = TagOf(TUniversalTag::Set);
constexpr int kTagInteger = TagOf(TUniversalTag::Integer);
constexpr int kTagOctetString = TagOf(TUniversalTag::OctetString);
constexpr int kTagSearchResultEntry = TagOf(TOperationTag::SearchResultEntry);

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

// What a request without a search operation is tested against: the filter
// element at its position is missing.
const TSearchFilter& NoFilter()
{
    static const TSearchFilter missing = MissingFilter(6);
    return missing;
}

// How far ahead of the entry being encoded its followers' records are asked for.
constexpr std::size_t kPrefetchAhead = 4;

// Below this many entries a candidate list is always worth it.
constexpr std::uint32_t kSmallDirectory = 1024;

// The entries picked so far, by their upper-cased mail value (the first mail
// line; empty without one): one entry per value. Open addressing over entry
// numbers, the values read from the column: nothing allocated per entry.
class TSeenValues {
public:
    TSeenValues(const TValueColumns& columns, std::uint32_t column)
        : FColumns(columns), FColumn(column)
    {
    }
    // False when an entry with the same value was inserted before.
    bool Insert(std::uint32_t entry)
    {
        if (FSlots.empty())
            FSlots.assign(64, 0);
        const std::string_view value = FColumns.Value(FColumn, entry);
        const std::size_t hash = std::hash<std::string_view>()(value);
        for (std::size_t at = hash & (FSlots.size() - 1);; at = (at + 1) & (FSlots.size() - 1)) {
            const std::uint32_t held = FSlots[at];
            if (held == 0)
                break;
            if (FColumns.Value(FColumn, held - 1) == value)
                return false;
        }
        if ((++FUsed) * 2 > FSlots.size())
            Grow();
        for (std::size_t at = hash & (FSlots.size() - 1);; at = (at + 1) & (FSlots.size() - 1))
            if (FSlots[at] == 0) {
                FSlots[at] = entry + 1;
                return true;
            }
    }

private:
    void Grow()
    {
        std::vector<std::uint32_t> old(FSlots.size() * 2, 0);
        old.swap(FSlots);
        for (const std::uint32_t held : old) {
            if (held == 0)
                continue;
            const std::size_t hash = std::hash<std::string_view>()(FColumns.Value(FColumn, held - 1));
            std::size_t at = hash & (FSlots.size() - 1);
            while (FSlots[at] != 0)
                at = (at + 1) & (FSlots.size() - 1);
            FSlots[at] = held;
        }
    }

    const TValueColumns& FColumns;
    const std::uint32_t FColumn;
    std::vector<std::uint32_t> FSlots; // entry + 1, 0 for free
    std::size_t FUsed = 0;
};

} // namespace

void AddEntryMessage(const TASNList& request, TASNList& answer, std::string_view entryName,
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
    : TSearchAnswerSource(DecodeRequest(request), options, scan)
{
}

TSearchAnswerSource::TSearchAnswerSource(const TLdapRequest& request, const TOptions& options, TSearchScan scan)
    : FList(CurrentUserList())
{
    request.RequireOperation();
    FMessageID = request.MessageIDOctets();
    const TSearchRequest* search = request.Search();
    // Only a search reaches here from the dispatch; anything else has no filter.
    const TSearchFilter& searchFilter = search != nullptr ? search->Filter : NoFilter();
    const TFilter& filterRoot = searchFilter.Root;
    const TUserList* list = FList.get();
    const int count = list ? list->Count() : 0;
    if (list)
        FMemo = &list->EntryMemo();
    // Read at the first entry picked, once: every entry is picked here,
    // before anything is sent. 0 or less means no limit.
    std::optional<int> maxResults;
    const auto roomFor = [&options, &maxResults](std::size_t picked) {
        if (!maxResults)
            maxResults = MaxResultsOf(options);
        return *maxResults <= 0 || picked < static_cast<std::size_t>(*maxResults);
    };
    // Skipping entries (and stopping at the limit) is only safe when the
    // filter can't raise on any of them; otherwise the plain walk raises where
    // it always has.
    const bool wellFormed = count > 0 && !searchFilter.ContainsInvalid;
    if (!wellFormed || scan == TSearchScan::Full) {
        // Mail values already picked, upper-cased: one entry per value, regardless of case.
        std::unordered_set<std::string> seen;
        for (int i = 0; i < count; ++i) {
            const TEntryView entry = list->Objects(i);
            if (!MatchFilter(filterRoot, entry))
                continue;
            std::string mail = UpperASCII(entry.ValueViewOf("mail"));
            if (seen.count(mail) != 0 || !roomFor(seen.size()))
                continue;
            FEntries.push_back(static_cast<std::uint32_t>(i));
            seen.insert(std::move(mail));
        }
        return;
    }

    const TCompiledFilter filter(filterRoot, *list);
    const TValueColumns& columns = list->Columns();
    TSeenValues seen(columns, list->MailFoldedId());
    // Where no two entries share a value, every entry is the first of its own.
    const bool distinct = list->MailValuesDistinct();
    // Ends the walk once the limit is reached: no later entry can be sent.
    const auto consider = [&](std::uint32_t i) {
        if (!filter.Matches(i) || (!distinct && !seen.Insert(i)))
            return true;
        if (!roomFor(FEntries.size()))
            return false;
        FEntries.push_back(i);
        return true;
    };
    TFilterCandidates candidates;
    candidates.All = true;
    if (scan == TSearchScan::Indexed) {
        // Past an eighth of the entries a list costs more than the walk.
        const auto dense = static_cast<std::uint32_t>(count) / 8 + kSmallDirectory;
        candidates = FilterCandidates(filterRoot, list->SubstringIndex(), dense);
    }
    // Room for a typical answer at once rather than growing a step at a time.
    FEntries.reserve(std::min<std::size_t>(candidates.All ? 64 : candidates.Entries.size(), 1024));
    if (candidates.All) {
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(count); ++i)
            if (!consider(i))
                break;
    } else {
        for (const std::uint32_t i : candidates.Entries)
            if (!consider(i))
                break;
    }
    for (const std::uint32_t i : FEntries)
        FMemo->PrefetchSlot(i);
}

bool TSearchAnswerSource::Next(std::string& out, std::size_t budget)
{
    if (FDone)
        return false;
    const std::size_t start = out.size();
    // At least one message per call, so that a caller always gets on.
    bool progressed = false;
    if (FSent == 0)
        for (std::size_t k = 0; k < std::min(kPrefetchAhead, FEntries.size()); ++k)
            FMemo->PrefetchOctets(FEntries[k]);
    while (FSent < FEntries.size()) {
        if (progressed && out.size() - start >= budget)
            return true;
        // Entries whose operations are kept go out as one run: sized first,
        // the buffer grown once, each copied into place.
        thread_local std::vector<std::string_view> run;
        run.clear();
        std::size_t runBytes = 0;
        std::size_t next = FSent;
        while (next < FEntries.size()) {
            if ((progressed || !run.empty()) && out.size() - start + runBytes >= budget)
                break;
            const std::string_view operation = FMemo->Find(FEntries[next]);
            if (operation.empty())
                break;
            if (next + kPrefetchAhead < FEntries.size())
                FMemo->PrefetchOctets(FEntries[next + kPrefetchAhead]);
            run.push_back(operation);
            runBytes += MessageSize(FMessageID, operation.size());
            ++next;
        }
        if (!run.empty()) {
            const std::size_t at = out.size();
            out.resize(at + runBytes);
            char* p = out.data() + at;
            for (const std::string_view operation : run)
                p = PutMessage(p, FMessageID, operation);
            FSent = next;
            progressed = true;
            continue;
        }
        // First time this entry goes out of this state: encoded from the
        // store once, in room the thread keeps from entry to entry.
        const std::uint32_t i = FEntries[FSent++];
        thread_local std::vector<TLineView> lines;
        thread_local std::string encoded;
        lines.clear();
        // A rare large entry doesn't stay held by the thread.
        if (encoded.capacity() > 65536)
            std::string().swap(encoded);
        encoded.clear();
        const std::string_view name = FList->ReadEntry(static_cast<int>(i), lines);
        AppendEntryOperation(encoded, name, lines);
        FMemo->Keep(i, encoded);
        AppendMessage(out, FMessageID, encoded);
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

std::unique_ptr<IAnswerSource> MakeSearchAnswer(const TLdapRequest& request, const TOptions& options,
                                                TSearchScan scan)
{
    return MakeSearchAnswer(request, options,
                            StandardSearchOn(options) ? TDispatchMode::Standard : TDispatchMode::Described, scan);
}

std::unique_ptr<IAnswerSource> MakeSearchAnswer(const TLdapRequest& request, const TOptions& options,
                                                TDispatchMode mode, TSearchScan scan)
{
    if (mode == TDispatchMode::Standard)
        return std::make_unique<TStandardAnswerSource>(request, options, scan);
    return std::make_unique<TSearchAnswerSource>(request, options, scan);
}

void SearchAnswer(ILdapConnection& connection, const TLdapRequest& request, const TOptions& options,
                  TSearchScan scan)
{
    connection.WriteAnswer(MakeSearchAnswer(request, options, scan));
}

void SearchAnswerInto(std::string& out, const TLdapRequest& request, const TOptions& options, TSearchScan scan)
{
    const std::unique_ptr<IAnswerSource> answer = MakeSearchAnswer(request, options, scan);
    while (answer->Next(out, std::numeric_limits<std::size_t>::max())) {
    }
}

void SearchAnswer(ILdapConnection& connection, const TASNList& request, const TOptions& options,
                  TSearchScan scan)
{
    SearchAnswer(connection, DecodeRequest(request), options, scan);
}

void SearchAnswerInto(std::string& out, const TASNList& request, const TOptions& options, TSearchScan scan)
{
    SearchAnswerInto(out, DecodeRequest(request), options, scan);
}
