// LDIF reading, merging and writing, on real files.
#include "directory/LDIF.h"
#include "directory/PublishedDirectory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct Entry {
    std::string Name;
    Lines Attributes;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e)
{
    os << "{'" << e.Name << "':";
    for (const auto& l : e.Attributes)
        os << " '" << l << "'";
    return os << "}";
}

std::vector<Entry> Snapshot(const TUserList& list)
{
    std::vector<Entry> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back({list.Names(i), list.Objects(i).Attributes.Lines()});
    return out;
}

void Fill(TUserList& list, const std::vector<Entry>& entries)
{
    for (const auto& e : entries)
        list.Add(e.Name, std::make_unique<TUserInfo>(e.Attributes));
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "veska-ldif-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(FPath); }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ReadCase {
    const char* Name;
    std::vector<Entry> Before;
    std::string File;
    std::vector<Entry> After;
};

std::vector<ReadCase> ReadCases()
{
    using namespace std::string_literals;
    return {
        {"RecordDnCnMail", {}, "dn: cn=A,o=B\ncn: A\nmail: sales\n",
         {{"A", {"dn=cn=A,o=B", "cn=A", "mail=sales"}}}},
        {"MergeByMailIntoLastMatching",
         {{"X", {"cn=X", "mail=Sales@x"}}, {"Y", {"cn=Y", "mail=sales@X"}}},
         "dn: cn=Z\ncn: Z\nmail: SALES@x\n",
         {{"X", {"cn=X", "mail=Sales@x"}},
          {"Y", {"cn=Y", "mail=sales@X", "dn=cn=Z", "cn=Z", "mail=SALES@x"}}}},
        {"TwoRecordsOneMail", {}, "cn: A\nmail: a\n\ncn: B\nmail: A\n",
         {{"A", {"cn=A", "mail=a", "cn=B", "mail=A"}}}},
        {"LastMailLineWins", {{"E0", {"mail=b"}}, {"E1", {"mail=a"}}}, "cn: A\nmail: a\nmail: b\n",
         {{"E0", {"mail=b", "cn=A", "mail=a", "mail=b"}}, {"E1", {"mail=a"}}}},
        {"MailWithoutBlankIsNoMail", {}, "cn: A\nmail:sales\n\ncn: B\nmail:sales\n",
         {{"A", {"cn=A", "mail:sales"}}, {"B", {"cn=B", "mail:sales"}}}},
        {"MailWithTwoBlanks", {}, "cn: A\nmail:  sales\n\ncn: B\nmail:  SALES\n",
         {{"A", {"cn=A", "mail= sales", "cn=B", "mail= SALES"}}}},
        {"VersionLineFirst", {}, "version: 1\n\ndn: cn=A\ncn: A\nmail: a\n",
         {{"", {"version=1"}}, {"A", {"dn=cn=A", "cn=A", "mail=a"}}}},
        {"TabStartsAttributeLine", {}, "cn: A\n\tx: y\n", {{"A", {"cn=A", "\tx=y"}}}},
        {"BlanksAndTabsSeparate", {}, "cn: A\n \t \ncn: B\n", {{"A", {"cn=A"}}, {"B", {"cn=B"}}}},
        {"BlankHashIsContinuation", {}, "cn: A\ndescription: x\n #x\n",
         {{"A", {"cn=A", "description=x#x"}}}},
        {"ContinuationAfterComment", {}, "cn: A\ndescription: ab\n# note\n cd\n",
         {{"A", {"cn=A", "description=abcd"}}}},
        {"CommentDoesNotEndRecord", {}, "cn: A\n# c\nmail: a\n", {{"A", {"cn=A", "mail=a"}}}},
        {"ContinuationJoinedBeforeColon", {}, "cn: Ann\n  Lee\ndescr:\n  x\n",
         {{"Ann Lee", {"cn=Ann Lee", "descr=x"}}}},
        {"LeadingContinuationIgnored", {}, " lead\ncn: A\n\n cont\ncn: B\n",
         {{"A", {"cn=A"}}, {"B", {"cn=B"}}}},
        {"CtrlZEndsFile", {}, "cn: A\nmail: a\n\x1a\ncn: B\n", {{"A", {"cn=A", "mail=a"}}}},
        {"CtrlZInsideLine", {}, "cn: A\x1a" "bc\n", {{"A", {"cn=A"}}}},
        {"LoneCRDropped", {}, "cn: A\rB\nmail: a\r\n", {{"AB", {"cn=AB", "mail=a"}}}},
        {"CRsBeforeTextDropped", {}, "cn: A\n\r\rcn: B\n", {{"A", {"cn=A", "cn=B"}}}},
        {"CRLFLineEnds", {}, "cn: A\r\nmail: a\r\n\r\ncn: B\r\n",
         {{"A", {"cn=A", "mail=a"}}, {"B", {"cn=B"}}}},
        {"NoMailMergesIntoEmptyMail", {{"M", {"cn=M", "mail="}}}, "cn: N\nsn: x\n",
         {{"M", {"cn=M", "mail=", "cn=N", "sn=x"}}}},
        {"NoMailMakesNewEntry", {{"M", {"cn=M", "mail=m"}}}, "cn: N\n",
         {{"M", {"cn=M", "mail=m"}}, {"N", {"cn=N"}}}},
        {"EmptyCnDoesNotName", {}, "cn: \ncn: B\nmail: b\n", {{"B", {"cn=", "cn=B", "mail=b"}}}},
        {"NoCnEmptyName", {}, "mail: m\n", {{"", {"mail=m"}}}},
        {"SeparatorRunsAndNoFinalLineEnd", {}, "\n\n\ncn: A\n\n\n\ncn: B",
         {{"A", {"cn=A"}}, {"B", {"cn=B"}}}},
        {"Base64NotDecoded", {}, "cn:: QQ==\n", {{"", {"cn:=QQ=="}}}},
        {"OnlyFirstColonBlank", {}, "description: a: b\n", {{"", {"description=a: b"}}}},
        {"EqualsFormTakenAsIs", {}, "cn=A\nmail=a\n", {{"A", {"cn=A", "mail=a"}}}},
        {"NulOctetKept", {}, "cn: A\0B\n"s, {{"A\0B"s, {"cn=A\0B"s}}}},
        {"EmptyFile", {}, "", {}},
        {"CommentsOnly", {}, "# x\n#y", {}},
    };
}

class LdifReadTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(LdifReadTable, Merges)
{
    const ReadCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File("in.ldf");
    WriteBytes(path, c.File);
    TUserList list;
    Fill(list, c.Before);
    TLDIFFile file;
    file.Users = &list;
    file.ReadFromFile(path);
    EXPECT_EQ(Snapshot(list), c.After);
}

INSTANTIATE_TEST_SUITE_P(Ldif, LdifReadTable, ::testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(LdifRead, LineEndsAcrossReadChunks)
{
    // 1 MiB is the reader's chunk size; put the CR LF on every side of it.
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t crAt = kChunk - 2; crAt <= kChunk + 1; ++crAt) {
        TempDir dir;
        const std::string path = dir.File("big.ldf");
        const std::string value(crAt - 4, 'x');
        WriteBytes(path, "cn: " + value + "\r\nmail: a\r\n");
        TUserList list;
        TLDIFFile file;
        file.Users = &list;
        file.ReadFromFile(path);
        ASSERT_EQ(list.Count(), 1) << crAt;
        EXPECT_EQ(list.Objects(0).Attributes.Lines(), (Lines{"cn=" + value, "mail=a"})) << crAt;
    }
}

TEST(LdifRead, AddRecordLeavesBufferEmpty)
{
    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    Lines buffer = {"cn: A", "mail: a"};
    file.AddRecord(buffer);
    EXPECT_TRUE(buffer.empty());
    Lines none;
    file.AddRecord(none);
    EXPECT_EQ(list.Count(), 1);

    TLDIFFile unset;
    Lines record = {"cn: B"};
    EXPECT_THROW(unset.AddRecord(record), std::logic_error);
}

TEST(LdifRead, MissingFileRaisesWithSystemText)
{
    TempDir dir;
    const std::string path = dir.File("absent.ldf");
    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    try {
        file.ReadFromFile(path);
        FAIL() << "no error raised";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(list.Count(), 0);
}

TEST(LdifRead, DirectoryRaises)
{
    TempDir dir;
    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    EXPECT_THROW(file.ReadFromFile(dir.File("")), EInOutError);
}

TEST(LdifWrite, EmptyStoreGivesEmptyFile)
{
    TempDir dir;
    const std::string path = dir.File("out.ldf");
    WriteBytes(path, "old content");
    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    file.WriteToFile(path);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(LdifWrite, ExactBytes)
{
    TempDir dir;
    const std::string path = dir.File("out.ldf");
    TUserList list;
    Fill(list, {{"A", {"cn=A", "dn=cn=A,o=B", "noequals", "x: y=z"}}, {"", {}}, {"B", {"mail=b"}}});
    TLDIFFile file;
    file.Users = &list;
    file.WriteToFile(path);
    EXPECT_EQ(ReadBytes(path),
              "cn: A\r\ndn: cn=A,o=B\r\nnoequals\r\nx: y: z\r\n\r\n"
              "\r\n"
              "mail: b\r\n\r\n");
}

TEST(LdifWrite, UnwritablePathRaises)
{
    TempDir dir;
    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    EXPECT_THROW(file.WriteToFile(dir.File("no-such-folder/out.ldf")), EInOutError);
    EXPECT_THROW(file.WriteToFile(dir.File("")), EInOutError);
}

TEST(LdifRoundTrip, ExportThenImportMergesBack)
{
    TempDir dir;
    const std::string path = dir.File("round.ldf");
    const std::vector<Entry> start = {
        {"Ann", {"cn=Ann", "mail=ann@x"}},
        {"Bob", {"cn=Bob", "mail=BOB@x", "description=a=b"}},
        {"Nomail", {"cn=Nomail", "sn=N"}},
        {"Cy", {"cn=Cy", "mail=cy@x", "mail=cy2@x"}},
    };
    TUserList list;
    Fill(list, start);
    TLDIFFile file;
    file.Users = &list;
    file.WriteToFile(path);
    file.ReadFromFile(path);

    std::vector<Entry> expected;
    for (const auto& e : start) {
        Entry doubled = e;
        if (e.Name != "Nomail")
            doubled.Attributes.insert(doubled.Attributes.end(), e.Attributes.begin(), e.Attributes.end());
        expected.push_back(doubled);
    }
    expected.push_back({"Nomail", {"cn=Nomail", "sn=N"}});
    EXPECT_EQ(Snapshot(list), expected);
}

TEST(LdifRoundTrip, ValueWithEqualsSign)
{
    TempDir dir;
    const std::string path = dir.File("eq.ldf");
    TUserList out;
    Fill(out, {{"A", {"dn=cn=A,o=B", "cn=A", "mail=a"}}});
    TLDIFFile writer;
    writer.Users = &out;
    writer.WriteToFile(path);
    EXPECT_EQ(ReadBytes(path), "dn: cn=A,o=B\r\ncn: A\r\nmail: a\r\n\r\n");

    TUserList in;
    TLDIFFile reader;
    reader.Users = &in;
    reader.ReadFromFile(path);
    EXPECT_EQ(Snapshot(in), Snapshot(out));
}

TEST(ProcessDirectory, ImportCreatesListAndExportWritesIt)
{
    TempDir dir;
    const std::string in = dir.File("in.ldf");
    const std::string out = dir.File("out.ldf");

    FreeUserList();
    ExportLDIF(out);
    EXPECT_EQ(ReadBytes(out), "");
    {
        TUserListReadLock lock;
        EXPECT_FALSE(lock);
    }

    WriteBytes(in, "cn: A\nmail: a\n\ncn: B\nmail: A\n\ncn: C\n");
    ImportLDIF(in);
    {
        TUserListReadLock lock;
        ASSERT_TRUE(lock);
        EXPECT_EQ(Snapshot(*lock.get()),
                  (std::vector<Entry>{{"A", {"cn=A", "mail=a", "cn=B", "mail=A"}}, {"C", {"cn=C"}}}));
    }
    ExportLDIF(out);
    EXPECT_EQ(ReadBytes(out), "cn: A\r\nmail: a\r\ncn: B\r\nmail: A\r\n\r\ncn: C\r\n\r\n");

    EXPECT_THROW(ImportLDIF(dir.File("absent.ldf")), EInOutError);
    {
        TUserListReadLock lock;
        ASSERT_TRUE(lock);
        EXPECT_EQ(lock->Count(), 2) << "a failed import leaves the directory as it was";
    }
    FreeUserList();
}

TEST(ProcessDirectory, ReplaceAndWriteLock)
{
    auto fresh = std::make_unique<TUserList>();
    fresh->Add("X", std::make_unique<TUserInfo>(Lines{"mail=x"}));
    ReplaceUserList(std::move(fresh));
    {
        TUserListWriteLock lock;
        ASSERT_TRUE(lock);
        lock->AppendLine(0, "mail=y");
    }
    {
        TUserListReadLock lock;
        ASSERT_TRUE(lock);
        EXPECT_EQ(lock->IndexOfMail("Y"), 0);
    }
    FreeUserList();
    {
        TUserListWriteLock absent;
        EXPECT_FALSE(absent);
    }
    {
        TUserListWriteLock created(true);
        ASSERT_TRUE(created);
        EXPECT_EQ(created->Count(), 0);
    }
    FreeUserList();
}

} // namespace
