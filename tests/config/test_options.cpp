// The settings store against real files: load, save, text forms, concurrency.
#include "config/DateTimeText.h"
#include "config/Option.h"
#include "config/ProfileFile.h"
#include "config/VESKAOptions.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

const std::vector<std::pair<std::string, std::string>> kDefaults = {
    {"StartOpt", "2"},     {"DefaultPort", "389"}, {"ExtFile", ""},       {"LogNone", "Yes"},
    {"LogSelected", "No"}, {"LogService", "No"},   {"LogRequests", "No"}, {"LogErrors", "No"},
    {"LogSession", "No"},  {"BindAll", "Yes"},     {"BindSelected", "No"}, {"IntSelected", ""},
    {"StartMin", "No"},    {"MaxResults", "50"},
    {"TlsCertificate", ""}, {"TlsKey", ""},      {"TlsPort", "636"},    {"TlsRequired", "No"},
    {"AllowFrom", ""},     {"StandardSearch", "No"},
    {"RefreshMinutes", "0"}, {"MetricsPort", "0"}, {"MetricsAddress", "127.0.0.1"},
};

std::string DefaultsFileText()
{
    std::string text = "[OPTIONS]\n";
    for (const auto& [key, value] : kDefaults) text += key + "=" + value + "\n";
    return text;
}

// The text of every key, in definition order.
std::map<std::string, std::string> Texts(const TOptions& options)
{
    std::map<std::string, std::string> texts;
    for (int i = 0; i < options.Count(); ++i) texts[options.Option(i).Name] = options.GetAsText(i);
    return texts;
}

struct TLoadCase {
    const char* Name;
    std::optional<std::string> File;               // nullopt: no file at all
    std::map<std::string, std::string> Changed;    // keys that differ from the defaults
    std::string Error;                              // expected conversion error, if any
};

std::string LongValue(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i) s += static_cast<char>('a' + i % 26);
    s.resize(n);
    return s;
}

const std::vector<TLoadCase> kLoadCases = {
    {"NoFile", std::nullopt, {}, ""},
    {"EmptyFile", "", {}, ""},
    {"OtherSectionOnly", "[OTHER]\nMaxResults=1\n", {}, ""},
    {"OnlyMaxResultsZero", "[OPTIONS]\nMaxResults=0\n", {{"MaxResults", "0"}}, ""},
    {"LowerCaseKeyAndSection", "[options]\nmaxresults=7\n", {{"MaxResults", "7"}}, ""},
    {"YesInCapitalsIsFalse", "[OPTIONS]\nStartMin=YES\nLogNone=YES\n", {{"LogNone", "No"}}, ""},
    {"ExactYesIsTrue", "[OPTIONS]\nStartMin=Yes\nBindAll=No\n", {{"StartMin", "Yes"}, {"BindAll", "No"}}, ""},
    {"OtherBooleanTextsAreFalse", "[OPTIONS]\nLogNone=1\nBindAll=true\n", {{"LogNone", "No"}, {"BindAll", "No"}}, ""},
    {"DigitsThenLetterStopsLoad",
     "[OPTIONS]\nStartOpt=0\nExtFile=/x.ldif\nDefaultPort=389x\nMaxResults=9\nStartMin=Yes\n",
     {{"StartOpt", "0"}, {"ExtFile", "/x.ldif"}},
     "'389x' is not a valid integer value"},
    {"EmptyIntegerIsAnError", "[OPTIONS]\nMaxResults=\n", {}, "'' is not a valid integer value"},
    {"QuotedBlankBeforeDigitIsAnError", "[OPTIONS]\nDefaultPort=\" 1\"\n", {}, "' 1' is not a valid integer value"},
    {"IntegerOverflowIsAnError", "[OPTIONS]\nMaxResults=2147483648\n", {}, "'2147483648' is not a valid integer value"},
    {"SignsAccepted", "[OPTIONS]\nMaxResults=-2147483648\nDefaultPort=+636\n",
     {{"MaxResults", "-2147483648"}, {"DefaultPort", "636"}}, ""},
    {"LongValueCutTo2047", "[OPTIONS]\nIntSelected=" + LongValue(3000) + "\n", {{"IntSelected", LongValue(2047)}}, ""},
    {"BlanksAndQuotesRemoved",
     "[OPTIONS]\n  ExtFile =  \"/tmp/a b.ldif\"  \nIntSelected='127.0.0.1'\nMaxResults =\t25 \n",
     {{"ExtFile", "/tmp/a b.ldif"}, {"IntSelected", "127.0.0.1"}, {"MaxResults", "25"}}, ""},
    {"UnmatchedQuoteKept", "[OPTIONS]\nExtFile=\"abc\nIntSelected='x\"\n",
     {{"ExtFile", "\"abc"}, {"IntSelected", "'x\""}}, ""},
    {"OnlyOnePairOfQuotesRemoved", "[OPTIONS]\nExtFile=\"'x'\"\n", {{"ExtFile", "'x'"}}, ""},
    {"FirstLineOfAKeyWins", "[OPTIONS]\nMaxResults=1\nmaxresults=2\n", {{"MaxResults", "1"}}, ""},
    {"UnknownKeysAndCommentsIgnored", "; note\n[OPTIONS]\n;MaxResults=3\nColour=blue\nStartOpt=1\n",
     {{"StartOpt", "1"}}, ""},
    {"KeysOfOtherSectionsIgnored", "MaxResults=1\n[A]\nMaxResults=2\n[OPTIONS]\nStartOpt=0\n[B]\nMaxResults=3\n",
     {{"StartOpt", "0"}}, ""},
    {"CrLfLines", "[OPTIONS]\r\nMaxResults=5\r\nExtFile=/e.ldif\r\n", {{"MaxResults", "5"}, {"ExtFile", "/e.ldif"}}, ""},
    {"LastLineWithoutLineEnd", "[OPTIONS]\nMaxResults=6", {{"MaxResults", "6"}}, ""},
    {"FirstSectionOfANameWins", "[OPTIONS]\nMaxResults=1\n[OPTIONS]\nStartOpt=0\n", {{"MaxResults", "1"}}, ""},
};

class LoadTable : public testing::TestWithParam<TLoadCase> {};

TEST_P(LoadTable, GivesTheExpectedValues)
{
    const TLoadCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    if (c.File) WriteFile(path, *c.File);

    TVESKAOptions options;
    if (c.Error.empty()) {
        EXPECT_NO_THROW(options.LoadFromFile(path));
    } else {
        try {
            options.LoadFromFile(path);
            ADD_FAILURE() << "no error raised";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), c.Error);
        }
    }
    std::map<std::string, std::string> expected(kDefaults.begin(), kDefaults.end());
    for (const auto& [key, value] : c.Changed) expected[key] = value;
    EXPECT_EQ(Texts(options), expected);
    // Loading never writes.
    EXPECT_EQ(fs::exists(path), c.File.has_value());
    if (c.File) {
        EXPECT_EQ(ReadFile(path), *c.File);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadTable, testing::ValuesIn(kLoadCases),
                         [](const testing::TestParamInfo<TLoadCase>& info) { return info.param.Name; });

TEST(Settings, DefinitionOrderKindsAndDefaults)
{
    TVESKAOptions options;
    const uint8_t kinds[] = {okInteger, okInteger, okString,  okBoolean, okBoolean, okBoolean, okBoolean,
                             okBoolean, okBoolean, okBoolean, okBoolean, okString,  okBoolean, okInteger,
                             okString,  okString,  okInteger, okBoolean, okString,  okBoolean,
                             okInteger, okInteger, okString};
    ASSERT_EQ(options.Count(), static_cast<int>(std::size(kinds)));
    ASSERT_EQ(kDefaults.size(), std::size(kinds));
    for (int i = 0; i < options.Count(); ++i) {
        const TOption o = options.Option(i);
        EXPECT_EQ(o.Name, kDefaults[static_cast<std::size_t>(i)].first);
        EXPECT_EQ(o.Kind, kinds[i]) << o.Name;
        EXPECT_TRUE(o.PreviousValue.IsEmpty()) << o.Name;
    }
    EXPECT_EQ(options.GetValue("StartOpt").AsInteger(), 2);
    EXPECT_EQ(options.GetValue("DefaultPort"), TValue(389));
    EXPECT_EQ(options.GetValue("LogNone"), TValue(true));
    EXPECT_EQ(options.GetValue("ExtFile"), TValue(""));
    EXPECT_TRUE(options.GetValue("NoSuchKey").IsNull());
    EXPECT_TRUE(options.GetPreviousValue("NoSuchKey").IsNull());
    EXPECT_TRUE(options.GetPreviousValue("StartOpt").IsEmpty());
}

TEST(Settings, DefaultsWrittenOneLinePerKeyInOrder)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    TVESKAOptions options;
    options.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), DefaultsFileText());
    EXPECT_NE(ReadFile(path).find("\nExtFile=\n"), std::string::npos);
    EXPECT_NE(ReadFile(path).find("\nIntSelected=\n"), std::string::npos);
}

TEST(Settings, LowerCaseKeyLineRewrittenInPlace)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    WriteFile(path, "[Other]\nA=1\n\n[options]\nmaxresults=7\nColour=blue\n\n[Last]\nB=2\n");
    TVESKAOptions options;
    options.LoadFromFile(path);
    ASSERT_EQ(options.GetValue("MaxResults").AsInteger(), 7);
    options.SetValue("MaxResults", TValue(8));
    options.SaveToFile(path);

    std::string expected = "[Other]\nA=1\n\n[options]\nMaxResults=8\nColour=blue\n";
    for (const auto& [key, value] : kDefaults)
        if (key != "MaxResults") expected += key + "=" + value + "\n";
    expected += "\n[Last]\nB=2\n";
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(Settings, ExtraKeysSectionsAndCommentsKeptOnSave)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    const std::string head = "; written by hand\n[Window]\nLeft=10\n";
    WriteFile(path, head + "[OPTIONS]\nStartOpt=0\nColour=blue\n; keep me\n");
    TVESKAOptions options;
    options.LoadFromFile(path);
    options.SaveToFile(path);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("[OPTIONS]\nStartOpt=0\nColour=blue\n; keep me\nDefaultPort=389\n"), std::string::npos)
        << text;

    // Loading the saved file gives the same store.
    TVESKAOptions again;
    again.LoadFromFile(path);
    EXPECT_EQ(Texts(again), Texts(options));
}

TEST(Settings, SectionAddedToAFileWithoutIt)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    WriteFile(path, "[Window]\r\nLeft=10");
    TVESKAOptions options;
    options.SaveToFile(path);
    std::string expected = "[Window]\r\nLeft=10\r\n[OPTIONS]\r\n";
    for (const auto& [key, value] : kDefaults) expected += key + "=" + value + "\r\n";
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(Settings, EmptyIntSelectedSavedAsBareKey)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    WriteFile(path, "[OPTIONS]\nIntSelected=127.0.0.1\n");
    TVESKAOptions options;
    options.LoadFromFile(path);
    options.SetValue("IntSelected", TValue(""));
    options.SaveToFile(path);
    EXPECT_NE(ReadFile(path).find("[OPTIONS]\nIntSelected=\n"), std::string::npos);
}

TEST(Settings, ReadOnlyFileRefusesTheWriteAndStaysUnchanged)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    const std::string original = "[OPTIONS]\nMaxResults=3\n";
    WriteFile(path, original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TVESKAOptions options;
    options.SetValue("MaxResults", TValue(4));
    try {
        options.SaveToFile(path);
        ADD_FAILURE() << "no error raised";
    } catch (const EProfileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadFile(path), original);
    // No temporary file left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    // Values in memory are unaffected.
    EXPECT_EQ(options.GetValue("MaxResults").AsInteger(), 4);
}

TEST(Settings, MissingFolderRefusesTheWrite)
{
    TTempDir dir;
    const std::string path = dir.File("no-such-folder/VESKA.INI");
    TVESKAOptions options;
    try {
        options.SaveToFile(path);
        ADD_FAILURE() << "no error raised";
    } catch (const EProfileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

TEST(Settings, SaveKeepsModeAndWritesThroughASymlink)
{
    TTempDir dir;
    const std::string real = dir.File("real.ini");
    const std::string link = dir.File("VESKA.INI");
    WriteFile(real, "[OPTIONS]\nMaxResults=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, link);
    TVESKAOptions options;
    options.LoadFromFile(link);
    options.SaveToFile(link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real).substr(0, 23), "[OPTIONS]\nMaxResults=1\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(Settings, LineBreakInAValueIsRefusedAndTheFileKept)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    TVESKAOptions options;
    options.SaveToFile(path);
    options.SetValue("ExtFile", TValue("/a\n[OPTIONS]\nStartOpt=0"));
    EXPECT_THROW(options.SaveToFile(path), EProfileError);
    EXPECT_EQ(ReadFile(path), DefaultsFileText());
}

TEST(Settings, OversizedFileIsRefused)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.INI");
    WriteFile(path, "[OPTIONS]\nExtFile=" + std::string(kMaxProfileFileSize, 'x') + "\n");
    TVESKAOptions options;
    EXPECT_THROW(options.LoadFromFile(path), EProfileError);
    EXPECT_EQ(options.GetValue("ExtFile").AsString(), "");
}

TEST(Settings, RememberValuesCopiesEveryValue)
{
    TVESKAOptions options;
    options.SetValue("StartOpt", TValue(1));
    options.RememberValues();
    options.SetValue("StartOpt", TValue(2));
    EXPECT_EQ(options.GetPreviousValue("StartOpt").AsInteger(), 1);
    EXPECT_EQ(options.GetValue("StartOpt").AsInteger(), 2);
    EXPECT_EQ(options.GetPreviousValue("MaxResults"), TValue(50));
}

TEST(Settings, FirstEntryOfANameWinsAndLookupFoldsAsciiOnly)
{
    TOptions options;
    EXPECT_EQ(options.AddOption("Key", okInteger, TValue(1)), 0);
    EXPECT_EQ(options.AddOption("KEY", okInteger, TValue(2)), 1);
    EXPECT_EQ(options.AddOption("K\xe9y", okInteger, TValue(3)), 2);
    EXPECT_EQ(options.IndexOfOption("kEy"), 0);
    EXPECT_EQ(options.GetValue("key").AsInteger(), 1);
    EXPECT_EQ(options.IndexOfOption("K\xc9Y"), -1);  // only a-z are folded
    EXPECT_EQ(options.IndexOfOption("K\xe9Y"), 2);
    EXPECT_FALSE(options.SetValue("missing", TValue(1)));
    EXPECT_THROW(options.Option(3), std::out_of_range);
}

TEST(Settings, UnknownKindWritesEmptyTextAndReadsNull)
{
    TOption o;
    o.Kind = 9;
    o.Value = TValue(5);
    EXPECT_EQ(o.AsText(), "");
    o.SetAsText("5");
    EXPECT_TRUE(o.Value.IsNull());
}

TEST(Settings, AsBooleanAndAsIntegerStoreWhateverTheKind)
{
    TOption o;
    o.Kind = okString;
    o.SetAsInteger(12);
    EXPECT_EQ(o.Value, TValue(12));
    EXPECT_EQ(o.AsText(), "12");
    o.Kind = okInteger;
    o.SetAsBoolean(true);
    EXPECT_EQ(o.Value, TValue(true));
    EXPECT_EQ(o.AsInteger(), 1);
}

// Float and date-time keys through the file.
TEST(Settings, FloatAndDateTimeRoundTripThroughTheFile)
{
    TTempDir dir;
    const std::string path = dir.File("x.ini");
    TOptions options;
    options.AddOption("Ratio", okFloat, TValue(0.1 + 0.2));
    options.AddOption("Tiny", okFloat, TValue(-1.5e-7));
    options.AddOption("When", okDateTime, TValue::DateTime(EncodeDateTime({2024, 3, 15, 14, 5, 9, 0})));
    options.AddOption("Day", okDateTime, TValue::DateTime(45366));
    options.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), "[OPTIONS]\nRatio=0.3\nTiny=-1.5E-7\nWhen=3/15/2024 2:05:09 PM\nDay=3/15/2024\n");

    TOptions loaded;
    loaded.AddOption("Ratio", okFloat, TValue(0.0));
    loaded.AddOption("Tiny", okFloat, TValue(0.0));
    loaded.AddOption("When", okDateTime, TValue::DateTime(0));
    loaded.AddOption("Day", okDateTime, TValue::DateTime(0));
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.GetValue("Ratio"), TValue(0.3));
    EXPECT_EQ(loaded.GetValue("Tiny"), TValue(-1.5e-7));
    EXPECT_EQ(loaded.GetAsText(2), "3/15/2024 2:05:09 PM");
    EXPECT_EQ(loaded.GetValue("Day"), TValue::DateTime(45366));
}

TEST(Settings, FloatAndDateTimeErrorsStopTheLoad)
{
    TTempDir dir;
    const std::string path = dir.File("x.ini");
    TOptions options;
    options.AddOption("Ratio", okFloat, TValue(1.0));
    options.AddOption("When", okDateTime, TValue::DateTime(0));
    WriteFile(path, "[OPTIONS]\nRatio=1,5\nWhen=1/2/2003\n");
    try {
        options.LoadFromFile(path);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
    }
    EXPECT_EQ(options.GetValue("When"), TValue::DateTime(0));

    WriteFile(path, "[OPTIONS]\nRatio=2.5\nWhen=2/30/2024\n");
    try {
        options.LoadFromFile(path);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'2/30/2024' is not a valid date and time");
    }
    EXPECT_EQ(options.GetValue("Ratio"), TValue(2.5));
}

// Readers on connection threads while the user-interface thread replaces
// values: every read sees one whole value (run under TSan as well).
TEST(Settings, ConcurrentReadsDuringWritesSeeWholeValues)
{
    TVESKAOptions options;
    const std::string a(300, 'a');
    const std::string b(700, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            while (!stop.load()) {
                const int32_t max = options.GetValue("MaxResults").AsInteger();
                if (max != 50 && max != 10 && max != 20) ++bad;
                const std::string ext = options.GetValue("ExtFile").AsString();
                if (!ext.empty() && ext != a && ext != b) ++bad;
                if (options.IndexOfOption("logsession") != 8) ++bad;
                std::this_thread::yield();
            }
        });
    for (int i = 0; i < 3000; ++i) {
        options.SetValue("MaxResults", TValue(i % 2 ? 10 : 20));
        options.SetValue("ExtFile", TValue(i % 2 ? a : b));
        if (i % 500 == 0) options.RememberValues();
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
