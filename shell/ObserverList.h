// The views that follow the service (the Qt window, the tray, veskad's
// console, a test's recorder), each told every change.
#pragma once

#include "shell/ServiceObserver.h"

#include <algorithm>
#include <mutex>
#include <vector>

class TObserverList {
public:
    // An observer must stay alive until it is removed or the list is gone.
    void Add(IServiceObserver* observer)
    {
        if (!observer) return;
        std::lock_guard lock(FLock);
        if (std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
            FObservers.push_back(observer);
    }
    // Once it returns, no call to the observer is running or will start.
    void Remove(IServiceObserver* observer)
    {
        std::lock_guard lock(FLock);
        FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
    }
    // Calls call(observer) for each, in the order they were added.
    template <typename Call>
    void Notify(Call&& call) const
    {
        std::lock_guard lock(FLock);
        for (IServiceObserver* observer : FObservers) call(*observer);
    }

private:
    // FLock guards FObservers; observers are called under it (they never call
    // back, by their contract).
    mutable std::mutex FLock;
    std::vector<IServiceObserver*> FObservers;
};
