// A message decoded once into its typed request: the fields every later
// stage reads, and the Invalid nodes that keep a malformed filter's failure
// where evaluation reaches it.
#include "ldap/LdapRequest.h"
#include "support/FilterText.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

using wire::Hex;
using wire::Tlv;

namespace {

TLdapRequest Decoded(const std::string& octets)
{
    TASNList tree;
    tree.Decode(octets);
    return DecodeRequest(tree);
}

TEST(LdapRequest, SearchFieldsInWireOrder)
{
    const std::string message =
        Tlv(0x30, Tlv(0x02, "\x05") + Tlv(0x63, Tlv(0x04, "dc=x") + Tlv(0x0A, "\x01") + Tlv(0x0A, "\x03") +
                                                 Tlv(0x02, Hex("01 2C")) + Tlv(0x02, Hex("FF")) + Tlv(0x01, "\xFF") +
                                                 FilterBER("(mail=*)") +
                                                 Tlv(0x30, Tlv(0x04, "cn") + Tlv(0x04, "mail") + Tlv(0x04, "cn"))));
    const TLdapRequest request = Decoded(message);
    ASSERT_NE(request.Search(), nullptr);
    const TSearchRequest& search = *request.Search();
    EXPECT_EQ(request.MessageIDOctets(), "\x05");
    EXPECT_EQ(search.BaseObject, "dc=x");
    EXPECT_EQ(search.Scope, TSearchScope::SingleLevel);
    EXPECT_EQ(search.DerefAliases, 3u);
    EXPECT_EQ(search.SizeLimit, 300u);
    EXPECT_EQ(search.TimeLimit, 0u) << "a negative limit counts as none";
    EXPECT_TRUE(search.TypesOnly);
    EXPECT_EQ(search.Filter.Root.Kind, TFilterKind::Present);
    EXPECT_EQ(search.Filter.Root.Type, "mail");
    EXPECT_EQ(search.Attributes, (std::vector<std::string>{"cn", "mail", "cn"}));
}

TEST(LdapRequest, MissingPartsAreRecordedNotRaised)
{
    const TLdapRequest empty = Decoded("");
    EXPECT_THROW(empty.RequireOperation(), EListIndexError);
    EXPECT_THROW(empty.MessageIDOctets(), EListIndexError);

    const TLdapRequest idOnly = Decoded(Hex("30 03 02 01 09"));
    EXPECT_EQ(idOnly.MessageIDOctets(), "\x09");
    EXPECT_THROW(idOnly.RequireOperation(), EListIndexError);

    const TLdapRequest noFilter = Decoded(Hex("30 08 02 01 04 63 03 04 01 78"));
    ASSERT_NE(noFilter.Search(), nullptr);
    EXPECT_TRUE(noFilter.Search()->Filter.ContainsInvalid);
    EXPECT_EQ(noFilter.Search()->Filter.Root.MissingIndex, 6);
}

TEST(LdapRequest, MalformedLaterChildBecomesInvalidNode)
{
    // (|(cn=*a*) substrings-without-parts (!))
    TASNList tree;
    tree.Decode(Tlv(0xA1, FilterBER("(cn=*a*)") + Tlv(0xA4, Tlv(0x04, "cn")) + Tlv(0xA2, "")));
    const TSearchFilter filter = DecodeFilter(tree.Items(0));
    EXPECT_TRUE(filter.ContainsInvalid);
    ASSERT_EQ(filter.Root.Children.size(), 3u);
    EXPECT_EQ(filter.Root.Children[0].Kind, TFilterKind::Substrings);
    EXPECT_EQ(filter.Root.Children[1].Kind, TFilterKind::Invalid);
    EXPECT_EQ(filter.Root.Children[1].MissingIndex, 1);
    EXPECT_EQ(filter.Root.Children[2].Children.at(0).Fault, TFilterFault::MissingElement);
    EXPECT_THROW(filter.Root.Children[1].RaiseFault(), EListIndexError);
}

TEST(LdapRequest, NodesPastTheDepthBoundAreInvalid)
{
    std::string filter = FilterBER("(cn=*a*)");
    for (int level = 1; level < kMaxFilterDepth + 1; ++level) filter = Tlv(0xA0, filter);
    TASNList tree;
    tree.Decode(filter);
    const TSearchFilter decoded = DecodeFilter(tree.Items(0));
    EXPECT_TRUE(decoded.ContainsInvalid);
    const TFilter* node = &decoded.Root;
    for (int level = 1; level < kMaxFilterDepth; ++level) node = &node->Children.at(0);
    EXPECT_EQ(node->Children.at(0).Fault, TFilterFault::TooDeep);
    EXPECT_THROW(node->Children.at(0).RaiseFault(), EFilterDepthError);
}

struct TOtherCase {
    std::string Name;
    std::string Message;
    std::size_t Alternative; // index in TOperation
};

std::ostream& operator<<(std::ostream& out, const TOtherCase& c) { return out << c.Name; }

class OtherOperations : public testing::TestWithParam<TOtherCase> {};

TEST_P(OtherOperations, DecodeToTheirKind)
{
    EXPECT_EQ(Decoded(GetParam().Message).Operation.index(), GetParam().Alternative);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OtherOperations,
    testing::Values(TOtherCase{"Bind", wire::BindRequest("\x01"), 1}, TOtherCase{"Unbind", Hex("30 05 02 01 02 42 00"), 2},
                    TOtherCase{"Abandon", Hex("30 06 02 01 02 50 01 01"), 4},
                    TOtherCase{"Compare", Hex("30 0E 02 01 02 6E 09 04 01 78 30 04 04 02 63 6E"), 5},
                    TOtherCase{"Extended", Hex("30 09 02 01 02 77 04 80 02 31 32"), 6},
                    TOtherCase{"Modify", Hex("30 05 02 01 02 66 00"), 7}, TOtherCase{"Unknown", Hex("30 05 02 01 02 79 00"), 8}),
    [](const testing::TestParamInfo<TOtherCase>& info) { return info.param.Name; });

}  // namespace
