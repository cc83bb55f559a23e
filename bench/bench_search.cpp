// One search over a large directory: filter evaluation, the answer tree and its
// encoding, without the network. Also bind answers and framing per message.
#include "config/VESKAOptions.h"
#include "directory/LdapUtil.h"
#include "directory/SubstringIndex.h"
#include "ldap/Dispatch.h"
#include "ldap/Search.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

class TNullConnection : public ILdapConnection {
public:
    std::string ReadAll() override
    {
        // Endless identical requests: every call frames and answers one.
        return FFeed;
    }
    void Write(std::string_view data) override { Bytes += data.size(); }
    std::string PeerIP() const override { return "127.0.0.1"; }
    std::string& Pending() override { return FPending; }
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
        list->Add(cn, std::make_unique<TUserInfo>(std::vector<std::string>{
                          "cn=" + cn, "mail=" + given + "." + sn + "@example.com", "sn=" + sn,
                          "givenName=" + given}));
    }
    ReplaceUserList(std::move(list));
}

// (|(cn=*smith*)(mail=*smith*)), message ID 2, as a client sends it.
std::string SmithSearch()
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
    TASNNode& orFilter = op.Children.Add(0xA1);
    for (const char* attribute : {"cn", "mail"}) {
        TASNNode& sub = orFilter.Children.Add(0xA4);
        sub.Children.Add(0x04, attribute);
        sub.Children.Add(0x30).Children.Add(0x81, "smith");
    }
    op.Children.Add(0x30);
    return request.Encode();
}

// Indexed is what a server does; Full tests every entry, as before the index.
// The one-time index build happens in the warm-up search, outside the timing
// (BM_BuildSubstringIndex times it alone).
void SearchAnswerWith(benchmark::State& state, TSearchScan scan)
{
    MakeDirectory(static_cast<int>(state.range(0)));
    TVESKAOptions options;
    TASNList request;
    request.Decode(SmithSearch());
    TNullConnection connection;
    SearchAnswer(connection, request, options, scan);
    connection.Bytes = 0;
    for (auto _ : state) SearchAnswer(connection, request, options, scan);
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
BENCHMARK(BM_SearchAnswer)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_SearchAnswerFullScan(benchmark::State& state)
{
    SearchAnswerWith(state, TSearchScan::Full);
}
BENCHMARK(BM_SearchAnswerFullScan)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_BuildSubstringIndex(benchmark::State& state)
{
    MakeDirectory(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    std::size_t keys = 0;
    {
        TUserListReadLock list;
        for (auto _ : state) {
            const TSubstringIndex index(*list.get());
            bytes = index.MemoryBytes();
            keys = index.KeyCount();
        }
    }
    state.counters["index_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["keys"] = static_cast<double>(keys);
    FreeUserList();
}
BENCHMARK(BM_BuildSubstringIndex)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

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
