// Turns the stored list of interface addresses into listener bindings.
#pragma once

#include "listener/TcpServer.h"

#include <string>

// Sets the server inactive and replaces its bindings by one binding per address
// of the comma-separated list, in order, each at the server's default port. The
// addresses are not checked here; one that cannot be bound fails the activation.
// An empty list leaves no binding (activation then binds all interfaces).
void SetBindings(TTCPServer& server, const std::string& listText);
