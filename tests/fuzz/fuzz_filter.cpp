// Decodes the input as a search filter and evaluates it against a small
// store, every way the server can: entry by entry, through the substring
// index, and as a whole search answer both indexed and in full. The ways must
// agree, and a filter found well formed must never raise.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Filter.h"
#include "ldap/FilterPlan.h"
#include "ldap/Search.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Values chosen so that 3-octet windows, case folding, short values, empty
// values, repeated mails and missing attributes all occur.
const std::vector<std::pair<std::string, std::vector<std::string>>> kEntries{
    {"Ann Lee", {"cn=Ann Lee", "mail=ann@example.com", "cn=Annie"}},
    {"ANN LEE", {"CN=ANN LEE", "MAIL=ANN@EXAMPLE.COM"}},
    {"Bob", {"cn=Bob", "mail=bo"}},
    {"Empty", {"cn=", "mail="}},
    {"No mail", {"cn=Lee Chang"}},
    {"No cn", {"mail=lee.chang@partner.example.net", "title=Head"}},
    {"Bytes", {std::string("cn=\xC4\xE4\x00x", 7), "mail=\xFF\xFE"}},
    {"", {"o=Partner Logistics", "=value without type", "line without equals"}},
};

const TVESKAOptions& Options()
{
    static TVESKAOptions* options = [] {
        auto* o = new TVESKAOptions;
        o->SetValue("MaxResults", TValue(0));
        return o;
    }();
    return *options;
}

void PublishStore()
{
    static const bool done = [] {
        auto list = std::make_unique<TUserList>();
        for (const auto& [name, lines] : kEntries) list->Add(name, std::make_unique<TUserInfo>(lines));
        ReplaceUserList(std::move(list));
        return true;
    }();
    (void)done;
}

// A SearchRequest for message ID 1 around the filter's octets, which reach
// the decoder exactly as given.
std::string SearchRequest(std::string_view filter)
{
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x01");
    // base "", scope subtree, no alias dereferencing, no limits, types and values
    std::string search("\x04\x00\x0A\x01\x02\x0A\x01\x00\x02\x01\x00\x02\x01\x00\x01\x01\x00", 17);
    search += filter;
    search += std::string("\x30\x00", 2);
    // An element without children is encoded from its octets.
    message.Children.Add(0x63, search);
    return request.Encode();
}

enum class TOutcome { Answered, Raised };

TOutcome Search(const std::string& request, TSearchScan scan, std::string& out)
{
    TASNList decoded;
    try {
        decoded.Decode(request);
        SearchAnswerInto(out, decoded, Options(), scan);
        return TOutcome::Answered;
    } catch (const EListIndexError&) {
    } catch (const EFilterDepthError&) {
    } catch (const EASNDepthError&) {
    }
    return TOutcome::Raised;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PublishStore();
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    TASNList tree;
    try {
        tree.Decode(input);
    } catch (const EASNDepthError&) {
        return 0;
    }
    if (tree.Count() == 0) return 0;
    const TASNNode& filter = tree.Items(0);

    TUserListReadLock list;
    const bool wellFormed = FilterIsWellFormed(filter);
    std::vector<std::uint32_t> matches;
    for (int i = 0; i < list->Count(); ++i) {
        try {
            if (MatchFilter(filter, list->Objects(i))) matches.push_back(static_cast<std::uint32_t>(i));
        } catch (const EListIndexError&) {
            if (wellFormed) __builtin_trap();  // well formed yet raised
        } catch (const EFilterDepthError&) {
            if (wellFormed) __builtin_trap();
        }
    }
    if (wellFormed) {
        const TFilterCandidates candidates = FilterCandidates(filter, list->SubstringIndex());
        if (!candidates.All) {
            if (!std::is_sorted(candidates.Entries.begin(), candidates.Entries.end())) __builtin_trap();
            // Every match must be among the candidates.
            for (const std::uint32_t m : matches)
                if (!std::binary_search(candidates.Entries.begin(), candidates.Entries.end(), m)) __builtin_trap();
        }
    }

    // The whole answer, indexed and in full, octet for octet.
    const std::string request = SearchRequest(input.substr(0, std::min<std::size_t>(input.size(), 4096)));
    std::string indexed;
    std::string full;
    const TOutcome a = Search(request, TSearchScan::Indexed, indexed);
    const TOutcome b = Search(request, TSearchScan::Full, full);
    if (a != b || indexed != full) __builtin_trap();
    return 0;
}
