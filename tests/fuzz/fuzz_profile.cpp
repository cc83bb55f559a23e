// The settings round trip: load the first part of the input as VESKA.INI,
// set the keys given in the second part ("Key=Value" lines after a NUL), save,
// load into a fresh store: every key must read back as it was set.
#include "FuzzFiles.h"

#include "config/ProfileFile.h"
#include "config/VESKAOptions.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view fileText = input.substr(0, split);
    const std::string_view changes = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    const std::string path = FuzzFolder() + "VESKA.INI";
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) std::abort();
        std::fwrite(fileText.data(), 1, fileText.size(), out);
        std::fclose(out);
    }

    TVESKAOptions options;
    try {
        options.LoadFromFile(path);
    } catch (const EConvertError&) {
    }

    std::size_t pos = 0;
    while (pos < changes.size()) {
        std::size_t end = changes.find('\n', pos);
        if (end == std::string_view::npos) end = changes.size();
        const std::string_view line = changes.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const int index = options.IndexOfOption(std::string(line.substr(0, eq)));
        if (index < 0) continue;
        // The reader cuts longer values; what can be set must fit.
        const std::string value(line.substr(eq + 1, kMaxProfileValue));
        try {
            options.SetAsText(index, value);
        } catch (const EConvertError&) {
        }
    }

    try {
        options.SaveToFile(path);
    } catch (const EProfileError&) {
        return 0;  // refused (a line break in a value): nothing to compare
    }
    TVESKAOptions reloaded;
    reloaded.LoadFromFile(path);  // what was saved must load without error
    for (int i = 0; i < options.Count(); ++i)
        if (options.GetAsText(i) != reloaded.GetAsText(i)) __builtin_trap();
    return 0;
}
