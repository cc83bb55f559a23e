// Directories and a write-capturing connection for search tests.
#pragma once

#include "directory/PublishedDirectory.h"
#include "ldap/Dispatch.h"

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Records what a handler writes; nothing more arrives than what is pending.
class TCaptureConnection : public ILdapConnection {
public:
    void Write(std::string_view data) override { Written.emplace_back(data); }
    std::string PeerIP() const override { return "127.0.0.1"; }
    std::string& Pending() override { return FPending; }
    std::vector<std::string> Written;

private:
    std::string FPending;
};

// One directory entry as (entry name, lines).
struct TEntry {
    std::string Name;
    std::vector<std::string> Lines;
    bool operator==(const TEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TEntry& entry)
{
    out << "{" << entry.Name << ":";
    for (const std::string& line : entry.Lines) out << " [" << line << "]";
    return out << "}";
}

inline std::unique_ptr<TUserList> MakeList(const std::vector<TEntry>& entries)
{
    auto list = std::make_unique<TUserList>();
    for (const TEntry& e : entries) list->Add(e.Name, std::make_unique<TUserInfo>(e.Lines));
    return list;
}

// Makes these entries the process-wide directory.
inline void SetDirectory(const std::vector<TEntry>& entries) { ReplaceUserList(MakeList(entries)); }
