// Standard searches on the wire: each request's exact answer from a server
// with StandardSearch on, over a two-entry directory.
#include "config/VESKAOptions.h"
#include "ldap/Search.h"
#include "listener/TcpServer.h"
#include "support/FilterText.h"
#include "support/SearchFixtures.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::Hex;
using wire::ToHex;

namespace {

// One element with the length octets the server writes (three after 0x83
// from 128 octets on).
std::string Tlv(int tag, std::string_view content)
{
    return std::string(1, static_cast<char>(tag)) + EncodeLength(content.size()) + std::string(content);
}

std::string Octets(std::string_view text) { return Tlv(0x04, text); }

// One PartialAttribute; typesOnly answers carry no values.
std::string Attribute(std::string_view type, const std::vector<std::string>& values)
{
    std::string set;
    for (const std::string& v : values) set += Octets(v);
    return Tlv(0x30, Octets(type) + Tlv(0x31, set));
}

std::string Entry(std::string_view id, std::string_view dn, const std::string& attributes)
{
    return Tlv(0x30, Tlv(0x02, id) + Tlv(0x64, Octets(dn) + Tlv(0x30, attributes)));
}

std::string Result(std::string_view id, int response, int code, std::string_view message = "")
{
    return Tlv(0x30, Tlv(0x02, id) + Tlv(response, Tlv(0x0A, std::string(1, static_cast<char>(code))) + Octets("") +
                                                       Octets(message)));
}

std::string Request(std::string_view id, int operation, const std::string& content)
{
    return Tlv(0x30, Tlv(0x02, id) + Tlv(operation, content));
}

const std::string kDefaultClasses = Attribute("objectClass", {"top", "person", "organizationalPerson", "inetOrgPerson"});
const std::string kAnn = Attribute("cn", {"Ann Lee"}) + Attribute("mail", {"ann@example.com"}) + kDefaultClasses;
const std::string kRootDSE = Attribute("objectClass", {"top"}) + Attribute("namingContexts", {""}) +
                             Attribute("supportedLDAPVersion", {"3"}) + Attribute("vendorName", {"VESKA"}) +
                             Attribute("vendorVersion", {"1.1"});

struct TWireCase {
    std::string Name;
    std::string Request;
    std::string Answer; // empty: the server closes without a word
};

std::vector<TWireCase> Cases()
{
    const std::string id = Hex("07");
    return {
        {"RootDSE", SearchRequestBER(id, "", 0, 0, false, "(objectClass=*)"),
         Entry(id, "", kRootDSE) + Result(id, 0x65, 0)},
        {"RootDSENamedAttributes",
         SearchRequestBER(id, "", 0, 0, false, "(objectclass=*)", {"namingcontexts", "supportedLDAPVersion"}),
         Entry(id, "", Attribute("namingContexts", {""}) + Attribute("supportedLDAPVersion", {"3"})) +
             Result(id, 0x65, 0)},
        {"BaseReadByDN", SearchRequestBER(id, "MAIL=Ann@Example.com", 0, 0, false, "(objectclass=*)"),
         Entry(id, "mail=ann@example.com", kAnn) + Result(id, 0x65, 0)},
        {"BaseReadOfUnknownDN", SearchRequestBER(id, "mail=nobody@example.com", 0, 0, false, "(objectclass=*)"),
         Result(id, 0x65, 32)},
        {"BaseReadFilterDecides", SearchRequestBER(id, "mail=ann@example.com", 0, 0, false, "(cn=bob)"),
         Result(id, 0x65, 0)},
        {"NamedAttributeWithAllValues",
         SearchRequestBER(id, "dc=any,dc=base", 2, 0, false, "(mail=bob2@example.com)", {"MAIL"}),
         Entry(id, "mail=bob@example.com", Attribute("mail", {"bob@example.com", "bob2@example.com"})) +
             Result(id, 0x65, 0)},
        {"TypesOnly", SearchRequestBER(id, "", 1, 0, true, "(cn=ann lee)", {"cn", "sn"}),
         Entry(id, "mail=ann@example.com", Attribute("cn", {})) + Result(id, 0x65, 0)},
        {"NoAttributes", SearchRequestBER(id, "", 2, 0, false, "(cn=bob)", {"1.1"}),
         Entry(id, "mail=bob@example.com", "") + Result(id, 0x65, 0)},
        {"SizeLimitExceeded", SearchRequestBER(id, "", 2, 1, false, "(objectClass=person)"),
         Entry(id, "mail=ann@example.com", kAnn) + Result(id, 0x65, 4)},
        {"CompareTrue",
         Request(id, 0x6E, Octets("mail=ann@example.com") + Tlv(0x30, Octets("CN") + Octets("ann lee"))),
         Hex("30 0C 02 01 07 6F 07 0A 01 06 04 00 04 00")},
        {"CompareFalse", Request(id, 0x6E, Octets("mail=ann@example.com") + Tlv(0x30, Octets("cn") + Octets("Bob"))),
         Hex("30 0C 02 01 07 6F 07 0A 01 05 04 00 04 00")},
        {"AddRefused", Request(id, 0x68, Octets("cn=new") + Tlv(0x30, "")),
         Result(id, 0x69, 53, "The directory is read-only")},
        {"DeleteRefused", Request(id, 0x4A, "mail=ann@example.com"), Result(id, 0x6B, 53, "The directory is read-only")},
        {"UnknownExtendedOperation", Request(id, 0x77, Tlv(0x80, "1.3.6.1.4.1.4203.1.11.3")),
         Result(id, 0x78, 2, "Unsupported extended operation")},
        {"AbandonIsIgnored", Request(id, 0x50, "") + wire::BindRequest(Hex("08")), wire::BindResponse(Hex("08"))},
        {"UnbindCloses", Request(id, 0x42, ""), ""},
    };
}

class StandardWire : public testing::TestWithParam<TWireCase> {
protected:
    void SetUp() override
    {
        SetDirectory({{"Ann Lee", {"cn=Ann Lee", "mail=ann@example.com"}},
                      {"Bob", {"cn=Bob", "mail=bob@example.com", "mail=bob2@example.com"}}});
        Options.SetValue("StandardSearch", TValue(true));
        Server.OnExecute = [this](TConnection& connection) {
            SrvExecuteMessage(
                connection, [this](ILdapConnection& c, const TLdapRequest& request) { SearchAnswer(c, request, Options); },
                TDispatchMode::Standard);
        };
        Server.AddBinding("127.0.0.1", 0);
        Server.SetActive(true);
        Port = Server.Binding(0).Port;
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

TEST_P(StandardWire, AnswersExactly)
{
    const TWireCase& c = GetParam();
    wire::TWireClient client(Port);
    client.Send(c.Request);
    if (c.Answer.empty()) {
        std::string received;
        EXPECT_TRUE(client.PeerClosed(5000, &received));
        EXPECT_EQ(ToHex(received), "");
        return;
    }
    EXPECT_EQ(ToHex(client.ReadExactly(c.Answer.size())), ToHex(c.Answer));
    // Nothing more follows, and the connection goes on.
    client.Send(wire::BindRequest(Hex("09")));
    EXPECT_EQ(ToHex(client.ReadExactly(wire::BindResponse(Hex("09")).size())), ToHex(wire::BindResponse(Hex("09"))));
}

INSTANTIATE_TEST_SUITE_P(Requests, StandardWire, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<TWireCase>& info) { return info.param.Name; });

}  // namespace
