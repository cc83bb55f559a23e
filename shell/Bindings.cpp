#include "shell/Bindings.h"

#include "config/CommaText.h"

void SetBindings(TTCPServer& server, const std::string& listText) {
    const std::vector<std::string> addresses = SplitCommaText(listText);
    server.SetActive(false);
    server.ClearBindings();
    const int port = server.DefaultPort();
    for (const auto& address : addresses) server.AddBinding(address, port);
}

std::vector<TBinding> BindingsFor(const std::string& listText, int port) {
    std::vector<TBinding> bindings;
    for (const auto& address : SplitCommaText(listText)) bindings.push_back(TBinding{address, port});
    return bindings;
}
