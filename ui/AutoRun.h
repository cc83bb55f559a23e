// Start-up shortcuts: a link to the program in one of four desktop folders,
// kept by the Options command so the program starts when the user logs on.
#pragma once

#include "config/Option.h"

#include <cstdint>
#include <string>

// Shell-folder codes; any other code selects no folder.
enum : uint8_t {
    sfDesktop = 0,
    sfSendTo = 1,
    sfStartMenu = 2,
    sfStartup = 3,
};

// What the shortcut operations need of the desktop.
class IShellFolders {
public:
    virtual ~IShellFolders() = default;
    // The folder's full path for a code; empty when there is none.
    virtual std::string FolderPath(uint8_t folder) = 0;
    // Writes a link to `target`, started in `workingDir`, over any file of
    // that name. A link that cannot be written fails silently.
    virtual void WriteLink(const std::string& linkPath, const std::string& target, const std::string& workingDir) = 0;
    // A missing file, or one that cannot be deleted, is no error.
    virtual void DeleteFile(const std::string& path) = 0;
    virtual void NotifyFolderChanged(const std::string& folder) = 0;
    // The extension of a link file, with its dot.
    virtual std::string LinkExtension() const = 0;
};

// The program file's name with its extension (from the last '.' of the name
// on) replaced by `extension`, or `extension` appended when it has none.
std::string LinkFileName(const std::string& programPath, const std::string& extension);

// Writes the program's link into the folder (when it has a path), then tells
// the desktop the folder changed (also when it has none).
void CreateShortcut(const std::string& programPath, uint8_t folder, IShellFolders& shell);
// Deletes the program's link from the folder, then tells the desktop.
void RemoveShortcut(const std::string& programPath, uint8_t folder, IShellFolders& shell);

// The same over the desktop's own folders (XDG).
void CreateShortcut(const std::string& programPath, uint8_t folder);
void RemoveShortcut(const std::string& programPath, uint8_t folder);

// After the options dialog's OK: StartOpt now 1 and before not 1 creates the
// Startup link; now not 1 and before 1 removes it; otherwise nothing.
void UpdateStartupShortcut(const TOptions& options, const std::string& programPath, IShellFolders& shell);
