// The published directory: the process-wide UserList, shared between the
// searches on connection threads and the changes made on the UI thread.
#pragma once

#include "directory/UserList.h"

#include <memory>
#include <mutex>

// One published state of the directory. It never changes once published, so a
// search may keep it (and read it without a lock) for as long as its answer
// takes, while Import publishes a newer one.
using TUserListSnapshot = std::shared_ptr<const TUserList>;

// The directory as published right now; null while absent. Never waits for a
// writer.
TUserListSnapshot CurrentUserList();

// Replaces the directory (service start). Its search structures are built
// first, on the calling thread, so the first search finds them ready. The old
// state is freed when the last search holding it ends.
void ReplaceUserList(std::unique_ptr<TUserList> list);
// Frees the directory; it is absent afterwards.
void FreeUserList();

// A search's view of the directory: the state published when it was made, for
// as long as it lives. Several readers never wait for each other nor for a
// writer.
class TUserListReadLock {
public:
    TUserListReadLock();
    TUserListReadLock(const TUserListReadLock&) = delete;
    TUserListReadLock& operator=(const TUserListReadLock&) = delete;

    // Null while the directory is absent.
    const TUserList* get() const { return FList.get(); }
    const TUserList* operator->() const { return FList.get(); }
    explicit operator bool() const { return FList != nullptr; }
    const TUserListSnapshot& Snapshot() const { return FList; }

private:
    TUserListSnapshot FList;
};

// A change of the directory (Import, a change in place). Writers take turns;
// each works on its own copy of the published state and publishes it, whole,
// when the lock ends (also when an exception ends it: what was changed before
// stays, as it would in place). Searches meanwhile keep the older state.
class TUserListWriteLock {
public:
    // With createWhenAbsent, an absent directory is replaced by an empty one.
    explicit TUserListWriteLock(bool createWhenAbsent = false);
    ~TUserListWriteLock();
    TUserListWriteLock(const TUserListWriteLock&) = delete;
    TUserListWriteLock& operator=(const TUserListWriteLock&) = delete;

    TUserList* get() const { return FList.get(); }
    TUserList* operator->() const { return FList.get(); }
    explicit operator bool() const { return FList != nullptr; }
    // Replaces the list that will be published.
    void Reset(std::unique_ptr<TUserList> list);

private:
    std::unique_lock<std::mutex> FTurn;
    std::unique_ptr<TUserList> FList;
    bool FChanged = false;
};
