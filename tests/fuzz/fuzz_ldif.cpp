// Reads the input as an LDIF file into a fresh directory. Besides the
// sanitizers' checks: the mail index must agree with a plain scan for every
// mail line stored, the entries never outnumber the records, and the result
// can be written out again.
#include "FuzzFiles.h"

#include "config/AsciiText.h"
#include "directory/LDIF.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Highest index with a line equal to "MAIL=" + address, letters folded.
int ScanForMail(const TUserList& list, std::string_view address)
{
    const std::string wanted = UpperASCII("MAIL=" + std::string(address));
    int found = -1;
    for (int i = 0; i < list.Count(); ++i)
        for (const std::string& line : list.Objects(i).Attributes.Lines())
            if (UpperASCII(line) == wanted) found = i;
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const TMemoryFile input;
    static const TMemoryFile output;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    input.Set(text);

    TUserList list;
    TLDIFFile file;
    file.Users = &list;
    file.ReadFromFile(input.Path());  // a memory file never fails to read

    // A record is at least one line, and it makes at most one entry.
    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    if (static_cast<std::size_t>(list.Count()) > lines) __builtin_trap();

    for (int i = 0; i < list.Count(); ++i)
        for (const std::string& line : list.Objects(i).Attributes.Lines())
            if (line.size() >= 5 && UpperASCII(line.substr(0, 5)) == "MAIL=") {
                const std::string_view address = std::string_view(line).substr(5);
                if (list.IndexOfMail(address) != ScanForMail(list, address)) __builtin_trap();
            }

    file.WriteToFile(output.Path());
    return 0;
}
