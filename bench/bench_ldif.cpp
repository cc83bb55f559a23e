// Reading large LDIF files into the directory, and mail lookups on a large one.
#include "directory/LDIF.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// cn, mail, sn, givenName, telephoneNumber per record; one record in ten
// repeats an earlier address (in another letter case) and merges.
std::string MakeLdif(int records)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(records) * 140);
    for (int r = 0; r < records; ++r) {
        const bool merge = r % 10 == 9;
        const std::string n = std::to_string(merge ? r / 2 : r);
        text += "dn: cn=User " + std::to_string(r) + ",o=Example\r\n";
        text += "cn: User " + std::to_string(r) + "\r\n";
        text += (merge ? "mail: USER" : "mail: user") + n + "@example.org\r\n";
        text += "sn: Surname" + n + "\r\n";
        text += "givenName: Given" + n + "\r\n";
        text += "telephoneNumber: +1 555 " + n + "\r\n\r\n";
    }
    return text;
}

class TempFile {
public:
    explicit TempFile(const std::string& content)
        : FPath((std::filesystem::temp_directory_path() /
                 ("veska-bench-" + std::to_string(::getpid()) + ".ldf"))
                    .string())
    {
        std::ofstream(FPath, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(FPath); }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

void BM_ReadLDIF(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    const TempFile file(MakeLdif(records));
    int entries = 0;
    for (auto _ : state) {
        TUserList list;
        TLDIFFile ldif;
        ldif.Users = &list;
        ldif.ReadFromFile(file.Path());
        entries = list.Count();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = entries;
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records) * state.iterations(),
                                                     benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(file.Path())) *
                            state.iterations());
}
BENCHMARK(BM_ReadLDIF)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// What a service start does with the external file: read it, then build the
// value columns and the substring index.
void BM_ReadLDIFAndIndex(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    const TempFile file(MakeLdif(records));
    std::size_t bytes = 0;
    for (auto _ : state) {
        TUserList list;
        TLDIFFile ldif;
        ldif.Users = &list;
        ldif.ReadFromFile(file.Path());
        list.Seal();
        bytes = list.MemoryBytes() + list.Columns().MemoryBytes() + list.SubstringIndex().MemoryBytes();
    }
    state.counters["store_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ReadLDIFAndIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_IndexOfMail(benchmark::State& state)
{
    const int entries = static_cast<int>(state.range(0));
    TUserList list;
    for (int i = 0; i < entries; ++i)
        list.Add("User", std::vector<std::string>{"cn=User " + std::to_string(i),
                                                   "mail=user" + std::to_string(i) + "@example.org"});
    int i = 0;
    for (auto _ : state) {
        // Half the lookups hit, half miss.
        const std::string address = (i % 2 ? "USER" : "nobody") + std::to_string(i % entries) + "@example.org";
        benchmark::DoNotOptimize(list.IndexOfMail(address));
        ++i;
    }
}
BENCHMARK(BM_IndexOfMail)->Arg(100000)->Arg(1000000);

} // namespace

BENCHMARK_MAIN();
