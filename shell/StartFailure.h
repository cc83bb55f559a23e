// What a failed start is shown with, beside its fixed message.
#pragma once

#include <exception>
#include <string>

// The cause of an error that ended a service start: the listener's "address:
// port: reason" when it gave one, otherwise the error's own text (the external
// file's path and reason, for instance).
std::string StartFailureCause(const std::exception& error);
