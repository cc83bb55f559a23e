#include "directory/LdapUtil.h"

namespace {

// The directory and its guards.
//
// UserList is written only under GListLock held exclusively (TUserListWriteLock)
// and read only under it held shared (TUserListReadLock); the pointer itself is
// guarded the same way. A writer first takes GTurnstile, and every reader passes
// through GTurnstile before asking for the shared lock: once an Import waits,
// new searches queue behind it instead of starving it, and the searches
// already running finish first. A search thus sees the whole list before or
// after an Import, never halfway.
std::mutex GTurnstile;
std::shared_mutex GListLock;
std::unique_ptr<TUserList> UserList; // guarded by GListLock

std::shared_lock<std::shared_mutex> LockShared()
{
    { std::lock_guard<std::mutex> pass(GTurnstile); }
    return std::shared_lock<std::shared_mutex>(GListLock);
}

} // namespace

TUserListReadLock::TUserListReadLock()
    : FLock(LockShared()), FList(UserList.get())
{
}

TUserListWriteLock::TUserListWriteLock(bool createWhenAbsent)
    : FTurnstile(GTurnstile), FLock(GListLock), FList(nullptr)
{
    if (!UserList && createWhenAbsent)
        UserList = std::make_unique<TUserList>();
    FList = UserList.get();
}

void TUserListWriteLock::Reset(std::unique_ptr<TUserList> list)
{
    UserList = std::move(list);
    FList = UserList.get();
}

void ReplaceUserList(std::unique_ptr<TUserList> list)
{
    std::unique_ptr<TUserList> old;
    {
        TUserListWriteLock lock;
        old = std::move(UserList);
        lock.Reset(std::move(list));
    }
    // A large list is freed outside the lock.
}

void FreeUserList()
{
    ReplaceUserList(nullptr);
}
