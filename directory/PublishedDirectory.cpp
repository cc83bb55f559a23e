#include "directory/PublishedDirectory.h"

#include <atomic>

namespace {

// The directory and its guards.
//
// GPublished holds the current state. A published TUserList is never changed
// again: readers copy the pointer (an atomic shared_ptr load, no lock of ours)
// and read their copy for as long as they like. Writers take GWriterTurn, copy
// the published state, change the copy and store it into GPublished, so a
// search sees the whole state before or after a change, never halfway. Old
// states die with their last reader.
std::mutex GWriterTurn;
std::atomic<std::shared_ptr<const TUserList>> GPublished; // written under GWriterTurn

void Publish(std::unique_ptr<TUserList> list)
{
    std::shared_ptr<const TUserList> next;
    if (list) {
        list->Seal();
        next = std::shared_ptr<const TUserList>(std::move(list));
    }
    std::shared_ptr<const TUserList> old = GPublished.exchange(std::move(next));
    // A large old state is freed here, outside every lock, unless a search still holds it.
    old.reset();
}

} // namespace

TUserListSnapshot CurrentUserList()
{
    return GPublished.load(std::memory_order_acquire);
}

TUserListReadLock::TUserListReadLock()
    : FList(CurrentUserList())
{
}

TUserListWriteLock::TUserListWriteLock(bool createWhenAbsent)
    : FTurn(GWriterTurn)
{
    const TUserListSnapshot current = CurrentUserList();
    if (current)
        FList = current->Clone();
    else if (createWhenAbsent) {
        FList = std::make_unique<TUserList>();
        FChanged = true;
    }
}

TUserListWriteLock::~TUserListWriteLock()
{
    // An unchanged copy need not be published (nor sealed again).
    if (FChanged || (FList && FList->Changed()))
        Publish(std::move(FList));
}

void TUserListWriteLock::Reset(std::unique_ptr<TUserList> list)
{
    FList = std::move(list);
    FChanged = true;
}

void ReplaceUserList(std::unique_ptr<TUserList> list)
{
    if (list)
        list->Seal();
    std::lock_guard<std::mutex> turn(GWriterTurn);
    Publish(std::move(list));
}

void FreeUserList()
{
    ReplaceUserList(nullptr);
}
