// Temporary folders and file contents for tests.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in
// it at the end; Path() ends with "/".
class TTempDir {
public:
    explicit TTempDir(const std::string& prefix = "veska-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = pattern + "/";
    }
    ~TTempDir()
    {
        std::error_code ec;
        // Tests may have made the folder read-only.
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + name; }
    void Write(const std::string& name, const std::string& content) const
    {
        std::ofstream out(FPath + name, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) throw std::runtime_error("cannot write " + name);
    }

private:
    std::string FPath;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file's lines without their CR LF; fails the test on a line not ended by CR LF.
inline std::vector<std::string> CrLfLines(const std::string& path)
{
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF: " << text.substr(pos);
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}
