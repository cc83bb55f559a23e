#include "directory/LDIF.h"

#include "directory/PublishedDirectory.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr std::size_t kChunkSize = 1 << 20;
constexpr char kCtrlZ = 26;

// The message carries the system's text and the path.
[[noreturn]] void RaiseInOut(const std::string& path, int errorCode)
{
    throw EInOutError(errorCode, std::string(std::strerror(errorCode)) + ": " + path);
}

// Closes the descriptor on every path out of a read or write.
class TFileHandle {
public:
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Fd() const { return FFd; }
    // Returns the close result; the handle no longer owns the descriptor.
    int Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd);
    }

private:
    int FFd;
};

bool IsSeparator(const std::string& line)
{
    for (char c : line)
        if (static_cast<unsigned char>(c) > 32)
            return false;
    return true;
}

// Classifies one line and applies it to the record being collected.
void TakeLine(std::string& line, std::vector<std::string>& record,
              const std::function<void(std::vector<std::string>&)>& onRecord)
{
    if (!line.empty() && line[0] == '#')
        return;
    if (IsSeparator(line)) {
        if (!record.empty()) {
            onRecord(record);
            record.clear();
        }
        return;
    }
    if (line[0] == ' ') {
        // Nothing to continue before the record's first line: dropped.
        if (!record.empty())
            record.back().append(line, 1, std::string::npos);
        return;
    }
    record.push_back(std::move(line));
}

void WriteAll(int fd, const std::string& path, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseInOut(path, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void WriteLDIF(const std::string& path, const TUserList* users)
{
    TFileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.Fd() < 0)
        RaiseInOut(path, errno);

    std::string out;
    out.reserve(kChunkSize + 4096);
    const int count = users ? users->Count() : 0;
    for (int i = 0; i < count; ++i) {
        users->ForEachLine(i, [&](const TLineView& line) {
            if (line.HasEquals) {
                out.append(line.Type);
                out += ": ";
            }
            out.append(line.Value);
            out += "\r\n";
            if (out.size() >= kChunkSize) {
                WriteAll(file.Fd(), path, out);
                out.clear();
            }
        });
        out += "\r\n";
    }
    WriteAll(file.Fd(), path, out);
    if (file.Close() != 0)
        RaiseInOut(path, errno);
}

} // namespace

void ReadLDIFRecords(const std::string& path,
                     const std::function<void(std::vector<std::string>&)>& onRecord)
{
    TFileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Fd() < 0)
        RaiseInOut(path, errno);

    std::unique_ptr<char[]> chunk(new char[kChunkSize]);
    std::vector<std::string> record;
    std::string line;
    bool ended = false;
    while (!ended) {
        const ssize_t n = ::read(file.Fd(), chunk.get(), kChunkSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseInOut(path, errno);
        }
        if (n == 0)
            break;
        const char* p = chunk.get();
        const char* const end = p + n;
        while (p < end) {
            // Copy the run up to the next octet that needs a decision.
            const char* q = p;
            while (q < end && *q != '\n' && *q != '\r' && *q != kCtrlZ)
                ++q;
            line.append(p, q);
            if (q == end)
                break;
            if (*q == kCtrlZ) {
                ended = true;
                break;
            }
            if (*q == '\n') {
                TakeLine(line, record, onRecord);
                line.clear();
            }
            // A CR is dropped: before LF it is part of the line end, alone it
            // is not part of the line.
            p = q + 1;
        }
    }
    if (!line.empty())
        TakeLine(line, record, onRecord);
    if (!record.empty())
        onRecord(record);
}

void TLDIFFile::ReadFromFile(const std::string& path)
{
    ReadLDIFRecords(path, [this](std::vector<std::string>& record) { AddRecord(record); });
}

void TLDIFFile::AddRecord(std::vector<std::string>& buffer)
{
    if (buffer.empty())
        return;
    if (!Users)
        throw std::logic_error("TLDIFFile::AddRecord without a user list");
    std::string mail;
    std::string name;
    for (std::string& line : buffer) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            line[colon] = '=';
            line.erase(colon + 1, 1);
        }
        const std::string_view view(line);
        if (view.size() >= 5 && SameTextASCII(view.substr(0, 5), "MAIL="))
            mail = line.substr(5);
        if (name.empty() && view.size() >= 3 && SameTextASCII(view.substr(0, 3), "CN="))
            name = line.substr(3);
    }
    const int index = Users->IndexOfMail(mail);
    if (index == -1)
        Users->Add(name, buffer);
    else
        Users->AppendLines(index, buffer);
    buffer.clear();
}

void TLDIFFile::WriteToFile(const std::string& path) const
{
    WriteLDIF(path, Users);
}

void ImportLDIF(const std::string& path)
{
    std::vector<std::vector<std::string>> records;
    std::exception_ptr failure;
    try {
        ReadLDIFRecords(path, [&records](std::vector<std::string>& record) {
            records.push_back(std::move(record));
            record.clear();
        });
    } catch (const EInOutError&) {
        failure = std::current_exception();
    }

    {
        TUserListWriteLock lock(true);
        TLDIFFile file;
        file.Users = lock.get();
        for (auto& record : records)
            file.AddRecord(record);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ExportLDIF(const std::string& path)
{
    TUserListReadLock lock;
    WriteLDIF(path, lock.get());
}
