// Error events of the running service: why a connection was ended (with the
// client's address), the rate limit that keeps a flood out of the log, and the
// "Errors" switch that now has events to log.
#include "ServiceTestSupport.h"

#include "config/LogFile.h"
#include "support/Wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace servicetest;
using wire::Hex;
using wire::Tlv;

namespace {

using namespace std::chrono_literals;

std::string SearchWithFilter(const std::string& filter)
{
    const std::string zero(1, '\0');
    return Tlv(0x30, Tlv(0x02, "\x07") + Tlv(0x63, Tlv(0x04, "") + Tlv(0x0A, "\x02") + Tlv(0x0A, zero) +
                                                      Tlv(0x02, zero) + Tlv(0x02, zero) + Tlv(0x01, zero) + filter +
                                                      Tlv(0x30, "")));
}

std::string NotChain(int levels)
{
    std::string filter = Tlv(0xA4, Tlv(0x04, "cn") + Tlv(0x30, Tlv(0x81, "a")));
    for (int i = 1; i < levels; ++i) filter = Tlv(0xA2, filter);
    return filter;
}

std::string DeepBer(int levels)
{
    std::string bytes = Tlv(0x04, "x");
    for (int i = 0; i < levels; ++i) bytes = Tlv(0x30, bytes);
    return bytes;
}

struct TEndCase {
    const char* Name;
    std::string Sent;
    bool ClientCloses;     // the client closes after sending; otherwise the server does
    std::string Expected;  // the error event's text after the address; "" for none
};

class ConnectionEnd : public testing::TestWithParam<TEndCase> {
protected:
    void SetUp() override
    {
        PlaceForm(Form, Dir);
        Dir.WriteIni({"DefaultPort=0", "BindSelected=Yes", "IntSelected=127.0.0.1", "LogSelected=Yes", "LogErrors=Yes"});
        ASSERT_EQ(Form.FormCreate(), TInitOutcome::Stopped);
        Form.StartService();
        // A filter is only evaluated against entries.
        SetDirectory({{"Ann", {"cn=Ann", "mail=ann@"}}});
        Port = Form.Listener().Binding(0).Port;
    }
    void TearDown() override
    {
        Form.FormDestroy();
        CloseLogFile();
    }
    std::vector<std::string> ErrorEvents() const
    {
        std::vector<std::string> errors;
        for (const std::string& e : Presenter.Events())
            if (e.rfind("Error...", 0) == 0 || e.rfind("Errors not logged", 0) == 0) errors.push_back(e);
        return errors;
    }

    TProgramDir Dir;
    TRecordingPresenter Presenter;
    TMainForm Form{&Presenter};
    int Port = 0;
};

TEST_P(ConnectionEnd, ReasonAndAddressLoggedAsAnErrorAndWrittenUnderErrors)
{
    const TEndCase& c = GetParam();
    {
        wire::TWireClient client(Port);
        client.Send(c.Sent);
        if (c.ClientCloses) {
            client.Close();
        } else {
            EXPECT_TRUE(client.PeerClosed());
        }
        ASSERT_TRUE(Presenter.WaitForEvent("Disconnect..."));
    }
    Form.StopService();

    const std::vector<std::string> expected =
        c.Expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{"Error...127.0.0.1: " + c.Expected};
    EXPECT_EQ(ErrorEvents(), expected);
    // Only the errors reach the file under LogErrors alone.
    std::vector<std::string> fileMessages;
    for (const std::string& line : CrLfLines(Dir.File("VESKA.LOG")))
        fileMessages.push_back(line.size() > 21 ? line.substr(0, line.size() - 21) : line);
    EXPECT_EQ(fileMessages, expected);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorEvents, ConnectionEnd,
    testing::Values(
        TEndCase{"MessageWithoutAnOperation", Hex("30 03 02 01 01"), false, "malformed message"},
        TEndCase{"DeclaredLengthOverTheCap", Hex("30 84 00 01 00 00"), false,
                 "Declared message length exceeds 32768 octets"},
        TEndCase{"BerNestedPastTheBound", DeepBer(300), false, "BER nesting deeper than 128 levels"},
        TEndCase{"FilterNestedPastTheBound", SearchWithFilter(NotChain(65)), false, "Filter nested too deeply"},
        TEndCase{"ClientClosesAfterABind", wire::BindRequest(Hex("01")), true, ""},
        TEndCase{"ClientClosesInTheMiddleOfAMessage", Hex("30 10 02 01"), true, ""}),
    [](const testing::TestParamInfo<TEndCase>& info) { return info.param.Name; });

TEST_F(ConnectionEnd, FloodIsCappedAndWhatWasHeldBackIsCountedAtStop)
{
    // A window longer than any test run: only the count matters here.
    Form.SetErrorLimit(TErrorRateLimit(5, 24h));
    for (int i = 0; i < 12; ++i) {
        wire::TWireClient client(Port);
        client.Send(Hex("30 00"));
        ASSERT_TRUE(client.PeerClosed());
    }
    Form.StopService();
    std::vector<std::string> expected(5, "Error...127.0.0.1: malformed message");
    expected.push_back("Errors not logged: 7");
    EXPECT_EQ(ErrorEvents(), expected);
}

}  // namespace
