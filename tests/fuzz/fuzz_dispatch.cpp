// Feeds arbitrary octets, cut into reads, to the message handler over an
// in-memory connection. Only the exceptions that end a connection are expected.
#include "ldap/Dispatch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

class TMemoryConnection : public ILdapConnection {
public:
    TMemoryConnection(std::string_view input, std::size_t chunk) : FInput(input), FChunk(chunk) {}

    void Write(std::string_view data) override {
        // Every answer must be one well-formed element that frames exactly.
        const auto size = FrameSize(data, data.size());
        if (!size || *size != data.size()) __builtin_trap();
    }
    std::string PeerIP() const override { return "127.0.0.1"; }
    // Reads a chunk at a time while no whole message is pending, as the
    // listener does.
    std::string& Pending() override {
        for (;;) {
            try {
                if (FrameSize(FPending)) break;
            } catch (const EFramingError&) {
                break;
            }
            if (FInput.empty()) break;
            const std::string_view part = FInput.substr(0, FChunk);
            FInput.remove_prefix(part.size());
            FPending += part;
        }
        if (FPending.size() > 2 * kMaxMessageSize + 256) __builtin_trap();  // the framer must keep it bounded
        return FPending;
    }

private:
    std::string_view FInput;
    std::size_t FChunk;
    std::string FPending;
};

// Re-encoding what was decoded is stable: a second round gives the same octets.
void CheckRoundTrip(const TASNList& request) {
    const std::string once = request.Encode();
    TASNList again;
    again.Decode(once);
    if (again.Encode() != once) __builtin_trap();
}

// A decoded request written back and decoded again writes the same octets.
void CheckTypedRoundTrip(const TLdapRequest& request) {
    const std::string once = request.Encode();
    TASNList tree;
    tree.Decode(once);
    if (DecodeRequest(tree).Encode() != once) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first octet picks how the rest is cut into reads.
    const std::size_t chunk = 1 + (data[0] % 64) * 97;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    TMemoryConnection connection(input, chunk);
    const TSearchBranch search = [](ILdapConnection&, const TLdapRequest& request) { CheckTypedRoundTrip(request); };
    try {
        for (int calls = 0; calls < 100000; ++calls) SrvExecuteMessage(connection, search);
    } catch (const EListIndexError&) {
    } catch (const EASNDepthError&) {
    } catch (const EFramingError&) {
    }

    TASNList whole;
    try {
        whole.Decode(input);
        CheckRoundTrip(whole);
    } catch (const EASNDepthError&) {
    }
    return 0;
}
