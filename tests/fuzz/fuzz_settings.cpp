// Loads the input as VESKA.INI. Besides the sanitizers' checks: only the
// store's own errors may come out, every value read is within the size
// bound, and a file that is only read is written back octet for octet.
#include "FuzzFiles.h"

#include "config/ProfileFile.h"
#include "config/VESKAOptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const TMemoryFile ini;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ini.Set(text);

    TVESKAOptions options;
    try {
        options.LoadFromFile(ini.Path());
    } catch (const EConvertError&) {
        // a bad integer: the keys before it are applied, as described
    }

    const TProfileFile file(ini.Path());
    if (file.Text() != text) __builtin_trap();
    for (const std::string& key : file.KeyNames(kOptionsSection)) {
        if (!file.HasKey(kOptionsSection, key)) __builtin_trap();
        if (file.ReadString(kOptionsSection, key).size() > kMaxProfileValue) __builtin_trap();
    }
    return 0;
}
