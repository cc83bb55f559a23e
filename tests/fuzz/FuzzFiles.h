// Files for the fuzz targets: an in-memory file reachable by path, and a
// private folder for the ones that need a real directory (rename).
#pragma once

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

// A memory file reachable as /proc/self/fd/N; nothing touches the disk.
class TMemoryFile {
public:
    TMemoryFile() : FFd(::memfd_create("veska-fuzz", MFD_CLOEXEC))
    {
        if (FFd < 0) std::abort();
        FPath = "/proc/self/fd/" + std::to_string(FFd);
    }
    // Replaces the whole content.
    void Set(std::string_view data) const
    {
        if (::ftruncate(FFd, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::pwrite(FFd, data.data() + done, data.size() - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return FPath; }

private:
    int FFd;
    std::string FPath;
};

// A folder of this process's own under the temporary folder, made once.
inline const std::string& FuzzFolder()
{
    static const std::string folder = [] {
        // Memory-backed where there is one: the round trip syncs every save.
        std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/veska-fuzz-XXXXXX" : "/tmp/veska-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern + "/";
    }();
    return folder;
}
