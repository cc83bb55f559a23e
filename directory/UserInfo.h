// One directory entry: an ordered list of "name=value" attribute lines.
#pragma once

#include "config/AsciiText.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Raised by the line and item accessors of the directory outside 0..Count-1.
// It is a std::out_of_range, like the BER tree's index error, so a connection
// handler that ends the connection on one ends it on the other as well.
class EDirectoryIndexError : public std::out_of_range {
public:
    explicit EDirectoryIndexError(int index);
};


// Ordered, owned text lines. Lines are never sorted and duplicates are kept.
class TAttributeLines {
public:
    void Add(std::string line);
    // Replaces every line by a copy of lines.
    void Assign(const std::vector<std::string>& lines);
    void Assign(std::vector<std::string>&& lines);
    // Appends a copy of every one of lines, in order.
    void AddStrings(const std::vector<std::string>& lines);
    int Count() const;
    const std::string& Strings(int index) const;
    const std::vector<std::string>& Lines() const { return FLines; }

private:
    std::vector<std::string> FLines;
};

class TUserInfo {
public:
    TUserInfo() = default;
    explicit TUserInfo(std::vector<std::string> lines);

    // Once the entry belongs to a TUserList, lines are added through the list
    // only (TUserList::AppendLines), which keeps its mail index true.
    TAttributeLines Attributes;

    // Value of the first line whose name (text before its first "=") equals
    // name without regard to ASCII case; lines without "=" are passed over.
    // Empty when no line has that name.
    std::string ValueOf(std::string_view name) const;
    // The same value without a copy; valid while the entry is unchanged.
    std::string_view ValueViewOf(std::string_view name) const;
};
