// One event-loop thread of the listener: it owns a share of the connections
// and runs their handlers, reads and writes; loop 0 also accepts.
#pragma once

#include "listener/AllowList.h"
#include "listener/Connection.h"
#include "listener/Limits.h"
#include "listener/OutputQueue.h"
#include "listener/TlsContext.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TEventLoop;

// A listening socket and whether its clients speak TLS from the first octet.
struct TListenSocket {
    int Fd = -1;
    bool Tls = false;
};

// What the loops of one activation share. Everything but the atomics and the
// End* members is set before the loop threads start and only read after.
struct TServerCore {
    // The counters outlive the activation (the server owns them).
    TServerCore(TOutputBudget& budget, std::atomic<int>& connections, std::atomic<std::uint64_t>& refused,
                std::atomic<std::uint64_t>& denied)
        : Budget(budget), Connections(connections), Refused(refused), Denied(denied) {}

    using TConnectionEvent = std::function<void(TConnection&)>;
    TConnectionEvent Connect, Execute, Disconnect;
    std::function<void(const std::string&)> Error;
    TListenerLimits Limits;  // MaxConnections resolved
    TOutputBudget& Budget;
    std::vector<std::unique_ptr<TEventLoop>> Loops;
    // Null: no certificate (no TLS binding, StartTLS not granted).
    std::shared_ptr<const TTlsContext> Tls;
    TAllowList Allow;

    std::atomic<int>& Connections;
    std::atomic<std::uint64_t>& Refused;
    std::atomic<std::uint64_t>& Denied;  // closed at accept: not an allowed network
    std::atomic<bool> AcceptPaused{false};
    std::atomic<bool> BudgetWaiting{false};

    // EndMutex guards LoopsEnded; EndChanged is signalled as each loop ends.
    std::mutex EndMutex;
    std::condition_variable EndChanged;
    int LoopsEnded = 0;

    void Report(const std::string& text) const;
    // Wakes every loop when answers wait for the total budget and it has room.
    void BudgetFreed();
};

class TEventLoop {
public:
    // Raises ESocketError when the system gives no epoll or eventfd.
    TEventLoop(TServerCore& core, int index);
    ~TEventLoop();  // joins the thread
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // Before Start: the listening sockets this loop accepts on (it owns them).
    void SetListeners(const std::vector<TListenSocket>& sockets);
    void Start();  // raises std::system_error when no thread can be made
    bool Started() const { return FThread.joinable(); }
    // Any thread: hands over an accepted socket.
    void Adopt(int fd, std::string peerIP, bool tls);
    // Any thread: end every connection and the thread.
    void RequestStop();
    void Wake();
    // Any thread: the loop starts accepting on `add` (it owns them from here)
    // and closes `remove` (sockets it accepts on); connections stay. Returns
    // a ticket: the change is done once ListenerChangesDone() reaches it.
    std::uint64_t ChangeListeners(std::vector<TListenSocket> add, std::vector<int> remove);
    std::uint64_t ListenerChangesDone() const { return FChangesDone.load(); }
    // Any thread: connections accepted or adopted from now on use this
    // certificate and these networks; open ones keep what they have.
    void ChangeSecurity(std::shared_ptr<const TTlsContext> tls, TAllowList allow);
    // Any thread: how many times the loop has gone round (a heartbeat).
    std::uint64_t Turns() const { return FTurns.load(std::memory_order_relaxed); }

private:
    struct TWatch;
    struct TLink;
    using TClock = std::chrono::steady_clock;

    void Run();
    void Shutdown();
    int NextTimeoutMs(TClock::time_point now) const;
    void OnWake();
    void ApplyListenerChanges(const std::vector<TListenSocket>& add, const std::vector<int>& remove);
    void AcceptFrom(const TWatch& listener);
    void PauseAccept(int error);
    void ResumeAccept();
    void AdoptNow(int fd, std::string peerIP, bool tls);
    void OnLinkEvent(TLink& link, std::uint32_t events);
    void Read(TLink& link);
    void ReadTls(TLink& link);
    // Begins (LDAPS, granted StartTLS) or goes on with a connection's handshake.
    void BeginHandshake(TLink& link);
    void Handshake(TLink& link);
    void ReleaseHandshakeShare(TLink& link);
    void Progress(TLink& link);
    void Execute(TLink& link, std::size_t frameSize);
    void Arm(TLink& link, std::uint32_t events);
    void WaitForBudget(TLink& link);
    void MakeReady(TLink& link);
    void End(TLink& link);
    // End, after reporting "Error...<address>: <reason>" as an error event.
    void EndWithError(TLink& link, const std::string& reason);
    void RunReady();
    void Sweep(TClock::time_point now);

    TServerCore& FCore;
    [[maybe_unused]] const int FIndex;  // names the loop when debugging
    int FEpoll = -1;
    int FWakeFd = -1;
    int FStopFd = -1;  // readable from RequestStop on; never drained
    std::thread FThread;

    struct TMail {
        int Fd;
        std::string PeerIP;
        bool Tls;
    };
    // FMailLock guards FMail and FMailClosed (filled by the accepting loop),
    // and the listener changes below (filled by ChangeListeners).
    std::mutex FMailLock;
    std::vector<TMail> FMail;
    bool FMailClosed = false;
    std::vector<TListenSocket> FListenersToAdd;
    std::vector<int> FListenersToRemove;
    std::uint64_t FChangesAsked = 0;
    std::atomic<std::uint64_t> FChangesDone{0};

    bool FSecurityChanged = false;
    std::shared_ptr<const TTlsContext> FNewTls;
    TAllowList FNewAllow;

    // The loop thread's own copies (from the core at Start, then through
    // ChangeSecurity); a replaced certificate is kept while connections may
    // still point at it.
    std::shared_ptr<const TTlsContext> FTls;
    TAllowList FAllow;
    std::vector<std::shared_ptr<const TTlsContext>> FRetiredTls;

    // Written by the loop thread only (a plain load and store), read by anyone.
    std::atomic<std::uint64_t> FTurns{0};

    // The rest belongs to the loop thread.
    std::unique_ptr<TWatch> FWakeWatch, FStopWatch;
    std::vector<std::unique_ptr<TWatch>> FListeners;
    bool FListening = false;
    bool FPauseReported = false;
    bool FRefusing = false;
    TClock::time_point FPausedAt;
    std::size_t FNextLoop = 0;
    std::vector<std::unique_ptr<TLink>> FLinks;
    std::vector<TLink*> FReady;       // whole messages waiting their turn
    std::vector<TLink*> FBudgetWait;  // waiting for the total budget
    std::vector<std::unique_ptr<TLink>> FEnded;  // freed after the events in hand
    std::vector<char> FReadBuffer;
    TClock::time_point FNextSweep;
    bool FTrimWanted = false;
    bool FStopping = false;
};
