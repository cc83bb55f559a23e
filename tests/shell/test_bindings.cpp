// SetBindings (the stored address list becomes listener bindings) and the
// comma text it reads.
#include "config/CommaText.h"
#include "listener/TcpServer.h"
#include "shell/Bindings.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::BindRequest;
using wire::BindResponse;
using wire::ToHex;
using wire::TWireClient;

namespace {

TEST(Lifecycle, SetBindingsGivesBindingsInOrder) {
    TTCPServer server;
    server.SetDefaultPort(0);
    SetBindings(server, "127.0.0.1,127.0.0.2");
    ASSERT_EQ(server.BindingCount(), 2);
    EXPECT_EQ(server.Binding(0).IP, "127.0.0.1");
    EXPECT_EQ(server.Binding(1).IP, "127.0.0.2");
    EXPECT_EQ(server.Binding(0).Port, 0);
    EXPECT_EQ(server.Binding(1).Port, 0);
    server.OnExecute = [](TConnection& connection) { SrvExecuteMessage(connection, {}); };
    server.SetActive(true);
    for (int i = 0; i < 2; ++i) {
        const TBinding binding = server.Binding(i);
        ASSERT_NE(binding.Port, 0);
        TWireClient client(binding.Port, binding.IP);
        client.Send(BindRequest("\x03"));
        EXPECT_EQ(ToHex(client.ReadExactly(14)), ToHex(BindResponse("\x03"))) << binding.IP;
    }
    // SetBindings sets the server inactive first.
    SetBindings(server, "");
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.BindingCount(), 0);
}

TEST(Lifecycle, SetBindingsUsesTheDefaultPort) {
    TTCPServer server;
    server.SetDefaultPort(10389);
    SetBindings(server, " 10.0.0.1 , \"192.168.1.5\" ");
    ASSERT_EQ(server.BindingCount(), 2);
    EXPECT_EQ(server.Binding(0).IP, "10.0.0.1");
    EXPECT_EQ(server.Binding(0).Port, 10389);
    EXPECT_EQ(server.Binding(1).IP, "192.168.1.5");
    EXPECT_EQ(server.Binding(1).Port, 10389);
}

// ---------------------------------------------------------------- comma text

struct SplitCase {
    const char* Name;
    const char* Text;
    std::vector<std::string> Items;
};

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, Items) { EXPECT_EQ(SplitCommaText(GetParam().Text), GetParam().Items); }

INSTANTIATE_TEST_SUITE_P(
    CommaText, SplitTable,
    ::testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"Blanks", "   ", {}},
                      SplitCase{"One", "127.0.0.1", {"127.0.0.1"}},
                      SplitCase{"Two", "127.0.0.1,192.168.1.5", {"127.0.0.1", "192.168.1.5"}},
                      SplitCase{"BlankSeparates", "a b", {"a", "b"}},
                      SplitCase{"TabSeparates", "a\tb", {"a", "b"}},
                      SplitCase{"BlanksAroundComma", " a , b ", {"a", "b"}},
                      SplitCase{"EmptyBetween", "a,,b", {"a", "", "b"}},
                      SplitCase{"TrailingComma", "a,", {"a", ""}},
                      SplitCase{"LeadingComma", ",a", {"", "a"}},
                      SplitCase{"Quoted", "\"a b\",c", {"a b", "c"}},
                      SplitCase{"QuotedComma", "\"a,b\"", {"a,b"}},
                      SplitCase{"DoubledQuotes", "\"say \"\"hi\"\"\"", {"say \"hi\""}},
                      SplitCase{"QuotedEmpty", "\"\"", {""}},
                      SplitCase{"Unterminated", "\"open end", {"open end"}},
                      SplitCase{"TextAfterQuote", "\"ab\"cd", {"ab", "cd"}},
                      SplitCase{"QuoteInsideUnquoted", "a\"b", {"a\"b"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CommaText, NulEndsTheText) { EXPECT_EQ(SplitCommaText(std::string("a,b\0c", 5)), (std::vector<std::string>{"a", "b"})); }

struct JoinCase {
    const char* Name;
    std::vector<std::string> Items;
    const char* Text;
};

class JoinTable : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinTable, TextAndBack) {
    EXPECT_EQ(JoinCommaText(GetParam().Items), GetParam().Text);
    EXPECT_EQ(SplitCommaText(JoinCommaText(GetParam().Items)), GetParam().Items);
}

INSTANTIATE_TEST_SUITE_P(CommaText, JoinTable,
                         ::testing::Values(JoinCase{"Empty", {}, ""}, JoinCase{"One", {"127.0.0.1"}, "127.0.0.1"},
                                           JoinCase{"Two", {"127.0.0.1", "192.168.1.5"}, "127.0.0.1,192.168.1.5"},
                                           JoinCase{"Blank", {"a b"}, "\"a b\""},
                                           JoinCase{"Comma", {"a,b", "c"}, "\"a,b\",c"},
                                           JoinCase{"Quote", {"say \"hi\""}, "\"say \"\"hi\"\"\""},
                                           JoinCase{"Tab", {"a\tb"}, "\"a\tb\""},
                                           JoinCase{"OneEmpty", {""}, "\"\""},
                                           JoinCase{"TrailingEmpty", {"a", ""}, "a,"},
                                           JoinCase{"LeadingEmpty", {"", "a"}, ",a"}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
