#include "shell/ProgramArguments.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

TProgramArguments ParseProgramArguments(int argc, const char* const* argv)
{
    TProgramArguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.Help = true;
        } else if (arg == "--version") {
            args.Version = true;
        } else if (arg == "--dir") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                args.Bad = true;
                ++i;
                continue;
            }
            args.HasDir = true;
            args.Dir = argv[++i];
        } else if (arg.rfind("--dir=", 0) == 0) {
            if (arg.size() == 6) {
                args.Bad = true;
                continue;
            }
            args.HasDir = true;
            args.Dir = arg.substr(6);
        } else {
            args.Rest.push_back(arg);
        }
    }
    return args;
}

bool CheckProgramDir(const std::string& dir, std::FILE* err)
{
    struct stat info {};
    int error = 0;
    if (::stat(dir.c_str(), &info) != 0) error = errno;
    else if (!S_ISDIR(info.st_mode)) error = ENOTDIR;
    if (error == 0) return true;
    std::fprintf(err, "Program folder not found\n%s: %s\n", dir.c_str(), std::strerror(error));
    return false;
}
