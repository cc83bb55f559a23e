#include "directory/UserList.h"

#include <algorithm>

namespace {
bool IsMailLine(std::string_view line)
{
    return line.size() >= 5 && SameTextASCII(line.substr(0, 5), "MAIL=");
}
} // namespace

int TUserList::Add(std::string name, std::unique_ptr<TUserInfo> entry)
{
    if (!entry)
        entry = std::make_unique<TUserInfo>();
    DropSubstringIndex();
    FChanged = true;
    const int index = Count();
    FItems.push_back(TItem{std::move(name), std::move(entry)});
    for (const std::string& line : FItems.back().Entry->Attributes.Lines())
        IndexLine(index, line);
    return index;
}

int TUserList::Count() const
{
    return static_cast<int>(FItems.size());
}

const std::string& TUserList::Names(int index) const
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
    return FItems[static_cast<std::size_t>(index)].Name;
}

const TUserInfo& TUserList::Objects(int index) const
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
    return *FItems[static_cast<std::size_t>(index)].Entry;
}

void TUserList::AppendLine(int index, std::string line)
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
    DropSubstringIndex();
    FChanged = true;
    IndexLine(index, line);
    FItems[static_cast<std::size_t>(index)].Entry->Attributes.Add(std::move(line));
}

void TUserList::AppendLines(int index, const std::vector<std::string>& lines)
{
    if (index < 0 || index >= Count())
        throw EDirectoryIndexError(index);
    DropSubstringIndex();
    FChanged = true;
    for (const std::string& line : lines)
        IndexLine(index, line);
    FItems[static_cast<std::size_t>(index)].Entry->Attributes.AddStrings(lines);
}

void TUserList::IndexLine(int index, const std::string& line)
{
    // Only a line starting with MAIL= can ever equal a target.
    if (!IsMailLine(line))
        return;
    auto [it, inserted] = FMailIndex.try_emplace(UpperASCII(line), index);
    if (!inserted)
        it->second = std::max(it->second, index);
}

int TUserList::IndexOfMail(std::string_view address) const
{
    std::string target;
    target.reserve(5 + address.size());
    target.append("MAIL=");
    target.append(address);
    UpperASCIIInPlace(target);
    const auto it = FMailIndex.find(target);
    return it == FMailIndex.end() ? -1 : it->second;
}

const TSubstringIndex& TUserList::SubstringIndex() const
{
    std::lock_guard<std::mutex> guard(FIndexLock);
    if (!FSubstringIndex)
        FSubstringIndex = std::make_unique<TSubstringIndex>(*this);
    return *FSubstringIndex;
}

void TUserList::DropSubstringIndex()
{
    std::lock_guard<std::mutex> guard(FIndexLock);
    FSubstringIndex.reset();
}

std::unique_ptr<TUserList> TUserList::Clone() const
{
    auto copy = std::make_unique<TUserList>();
    copy->FItems.reserve(FItems.size());
    for (const TItem& item : FItems)
        copy->FItems.push_back(TItem{item.Name, std::make_unique<TUserInfo>(*item.Entry)});
    copy->FMailIndex = FMailIndex;
    return copy;
}

void TUserList::Seal()
{
    SubstringIndex();
    FChanged = false;
}
