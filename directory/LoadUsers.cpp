#include "directory/LoadUsers.h"

#include "directory/ExtractToken.h"
#include "directory/LDIF.h"
#include "directory/MailApi.h"
#include "directory/PublishedDirectory.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

// Appends one entry per mailbox of every published user of every domain.
void AddMailServerUsers(ILoadUsersHost& host, TMailApi& api, TUserList& list)
{
    int32_t domains = 0;
    const int domainCount = api.GetDomainCount();
    for (int d = 0; d < domainCount; ++d) {
        host.SetDomainCount(++domains);
        const std::string domain = api.GetDomainName(d);
        host.LogEvent(TEventKind::DirectoryLoading, "Loading domain " + domain);
        const int userCount = api.GetUserCount(domain);
        for (int u = 0; u < userCount; ++u) {
            if (api.LoadUser(domain, u) <= 0) continue;
            // Taken as unsigned: a negative state is as unpublished as 2.
            if (api.GetUserSettingInt(kSettingState) >= 2) continue;
            if (api.GetUserSettingByte(kSettingHidden) != 0) continue;
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
}

} // namespace

void LoadUsers(ILoadUsersHost& host, const std::string& programDir, const std::string& extFile)
{
    FreeUserList();
    host.SetDomainCount(0);
    host.SetUserCount(0);
    auto list = std::make_unique<TUserList>();

    TMailApi api;
    if (!api.Open(programDir)) {
        ReplaceUserList(std::move(list));
        host.MessageBox("Cannot open API", api.LastError());
        return;
    }
    // A failure inside the library calls (there are none by contract, but a
    // log write can fail) still leaves the entries made so far published.
    try {
        AddMailServerUsers(host, api, *list);
        if (!extFile.empty()) {
            TLDIFFile file;
            file.Users = list.get();
            file.ReadFromFile(extFile);
        }
    } catch (...) {
        ReplaceUserList(std::move(list));
        throw;
    }
    const int32_t users = list->Count();
    ReplaceUserList(std::move(list));
    host.SetUserCount(users);
    host.UpdateStatistics();
}
