// Turns the stored list of interface addresses into listener bindings.
#pragma once

#include "listener/TcpServer.h"

#include <string>
#include <vector>

// Sets the server inactive and replaces its bindings by one binding per address
// of the comma-separated list, in order, each at the server's default port. The
// addresses are not checked here; one that cannot be bound fails the activation.
// An empty list leaves no binding (activation then binds all interfaces).
void SetBindings(TTCPServer& server, const std::string& listText);

// The bindings the comma-separated list stands for, each at port.
std::vector<TBinding> BindingsFor(const std::string& listText, int port);
