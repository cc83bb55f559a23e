// Seeded random directories and filters: the indexed search, the walk over the
// value columns (short parts included) and the plain evaluation of the filter
// tree on every entry must give the same octets.
#include "config/VESKAOptions.h"
#include "directory/PublishedDirectory.h"
#include "ldap/Search.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

struct TRandomSearchCase {
    const char* Name;
    unsigned Seed;
    int Entries;          // directory size
    int Filters;          // filters tried on it
    std::string Alphabet; // of values and parts
    std::size_t MaxValue; // longest value
    std::size_t MaxPart;  // longest part; below 3 every part is short
    int MaxResults;
    int MergePercent;     // lines appended after the entries were listed
};

// Filters as nodes, encoded by the tree encoder.
struct TF {
    int Tag;
    std::string Value;
    std::vector<TF> Children;
};

void Build(TASNList& into, const TF& f)
{
    TASNNode& node = into.Add(f.Tag, f.Value);
    for (const TF& c : f.Children) Build(node.Children, c);
}

class TGenerator {
public:
    explicit TGenerator(const TRandomSearchCase& c) : FCase(c), FRng(c.Seed) {}

    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRng); }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

    std::string Text(std::size_t maxLen)
    {
        std::string s(Pick(maxLen + 1), ' ');
        for (char& ch : s) ch = FCase.Alphabet[Pick(FCase.Alphabet.size())];
        return s;
    }

    std::string Name()
    {
        static const std::vector<std::string> names = {"cn", "CN", "mail", "Mail", "sn", "givenName", "o u"};
        return names[Pick(names.size())];
    }

    std::string Line()
    {
        if (Chance(3)) return Text(6);  // maybe without "="
        return Name() + "=" + Text(FCase.MaxValue);
    }

    std::unique_ptr<TUserList> Directory()
    {
        auto list = std::make_unique<TUserList>();
        for (int i = 0; i < FCase.Entries; ++i) {
            std::vector<std::string> lines;
            for (std::size_t l = Pick(6); l > 0; --l) lines.push_back(Line());
            std::string name = Chance(50) && !lines.empty() ? lines[0].substr(lines[0].find('=') + 1) : Text(4);
            list->Add(name, lines);
            if (i > 0 && Chance(FCase.MergePercent))
                list->AppendLines(static_cast<int>(Pick(static_cast<std::size_t>(i))), {Line(), Line()});
        }
        return list;
    }

    TF Part()
    {
        static const int tags[] = {0x80, 0x81, 0x82, 0x81, 0x81, 0x83};
        return TF{tags[Pick(std::size(tags))], Chance(5) ? std::string() : Text(FCase.MaxPart), {}};
    }

    TF Filter(int depth)
    {
        const std::size_t kind = depth > 3 ? 3 : Pick(6);
        switch (kind) {
        case 0:
        case 1: {
            TF f{kind == 0 ? 0xA0 : 0xA1, "", {}};
            for (std::size_t n = Pick(4); n > 0; --n) f.Children.push_back(Filter(depth + 1));
            return f;
        }
        case 2:
            return TF{0xA2, "", {Filter(depth + 1)}};
        case 5:
            return TF{0xA3, "", {TF{0x04, "cn", {}}, TF{0x04, Text(3), {}}}};
        default: {
            TF f{0xA4, "", {TF{0x04, Chance(10) ? " " + Name() + " " : Name(), {}}, TF{0x30, "", {}}}};
            for (std::size_t n = 1 + Pick(3); n > 0; --n) f.Children[1].Children.push_back(Part());
            return f;
        }
        }
    }

private:
    const TRandomSearchCase& FCase;
    std::mt19937 FRng;
};

std::string Answer(const TASNList& request, const TOptions& options, TSearchScan scan)
{
    std::string out;
    try {
        SearchAnswerInto(out, request, options, scan);
    } catch (const std::exception& e) {
        return std::string("raised ") + typeid(e).name();
    }
    return out;
}

class RandomSearch : public ::testing::TestWithParam<TRandomSearchCase> {
protected:
    void TearDown() override { FreeUserList(); }
};

TEST_P(RandomSearch, IndexedColumnsAndPlainAnswerAlike)
{
    const TRandomSearchCase& c = GetParam();
    TGenerator random(c);
    ReplaceUserList(random.Directory());
    TVESKAOptions options;
    options.SetValue("MaxResults", TValue(c.MaxResults));
    int nonEmpty = 0;
    for (int f = 0; f < c.Filters; ++f) {
        TASNList request;
        TASNNode& message = request.Add(0x30);
        message.Children.Add(0x02, "\x09");
        TASNNode& op = message.Children.Add(0x63);
        for (int tag : {0x04, 0x0A, 0x0A, 0x02, 0x02, 0x01}) op.Children.Add(tag, std::string(1, '\0'));
        Build(op.Children, random.Filter(0));
        op.Children.Add(0x30);

        const std::string plain = Answer(request, options, TSearchScan::Full);
        ASSERT_EQ(wire::ToHex(Answer(request, options, TSearchScan::Columns)), wire::ToHex(plain)) << "filter " << f;
        ASSERT_EQ(wire::ToHex(Answer(request, options, TSearchScan::Indexed)), wire::ToHex(plain)) << "filter " << f;
        if (plain.size() > 14) ++nonEmpty;
    }
    // The comparison means little unless many filters match something.
    EXPECT_GT(nonEmpty, c.Filters / 5);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, RandomSearch,
    ::testing::Values(
        TRandomSearchCase{"TinyMixedParts", 1, 12, 1500, "aAbB=\xe1\xc1 ", 8, 5, 3, 20},
        TRandomSearchCase{"ShortPartsOnly", 2, 300, 400, "abcAB\xe1", 12, 2, 0, 10},
        TRandomSearchCase{"LongPartsIndexed", 3, 2000, 300, "abcdeABCDE", 12, 6, 10, 5},
        TRandomSearchCase{"NoLimitWithMerges", 4, 800, 150, "abAB. @", 12, 4, 0, 40},
        TRandomSearchCase{"DenseWindows", 5, 3000, 200, "ab", 12, 5, 5, 0},
        TRandomSearchCase{"LargeColumns", 6, 50000, 12, "abcdefghijklmnop", 80, 5, 50, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
