#include "directory/ExtractToken.h"
#include "directory/MailApi.h"

#include <dlfcn.h>
#include <sqlite3.h>
#include <stdlib.h>

#include "support/TestFiles.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void CopyLibrary(const TTempDir& dir, const std::string& fromDir)
{
    fs::copy_file(fromDir + "API.so", dir.File("API.so"));
}

// A program folder holding the fake library and the given fakeapi.txt.
void MakeFakeFolder(const TTempDir& dir, const std::string& script)
{
    CopyLibrary(dir, FAKE_API_DIR);
    dir.Write("fakeapi.txt", script);
}

std::vector<std::string> AllTokens(std::string text)
{
    std::vector<std::string> tokens;
    while (!text.empty())
        tokens.push_back(ExtractToken(text, ";"));
    return tokens;
}

// ---------------------------------------------------------------- ExtractToken

struct TokenCase {
    const char* text;
    const char* separator;
    const char* token;
    const char* rest;
};

class ExtractTokenTest : public testing::TestWithParam<TokenCase> {};

TEST_P(ExtractTokenTest, SplitsAtFirstSeparator)
{
    const TokenCase& c = GetParam();
    std::string text = c.text;
    EXPECT_EQ(ExtractToken(text, c.separator), c.token);
    EXPECT_EQ(text, c.rest);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtractTokenTest, testing::Values(
    TokenCase{"desk;info", ";", "desk", "info"},
    TokenCase{"desk;", ";", "desk", ""},
    TokenCase{";x", ";", "", "x"},
    TokenCase{"", ";", "", ""},
    TokenCase{"a;;b", ";", "a", ";b"},
    TokenCase{"Ann Lee", ";", "Ann Lee", ""},
    TokenCase{"Front Desk;Reception;x", ";", "Front Desk", "Reception;x"},
    TokenCase{"a, b, c", ", ", "a", "b, c"},
    TokenCase{"a,b", ", ", "a,b", ""},
    // An empty separator never matches, so a token loop cannot spin forever.
    TokenCase{"abc", "", "abc", ""}),
    [](const auto& info) { return testnames::Join(info.param.text, info.param.separator); });

struct TokenListCase {
    const char* text;
    std::vector<std::string> tokens;
};

class ExtractTokenLoopTest : public testing::TestWithParam<TokenListCase> {};

TEST_P(ExtractTokenLoopTest, MailboxListYieldsEveryMailbox)
{
    EXPECT_EQ(AllTokens(GetParam().text), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtractTokenLoopTest, testing::Values(
    TokenListCase{"desk;info", {"desk", "info"}},
    TokenListCase{"desk;", {"desk"}},
    TokenListCase{";x", {"", "x"}},
    TokenListCase{"a;;b", {"a", "", "b"}},
    TokenListCase{"", {}},
    TokenListCase{";", {""}},
    TokenListCase{"solo", {"solo"}}),
    [](const auto& info) { return testnames::Readable(info.param.text); });

// ---------------------------------------------------------------- loading

TEST(MailApiOpen, MissingLibraryFails)
{
    TTempDir dir;
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
    EXPECT_FALSE(api.IsOpen());
    EXPECT_FALSE(api.LastError().empty());
}

TEST(MailApiOpen, UnloadableLibraryFails)
{
    TTempDir dir;
    dir.Write("API.so", "this is not a shared object\n");
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
    EXPECT_FALSE(api.IsOpen());
}

TEST(MailApiOpen, LibraryMissingANameFails)
{
    TTempDir dir;
    CopyLibrary(dir, FAKE_API_MISSING_DIR);
    dir.Write("fakeapi.txt", "domain\texample.com\n");
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
    EXPECT_FALSE(api.IsOpen());
    EXPECT_NE(api.LastError().find("GetUserSetting"), std::string::npos) << api.LastError();
}

TEST(MailApiOpen, InitNonZeroFails)
{
    TTempDir dir;
    MakeFakeFolder(dir, "init\t7\ndomain\texample.com\n");
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
    EXPECT_FALSE(api.IsOpen());
    EXPECT_NE(api.LastError().find('7'), std::string::npos) << api.LastError();
}

TEST(MailApiOpen, InitNegativeFails)
{
    TTempDir dir;
    MakeFakeFolder(dir, "init\t-1\n");
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
}

TEST(MailApiOpen, InitGetsFolderWithTrailingSlash)
{
    // The fake finds fakeapi.txt only by appending the name to what Init gets.
    TTempDir dir;
    MakeFakeFolder(dir, "domain\tslash.example\n");
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path())) << api.LastError();
    ASSERT_EQ(api.GetDomainCount(), 1);
    EXPECT_EQ(api.GetDomainName(0), "slash.example");
}

TEST(MailApiOpen, WrappersRefuseWhenNotOpen)
{
    TMailApi api;
    EXPECT_THROW(api.GetDomainCount(), std::logic_error);
    EXPECT_THROW(api.GetDomainName(0), std::logic_error);
    EXPECT_THROW(api.GetUserCount("example.com"), std::logic_error);
    EXPECT_THROW(api.LoadUser("example.com", 0), std::logic_error);
    EXPECT_THROW(api.GetUserSettingStr(2), std::logic_error);
    EXPECT_THROW(api.GetUserSettingByte(32), std::logic_error);
    EXPECT_THROW(api.GetUserSettingInt(0), std::logic_error);
}

TEST(MailApiOpen, FailedOpenUnloadsThePreviousLibrary)
{
    TTempDir good;
    MakeFakeFolder(good, "domain\texample.com\n");
    TTempDir empty;
    TMailApi api;
    ASSERT_TRUE(api.Open(good.Path()));
    EXPECT_FALSE(api.Open(empty.Path()));
    EXPECT_FALSE(api.IsOpen());
    EXPECT_THROW(api.GetDomainCount(), std::logic_error);
}

TEST(MailApiOpen, EveryStartReadsTheSourceAfresh)
{
    TTempDir first;
    MakeFakeFolder(first, "domain\tfirst.example\n");
    TTempDir second;
    MakeFakeFolder(second, "domain\tsecond.example\ndomain\tthird.example\n");
    {
        TMailApi api;
        ASSERT_TRUE(api.Open(first.Path()));
        EXPECT_EQ(api.GetDomainName(0), "first.example");
    }
    {
        TMailApi api;
        ASSERT_TRUE(api.Open(second.Path()));
        EXPECT_EQ(api.GetDomainCount(), 2);
        EXPECT_EQ(api.GetDomainName(1), "third.example");
    }
    // The same object opened twice: the second Open replaces the first.
    TMailApi api;
    ASSERT_TRUE(api.Open(second.Path()));
    ASSERT_TRUE(api.Open(first.Path()));
    EXPECT_EQ(api.GetDomainCount(), 1);
    EXPECT_EQ(api.GetDomainName(0), "first.example");
}

// ---------------------------------------------------------------- wrappers

struct FakeUserCase {
    const char* domain;
    int user;
    int loadResult;
    std::uint32_t state;
    std::uint8_t hidden;
    const char* name;
    const char* mailboxes;
};

const char kFakeScript[] =
    "domain\texample.com\n"
    "user\t1\t0\t0\tAnn Lee\tann\n"
    "user\t1\t1\t0\tFront Desk;Reception\tdesk;info\n"
    "user\t1\t2\t0\tCarl Gone;left\tcarl\n"
    "user\t1\t-1\t0\tMinus One\tminus\n"
    "user\t1\t-2147483648\t0\tLowest\tlow\n"
    "user\t3\t0\t1\tHidden One;system\tpostmaster\n"
    "user\t1\t0\t255\tAll Bits\tbits\n"
    "user\t1\t0\t0\tEmpty Boxes\t\n"
    "user\t1\t0\t0\t\t;x;;y;\n"
    "domain\texample.org\n"
    "user\t1\t0\t0\tBob Leeds\tbob\n"
    "user\t0\t0\t0\tNot Loaded\tnone\n"
    "user\t-4\t0\t0\tRefused\tnone\n"
    "domain\tempty.example\n";

const FakeUserCase kFakeUsers[] = {
    {"example.com", 0, 1, 0, 0, "Ann Lee", "ann"},
    {"example.com", 1, 1, 1, 0, "Front Desk;Reception", "desk;info"},
    {"example.com", 2, 1, 2, 0, "Carl Gone;left", "carl"},
    {"example.com", 3, 1, 0xFFFFFFFFu, 0, "Minus One", "minus"},
    {"example.com", 4, 1, 0x80000000u, 0, "Lowest", "low"},
    {"example.com", 5, 3, 0, 1, "Hidden One;system", "postmaster"},
    {"example.com", 6, 1, 0, 255, "All Bits", "bits"},
    {"example.com", 7, 1, 0, 0, "Empty Boxes", ""},
    {"example.com", 8, 1, 0, 0, "", ";x;;y;"},
    {"example.org", 0, 1, 0, 0, "Bob Leeds", "bob"},
};

class MailApiFakeTest : public testing::Test {
protected:
    void SetUp() override
    {
        MakeFakeFolder(FDir, kFakeScript);
        ASSERT_TRUE(FApi.Open(FDir.Path())) << FApi.LastError();
    }
    TTempDir FDir;
    TMailApi FApi;
};

TEST_F(MailApiFakeTest, DomainsInLibraryOrder)
{
    ASSERT_EQ(FApi.GetDomainCount(), 3);
    EXPECT_EQ(FApi.GetDomainName(0), "example.com");
    EXPECT_EQ(FApi.GetDomainName(1), "example.org");
    EXPECT_EQ(FApi.GetDomainName(2), "empty.example");
    EXPECT_EQ(FApi.GetUserCount("example.com"), 9);
    EXPECT_EQ(FApi.GetUserCount("example.org"), 3);
    EXPECT_EQ(FApi.GetUserCount("empty.example"), 0);
    EXPECT_EQ(FApi.GetUserCount("unknown.example"), 0);
}

TEST_F(MailApiFakeTest, EverySettingReadsBack)
{
    for (const FakeUserCase& c : kFakeUsers) {
        SCOPED_TRACE(std::string(c.domain) + " user " + std::to_string(c.user));
        ASSERT_EQ(FApi.LoadUser(c.domain, c.user), c.loadResult);
        EXPECT_EQ(FApi.GetUserSettingInt(kSettingState), c.state);
        EXPECT_EQ(FApi.GetUserSettingByte(kSettingHidden), c.hidden);
        EXPECT_EQ(FApi.GetUserSettingStr(kSettingName), c.name);
        EXPECT_EQ(FApi.GetUserSettingStr(kSettingMailboxes), c.mailboxes);
    }
}

TEST_F(MailApiFakeTest, LoadUserResultPassesThrough)
{
    EXPECT_EQ(FApi.LoadUser("example.org", 1), 0);
    EXPECT_EQ(FApi.LoadUser("example.org", 2), -4);
    EXPECT_EQ(FApi.LoadUser("example.org", 3), 0);
    EXPECT_EQ(FApi.LoadUser("unknown.example", 0), 0);
}

TEST_F(MailApiFakeTest, PassedOverUserDoesNotInheritPreviousRecord)
{
    ASSERT_EQ(FApi.LoadUser("example.com", 1), 1);
    ASSERT_EQ(FApi.GetUserSettingStr(kSettingName), "Front Desk;Reception");
    // The fake leaves the record untouched for a user it does not load.
    ASSERT_EQ(FApi.LoadUser("example.org", 1), 0);
    EXPECT_EQ(FApi.GetUserSettingStr(kSettingName), "");
    EXPECT_EQ(FApi.GetUserSettingStr(kSettingMailboxes), "");
}

TEST_F(MailApiFakeTest, UnwrittenBufferHoldsNoStaleBytes)
{
    ASSERT_EQ(FApi.LoadUser("example.com", 3), 1);
    ASSERT_EQ(FApi.GetUserSettingStr(kSettingName), "Minus One");
    ASSERT_EQ(FApi.GetUserSettingInt(kSettingState), 0xFFFFFFFFu);
    // Setting 99 writes nothing but claims 5 bytes.
    EXPECT_EQ(FApi.GetUserSettingStr(99), std::string(5, '\0'));
    EXPECT_EQ(FApi.GetUserSettingInt(99), 0u);
    EXPECT_EQ(FApi.GetUserSettingByte(99), 0u);
}

TEST(MailApiFake, TextAsLongAsTheBufferIsKept)
{
    TTempDir dir;
    const std::string name(kTextBufferSize, 'n');
    MakeFakeFolder(dir, "domain\t" + std::string(kTextBufferSize, 'd') + "\n"
                        "user\t1\t0\t0\t" + name + "\tbox\n");
    // Domain names in the fake are limited to 255 bytes; names are not.
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path()));
    const std::string domain = api.GetDomainName(0);
    EXPECT_EQ(domain, std::string(255, 'd'));
    ASSERT_EQ(api.LoadUser(domain, 0), 1);
    EXPECT_EQ(api.GetUserSettingStr(kSettingName), name);
}

TEST(MailApiFake, OverlongLengthsAreCutToTheBuffer)
{
    TTempDir dir;
    const std::string longName(3000, 'x');
    MakeFakeFolder(dir, "overlong\n"
                        "domain\texample.com\n"
                        "user\t1\t0\t0\t" + longName + "\tdesk;info\n");
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path()));
    ASSERT_EQ(api.LoadUser("example.com", 0), 1);
    EXPECT_EQ(api.GetUserSettingStr(kSettingName), std::string(kTextBufferSize, 'x'));

    // The library wrote 9 bytes but claims 2148: the rest is zeros, not what
    // the previous (longer) text left in the buffer.
    const std::string boxes = api.GetUserSettingStr(kSettingMailboxes);
    ASSERT_EQ(boxes.size(), static_cast<std::size_t>(kTextBufferSize));
    EXPECT_EQ(boxes.substr(0, 9), "desk;info");
    EXPECT_EQ(boxes.find_first_not_of('\0', 9), std::string::npos);

    const std::string domain = api.GetDomainName(0);
    ASSERT_EQ(domain.size(), static_cast<std::size_t>(kTextBufferSize));
    EXPECT_EQ(domain.substr(0, 11), "example.com");
    EXPECT_EQ(domain.find_first_not_of('\0', 11), std::string::npos);
}

TEST(MailApiFake, NegativeLengthsGiveEmptyText)
{
    TTempDir dir;
    MakeFakeFolder(dir, "negative\ndomain\texample.com\nuser\t1\t0\t0\tAnn\tann\n");
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path()));
    EXPECT_EQ(api.GetDomainName(0), "");
    ASSERT_EQ(api.LoadUser("example.com", 0), 1);
    EXPECT_EQ(api.GetUserSettingStr(kSettingName), "");
    EXPECT_EQ(api.GetUserSettingStr(kSettingMailboxes), "");
    // Fixed-size settings ignore the result.
    EXPECT_EQ(api.GetUserSettingInt(kSettingState), 0u);
}

// ---------------------------------------------------------------- SQLite library

#ifdef SQLITE_API_DIR

void ExecSql(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string why = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error("sql failed: " + why);
    }
}

// Creates dir/mail.db from the shipped schema, then runs each script in turn.
void MakeMailDb(const TTempDir& dir, const std::vector<std::string>& scripts)
{
    sqlite3* db = nullptr;
    const std::string path = dir.Path() + "mail.db";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot create " + path);
    }
    try {
        for (const std::string& script : scripts)
            ExecSql(db, script);
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

std::string Schema()
{
    return ReadFile(std::string(VESKA_SOURCE_DIR) + "/api/schema.sql");
}

std::string Sample()
{
    return ReadFile(std::string(VESKA_SOURCE_DIR) + "/api/sample.sql");
}

struct SampleUserCase {
    const char* domain;
    int user;
    std::uint32_t state;
    std::uint8_t hidden;
    const char* name;
    const char* mailboxes;
};

// What api/sample.sql documents for its users.
const SampleUserCase kSampleUsers[] = {
    {"example.com", 0, 0, 0, "Ann Lee", "ann"},
    {"example.com", 1, 1, 0, "Front Desk;Reception", "desk;info"},
    {"example.com", 2, 2, 0, "Carl Gone;left in March", "carl"},
    {"example.com", 3, 0, 1, "Postmaster;system account", "postmaster"},
    {"example.com", 4, 0, 0, "Dana Smith;Sales", "dana;d.smith;sales"},
    {"example.org", 0, 0, 0, "Bob Leeds", "bob"},
    {"example.org", 1, 0, 0, "Eve Park;Support", "eve;support"},
    {"example.org", 2, 0, 0, "No Mailbox", ""},
    {"example.org", 3, 0, 0, "Ravi Patel;Logistics", "ravi;fleet"},
};

class SqliteApiTest : public testing::Test {
protected:
    void SetUp() override
    {
        CopyLibrary(FDir, SQLITE_API_DIR);
        MakeMailDb(FDir, {Schema(), Sample()});
        ASSERT_TRUE(FApi.Open(FDir.Path())) << FApi.LastError();
    }
    TTempDir FDir;
    TMailApi FApi;
};

TEST_F(SqliteApiTest, SampleDomainsAndCounts)
{
    ASSERT_EQ(FApi.GetDomainCount(), 2);
    EXPECT_EQ(FApi.GetDomainName(0), "example.com");
    EXPECT_EQ(FApi.GetDomainName(1), "example.org");
    EXPECT_EQ(FApi.GetDomainName(2), "");
    EXPECT_EQ(FApi.GetDomainName(-1), "");
    EXPECT_EQ(FApi.GetUserCount("example.com"), 5);
    EXPECT_EQ(FApi.GetUserCount("example.org"), 4);
    EXPECT_EQ(FApi.GetUserCount("EXAMPLE.COM"), 0);
    EXPECT_EQ(FApi.GetUserCount("example.net"), 0);
}

TEST_F(SqliteApiTest, SampleUsersAndSettings)
{
    for (const SampleUserCase& c : kSampleUsers) {
        SCOPED_TRACE(std::string(c.domain) + " user " + std::to_string(c.user));
        ASSERT_GT(FApi.LoadUser(c.domain, c.user), 0);
        EXPECT_EQ(FApi.GetUserSettingInt(kSettingState), c.state);
        EXPECT_EQ(FApi.GetUserSettingByte(kSettingHidden), c.hidden);
        EXPECT_EQ(FApi.GetUserSettingStr(kSettingName), c.name);
        EXPECT_EQ(FApi.GetUserSettingStr(kSettingMailboxes), c.mailboxes);
        EXPECT_EQ(FApi.GetUserSettingStr(1), "");
        EXPECT_EQ(FApi.GetUserSettingStr(33), "");
    }
}

TEST_F(SqliteApiTest, UsersOutOfRangeAreNotLoaded)
{
    EXPECT_EQ(FApi.LoadUser("example.com", 5), 0);
    EXPECT_EQ(FApi.LoadUser("example.com", -1), 0);
    EXPECT_EQ(FApi.LoadUser("example.net", 0), 0);
    EXPECT_EQ(FApi.GetUserSettingStr(kSettingName), "");
}

TEST_F(SqliteApiTest, ReopenedAtEveryStart)
{
    // Init again on an open library: the database is closed and reopened.
    TMailApi again;
    ASSERT_TRUE(again.Open(FDir.Path()));
    EXPECT_EQ(again.GetDomainCount(), 2);
    ASSERT_TRUE(FApi.Open(FDir.Path()));
    EXPECT_EQ(FApi.GetUserCount("example.org"), 4);
}

TEST(SqliteApi, MissingDatabaseFailsInit)
{
    TTempDir dir;
    CopyLibrary(dir, SQLITE_API_DIR);
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
    // Read-only: the failed open must not leave an empty database behind.
    EXPECT_FALSE(fs::exists(dir.Path() + "mail.db"));
}

TEST(SqliteApi, DatabaseWithoutTheSchemaFailsInit)
{
    TTempDir dir;
    CopyLibrary(dir, SQLITE_API_DIR);
    MakeMailDb(dir, {"CREATE TABLE domains(id INTEGER PRIMARY KEY, name TEXT);"
                     "CREATE TABLE users(id INTEGER PRIMARY KEY, domain_id INTEGER);"});
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
}

TEST(SqliteApi, NotADatabaseFailsInit)
{
    TTempDir dir;
    CopyLibrary(dir, SQLITE_API_DIR);
    dir.Write("mail.db", std::string(4096, 'z'));
    TMailApi api;
    EXPECT_FALSE(api.Open(dir.Path()));
}

struct StateCase {
    const char* stored;
    std::uint32_t read;
};

class SqliteStateTest : public testing::TestWithParam<StateCase> {};

TEST_P(SqliteStateTest, StateKeepsItsThirtyTwoBits)
{
    TTempDir dir;
    CopyLibrary(dir, SQLITE_API_DIR);
    MakeMailDb(dir, {Schema(),
                     "INSERT INTO domains VALUES (1, 'example.com');"
                     "INSERT INTO users (domain_id, state, hidden, name, mailboxes)"
                     " VALUES (1, " + std::string(GetParam().stored) + ", 7, 'X', 'x');"});
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path()));
    ASSERT_EQ(api.LoadUser("example.com", 0), 1);
    EXPECT_EQ(api.GetUserSettingInt(kSettingState), GetParam().read);
    EXPECT_EQ(api.GetUserSettingByte(kSettingHidden), 1u);
}

// Values beyond 32 bits read as disabled instead of wrapping to an active 0 or 1.
INSTANTIATE_TEST_SUITE_P(Cases, SqliteStateTest, testing::Values(
    StateCase{"0", 0}, StateCase{"1", 1}, StateCase{"2", 2},
    StateCase{"-1", 0xFFFFFFFFu}, StateCase{"4294967295", 0xFFFFFFFFu},
    StateCase{"-2147483648", 0x80000000u}, StateCase{"4294967296", 2},
    StateCase{"4294967297", 2}, StateCase{"-2147483649", 2}),
    [](const auto& info) { return testnames::Readable(info.param.stored); });

TEST(SqliteApi, LongTextsAreCutToWholeMailboxes)
{
    std::string boxes;
    for (int i = 0; i < 400; ++i)
        boxes += (i ? ";" : "") + std::string("box") + std::to_string(i);
    const std::string name(3000, 'N');
    TTempDir dir;
    CopyLibrary(dir, SQLITE_API_DIR);
    MakeMailDb(dir, {Schema(),
                     "INSERT INTO domains VALUES (1, 'example.com');"
                     "INSERT INTO users (domain_id, name, mailboxes) VALUES (1, '"
                         + name + "', '" + boxes + "');"});
    TMailApi api;
    ASSERT_TRUE(api.Open(dir.Path()));
    ASSERT_EQ(api.LoadUser("example.com", 0), 1);

    const std::string got = api.GetUserSettingStr(kSettingMailboxes);
    ASSERT_LE(got.size(), static_cast<std::size_t>(kTextBufferSize));
    ASSERT_GT(got.size(), static_cast<std::size_t>(kTextBufferSize - 8));
    // A prefix of the list that ends after a whole mailbox.
    EXPECT_EQ(boxes.compare(0, got.size(), got), 0);
    EXPECT_EQ(boxes[got.size()], ';');

    const std::string gotName = api.GetUserSettingStr(kSettingName);
    EXPECT_EQ(gotName.size(),
              static_cast<std::size_t>(kUserRecordSize - 20) - got.size());
    EXPECT_EQ(gotName, name.substr(0, gotName.size()));
}

// The library's own guards, called directly as an uncooperative host might.
class SqliteAbiTest : public testing::Test {
protected:
    using InitFn = int (*)(const char*);
    using GetDomainNameFn = int (*)(int, char*, int);
    using GetUserCountFn = int (*)(const char*);
    using LoadUserFn = int (*)(const char*, int, void*, int);
    using GetUserSettingFn = int (*)(void*, int, int, void*, int);

    void SetUp() override
    {
        CopyLibrary(FDir, SQLITE_API_DIR);
        MakeMailDb(FDir, {Schema(), Sample()});
        FHandle = dlopen((FDir.Path() + "API.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(FHandle, nullptr) << dlerror();
        Init = reinterpret_cast<InitFn>(dlsym(FHandle, "Init"));
        GetDomainName = reinterpret_cast<GetDomainNameFn>(dlsym(FHandle, "GetDomainName"));
        GetUserCount = reinterpret_cast<GetUserCountFn>(dlsym(FHandle, "GetUserCount"));
        LoadUser = reinterpret_cast<LoadUserFn>(dlsym(FHandle, "LoadUser"));
        GetUserSetting = reinterpret_cast<GetUserSettingFn>(dlsym(FHandle, "GetUserSetting"));
        ASSERT_TRUE(Init && GetDomainName && GetUserCount && LoadUser && GetUserSetting);
        ASSERT_EQ(Init(FDir.Path().c_str()), 0);
    }
    void TearDown() override
    {
        if (FHandle != nullptr)
            dlclose(FHandle);
    }

    TTempDir FDir;
    void* FHandle = nullptr;
    InitFn Init = nullptr;
    GetDomainNameFn GetDomainName = nullptr;
    GetUserCountFn GetUserCount = nullptr;
    LoadUserFn LoadUser = nullptr;
    GetUserSettingFn GetUserSetting = nullptr;
};

TEST_F(SqliteAbiTest, OnlyTheSixNamesAreExported)
{
    for (const char* name : {"Init", "GetDomainCount", "GetDomainName", "GetUserCount",
                             "LoadUser", "GetUserSetting"})
        EXPECT_NE(dlsym(FHandle, name), nullptr) << name;
    for (const char* name : {"CloseDatabase", "Unload", "Prepare", "db", "WholeMailboxes"})
        EXPECT_EQ(dlsym(FHandle, name), nullptr) << name;
}

TEST_F(SqliteAbiTest, InitWithoutFolderFails)
{
    EXPECT_NE(Init(nullptr), 0);
    // After a failed Init nothing is open and nothing crashes.
    char buf[16];
    EXPECT_EQ(GetDomainName(0, buf, sizeof buf), 0);
    EXPECT_EQ(GetUserCount("example.com"), 0);
}

TEST_F(SqliteAbiTest, DomainNameRespectsTheBuffer)
{
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetDomainName(0, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 4), "exa#");
    EXPECT_EQ(GetDomainName(0, nullptr, 16), 0);
    EXPECT_EQ(GetDomainName(0, buf, 0), 0);
    EXPECT_EQ(GetDomainName(0, buf, -5), 0);
    EXPECT_EQ(GetUserCount(nullptr), 0);
}

TEST_F(SqliteAbiTest, LoadUserRefusesShortRecords)
{
    unsigned char rec[kUserRecordSize];
    std::memset(rec, '#', sizeof rec);
    EXPECT_EQ(LoadUser("example.com", 0, rec, 19), 0);
    EXPECT_EQ(rec[0], '#');
    EXPECT_EQ(LoadUser("example.com", 0, nullptr, kUserRecordSize), 0);
    EXPECT_EQ(LoadUser(nullptr, 0, rec, kUserRecordSize), 0);

    // A small record still holds the user, with the texts cut to fit; nothing
    // past the record is written.
    const int small = 28;
    EXPECT_EQ(LoadUser("example.com", 1, rec, small), 1);
    EXPECT_EQ(rec[small], '#');
    char buf[64];
    const int boxes = GetUserSetting(rec, small, 3, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, boxes), "desk");
    const int name = GetUserSetting(rec, small, 2, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, name), "Fron");
}

TEST_F(SqliteAbiTest, SettingsRespectTheBuffer)
{
    unsigned char rec[kUserRecordSize] = {};
    ASSERT_EQ(LoadUser("example.com", 1, rec, sizeof rec), 1);
    unsigned char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 0, buf, 3), 0);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 0, buf, 4), 4);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 2, buf, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "Front");
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 3, buf, 8), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "desk");
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 3, buf, 3), 0);
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 7, buf, sizeof buf), 0);
    EXPECT_EQ(GetUserSetting(nullptr, sizeof rec, 2, buf, sizeof buf), 0);
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 2, nullptr, sizeof buf), 0);
    EXPECT_EQ(GetUserSetting(rec, 10, 2, buf, sizeof buf), 0);
}

TEST_F(SqliteAbiTest, DamagedRecordsReadNothing)
{
    unsigned char rec[kUserRecordSize] = {};
    unsigned char buf[kTextBufferSize];
    // Never loaded.
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 2, buf, sizeof buf), 0);
    ASSERT_EQ(LoadUser("example.com", 1, rec, sizeof rec), 1);
    // Lengths that reach past the record.
    rec[12] = 0xFF;
    rec[13] = 0xFF;
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 2, buf, sizeof buf), 0);
    EXPECT_EQ(GetUserSetting(rec, sizeof rec, 3, buf, sizeof buf), 0);
    ASSERT_EQ(LoadUser("example.com", 1, rec, sizeof rec), 1);
    // A record said to be shorter than what LoadUser put in it.
    EXPECT_EQ(GetUserSetting(rec, 30, 3, buf, sizeof buf), 0);
}

#endif // SQLITE_API_DIR

} // namespace
