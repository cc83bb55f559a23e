#include "ui/AutoRun.h"

#include "ui/XdgShellFolders.h"

namespace {

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LinkPath(const std::string& folder, const std::string& programPath, const IShellFolders& shell)
{
    return folder + "/" + LinkFileName(programPath, shell.LinkExtension());
}

constexpr int32_t kStartWithComputer = 1;

}  // namespace

std::string LinkFileName(const std::string& programPath, const std::string& extension)
{
    const std::size_t slash = programPath.rfind('/');
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + extension;
}

void CreateShortcut(const std::string& programPath, uint8_t folder, IShellFolders& shell)
{
    const std::string folderPath = shell.FolderPath(folder);
    if (!folderPath.empty())
        shell.WriteLink(LinkPath(folderPath, programPath, shell), programPath, DirectoryOf(programPath));
    shell.NotifyFolderChanged(folderPath);
}

void RemoveShortcut(const std::string& programPath, uint8_t folder, IShellFolders& shell)
{
    const std::string folderPath = shell.FolderPath(folder);
    if (!folderPath.empty()) shell.DeleteFile(LinkPath(folderPath, programPath, shell));
    shell.NotifyFolderChanged(folderPath);
}

void CreateShortcut(const std::string& programPath, uint8_t folder)
{
    TXdgShellFolders shell;
    CreateShortcut(programPath, folder, shell);
}

void RemoveShortcut(const std::string& programPath, uint8_t folder)
{
    TXdgShellFolders shell;
    RemoveShortcut(programPath, folder, shell);
}

void UpdateStartupShortcut(const TOptions& options, const std::string& programPath, IShellFolders& shell)
{
    const bool now = options.GetValue("StartOpt").AsInteger() == kStartWithComputer;
    const bool before = options.GetPreviousValue("StartOpt").AsInteger() == kStartWithComputer;
    if (now && !before) CreateShortcut(programPath, sfStartup, shell);
    else if (!now && before) RemoveShortcut(programPath, sfStartup, shell);
}
