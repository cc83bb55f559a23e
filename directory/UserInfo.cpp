#include "directory/UserInfo.h"

EDirectoryIndexError::EDirectoryIndexError(int index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")")
{
}

void TAttributeLines::Add(std::string line)
{
    FLines.push_back(std::move(line));
}

void TAttributeLines::Assign(const std::vector<std::string>& lines)
{
    // Copy first: lines may be this very list.
    std::vector<std::string> copy(lines);
    FLines = std::move(copy);
}

void TAttributeLines::Assign(std::vector<std::string>&& lines)
{
    FLines = std::move(lines);
}

void TAttributeLines::AddStrings(const std::vector<std::string>& lines)
{
    if (&lines == &FLines) {
        std::vector<std::string> copy(lines);
        FLines.insert(FLines.end(), copy.begin(), copy.end());
        return;
    }
    FLines.insert(FLines.end(), lines.begin(), lines.end());
}

int TAttributeLines::Count() const
{
    return static_cast<int>(FLines.size());
}

const std::string& TAttributeLines::Strings(int index) const
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
    return FLines[static_cast<std::size_t>(index)];
}

TUserInfo::TUserInfo(std::vector<std::string> lines)
{
    Attributes.Assign(std::move(lines));
}

std::string TUserInfo::ValueOf(std::string_view name) const
{
    return std::string(ValueViewOf(name));
}

std::string_view TUserInfo::ValueViewOf(std::string_view name) const
{
    for (const std::string& line : Attributes.Lines()) {
        // The name is the text before the first "=", so it can't be longer than that.
        if (line.size() <= name.size() || line[name.size()] != '=')
            continue;
        const std::string_view lineName = std::string_view(line).substr(0, name.size());
        if (lineName.find('=') == std::string_view::npos && SameTextASCII(lineName, name))
            return std::string_view(line).substr(name.size() + 1);
    }
    return {};
}
