#include "config/ProfileFile.h"

#include "config/AsciiText.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <string_view>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool IsComment(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == ';'; }

// "[name]" -> name; false for any other line.
bool SectionName(const std::string& line, std::string& name)
{
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[') return false;
    const std::size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key = value" -> key and the raw value; false for lines without '='.
bool KeyLine(const std::string& line, std::string& key, std::string* value)
{
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '[' || IsComment(t)) return false;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(line.substr(0, eq));
    if (value) *value = line.substr(eq + 1);
    return true;
}

std::string CleanValue(const std::string& raw)
{
    std::string v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kMaxProfileValue) v.resize(kMaxProfileValue);
    return v;
}

// Whether the reader would give back something else than value: blanks
// around it are removed, and so is one pair of enclosing quotes.
bool ReadsBackChanged(const std::string& value)
{
    if (value.empty()) return false;
    if (IsBlank(value.front()) || IsBlank(value.back())) return true;
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
}

bool HasLineBreak(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

[[noreturn]] void WriteFailed(const std::string& path) { throw EProfileError("Unable to write to " + path); }

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::atomic<unsigned> GTempCounter{0};  // atomic: saves may run on any thread

}  // namespace

TProfileFile::TProfileFile(std::string path) : FPath(std::move(path))
{
    const int fd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        FExisted = errno != ENOENT && errno != ENOTDIR;
        FReadable = !FExisted;
        return;
    }
    FExisted = true;
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            FReadable = false;
            break;
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > kMaxProfileFileSize) {
            ::close(fd);
            throw EProfileError("Settings file too large: " + FPath);
        }
    }
    ::close(fd);
    if (!FReadable) return;

    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t nl = data.find('\n', pos);
        TLine line;
        if (nl == std::string::npos) {
            line.Text = data.substr(pos);
            pos = data.size();
            // A CR that ends the file ends its last line, as CR LF would: the
            // line then keeps its meaning when a line is added after it.
            if (!line.Text.empty() && line.Text.back() == '\r') {
                line.Text.pop_back();
                line.Ending = "\r";
            }
        } else {
            line.Text = data.substr(pos, nl - pos);
            line.Ending = "\n";
            pos = nl + 1;
            if (!line.Text.empty() && line.Text.back() == '\r') {
                line.Text.pop_back();
                line.Ending = "\r\n";
            }
        }
        FLines.push_back(std::move(line));
    }
    if (!FLines.empty() && std::string_view(FLines.front().Ending) == "\r\n") FNewLineEnding = "\r\n";
}

int TProfileFile::FindSection(const std::string& section) const
{
    std::string name;
    for (std::size_t i = 0; i < FLines.size(); ++i)
        if (SectionName(FLines[i].Text, name) && SameTextASCII(name, section)) return static_cast<int>(i);
    return -1;
}

std::size_t TProfileFile::SectionEnd(std::size_t header) const
{
    std::string name;
    std::size_t i = header + 1;
    while (i < FLines.size() && !SectionName(FLines[i].Text, name)) ++i;
    return i;
}

int TProfileFile::FindKey(std::size_t header, const std::string& key) const
{
    std::string name;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (KeyLine(FLines[i].Text, name, nullptr) && SameTextASCII(name, key)) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> TProfileFile::KeyNames(const std::string& section) const
{
    std::vector<std::string> names;
    const int header = FindSection(section);
    if (header < 0) return names;
    std::string name;
    const std::size_t end = SectionEnd(static_cast<std::size_t>(header));
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i)
        if (KeyLine(FLines[i].Text, name, nullptr) && !name.empty()) names.push_back(name);
    return names;
}

bool TProfileFile::HasKey(const std::string& section, const std::string& key) const
{
    const int header = FindSection(section);
    return header >= 0 && FindKey(static_cast<std::size_t>(header), key) >= 0;
}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key) const
{
    const int header = FindSection(section);
    if (header < 0) return {};
    const int line = FindKey(static_cast<std::size_t>(header), key);
    if (line < 0) return {};
    std::string name;
    std::string raw;
    KeyLine(FLines[static_cast<std::size_t>(line)].Text, name, &raw);
    return CleanValue(raw);
}

void TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // A line break would split the line and plant other keys in the file.
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || key.find('=') != std::string::npos ||
        Trim(key).empty())
        throw EProfileError("Unable to write " + key + " to " + FPath + ": invalid key or value");

    // Quotes the reader takes off again keep such a value as it is.
    const std::string text = key + "=" + (ReadsBackChanged(value) ? "\"" + value + "\"" : value);
    int header = FindSection(section);
    if (header < 0) {
        if (!FLines.empty()) EndLine(FLines.back());
        FLines.push_back({"[" + section + "]", FNewLineEnding});
        FLines.push_back({text, FNewLineEnding});
        return;
    }
    const int line = FindKey(static_cast<std::size_t>(header), key);
    if (line >= 0) {
        FLines[static_cast<std::size_t>(line)].Text = text;
        return;
    }
    // After the section's last non-blank line, so blank separators stay put.
    std::size_t at = SectionEnd(static_cast<std::size_t>(header));
    while (at > static_cast<std::size_t>(header) + 1 && Trim(FLines[at - 1].Text).empty()) --at;
    EndLine(FLines[at - 1]);
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(at), TLine{text, FNewLineEnding});
}

void TProfileFile::EndLine(TLine& line) const
{
    const std::string_view ending = line.Ending;
    if (ending.empty())
        line.Ending = FNewLineEnding;
    else if (ending == "\r")
        line.Ending = "\r\n";
}

std::string TProfileFile::Text() const
{
    std::string out;
    for (const TLine& line : FLines) {
        out += line.Text;
        out += line.Ending;
    }
    return out;
}

void TProfileFile::Save() const
{
    // Write through a symbolic link rather than replacing the link itself.
    std::string target = FPath;
    struct stat st {};
    if (::lstat(FPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(FPath.c_str(), resolved)) target = resolved;
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // The rename below would bypass the file's own permission, so ask first. A
    // file without any write bit counts as read-only even for root.
    if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
        WriteFailed(FPath);
    // Replacing a file we could not read would lose its content.
    if (FExisted && !FReadable) WriteFailed(FPath);

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/." + base + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(GTempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) WriteFailed(FPath);

    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
        // Keeping the owner is best effort: only root may give a file away.
        if (ok && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // not ours to give away; the copy stays with the caller's owner
        }
    }
    ok = ok && WriteAll(fd, Text()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        WriteFailed(FPath);
    }
}

void WriteProfileStrings(const std::string& path, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& keys)
{
    TProfileFile file(path);
    for (const auto& [key, value] : keys) file.WriteString(section, key, value);
    file.Save();
}
