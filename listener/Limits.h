// The listener's bounds: how many connections, how long a message or a blocked
// write may take, how much unsent answer memory, how many loop threads.
#pragma once

#include <cstddef>

struct TListenerLimits {
    // Simultaneous connections; a connection over it is closed at once and
    // counted. 0: three quarters of the descriptor limit at activation.
    int MaxConnections = 0;
    // A message that has started arriving must be complete within this time.
    // Idle connections between messages are never timed out.
    int IncompleteMessageMs = 30000;
    // A connection whose unsent answer makes no progress for this long ends.
    int WriteTimeoutMs = 30000;
    // Unsent answer octets one connection may hold before its next message
    // waits (an answer source is pulled only below it).
    std::size_t ConnectionOutputBytes = std::size_t{1} << 20;
    // Unsent answer octets of all connections together before every
    // connection's next message and next answer piece wait.
    std::size_t TotalOutputBytes = std::size_t{128} << 20;
    // The kernel's send buffer of each connection; 0 leaves the system's
    // own sizing (which may hold a few MiB for a client that does not read).
    int SocketSendBufferBytes = 0;
    // Event-loop threads; 0: one per core.
    int Threads = 0;
    // Raise the process's descriptor limit to its hard limit at activation.
    bool RaiseDescriptorLimit = true;
};

// The largest listen backlog the system grants.
int ListenBacklog();

// Raises the soft descriptor limit to the hard limit; returns the soft limit
// in force afterwards.
long RaiseDescriptorLimit();

// The current soft descriptor limit.
long DescriptorLimit();

// The connection cap used when MaxConnections is 0, for a descriptor limit.
int DefaultMaxConnections(long descriptorLimit);

// Cores this process may use: its CPU affinity, capped by a cgroup CPU quota.
int UsableCores();

// Loop threads for `requested` (0: one per usable core but one, at least one).
int LoopThreadCount(int requested);
