// One SearchResultEntry written straight from an entry's lines (whole, or its
// operation kept and put under the message ID later) is the tree encoding of
// the same message, on both sides of every length form and for
// every size of the runs it copies.
#include "ldap/Search.h"
#include "ldap/SearchEncoding.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TEncodingCase {
    const char* Name;
    std::string MessageID;
    std::string EntryName;
    std::vector<std::string> Lines; // "type=value", or all value without "="
};

std::vector<TLineView> Views(const std::vector<std::string>& lines)
{
    std::vector<TLineView> views;
    for (const std::string& line : lines) {
        TLineView view;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            view.Value = line;
            view.HasEquals = false;
        } else {
            view.Type = std::string_view(line).substr(0, eq);
            view.Value = std::string_view(line).substr(eq + 1);
        }
        views.push_back(view);
    }
    return views;
}

class EntryEncoding : public ::testing::TestWithParam<TEncodingCase> {};

TEST_P(EntryEncoding, SameAsTheTree)
{
    const TEncodingCase& c = GetParam();
    TASNList request;
    TASNNode& message = request.Add(0x30);
    message.Children.Add(0x02, c.MessageID);
    TASNList tree;
    AddEntryMessage(request, tree, c.EntryName, TUserInfo(c.Lines));

    // Appended after earlier octets, as answers are.
    std::string out = "earlier";
    AppendEntryMessage(out, c.MessageID, c.EntryName, Views(c.Lines));
    EXPECT_EQ(wire::ToHex(out.substr(7)), wire::ToHex(tree.Encode()));
    EXPECT_EQ(out.substr(0, 7), "earlier");

    // The operation alone, later put under this message ID, gives the same octets.
    std::string operation;
    AppendEntryOperation(operation, c.EntryName, Views(c.Lines));
    std::string joined = "earlier";
    AppendMessage(joined, c.MessageID, operation);
    EXPECT_EQ(wire::ToHex(joined), wire::ToHex(out));
}

// A line whose type and value together are n octets long: type + value + 6
// octets of tags and lengths is its attribute's content.
std::string LineOf(std::size_t n) { return "cn=" + std::string(n - 2, 'v'); }

INSTANTIATE_TEST_SUITE_P(
    Lines, EntryEncoding,
    ::testing::Values(
        TEncodingCase{"RunsOf0To3Octets", "\x01", "A", {"a=", "ab=c", "abc=de"}},
        TEncodingCase{"RunsOf4To8Octets", "\x01\x02", "Anna", {"mail=abcd", "abcdefg=abcdefgh"}},
        TEncodingCase{"RunsOf9To16Octets", "\x01\x02\x03", "Anna Smith", {"givenName=abcdefghijklmnop"}},
        TEncodingCase{"RunsOf17To32Octets", "\x01", std::string(17, 'n'),
                      {std::string(31, 't') + "=" + std::string(32, 'u')}},
        TEncodingCase{"RunsOver32Octets", "\x7f", std::string(33, 'n'), {"mail=" + std::string(100, 'm')}},
        TEncodingCase{"AttributeContent127", "\x02", "B", {LineOf(121), "sn=x"}},
        TEncodingCase{"AttributeContent128", std::string("\x01\x00", 2), "B", {"sn=x", LineOf(122)}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
