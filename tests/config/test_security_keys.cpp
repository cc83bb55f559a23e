// The TLS and client-network keys as the listener reads them from VESKA.INI.
#include "config/VESKAOptions.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TSecurityCase {
    const char* Name;
    std::string IniLines;  // lines of [OPTIONS]
    std::string Certificate;
    std::string Key;
    int32_t Port;
    bool Required;
    std::string AllowFrom;
};

const TSecurityCase kCases[] = {
    {"AbsentKeysGiveDefaults", "", "", "", 636, false, ""},
    {"RelativePemPaths", "TlsCertificate=certs/server.pem\nTlsKey=certs/server.key\n", "certs/server.pem",
     "certs/server.key", 636, false, ""},
    {"PortZeroTurnsLdapsOff", "TlsPort=0\n", "", "", 0, false, ""},
    {"OtherPort", "tlsport=10636\n", "", "", 10636, false, ""},
    {"RequiredYes", "TlsRequired=Yes\n", "", "", 636, true, ""},
    {"RequiredOtherTextIsNo", "TlsRequired=true\n", "", "", 636, false, ""},
    {"AllowFromMixedFamiliesKeptVerbatim", "AllowFrom=127.0.0.1, 10.0.0.0/8,::1,fd00::/8\n", "", "", 636, false,
     "127.0.0.1, 10.0.0.0/8,::1,fd00::/8"},
    {"QuotedPathWithBlanks", "TlsKey=\" my key.pem \"\n", "", " my key.pem ", 636, false, ""},
};

class SecurityKeys : public testing::TestWithParam<TSecurityCase> {};

TEST_P(SecurityKeys, ReadThroughTypedAccessors)
{
    const TSecurityCase& c = GetParam();
    TTempDir dir;
    dir.Write("VESKA.INI", "[OPTIONS]\n" + c.IniLines);
    TVESKAOptions options;
    options.LoadFromFile(dir.File("VESKA.INI"));
    EXPECT_EQ(options.TlsCertificate(), c.Certificate);
    EXPECT_EQ(options.TlsKey(), c.Key);
    EXPECT_EQ(options.TlsPort(), c.Port);
    EXPECT_EQ(options.TlsRequired(), c.Required);
    EXPECT_EQ(options.AllowFrom(), c.AllowFrom);
}

INSTANTIATE_TEST_SUITE_P(Settings, SecurityKeys, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TSecurityCase>& info) { return info.param.Name; });

TEST(SecurityKeysFile, SavedAndLoadedAgain)
{
    TTempDir dir;
    TVESKAOptions saved;
    saved.SetValue("TlsCertificate", TValue("tls/cert.pem"));
    saved.SetValue("TlsKey", TValue("tls/key.pem"));
    saved.SetValue("TlsPort", TValue(0));
    saved.SetValue("TlsRequired", TValue(true));
    saved.SetValue("AllowFrom", TValue("192.168.0.0/16,2001:db8::1"));
    saved.SaveToFile(dir.File("VESKA.INI"));
    const std::string text = ReadFile(dir.File("VESKA.INI"));
    EXPECT_NE(text.find("\nTlsCertificate=tls/cert.pem\nTlsKey=tls/key.pem\nTlsPort=0\nTlsRequired=Yes\n"
                        "AllowFrom=192.168.0.0/16,2001:db8::1\n"),
              std::string::npos)
        << text;

    TVESKAOptions loaded;
    loaded.LoadFromFile(dir.File("VESKA.INI"));
    EXPECT_EQ(loaded.TlsCertificate(), "tls/cert.pem");
    EXPECT_EQ(loaded.TlsKey(), "tls/key.pem");
    EXPECT_EQ(loaded.TlsPort(), 0);
    EXPECT_TRUE(loaded.TlsRequired());
    EXPECT_EQ(loaded.AllowFrom(), "192.168.0.0/16,2001:db8::1");
}

}  // namespace
