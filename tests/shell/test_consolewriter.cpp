// A console stream written by its own thread: lines whole and in order, a
// stalled reader never blocks the writer's callers, dropped lines counted.
#include "shell/ConsoleWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A pipe whose read end the test drains when it chooses.
class TPipe {
public:
    TPipe()
    {
        if (::pipe2(FFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~TPipe()
    {
        CloseRead();
        ::close(FFds[1]);
    }
    int WriteEnd() const { return FFds[1]; }
    void CloseRead()
    {
        if (FFds[0] >= 0) ::close(FFds[0]);
        FFds[0] = -1;
    }
    // Everything that arrives until the pipe stays silent for quietMs.
    std::string ReadUntilQuiet(int quietMs = 300)
    {
        std::string out;
        for (;;) {
            pollfd p{FFds[0], POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) return out;
            char buffer[65536];
            const ssize_t n = ::read(FFds[0], buffer, sizeof buffer);
            if (n <= 0) return out;
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    int FFds[2] = {-1, -1};
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            lines.push_back("<unended: " + text.substr(pos) + ">");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

TEST(ConsoleWriter, LinesArriveWholeAndInOrder)
{
    TPipe pipe;
    {
        TConsoleWriter writer(pipe.WriteEnd());
        for (int i = 0; i < 50; ++i) writer.Push("line " + std::to_string(i));
        EXPECT_TRUE(writer.Drain(10s));
        EXPECT_EQ(writer.Dropped(), 0u);
    }
    const std::vector<std::string> lines = Lines(pipe.ReadUntilQuiet());
    ASSERT_EQ(lines.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[static_cast<std::size_t>(i)], "line " + std::to_string(i));
}

TEST(ConsoleWriter, StalledReaderDropsAndCountsThenTheCountIsWrittenInTheirPlace)
{
    constexpr int kPushed = 20000;
    TPipe pipe;
    TConsoleWriter writer(pipe.WriteEnd(), 100);
    // Nobody reads: a pipe holds about 64 KiB, far less than what is pushed.
    const std::string padding(500, '.');
    for (int i = 0; i < kPushed; ++i) writer.Push(std::to_string(i) + padding);
    EXPECT_GT(writer.Dropped(), 0u);

    // The reader comes back: read all, then one more line goes through.
    std::string text = pipe.ReadUntilQuiet();
    writer.Push("after");
    ASSERT_TRUE(writer.Drain(10s));
    text += pipe.ReadUntilQuiet();

    // Every pushed line is either there, in order, or counted in a marker at its place.
    const std::regex marker(R"(\((\d+) lines? dropped\))");
    long expected = 0;
    std::uint64_t counted = 0;
    std::vector<std::string> lines = Lines(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "after");
    lines.pop_back();
    for (const std::string& line : lines) {
        std::smatch m;
        if (std::regex_match(line, m, marker)) {
            const std::uint64_t n = std::stoull(m[1].str());
            counted += n;
            expected += static_cast<long>(n);
            continue;
        }
        ASSERT_EQ(line, std::to_string(expected) + padding);
        ++expected;
    }
    EXPECT_EQ(expected, kPushed);
    EXPECT_EQ(counted, writer.Dropped());
}

TEST(ConsoleWriter, EndsWithoutWaitingForAStalledReader)
{
    TPipe pipe;
    auto writer = std::make_unique<TConsoleWriter>(pipe.WriteEnd(), 100, 50ms);
    for (int i = 0; i < 5000; ++i) writer->Push(std::string(1000, 'x'));
    EXPECT_FALSE(writer->Drain(50ms));
    // Returns although the pipe is still full; the test would hang otherwise.
    writer.reset();
    SUCCEED();
}

TEST(ConsoleWriter, ReaderGoneLosesTheLinesQuietly)
{
    TPipe pipe;
    pipe.CloseRead();
    TConsoleWriter writer(pipe.WriteEnd());
    writer.Push("nobody hears this");
    EXPECT_TRUE(writer.Drain(10s));
}

}  // namespace
