// The process-wide directory UserList and the lock that shares it between the
// searches on connection threads and the changes made on the UI thread.
#pragma once

#include "directory/UserList.h"

#include <memory>
#include <mutex>
#include <shared_mutex>

// Replaces the directory (service start) and frees the old one. Takes the
// write lock, so it waits for running searches.
void ReplaceUserList(std::unique_ptr<TUserList> list);
// Frees the directory; it is absent afterwards.
void FreeUserList();

// Held by a search for its whole walk over the list: the list cannot change
// meanwhile, so the search sees it either before or after a whole Import.
// Several readers run at once. Do not nest two read locks on one thread (a
// waiting writer would block the second), and do not hold one while waiting
// on a peer: build the answer under the lock, write it after releasing it.
class TUserListReadLock {
public:
    TUserListReadLock();
    TUserListReadLock(const TUserListReadLock&) = delete;
    TUserListReadLock& operator=(const TUserListReadLock&) = delete;

    // Null while the directory is absent.
    const TUserList* get() const { return FList; }
    const TUserList* operator->() const { return FList; }
    explicit operator bool() const { return FList != nullptr; }

private:
    std::shared_lock<std::shared_mutex> FLock;
    const TUserList* FList;
};

// Exclusive access for a change of the list (Import, a rebuild in place).
class TUserListWriteLock {
public:
    // With createWhenAbsent, an absent directory is replaced by an empty one.
    explicit TUserListWriteLock(bool createWhenAbsent = false);
    TUserListWriteLock(const TUserListWriteLock&) = delete;
    TUserListWriteLock& operator=(const TUserListWriteLock&) = delete;

    TUserList* get() const { return FList; }
    TUserList* operator->() const { return FList; }
    explicit operator bool() const { return FList != nullptr; }
    // Replaces the list while the lock is held.
    void Reset(std::unique_ptr<TUserList> list);

private:
    std::unique_lock<std::mutex> FTurnstile;
    std::unique_lock<std::shared_mutex> FLock;
    TUserList* FList;
};
