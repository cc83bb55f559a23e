// Searches on several threads while Import merges thousands of records: each
// search must see the directory before or after a whole import.
#include "directory/LDIF.h"
#include "directory/PublishedDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kInitialEntries = 2000;
constexpr int kImportRecords = 4000;
constexpr int kImports = 3;
constexpr int kSearchers = 4;

// Every record is one group of three lines: cn=R<id>, mail=<m>, groupid=<id>.
std::string Group(const std::string& id, const std::string& mail, const char* sep)
{
    return "cn" + std::string(sep) + "R" + id + "\n" + "mail" + sep + mail + "\n" + "groupid" + sep +
           id + "\n";
}

std::unique_ptr<TUserList> InitialList()
{
    auto list = std::make_unique<TUserList>();
    for (int i = 0; i < kInitialEntries; ++i) {
        const std::string id = "init" + std::to_string(i);
        const std::string mail = "u" + std::to_string(i) + "@example.org";
        list->Add("R" + id, std::make_unique<TUserInfo>(
                                std::vector<std::string>{"cn=R" + id, "mail=" + mail, "groupid=" + id}));
    }
    return list;
}

std::string ImportFile(int round)
{
    std::string text = "version: 1\n\n";
    for (int r = 0; r < kImportRecords; ++r) {
        const std::string id = "imp" + std::to_string(round) + "_" + std::to_string(r);
        std::string mail;
        if (r % 5 < 3) // merges into an entry of the initial list, in any letter case
            mail = (r % 2 ? "U" : "u") + std::to_string((r * 7) % kInitialEntries) + "@EXAMPLE.org";
        else // new addresses of this round, two records each
            mail = "n" + std::to_string(round) + "_" + std::to_string(r % 1000) + "@example.org";
        text += Group(id, mail, ": ");
        text += "\n";
    }
    return text;
}

using State = std::pair<int, long>; // entries, lines

// Checks one entry; returns an empty text when sound.
std::string CheckEntry(const TUserList& list, int index)
{
    const TEntryView entry = list.Objects(index);
    const auto& lines = entry.Attributes.Lines();
    if (lines.size() == 1 && lines[0] == "version=1")
        return {};
    if (lines.size() % 3 != 0)
        return "entry " + std::to_string(index) + " holds a partial record";
    const std::string mail = UpperASCII(entry.ValueOf("mail"));
    for (std::size_t g = 0; g < lines.size(); g += 3) {
        const std::string id = lines[g + 2].substr(lines[g + 2].find('=') + 1);
        if (lines[g] != "cn=R" + id || lines[g + 2] != "groupid=" + id)
            return "entry " + std::to_string(index) + " mixes records";
        if (UpperASCII(lines[g + 1]) != "MAIL=" + mail)
            return "entry " + std::to_string(index) + " holds another address";
    }
    if (list.IndexOfMail(mail) != index)
        return "index disagrees for entry " + std::to_string(index);
    return {};
}

TEST(DirectoryConcurrency, SearchesSeeWholeImports)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("veska-conc-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> files;
    for (int round = 0; round < kImports; ++round) {
        files.push_back((dir / ("import" + std::to_string(round) + ".ldf")).string());
        std::ofstream(files.back(), std::ios::binary) << ImportFile(round);
    }

    ReplaceUserList(InitialList());
    std::set<State> allowed = {{kInitialEntries, 3L * kInitialEntries}};

    std::atomic<bool> done{false};
    std::mutex seenMutex;
    std::set<State> seen;           // guarded by seenMutex
    std::vector<std::string> faults; // guarded by seenMutex

    auto search = [&] {
        std::set<State> mine;
        std::vector<std::string> myFaults;
        int walks = 0;
        while (!done.load() || walks < 2) {
            TUserListReadLock lock;
            if (!lock) {
                myFaults.push_back("directory absent");
                break;
            }
            long lines = 0;
            for (int i = 0; i < lock->Count(); ++i) {
                lines += lock->Objects(i).Attributes.Count();
                if (std::string fault = CheckEntry(*lock.get(), i); !fault.empty())
                    myFaults.push_back(std::move(fault));
            }
            mine.insert({lock->Count(), lines});
            ++walks;
            if (myFaults.size() > 10)
                break;
        }
        std::lock_guard<std::mutex> hold(seenMutex);
        seen.insert(mine.begin(), mine.end());
        faults.insert(faults.end(), myFaults.begin(), myFaults.end());
    };

    std::vector<std::thread> searchers;
    for (int i = 0; i < kSearchers; ++i)
        searchers.emplace_back(search);

    for (const auto& file : files) {
        ImportLDIF(file);
        TUserListReadLock lock;
        long lines = 0;
        for (int i = 0; i < lock->Count(); ++i)
            lines += lock->Objects(i).Attributes.Count();
        allowed.insert({lock->Count(), lines});
    }
    done.store(true);
    for (auto& t : searchers)
        t.join();

    EXPECT_TRUE(faults.empty()) << faults.front();
    for (const State& s : seen)
        EXPECT_TRUE(allowed.count(s)) << "a search saw " << s.first << " entries and " << s.second
                                      << " lines, a state between two imports";
    // Each import added its version entry and the 400 addresses of its round
    // (records 3 and 4 of every five, modulo 1000); the rest merged.
    EXPECT_EQ(allowed.size(), static_cast<std::size_t>(kImports + 1));
    {
        TUserListReadLock lock;
        ASSERT_TRUE(lock);
        EXPECT_EQ(lock->Count(), kInitialEntries + kImports * (1 + 400));
        long lines = 0;
        for (int i = 0; i < lock->Count(); ++i)
            lines += lock->Objects(i).Attributes.Count();
        EXPECT_EQ(lines, 3L * kInitialEntries + kImports * (1 + 3L * kImportRecords));
    }
    FreeUserList();
    std::filesystem::remove_all(dir);
}

} // namespace
