#include "ui/XdgShellFolders.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A base directory from its variable; relative or empty values do not count.
std::string BaseDir(const char* variable, const char* fallbackUnderHome)
{
    const std::string value = Env(variable);
    if (!value.empty() && value[0] == '/') return value;
    const std::string home = Env("HOME");
    return home.empty() ? std::string() : home + "/" + fallbackUnderHome;
}

// XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute path, as xdg-user-dirs writes it.
std::string UserDesktopDir()
{
    const std::string config = BaseDir("XDG_CONFIG_HOME", ".config");
    if (config.empty()) return {};
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped += value[i];
        }
        if (unescaped.compare(0, 5, "$HOME") == 0) {
            const std::string home = Env("HOME");
            if (home.empty()) return {};
            unescaped = home + unescaped.substr(5);
        }
        return unescaped.empty() || unescaped[0] != '/' ? std::string() : unescaped;
    }
    return {};
}

// The escapes of a string value in a desktop entry.
std::string StringValue(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == ' ' && i == 0) out += "\\s";
        else out += c;
    }
    return out;
}

// The program as the one word of an Exec line: quoted when it holds a
// reserved character, '%' doubled; then escaped as a string value.
std::string ExecValue(const std::string& program)
{
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = false;
    std::string word;
    for (char c : program) {
        if (reserved.find(c) != std::string::npos) quote = true;
        if (c == '%') word += '%';
        if (c == '"' || c == '`' || c == '$' || c == '\\') word += '\\';
        word += c;
    }
    if (quote) word = "\"" + word + "\"";
    return StringValue(word);
}

std::string BaseName(const std::string& path)
{
    std::string name = fs::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace

std::string TXdgShellFolders::FolderPath(uint8_t folder)
{
    std::string base;
    switch (folder) {
    case sfStartup: base = BaseDir("XDG_CONFIG_HOME", ".config"); return base.empty() ? base : base + "/autostart";
    case sfStartMenu:
        base = BaseDir("XDG_DATA_HOME", ".local/share");
        return base.empty() ? base : base + "/applications";
    case sfDesktop: return UserDesktopDir();
    default: return {};
    }
}

std::string DesktopEntryText(const std::string& target, const std::string& workingDir, const std::string& programDir)
{
    const auto withSlash = [](std::string dir) { return dir.empty() || dir.back() == '/' ? dir : dir + '/'; };
    std::string exec = ExecValue(target);
    // Started from a link, the program must find the folder it was given.
    if (!programDir.empty() && withSlash(programDir) != withSlash(workingDir)) exec += " --dir " + ExecValue(programDir);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" + StringValue(BaseName(target)) + "\n"
           "Exec=" + exec + "\n"
           "Path=" + StringValue(workingDir) + "\n";
}

void TXdgShellFolders::WriteLink(const std::string& linkPath, const std::string& target, const std::string& workingDir)
{
    std::error_code ec;
    fs::create_directories(fs::path(linkPath).parent_path(), ec);
    const std::string temporary = linkPath + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << DesktopEntryText(target, workingDir, FProgramDir);
        out.flush();
        if (!out) {
            ::unlink(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), linkPath.c_str()) != 0) ::unlink(temporary.c_str());
}

void TXdgShellFolders::DeleteFile(const std::string& path) { ::unlink(path.c_str()); }
