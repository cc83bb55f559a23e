// The settings-file layer: sections of "key=value" lines, read and updated the
// way the settings store needs them.
//
// Section and key names are matched without regard to ASCII letter case; a
// value is read with the blanks around it and one pair of enclosing single or
// double quotes removed, and cut to kMaxProfileValue characters. A write
// replaces the first line of the key in place or appends the key at the end of
// its section (creating file and section when missing) and leaves every other
// line as it was; a value that would not read back as itself (blanks around
// it, enclosing quotes) is written in double quotes. Lines starting with ';'
// are comments.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// The file cannot be written (read-only, no access to the folder, disk full)
// or cannot be taken as a settings file at all.
class EProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kMaxProfileValue = 2047;
// A settings file is a few hundred bytes; anything beyond this is refused
// rather than read into memory.
inline constexpr std::size_t kMaxProfileFileSize = 4 * 1024 * 1024;

class TProfileFile {
public:
    // Reads the whole file once. A missing or unreadable file reads as empty
    // (its keys then give ""); a file above kMaxProfileFileSize raises.
    explicit TProfileFile(std::string path);

    const std::string& Path() const { return FPath; }

    // Key names of the first section of that name, in file order, spelt as in
    // the file (a repeated key appears each time).
    std::vector<std::string> KeyNames(const std::string& section) const;
    // The value of the first line of the key in that section; "" when absent.
    std::string ReadString(const std::string& section, const std::string& key) const;
    bool HasKey(const std::string& section, const std::string& key) const;

    // Changes the copy in memory only.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the copy back: into a temporary file in the same folder, renamed
    // over the original, so a crash leaves either the old or the new file.
    // Raises EProfileError "Unable to write to <path>" when the existing file
    // is not writable, the folder refuses the temporary file, or a write fails.
    void Save() const;

    // The file's text as Save would write it.
    std::string Text() const;

private:
    struct TLine {
        std::string Text;    // without the line end
        // "\n", "\r\n", or for the last line "" (none) or "\r" (a lone CR)
        const char* Ending = "";
    };
    std::string FPath;
    std::vector<TLine> FLines;
    bool FExisted = false;
    bool FReadable = true;
    const char* FNewLineEnding = "\n";

    // Gives the last line a full line end before a line is added after it.
    void EndLine(TLine& line) const;
    // Index of the header line of the first section of that name, or -1.
    int FindSection(const std::string& section) const;
    // One past the last line of the section that starts at `header`.
    std::size_t SectionEnd(std::size_t header) const;
    // Index of the first line of the key in the section, or -1.
    int FindKey(std::size_t header, const std::string& key) const;
};

// One read and one write for several keys of one section; keys are written in
// the given order.
void WriteProfileStrings(const std::string& path, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& keys);
