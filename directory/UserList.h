// The directory: an ordered list of (entry name, entry), never sorted.
#pragma once

#include "directory/SubstringIndex.h"
#include "directory/UserInfo.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TUserList {
public:
    TUserList() = default;
    TUserList(const TUserList&) = delete;
    TUserList& operator=(const TUserList&) = delete;

    // Appends the item and takes ownership of entry (null gives an empty entry).
    // Returns the new index.
    int Add(std::string name, std::unique_ptr<TUserInfo> entry);
    int Count() const;
    // Both raise EDirectoryIndexError outside 0..Count-1.
    const std::string& Names(int index) const;
    const TUserInfo& Objects(int index) const;

    // The only ways to add lines to a listed entry: the mail index sees them.
    void AppendLine(int index, std::string line);
    void AppendLines(int index, const std::vector<std::string>& lines);

    // Highest index whose entry has a line equal to "MAIL=" + address, both
    // raised to upper case in ASCII (no trimming); -1 when none has.
    int IndexOfMail(std::string_view address) const;

    // Built on first use after the last change, or by Seal. Valid until the
    // next Add or AppendLine(s).
    const TSubstringIndex& SubstringIndex() const;

    // A copy that can be changed while this one stays as it is.
    std::unique_ptr<TUserList> Clone() const;
    // Builds the search structures now, before the list is published.
    void Seal();
    // Whether anything was added since the list was made, cloned or sealed.
    bool Changed() const { return FChanged; }

private:
    struct TItem {
        std::string Name;
        std::unique_ptr<TUserInfo> Entry;
    };
    void IndexLine(int index, const std::string& line);

    std::vector<TItem> FItems;
    bool FChanged = false;
    // Upper-cased mail line -> highest index of an entry holding it. Items are
    // only appended and lines only added, so an index can only grow: keeping
    // the maximum per key gives the same answer as the full scan.
    std::unordered_map<std::string, int> FMailIndex;

    void DropSubstringIndex();
    // FIndexLock guards FSubstringIndex: several searches may ask for it at
    // once under the shared read lock. A change drops it, and changes happen
    // only under the exclusive write lock, so no reader still holds it then.
    mutable std::mutex FIndexLock;
    mutable std::unique_ptr<TSubstringIndex> FSubstringIndex;
};
