#include "shell/StartFailure.h"

#include "listener/TcpServer.h"

std::string StartFailureCause(const std::exception& error)
{
    if (const auto* socket = dynamic_cast<const ESocketError*>(&error); socket != nullptr && !socket->Cause().empty())
        return socket->Cause();
    return error.what();
}
