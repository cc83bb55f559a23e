// Nesting on the wire: a filter nested as deep as the filter bound is answered
// however the message around it is wrapped; deeper filters and deeper BER end
// that connection only.
#include "config/VESKAOptions.h"
#include "ldap/Filter.h"
#include "ldap/Search.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::Hex;
using wire::ToHex;

namespace {

// One element; longForm writes every length as 84 and four octets, the way
// some clients always do.
std::string Tlv(int tag, const std::string& content, bool longForm = false)
{
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (longForm) {
        out += '\x84';
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xFF);
    } else if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        out += '\x82';
        out += static_cast<char>((n >> 8) & 0xFF);
        out += static_cast<char>(n & 0xFF);
    }
    return out + content;
}

// `levels` filter levels: levels-1 combinations of `tag` around (cn=*ann*).
std::string NestedFilter(int levels, int tag, bool longForm)
{
    std::string filter = Tlv(0xA4, Tlv(0x04, "cn", longForm) + Tlv(0x30, Tlv(0x81, "ann", longForm), longForm),
                             longForm);
    for (int i = 1; i < levels; ++i) filter = Tlv(tag, filter, longForm);
    return filter;
}

// A SearchRequest for message ID 5 with the usual eight parts; controls, when
// given, follow the operation as the message's third element.
std::string Search(const std::string& filter, bool longForm, const std::string& controls = "")
{
    const std::string operation = Tlv(0x04, "", longForm) + Tlv(0x0A, "\x02", longForm) +
                                  Tlv(0x0A, std::string(1, '\0'), longForm) + Tlv(0x02, std::string(1, '\0'), longForm) +
                                  Tlv(0x02, std::string(1, '\0'), longForm) + Tlv(0x01, std::string(1, '\0'), longForm) +
                                  filter + Tlv(0x30, "", longForm);
    return Tlv(0x30, Tlv(0x02, "\x05", longForm) + Tlv(0x63, operation, longForm) + controls, longForm);
}

// A paged-results control, as ldapsearch -E pr=10 sends it.
const std::string kControls =
    Tlv(0xA0, Tlv(0x30, Tlv(0x04, "1.2.840.113556.1.4.319") + Tlv(0x04, Tlv(0x30, Tlv(0x02, "\x0A") + Tlv(0x04, "")))));

const std::string kEntry = Hex("30 2F 02 01 05 64 2A 04 07 41 6E 6E 20 4C 65 65 30 1F 30 0D 04 02 63 6E 31 07 04 05"
                               "41 6E 6E 20 4C 30 0E 04 04 6D 61 69 6C 31 06 04 04 61 6E 6E 40");
const std::string kDone = Hex("30 0C 02 01 05 65 07 0A 01 00 04 00 04 00");

struct TNestingCase {
    std::string Name;
    std::string Request;
    bool Answered;  // otherwise the connection ends without a byte
};

std::vector<TNestingCase> Cases()
{
    std::vector<TNestingCase> cases;
    for (const bool longForm : {false, true}) {
        const std::string form = longForm ? "_LongLengths" : "_ShortLengths";
        cases.push_back({"OrsToTheBound" + form, Search(NestedFilter(kMaxFilterDepth, 0xA1, longForm), longForm), true});
        cases.push_back({"AndsToTheBoundWithControls" + form,
                         Search(NestedFilter(kMaxFilterDepth, 0xA0, longForm), longForm, kControls), true});
        // An even chain of nots cancels out.
        cases.push_back({"EvenNotsBelowTheBound" + form,
                         Search(NestedFilter(kMaxFilterDepth - 1, 0xA2, longForm), longForm), true});
        cases.push_back({"OneLevelPastTheBound" + form,
                         Search(NestedFilter(kMaxFilterDepth + 1, 0xA1, longForm), longForm), false});
    }
    // BER nested far past anything a filter needs.
    std::string deep = Tlv(0x04, "x");
    for (int i = 0; i < 500; ++i) deep = Tlv(0x30, deep);
    cases.push_back({"DeepBerPastTheDecoderBound", Search(deep, false), false});
    return cases;
}

class NestingWire : public testing::TestWithParam<TNestingCase> {
protected:
    void SetUp() override
    {
        SetDirectory({{"Ann Lee", {"cn=Ann L", "mail=ann@"}}, {"Bob", {"cn=Bob", "mail=bob@"}}});
        Port = wire::StartLdapServer(Server, [this](ILdapConnection& c, const TLdapRequest& request) {
            SearchAnswer(c, request, Options);
        });
    }
    void TearDown() override
    {
        Server.SetActive(false);
        SetDirectory({});
    }
    TVESKAOptions Options;
    TTCPServer Server;
    int Port = 0;
};

TEST_P(NestingWire, AnsweredUpToTheFilterBoundAndOnlyThatConnectionEndsPastIt)
{
    const TNestingCase& c = GetParam();
    wire::TWireClient client(Port);
    client.Send(c.Request);
    if (c.Answered) {
        EXPECT_EQ(ToHex(client.ReadExactly(kEntry.size() + kDone.size())), ToHex(kEntry + kDone));
        // The connection goes on.
        client.Send(wire::BindRequest(Hex("06")));
        EXPECT_EQ(ToHex(client.ReadExactly(wire::BindResponse(Hex("06")).size())), ToHex(wire::BindResponse(Hex("06"))));
    } else {
        std::string received;
        EXPECT_TRUE(client.PeerClosed(5000, &received));
        EXPECT_EQ(ToHex(received), "");
    }
    // Other clients are served either way.
    wire::TWireClient other(Port);
    other.Send(wire::BindRequest(Hex("01")));
    EXPECT_EQ(ToHex(other.ReadExactly(14)), ToHex(wire::BindResponse(Hex("01"))));
}

INSTANTIATE_TEST_SUITE_P(Nesting, NestingWire, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<TNestingCase>& info) { return info.param.Name; });

}  // namespace
