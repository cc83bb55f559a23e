// One search over a large directory: filter evaluation, the answer tree and its
// encoding, without the network. Also bind answers and framing per message.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "directory/SubstringIndex.h"
#include "ldap/Dispatch.h"
#include "ldap/CompiledFilter.h"
#include "ldap/Search.h"
#include "ldap/SearchEncoding.h"

#include <benchmark/benchmark.h>

#include <string>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

class TNullConnection : public ILdapConnection {
public:
    void Write(std::string_view data) override { Bytes += data.size(); }
    std::string PeerIP() const override { return "127.0.0.1"; }
    // Endless identical requests: every call frames and answers one.
    std::string& Pending() override
    {
        if (FPending.empty()) FPending = FFeed;
        return FPending;
    }
    std::string FFeed;
    std::size_t Bytes = 0;

private:
    std::string FPending;
};

// Entries like the load generator's people: cn, mail, sn, givenName; every
// 4000th is a Smith, so (|(cn=*smith*)(mail=*smith*)) matches 25 per 100,000.
void MakeDirectory(int entries)
{
    auto list = std::make_unique<TUserList>();
    for (int i = 0; i < entries; ++i) {
        const std::string sn = i % 4000 == 0 ? "Smith" : "Surname" + std::to_string(i);
        const std::string given = "Given" + std::to_string(i);
        const std::string cn = given + " " + sn;
        list->Add(cn, std::vector<std::string>{"cn=" + cn, "mail=" + given + "." + sn + "@example.com",
                                               "sn=" + sn, "givenName=" + given});
    }
    ReplaceUserList(std::move(list));
}

// A search request, message ID 2, with the filter built by addFilter.
template <typename F>
std::string Request(F&& addFilter)
{
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, "\x02");
    TASNNode& op = message.Children.Add(0x63);
    op.Children.Add(0x04, "dc=example,dc=com");
    op.Children.Add(0x0A, "\x02");
    op.Children.Add(0x0A, std::string(1, '\0'));
    op.Children.Add(0x02, std::string(1, '\0'));
    op.Children.Add(0x02, std::string(1, '\0'));
    op.Children.Add(0x01, std::string(1, '\0'));
    addFilter(op.Children);
    op.Children.Add(0x30);
    return request.Encode();
}

void AddSub(TASNList& into, const char* attribute, int tag, const char* part)
{
    TASNNode& sub = into.Add(0xA4);
    sub.Children.Add(0x04, attribute);
    sub.Children.Add(0x30).Children.Add(tag, part);
}

// (|(cn=*PART*)(mail=*PART*)): the address-book lookup.
std::string OrSearch(const char* part)
{
    return Request([&](TASNList& into) {
        TASNNode& orFilter = into.Add(0xA1);
        AddSub(orFilter.Children, "cn", 0x81, part);
        AddSub(orFilter.Children, "mail", 0x81, part);
    });
}

std::string SmithSearch() { return OrSearch("smith"); }

// Indexed is what a server does; Full tests every entry, as before the index.
// The one-time index build happens in the warm-up search, outside the timing
// (BM_BuildSubstringIndex times it alone).
void SearchAnswerWith(benchmark::State& state, TSearchScan scan, bool afterSystemCall = false)
{
    MakeDirectory(static_cast<int>(state.range(0)));
    TVESKAOptions options;
    TASNList request;
    request.Decode(SmithSearch());
    TNullConnection connection;
    SearchAnswer(connection, request, options, scan);
    connection.Bytes = 0;
    for (auto _ : state) {
        if (afterSystemCall) benchmark::DoNotOptimize(::syscall(SYS_getppid));
        SearchAnswer(connection, request, options, scan);
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["answer_bytes"] =
        static_cast<double>(connection.Bytes) / static_cast<double>(state.iterations());
    FreeUserList();
}

void BM_SearchAnswer(benchmark::State& state)
{
    SearchAnswerWith(state, TSearchScan::Indexed);
}
BENCHMARK(BM_SearchAnswer)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The server's searches each follow a receive: a system call, which on some
// machines empties the TLB, so every page a search touches is walked again.
// BM_SystemCall alone is what to subtract.
void BM_SearchAnswerAfterSystemCall(benchmark::State& state)
{
    SearchAnswerWith(state, TSearchScan::Indexed, true);
}
BENCHMARK(BM_SearchAnswerAfterSystemCall)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_SystemCall(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(::syscall(SYS_getppid));
}
BENCHMARK(BM_SystemCall)->Unit(benchmark::kMicrosecond);

void BM_SearchAnswerFullScan(benchmark::State& state)
{
    SearchAnswerWith(state, TSearchScan::Full);
}
BENCHMARK(BM_SearchAnswerFullScan)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_SearchAnswerColumnScan(benchmark::State& state)
{
    SearchAnswerWith(state, TSearchScan::Columns);
}
BENCHMARK(BM_SearchAnswerColumnScan)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_BuildSubstringIndex(benchmark::State& state)
{
    MakeDirectory(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    std::size_t keys = 0;
    {
        TUserListReadLock list;
        for (auto _ : state) {
            const TValueColumns columns(*list.get());
            const TSubstringIndex index(*list.get(), columns);
            bytes = index.MemoryBytes();
            keys = index.KeyCount();
        }
    }
    state.counters["index_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["keys"] = static_cast<double>(keys);
    FreeUserList();
}
BENCHMARK(BM_BuildSubstringIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Filters of every shape, for the worst search time at a size: the
// address-book lookup, short parts that match nothing or almost everything,
// negations, and a two-octet initial part.
std::string ShapeRequest(int shape)
{
    switch (shape) {
    case 0: return OrSearch("smi");
    case 1: return Request([](TASNList& f) { AddSub(f, "cn", 0x81, "zz"); });
    case 2: return Request([](TASNList& f) { AddSub(f, "cn", 0x81, "q"); });
    case 3: return Request([](TASNList& f) { AddSub(f.Add(0xA2).Children, "cn", 0x81, "a"); });
    case 4:
        return Request([](TASNList& f) {
            TASNNode& both = f.Add(0xA0);
            AddSub(both.Children.Add(0xA2).Children, "cn", 0x81, "e");
            AddSub(both.Children.Add(0xA2).Children, "mail", 0x81, "o");
        });
    case 5: return Request([](TASNList& f) { AddSub(f, "sn", 0x80, "sm"); });
    case 6: return Request([](TASNList& f) { AddSub(f, "mail", 0x81, "example"); });
    default: return OrSearch("nobody");
    }
}

const char* const kShapeNames[] = {"or_smi",  "any_zz",       "any_q",     "not_any_a",
                                   "and_nots", "initial_sm", "any_example", "or_absent"};

void BM_SearchShape(benchmark::State& state)
{
    MakeDirectory(static_cast<int>(state.range(1)));
    TVESKAOptions options;
    TASNList request;
    request.Decode(ShapeRequest(static_cast<int>(state.range(0))));
    std::string out;
    for (auto _ : state) {
        out.clear();
        SearchAnswerInto(out, request, options);
    }
    state.SetLabel(kShapeNames[state.range(0)]);
    state.counters["answer_bytes"] = static_cast<double>(out.size());
    FreeUserList();
}
BENCHMARK(BM_SearchShape)->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {100000, 1000000}})->Unit(benchmark::kMicrosecond);

// The compiled filter tested on every entry, without the index.
void BM_MatchEveryEntry(benchmark::State& state)
{
    MakeDirectory(static_cast<int>(state.range(0)));
    TASNList request;
    request.Decode(SmithSearch());
    const TUserListReadLock list;
    const TCompiledFilter filter(DecodeFilter(request.Items(0).Children.Items(1).Children.Items(6)).Root, *list.get());
    std::uint32_t matches = 0;
    for (auto _ : state)
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(list->Count()); ++i) matches += filter.Matches(i);
    benchmark::DoNotOptimize(matches);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * list->Count());
    FreeUserList();
}
BENCHMARK(BM_MatchEveryEntry)->Arg(100000)->Unit(benchmark::kMillisecond);

// One SearchResultEntry encoded straight from the store.
void BM_EncodeEntry(benchmark::State& state)
{
    MakeDirectory(1000);
    const TUserListReadLock list;
    std::string out;
    int i = 0;
    for (auto _ : state) {
        out.clear();
        TEntryMessageWriter writer("\x02", list->NameView(i));
        list->ForEachLine(i, [&](const TLineView& line) { writer.Measure(line.Type, line.Value); });
        writer.Begin(out);
        list->ForEachLine(i, [&](const TLineView& line) { writer.Line(out, line.Type, line.Value); });
        i = (i + 1) % 1000;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    FreeUserList();
}
BENCHMARK(BM_EncodeEntry);

void BM_BindMessage(benchmark::State& state)
{
    TNullConnection connection;
    connection.FFeed = std::string("\x30\x0c\x02\x01\x01\x60\x07\x02\x01\x03\x04\x00\x80\x00", 14);
    for (auto _ : state) SrvExecuteMessage(connection, {});
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_BindMessage);

void BM_DecodeSearch(benchmark::State& state)
{
    const std::string bytes = SmithSearch();
    TASNList request;
    for (auto _ : state) {
        request.Decode(bytes);
        benchmark::DoNotOptimize(request.Count());
    }
}
BENCHMARK(BM_DecodeSearch);

} // namespace

BENCHMARK_MAIN();
