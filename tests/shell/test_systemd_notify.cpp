// The readiness datagram: where it goes for each form of $NOTIFY_SOCKET.
#include "shell/SystemdNotify.h"
#include "support/NotifySocket.h"
#include "support/TestFiles.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(SystemdNotify, PathSocketGetsTheState)
{
    TTempDir dir;
    TManagerSocket manager(dir.File("notify"));
    EXPECT_TRUE(NotifyServiceManager("READY=1"));
    EXPECT_EQ(manager.Receive(), "READY=1");
}

TEST(SystemdNotify, AbstractNameGetsTheState)
{
    TManagerSocket manager("@veska-test-notify-" + std::to_string(::getpid()));
    EXPECT_TRUE(NotifyServiceManager("STOPPING=1"));
    EXPECT_EQ(manager.Receive(), "STOPPING=1");
}

TEST(SystemdNotify, WithoutAManagerNothingIsSent)
{
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    ::setenv("NOTIFY_SOCKET", "", 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    ::unsetenv("NOTIFY_SOCKET");
}

TEST(SystemdNotify, NamesThatCannotBeUsedFailQuietly)
{
    // Longer than a socket address holds, and a path where nobody listens.
    ::setenv("NOTIFY_SOCKET", ("/tmp/" + std::string(200, 'x')).c_str(), 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    TTempDir dir;
    ::setenv("NOTIFY_SOCKET", dir.File("nobody").c_str(), 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1"));
    ::unsetenv("NOTIFY_SOCKET");
}

} // namespace
