// Shared by the service tests: a program folder of its own, a recording
// presenter, the fake mail library and a look at the directory.
#pragma once

#include "directory/PublishedDirectory.h"
#include "shell/MainForm.h"
#include "support/MainFormProbe.h"
#include "support/SearchFixtures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace servicetest {

namespace fs = std::filesystem;

// A temporary program folder; Path() ends with "/".
class TProgramDir : public TTempDir {
public:
    TProgramDir() : TTempDir("veska-service") {}

    // The fake mail library of the build, driven by fakeapi.txt in this folder.
    void InstallFakeApi(const std::string& fakeApiTxt) const
    {
        fs::copy_file(std::string(FAKE_API_DIR) + "API.so", File("API.so"), fs::copy_options::overwrite_existing);
        Write("fakeapi.txt", fakeApiTxt);
    }
    // "[OPTIONS]" and the given lines.
    void WriteIni(const std::vector<std::string>& lines) const
    {
        std::string text = "[OPTIONS]\n";
        for (const std::string& line : lines) text += line + "\n";
        Write("VESKA.INI", text);
    }

};

// Records every observer call; thread-safe, as connection threads log too.
class TRecordingPresenter : public IServiceObserver {
public:
    void ErrorRaised(const TServiceError& error) override
    {
        std::lock_guard lock(FLock);
        FMessages.push_back(error.Text);
    }
    void CaptionChanged(const std::string& text) override
    {
        std::lock_guard lock(FLock);
        FCaptions.push_back(text);
    }
    void LogLineAdded(const std::string& line) override
    {
        {
            std::lock_guard lock(FLock);
            FLines.push_back(line);
        }
        FChanged.notify_all();
    }
    void CloseRequested() override
    {
        std::lock_guard lock(FLock);
        ++FCloses;
    }

    std::vector<std::string> Messages() const
    {
        std::lock_guard lock(FLock);
        return FMessages;
    }
    std::vector<std::string> Captions() const
    {
        std::lock_guard lock(FLock);
        return FCaptions;
    }
    int Closes() const
    {
        std::lock_guard lock(FLock);
        return FCloses;
    }
    // The window lines without their time ("<message> mm/dd hh:mm AM").
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(FLock);
        std::vector<std::string> events;
        for (const std::string& line : FLines) events.push_back(StripTime(line));
        return events;
    }
    // Waits (bounded, only to avoid a hang) until an event with this message was logged.
    bool WaitForEvent(const std::string& message, int timeoutMs = 10000) const
    {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return std::any_of(FLines.begin(), FLines.end(),
                               [&](const std::string& line) { return StripTime(line) == message; });
        });
    }

    // Window lines end in " mm/dd hh:mm AM" (15 characters).
    static std::string StripTime(const std::string& line)
    {
        return line.size() >= 15 ? line.substr(0, line.size() - 15) : "<short line: " + line + ">";
    }

private:
    mutable std::mutex FLock;  // guards every field below
    mutable std::condition_variable_any FChanged;
    std::vector<std::string> FMessages;
    std::vector<std::string> FCaptions;
    std::vector<std::string> FLines;
    int FCloses = 0;
};

// The directory as (entry name, lines), in store order; empty when absent.

inline std::vector<TEntry> Directory()
{
    TUserListReadLock list;
    std::vector<TEntry> entries;
    for (int i = 0; list && i < list->Count(); ++i)
        entries.push_back(TEntry{list->Names(i), list->Objects(i).Attributes.Lines()});
    return entries;
}

inline bool DirectoryAbsent()
{
    TUserListReadLock list;
    return !list;
}

// A socket listening on 127.0.0.1 at a port the system chose: that port is busy.
class TBusyPort {
public:
    TBusyPort()
    {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (FSocket < 0 || ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(FSocket, 1) != 0 || ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot hold a port");
        FPort = ntohs(address.sin_port);
    }
    ~TBusyPort() { ::close(FSocket); }
    TBusyPort(const TBusyPort&) = delete;
    TBusyPort& operator=(const TBusyPort&) = delete;
    int Port() const { return FPort; }

private:
    int FSocket = -1;
    int FPort = 0;
};

// A form whose program folder is dir, as if its executable were dir + exeName.
inline void PlaceForm(TMainForm& form, const TProgramDir& dir, const std::string& exeName = "veska")
{
    form.SetExecutablePath(dir.Path() + exeName);
}

}  // namespace servicetest
