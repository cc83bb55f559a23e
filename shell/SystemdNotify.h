// Readiness and state for a service manager that asked for them: one datagram
// per state change to the socket named by $NOTIFY_SOCKET. No library needed.
#pragma once

#include <string>

// Sends state (e.g. "READY=1") to $NOTIFY_SOCKET: a socket path, or with a
// leading "@" a name in the abstract namespace. False when the variable is
// unset or empty, names no usable socket, or the send fails; the service goes
// on either way.
bool NotifyServiceManager(const std::string& state);
