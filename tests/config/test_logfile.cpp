// The log file under failure: reported once per episode, never raising,
// resuming by itself, nothing written twice and nothing already written lost.
#include "config/LogFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One step of a scripted write(2): write everything, write only the first
// Bytes octets, or fail with Error.
struct TStep {
    enum { All, Part, Fail } Kind;
    std::size_t Bytes = 0;
    int Error = 0;
};
const TStep kAll{TStep::All};
TStep Part(std::size_t n) { return TStep{TStep::Part, n}; }
TStep Fail(int error) { return TStep{TStep::Fail, 0, error}; }

// Plays the steps in order, one per call; all calls after the last step write everything.
class TScriptedWriter {
public:
    explicit TScriptedWriter(std::vector<TStep> steps) : FSteps(std::move(steps)) {}
    ssize_t operator()(int fd, const void* data, std::size_t size)
    {
        const TStep step = FNext < FSteps.size() ? FSteps[FNext] : kAll;
        ++FNext;
        if (step.Kind == TStep::Fail) {
            errno = step.Error;
            return -1;
        }
        const std::size_t n = step.Kind == TStep::Part ? std::min(step.Bytes, size) : size;
        return ::write(fd, data, n);
    }

private:
    std::vector<TStep> FSteps;
    std::size_t FNext = 0;
};

const char* KindName(TLogFileNotice::TKind kind)
{
    switch (kind) {
    case TLogFileNotice::Failed: return "Failed";
    case TLogFileNotice::Resumed: return "Resumed";
    case TLogFileNotice::None: break;
    }
    return "None";
}

struct TEpisodeCase {
    const char* Name;
    std::vector<TStep> Steps;                 // the write(2) calls, in order
    std::vector<std::string> Lines;           // WriteLine calls, in order
    std::vector<std::string> Notices;         // what each call returned
    std::string File;                         // the file afterwards
    std::size_t LostInResume;                 // LinesLost of the Resumed notice
};

class LogFileEpisode : public testing::TestWithParam<TEpisodeCase> {};

TEST_P(LogFileEpisode, ReportsOnceResumesAndNeverWritesTwice)
{
    const TEpisodeCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.File("VESKA.LOG");
    TLogFile log;
    ASSERT_FALSE(log.Open(path));
    TScriptedWriter writer(c.Steps);
    log.SetWriter(std::ref(writer));

    std::vector<std::string> notices;
    std::size_t lost = 0;
    for (const std::string& line : c.Lines) {
        const TLogFileNotice notice = log.WriteLine(line);
        notices.push_back(KindName(notice.Kind));
        if (notice.Kind == TLogFileNotice::Failed) {
            EXPECT_EQ(notice.Path, path);
            EXPECT_EQ(notice.Reason, std::strerror(notice.ErrorCode));
        }
        if (notice.Kind == TLogFileNotice::Resumed) lost = notice.LinesLost;
    }
    EXPECT_EQ(notices, c.Notices);
    EXPECT_EQ(lost, c.LostInResume);
    log.Close();
    EXPECT_EQ(ReadFile(path), c.File);
}

INSTANTIATE_TEST_SUITE_P(
    LogFile, LogFileEpisode,
    testing::Values(
        TEpisodeCase{"DiskFullThenFreed",
                     {kAll, Fail(ENOSPC), Fail(ENOSPC), Fail(ENOSPC)},
                     {"a", "b", "c", "d", "e"},
                     {"None", "Failed", "None", "None", "Resumed"},
                     // b met the failure and is finished first; c and d were skipped.
                     "a\r\nb\r\ne\r\n",
                     2},
        TEpisodeCase{"LineCutInTheMiddle",
                     {kAll, Part(3), Fail(ENOSPC), Fail(ENOSPC)},
                     {"first", "second", "third", "fourth"},
                     {"None", "Failed", "None", "Resumed"},
                     // "sec" stays where it is and the rest follows: no half line, no repeat.
                     "first\r\nsecond\r\nfourth\r\n",
                     1},
        TEpisodeCase{"CutTwice",
                     {Part(2), Fail(EIO), Part(2), Fail(EIO)},
                     {"abcdef", "ghij", "klm"},
                     {"Failed", "None", "Resumed"},
                     "abcdef\r\nklm\r\n",
                     1},
        TEpisodeCase{"InterruptedWritesAreRetried",
                     {Fail(EINTR), Part(1), Fail(EINTR)},
                     {"xyz", "next"},
                     {"None", "None"},
                     "xyz\r\nnext\r\n",
                     0},
        TEpisodeCase{"TwoEpisodesEachReportedOnce",
                     {Fail(ENOSPC), kAll, kAll, Fail(EDQUOT), Fail(EDQUOT)},
                     {"1", "2", "3", "4", "5", "6"},
                     // 1 is owed and written with 2 (two write calls), 3 fails anew.
                     {"Failed", "Resumed", "Failed", "None", "Resumed", "None"},
                     "1\r\n2\r\n3\r\n5\r\n6\r\n",
                     1}),
    [](const testing::TestParamInfo<TEpisodeCase>& info) { return info.param.Name; });

TEST(LogFile, FullDeviceReportedOnceThenAReplacedFileIsTakenUp)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.LOG");
    fs::create_symlink("/dev/full", path);
    TLogFile log;
    EXPECT_FALSE(log.Open(path));
    const TLogFileNotice first = log.WriteLine("one");
    EXPECT_EQ(first.Kind, TLogFileNotice::Failed);
    EXPECT_EQ(first.ErrorCode, ENOSPC);
    EXPECT_EQ(first.Path, path);
    EXPECT_EQ(LogFileNoticeText(first), "Cannot write log file " + path + ": " + std::strerror(ENOSPC));
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(log.WriteLine("again")) << i;
    EXPECT_TRUE(log.Failing());

    // The operator points the log elsewhere: the next event reopens the path.
    fs::remove(path);
    const TLogFileNotice resumed = log.WriteLine("two");
    EXPECT_EQ(resumed.Kind, TLogFileNotice::Resumed);
    // "one" was owed to /dev/full, the twenty to nobody.
    EXPECT_EQ(resumed.LinesLost, 21u);
    EXPECT_EQ(LogFileNoticeText(resumed), "Log file written again " + path + ", 21 lines not written");
    EXPECT_FALSE(log.Failing());
    EXPECT_FALSE(log.WriteLine("three"));
    log.Close();
    EXPECT_EQ(ReadFile(path), "two\r\nthree\r\n");
}

TEST(LogFile, OpenFailureKeepsTheFileInUseAndRetriesAtEveryLine)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.LOG");
    fs::create_directory(path);
    TLogFile log;
    const TLogFileNotice notice = log.Open(path);
    EXPECT_EQ(notice.Kind, TLogFileNotice::Failed);
    EXPECT_EQ(notice.ErrorCode, EISDIR);
    EXPECT_TRUE(log.IsOpen());
    EXPECT_FALSE(log.WriteLine("skipped"));

    fs::remove(path);
    const TLogFileNotice resumed = log.WriteLine("written");
    EXPECT_EQ(resumed.Kind, TLogFileNotice::Resumed);
    EXPECT_EQ(resumed.LinesLost, 1u);
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadFile(path), "written\r\n");
}

TEST(LogFile, CloseFinishesALineThatAFailureCut)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.LOG");
    dir.Write("VESKA.LOG", "older\r\n");
    TLogFile log;
    log.Open(path);
    TScriptedWriter writer({Part(4), Fail(ENOSPC)});
    log.SetWriter(std::ref(writer));
    EXPECT_EQ(log.WriteLine("cut line").Kind, TLogFileNotice::Failed);
    // Close still ends the cut line in its file.
    EXPECT_FALSE(log.Close());
    EXPECT_EQ(ReadFile(path), "older\r\ncut line\r\n");
}

TEST(LogFile, ClosedFileWritesNothingAndSecondCloseDoesNothing)
{
    TTempDir dir;
    const std::string path = dir.File("VESKA.LOG");
    TLogFile log;
    EXPECT_FALSE(log.WriteLine("before"));
    EXPECT_FALSE(fs::exists(path));
    log.Open(path);
    EXPECT_FALSE(log.Close());
    EXPECT_FALSE(log.Close());
    EXPECT_FALSE(log.WriteLine("after"));
    EXPECT_EQ(ReadFile(path), "");
}

}  // namespace
