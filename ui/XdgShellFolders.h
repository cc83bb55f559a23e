// The desktop folders of the XDG base-directory and user-directory rules, with
// desktop entries as links:
//   Startup     $XDG_CONFIG_HOME/autostart (default ~/.config/autostart)
//   Start Menu  $XDG_DATA_HOME/applications (default ~/.local/share/applications)
//   Desktop     XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
//   Send To     none
#pragma once

#include "ui/AutoRun.h"

#include <string>
#include <utility>

class TXdgShellFolders : public IShellFolders {
public:
    // programDir: the folder the running program was given with --dir, which
    // its links pass on; empty or the target's own folder: none passed.
    explicit TXdgShellFolders(std::string programDir = {}) : FProgramDir(std::move(programDir)) {}

    std::string FolderPath(uint8_t folder) override;
    // A desktop entry (Type=Application, Exec=the target, Path=its folder),
    // written whole or not at all; a missing folder is created first.
    void WriteLink(const std::string& linkPath, const std::string& target, const std::string& workingDir) override;
    void DeleteFile(const std::string& path) override;
    // Desktops watch their folders themselves.
    void NotifyFolderChanged(const std::string&) override {}
    std::string LinkExtension() const override { return ".desktop"; }

private:
    std::string FProgramDir;
};

// The desktop entry's text for a program; a programDir other than workingDir
// is passed as --dir.
std::string DesktopEntryText(const std::string& target, const std::string& workingDir,
                             const std::string& programDir = {});
