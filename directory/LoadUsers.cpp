#include "directory/LoadUsers.h"

#include "directory/ExtractToken.h"
#include "directory/LDIF.h"
#include "directory/MailApi.h"
#include "directory/PublishedDirectory.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

// Appends one entry per mailbox of every published user of every domain;
// onDomain(count so far, name) as each domain begins. Returns the users.
template <typename OnDomain>
int32_t AddMailServerUsers(TMailApi& api, TUserList& list, OnDomain&& onDomain)
{
    int32_t domains = 0;
    int32_t users = 0;
    const int domainCount = api.GetDomainCount();
    for (int d = 0; d < domainCount; ++d) {
        const std::string domain = api.GetDomainName(d);
        onDomain(++domains, domain);
        const int userCount = api.GetUserCount(domain);
        for (int u = 0; u < userCount; ++u) {
            if (api.LoadUser(domain, u) <= 0) continue;
            // Taken as unsigned: a negative state is as unpublished as 2.
            if (api.GetUserSettingInt(kSettingState) >= 2) continue;
            if (api.GetUserSettingByte(kSettingHidden) != 0) continue;
            ++users;
            std::string mailboxes = api.GetUserSettingStr(kSettingMailboxes);
            std::string nameSetting = api.GetUserSettingStr(kSettingName);
            const std::string name = ExtractToken(nameSetting, ";");
            while (!mailboxes.empty()) {
                const std::string mailbox = ExtractToken(mailboxes, ";");
                std::vector<std::string> lines{"cn=" + name, "mail=" + mailbox + "@" + domain};
                list.Add(name, std::make_unique<TUserInfo>(std::move(lines)));
            }
        }
    }
    return users;
}

void ReadExternalFile(const std::string& extFile, TUserList& list)
{
    if (extFile.empty()) return;
    TLDIFFile file;
    file.Users = &list;
    file.ReadFromFile(extFile);
}

// The lines of one entry, for comparing.
struct TLineKey {
    std::string_view Type;
    std::string_view Value;
    bool HasEquals;
    bool operator==(const TLineKey&) const = default;
};

void CollectLines(const TUserList& list, int index, std::vector<TLineKey>& lines)
{
    lines.clear();
    list.ForEachLine(index, [&](const TLineView& line) { lines.push_back({line.Type, line.Value, line.HasEquals}); });
}

} // namespace

int32_t LoadUsers(ILoadUsersHost& host, const std::string& programDir, const std::string& extFile)
{
    FreeUserList();
    host.SetDomainCount(0);
    host.SetUserCount(0);
    auto list = std::make_unique<TUserList>();

    TMailApi api;
    if (!api.Open(programDir)) {
        ReplaceUserList(std::move(list));
        host.MessageBox("Cannot open API", api.LastError());
        return 0;
    }
    int32_t mailUsers = 0;
    // A failure inside the library calls (there are none by contract, but a
    // log write can fail) still leaves the entries made so far published.
    try {
        mailUsers = AddMailServerUsers(api, *list, [&](int32_t domains, const std::string& domain) {
            host.SetDomainCount(domains);
            host.LogEvent(TEventKind::DirectoryLoading, "Loading domain " + domain);
        });
        ReadExternalFile(extFile, *list);
    } catch (...) {
        ReplaceUserList(std::move(list));
        throw;
    }
    const int32_t users = list->Count();
    ReplaceUserList(std::move(list));
    host.SetUserCount(users);
    host.UpdateStatistics();
    return mailUsers;
}

TBuiltDirectory BuildDirectory(const std::string& programDir, const std::string& extFile,
                               const std::function<void(const std::string&)>& onDomain)
{
    TBuiltDirectory built;
    built.List = std::make_unique<TUserList>();
    TMailApi api;
    if (!api.Open(programDir)) throw EOpenApiError(api.LastError());
    built.Users = AddMailServerUsers(api, *built.List, 
                                     [&](int32_t domains, const std::string& domain) {
                                         built.Domains = domains;
                                         if (onDomain) onDomain(domain);
                                     });
    ReadExternalFile(extFile, *built.List);
    return built;
}

bool SameEntries(const TUserList& a, const TUserList& b)
{
    if (a.Count() != b.Count()) return false;
    std::vector<TLineKey> linesA;
    std::vector<TLineKey> linesB;
    for (int i = 0; i < a.Count(); ++i) {
        if (a.NameView(i) != b.NameView(i) || a.LineCount(i) != b.LineCount(i)) return false;
        CollectLines(a, i, linesA);
        CollectLines(b, i, linesB);
        if (linesA != linesB) return false;
    }
    return true;
}
