// Seeded random directories and standard-mode filters: the indexed answer,
// the walk over the value columns and the entry-by-entry evaluation must give
// the same octets (repeated attributes, base64 lines, short and long parts).
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Search.h"
#include "support/FilterText.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

struct TRandomCase {
    const char* Name;
    unsigned Seed;
    int Entries;
    int Filters;
    int MaxResults;
};

class TGenerator {
public:
    explicit TGenerator(unsigned seed) : FRng(seed) {}
    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRng); }
    std::string Text(std::size_t maxLen)
    {
        std::string s(Pick(maxLen + 1), ' ');
        for (char& ch : s) ch = "abAB.x"[Pick(6)];
        return s;
    }
    std::string Name() { return std::vector<std::string>{"cn", "CN", "mail", "sn", "objectClass"}[Pick(5)]; }
    std::string Line()
    {
        // One in eight base64, as the LDIF reader keeps "name:: text": "YWI=" is "ab".
        if (Pick(8) == 0) return Name() + ":=" + std::vector<std::string>{"YWI=", "QUJh", "eA=="}[Pick(3)];
        return Name() + "=" + Text(5);
    }
    std::unique_ptr<TUserList> Directory(int entries)
    {
        auto list = std::make_unique<TUserList>();
        for (int i = 0; i < entries; ++i) {
            std::vector<std::string> lines;
            for (std::size_t l = Pick(5); l > 0; --l) lines.push_back(Line());
            list->Add(Text(3), lines);
        }
        return list;
    }
    // Filter text; values drawn from the same alphabet, so that many match.
    std::string Filter(int depth)
    {
        switch (depth > 2 ? 3 + Pick(5) : Pick(8)) {
        case 0: return "(&" + Filter(depth + 1) + Filter(depth + 1) + ")";
        case 1: return "(|" + Filter(depth + 1) + Filter(depth + 1) + ")";
        case 2: return "(!" + Filter(depth + 1) + ")";
        case 3: return "(" + Name() + "=" + Value() + ")";
        case 4: return "(" + Name() + "=*)";
        case 5: return "(" + Name() + (Pick(2) ? ">=" : "<=") + Value() + ")";
        default: return "(" + Name() + "=" + Substrings() + ")";
        }
    }

private:
    std::string Value()
    {
        std::string v = Text(4);
        return v.empty() ? "a" : v;
    }
    std::string Substrings()
    {
        std::string s = Pick(2) ? Value() : "";
        for (std::size_t n = 1 + Pick(2); n > 0; --n) s += "*" + (Pick(3) ? Value() : "");
        return s;
    }
    std::mt19937 FRng;
};

std::string Answer(const TLdapRequest& request, const TOptions& options, TSearchScan scan)
{
    std::string out;
    SearchAnswerInto(out, request, options, scan);
    return out;
}

class StandardRandom : public testing::TestWithParam<TRandomCase> {
protected:
    void TearDown() override { FreeUserList(); }
};

TEST_P(StandardRandom, IndexedColumnsAndPlainAnswerAlike)
{
    const TRandomCase& c = GetParam();
    TGenerator random(c.Seed);
    ReplaceUserList(random.Directory(c.Entries));
    TVESKAOptions options;
    options.SetValue("StandardSearch", TValue(true));
    options.SetValue("MaxResults", TValue(c.MaxResults));
    int answered = 0;
    for (int f = 0; f < c.Filters; ++f) {
        const std::string text = random.Filter(0);
        TASNList tree;
        tree.Decode(SearchRequestBER("\x02", "", 2, 0, false, text));
        const TLdapRequest request = DecodeRequest(tree);
        const std::string plain = Answer(request, options, TSearchScan::Full);
        ASSERT_EQ(Answer(request, options, TSearchScan::Columns), plain) << text;
        ASSERT_EQ(Answer(request, options, TSearchScan::Indexed), plain) << text;
        answered += plain.size() > 14 ? 1 : 0;
    }
    // The generator must produce filters that select something.
    EXPECT_GT(answered, c.Filters / 4);
}

INSTANTIATE_TEST_SUITE_P(Seeds, StandardRandom,
                         testing::Values(TRandomCase{"Small", 1, 40, 300, 0}, TRandomCase{"Limited", 2, 300, 200, 7},
                                         TRandomCase{"Larger", 3, 3000, 60, 0}),
                         [](const testing::TestParamInfo<TRandomCase>& info) { return info.param.Name; });

}  // namespace
