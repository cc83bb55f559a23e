// The command line both programs share: --dir DIR (or --dir=DIR), --help, -h,
// --version. Toolkit-free, so the desktop program can answer before it opens
// a window, and both programs treat a folder the same way.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct TProgramArguments {
    bool Help = false;
    bool Version = false;
    bool HasDir = false;
    std::string Dir;
    // --dir without a folder, or with an empty one.
    bool Bad = false;
    // Everything else, in order (the desktop toolkit's own options among it).
    std::vector<std::string> Rest;
};

TProgramArguments ParseProgramArguments(int argc, const char* const* argv);

// The program folder must exist and be a folder: a server started with default
// settings on port 389 because of a typo in a launcher is worse than none.
// Says "Program folder not found" and the cause on `err` when it is not.
bool CheckProgramDir(const std::string& dir, std::FILE* err);
